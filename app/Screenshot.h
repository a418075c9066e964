// Numbered JPEG screenshots of the window.
#pragma once

#include <cstdint>

constexpr int64_t kMaxScreenshotPixels = int64_t(64) << 20;

// Saves the window's frame on screen as "shot<n>.jpg" with the first n from counter on that names no existing file,
// and moves counter past every number tried. When saving fails for another reason (an unwritable directory, a
// full disk), one line says so and the viewer goes on. A window of more than kMaxScreenshotPixels is not saved; one
// line says why, and no number is used up.
void TakeScreenshot(int& counter, int windowWidth, int windowHeight);
