// Windows larger than a frame may be: the frame is drawn smaller and stretched over the window, the memory taken
// stays within the window's own buffers and a bounded frame, and a screenshot the budget cannot hold is refused
// with a line.
#include "ViewerTest.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

using HugeWindowTest = ViewerTest;
using std::chrono::milliseconds;

// The rows at the bottom of the window that the frame-rate line may change from frame to frame.
constexpr int kFrameRateRows = 24;

long long ResidentBytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atoll(line.c_str() + 6) * 1024;
    return -1;
}

// Mean absolute difference of `small` and every step-th pixel of `large`.
double SampledDifference(const Image& small, const Image& large, int step)
{
    double sum = 0;
    for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(int(small.At(x, y)[c]) - int(large.At(x * step, y * step)[c]));
    return sum / (3.0 * small.width * small.height);
}

// GLUT applies a new window size at the frame after it, and a key pressed before that frame still sees the old
// size; frames of a huge window take seconds on a loaded machine. So the test waits until the driver's buffers
// for the window have grown or shrunk past `bytes` (at most a minute). Under AddressSanitizer the resident size
// tells nothing, and a fixed pause stands in.
void WaitForResidentSize(pid_t pid, long long bytes, bool above, int pauseMs)
{
    if (kUnderAddressSanitizer) {
        std::this_thread::sleep_for(milliseconds(pauseMs));
        return;
    }
    for (int i = 0; i < 600 && (ResidentBytes(pid) > bytes) != above; ++i)
        std::this_thread::sleep_for(milliseconds(100));
    // A frame or two more, so that the key's frame is drawn at the new size.
    std::this_thread::sleep_for(milliseconds(1000));
}

}  // namespace

TEST_F(HugeWindowTest, AHugeWindowIsDrawnFromABoundedFrameAndItsScreenshotRefused)
{
    SceneBuilder scene;
    scene.AddQuad("white", {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    scene.AddLight({150, 0, 0}, 400, {1, 1, 1});
    Start(scene.Text());
    Keys({"t", "space"});  // the post clock and the light animation stop, so that equal views give equal frames
    const Image before = Shot();
    const long long residentBefore = ResidentBytes(viewer->Pid());

    // More pixels than a frame may hold but fewer than a screenshot: the whole window is saved, the frame
    // stretched over it.
    viewer->Resize(8000, 6000);
    std::this_thread::sleep_for(milliseconds(2000));
    const Image stretched = Shot();
    ASSERT_EQ(stretched.width, 8000);
    ASSERT_EQ(stretched.height, 6000);
    EXPECT_LT(SampledDifference(before, stretched, 10), 12.0);

    // A window of half a gigabyte: the driver's own buffers for it and a bounded frame, not a frame of its size (which
    // would be twice the window's).
    const int huge = 11000;
    const long long windowBuffer = 4ll * huge * huge;
    viewer->Resize(huge, huge);
    WaitForResidentSize(viewer->Pid(), residentBefore + windowBuffer / 2, true, 3000);
    ASSERT_TRUE(viewer->Running());
    const long long frameBound = 8ll * (32 << 20);
    // Under AddressSanitizer freed blocks wait in its quarantine, so the resident size tells nothing there.
    if (!kUnderAddressSanitizer) {
        EXPECT_LT(ResidentBytes(viewer->Pid()), residentBefore + windowBuffer + frameBound + (300ll << 20));
    }
    viewer->Key("u");
    EXPECT_TRUE(
        viewer->WaitForLine("Could not save screenshot: the window's 11000x11000 pixels are more than the "
                            "67108864 a screenshot may hold."));

    // Back at the start size, the frame is the one drawn before, pixel for pixel above the frame-rate line.
    viewer->Resize(800, 600);
    WaitForResidentSize(viewer->Pid(), residentBefore + windowBuffer / 2, false, 8000);
    const Image after = Shot();
    ASSERT_EQ(after.rgb.size(), before.rgb.size());
    const size_t aboveText = size_t(kFrameRateRows) * before.width * 3;
    EXPECT_TRUE(std::equal(before.rgb.begin() + aboveText, before.rgb.end(), after.rgb.begin() + aboveText));
}
