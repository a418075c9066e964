#include "ViewerHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

// The demo command without a display: it generates the level, renders it on a virtual display of its own, prints no
// failure line and leaves a screenshot of a textured, lit room.
TEST(Demo, WithoutADisplayItLeavesAScreenshotOfTheLevel)
{
    TempDir dir;
    const std::string command =
        "env -u DISPLAY " VELMORA_SOURCE_DIR "/tools/demo.sh " VELMORA_BUILD_DIR " " + dir.Path() + " 2>&1";
    int status = -1;
    const std::string output = CommandOutput(command, &status);
    ASSERT_EQ(status, 0) << output;
    const size_t line = output.rfind("Screenshot: ");
    ASSERT_NE(line, std::string::npos) << output;
    const std::string shot = output.substr(line + 12, output.find('\n', line) - line - 12);
    ASSERT_FALSE(shot.empty()) << output;
    // Every material of the demo has its images: a newcomer sees no failure line.
    EXPECT_EQ(output.find("Couldn't load"), std::string::npos) << output;

    const Image image = LoadImage(shot);
    ASSERT_EQ(image.width, 800);
    ASSERT_EQ(image.height, 600);
    // Neither uniform nor only the clear colour: most of the view shows lit, textured surfaces.
    double sum = 0, sumSquares = 0;
    int clear = 0, samples = 0;
    for (int y = 30; y < image.height; y += 5)
        for (int x = 0; x < image.width; x += 5) {
            const unsigned char* p = image.At(x, y);
            const double b = (p[0] + p[1] + p[2]) / 3.0;
            sum += b;
            sumSquares += b * b;
            clear += std::abs(p[0] - 64) < 4 && std::abs(p[1] - 64) < 4 && std::abs(p[2] - 64) < 4;
            ++samples;
        }
    const double mean = sum / samples;
    EXPECT_GT(std::sqrt(sumSquares / samples - mean * mean), 20) << "the image is nearly uniform";
    EXPECT_LT(clear, samples / 10) << "the image shows mostly the clear colour";
    EXPECT_GT(mean, 40) << "the room is dark";
}
