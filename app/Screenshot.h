// Numbered JPEG screenshots of the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

constexpr int64_t kMaxScreenshotPixels = int64_t(64) << 20;

// A JPEG encoded in memory; size is 0 when encoding failed.
struct Jpeg {
    std::unique_ptr<char, decltype(&std::free)> bytes{nullptr, &std::free};
    size_t size = 0;
};

// Encodes width x height RGB pixels, the bottom row first, at the image library's JPEG settings.
Jpeg EncodeJpeg(const unsigned char* rgb, int width, int height);

// Saves the window's frame on screen as "shot<n>.jpg" with the first n from counter on that names no existing file,
// and moves counter past every number tried. When saving fails for another reason (an unwritable directory, a
// full disk), one line says so and the viewer goes on. A window of more than kMaxScreenshotPixels is not saved; one
// line says why, and no number is used up.
void TakeScreenshot(int& counter, int windowWidth, int windowHeight);
