#include "Screenshot.h"

#include <IL/il.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

// Grey with noise of growing amplitude gives JPEGs of lengths spread over thousands of bytes, among them multiples
// of 256; each is an image, and it decodes back to its size.
TEST(ScreenshotEncoding, EveryLengthOfJpegIsAnImage)
{
    ilInit();
    constexpr int kSize = 24;
    std::vector<unsigned char> rgb(kSize * kSize * 3);
    int multiplesOf256 = 0;
    for (unsigned seed = 0; seed < 3000 && multiplesOf256 < 2; ++seed) {
        std::mt19937 random(seed);
        const int amplitude = 1 + static_cast<int>(seed % 128);
        for (unsigned char& byte : rgb)
            byte = static_cast<unsigned char>(128 + static_cast<int>(random() % (2 * amplitude)) - amplitude);
        const Jpeg jpeg = EncodeJpeg(rgb.data(), kSize, kSize);
        ASSERT_NE(jpeg.size, 0u) << "seed " << seed;
        multiplesOf256 += jpeg.size % 256 == 0;

        ILuint image = 0;
        ilGenImages(1, &image);
        ilBindImage(image);
        EXPECT_TRUE(ilLoadL(IL_JPG, jpeg.bytes.get(), static_cast<ILuint>(jpeg.size))) << "seed " << seed;
        EXPECT_EQ(ilGetInteger(IL_IMAGE_WIDTH), kSize);
        EXPECT_EQ(ilGetInteger(IL_IMAGE_HEIGHT), kSize);
        ilDeleteImages(1, &image);
    }
    EXPECT_EQ(multiplesOf256, 2);
}
