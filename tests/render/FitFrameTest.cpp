#include "PostProcess.h"

#include <gtest/gtest.h>

TEST(FitFrame, AWindowThatFitsKeepsItsSizeAndALargerOneGetsTheLargestFrameOfItsShape)
{
    const FrameLimits llvmpipe{16384, 16384, kMaxFramePixels};
    const struct {
        int width, height;
        FrameLimits limits;
        int expectedWidth, expectedHeight;
    } cases[] = {
        {800, 600, llvmpipe, 800, 600},
        {7680, 4320, llvmpipe, 7680, 4320},
        {0, 0, llvmpipe, 1, 1},
        {16384, 1, llvmpipe, 16384, 1},
        {20000, 20000, llvmpipe, 5792, 5792},
        {8000, 6000, llvmpipe, 6688, 5016},
        {20000, 1000, {16384, 16384, int64_t(1) << 40}, 16384, 819},
        {100000, 1, llvmpipe, 16384, 1},
        {1, 100000, {8192, 4096, kMaxFramePixels}, 1, 4096},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(std::to_string(testCase.width) + "x" + std::to_string(testCase.height));
        const FrameSize frame = FitFrame(testCase.width, testCase.height, testCase.limits);
        EXPECT_EQ(frame.width, testCase.expectedWidth);
        EXPECT_EQ(frame.height, testCase.expectedHeight);
        EXPECT_LE(int64_t(frame.width) * frame.height, testCase.limits.maxPixels);
    }
}
