// Levels of thousands of lights, most of them far from the view: start-up and memory follow the lights the view
// reaches, not the number in the level.
#include "SceneBuilder.h"
#include "ViewerTest.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const Point kLit{400, 100, 0};  // on the back wall, lit by the second light

// A floor, a back wall and a pillar facing the camera, a black light behind the camera (the animated first one)
// and a white one that lights the wall; then `behind` white lights of radius 40 on a grid 3,000 units and more
// behind the camera, where nothing is, and `inView` dim ones along the wall.
std::string ManyLightsLevel(int behind, int inView)
{
    SceneBuilder scene;
    scene.AddQuad("white", {-50, -400, -100}, {400, -400, -100}, {400, 400, -100}, {-50, 400, -100});
    scene.AddQuad("white", {400, -400, -100}, {400, -400, 300}, {400, 400, 300}, {400, 400, -100});
    scene.AddBox("white", {250, -15, -100}, {280, 15, 100});
    scene.AddLight({-100, 0, 0}, 10, {0, 0, 0});
    scene.AddLight({150, 120, 0}, 800, {1, 1, 1});
    for (int k = 0; k < behind; ++k)
        scene.AddLight({-3000.0 - 100 * (k % 100), -5000.0 + 100 * (k / 100), 0}, 40, {1, 1, 1});
    for (int k = 0; k < inView; ++k)
        scene.AddLight({380, -300.0 + 10 * k, -80.0 + 6 * k}, 50, {0.2, 0.2, 0.2});
    return scene.Text();
}

// The process's peak resident memory in MB, from /proc.
double PeakMegabytes(pid_t pid)
{
    std::istringstream status(ReadFileText("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    return -1;
}

using ManyLightsTest = ViewerTest;

}  // namespace

TEST_F(ManyLightsTest, LightsOutOfViewCostNeitherMemoryNorPixels)
{
    // The first screenshot may be taken before a slow start-up (AddressSanitizer) has drawn a frame; the second
    // is of a frame drawn after start-up.
    Start(ManyLightsLevel(0, 0));
    Shot();
    const Image twoLights = Shot();
    const double twoLightsPeak = PeakMegabytes(viewer->Pid());
    viewer.reset();

    struct Case {
        int behind;
        int inView;             // more than the shadow pool's 36 maps in the second case
        double extraMegabytes;  // allowed above the two-light level's peak
        bool sameImage;
    };
    const Case cases[] = {{1000, 0, 64, true}, {10000, 60, 256 + 64, false}};
    for (const Case& c : cases) {
        Start(ManyLightsLevel(c.behind, c.inView));
        ASSERT_TRUE(viewer->Running()) << c.behind;
        Shot();
        const Image second = Shot();
        EXPECT_GT(Brightness(second, ProjectFromStart(kLit)[0], ProjectFromStart(kLit)[1]), 150) << c.behind;
        if (c.sameImage) {
            EXPECT_EQ(DifferingPixels(second, twoLights), 0) << c.behind;
        }
        const double peak = PeakMegabytes(viewer->Pid());
        // AddressSanitizer keeps up to 256 MB of freed blocks in its quarantine before it reuses them.
        const double quarantine = kUnderAddressSanitizer ? 256 : 0;
        EXPECT_LT(peak, twoLightsPeak + c.extraMegabytes + quarantine) << c.behind << " lights behind the camera";
        EXPECT_LT(peak, 1536) << c.behind;
        viewer.reset();
    }
}
