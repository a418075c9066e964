// Numbered JPEG screenshots of the window.
#pragma once

// The number the next screenshot attempt uses; 0 at process start.
extern int screenshotCounter;

// Saves the frame on screen as "shot<n>.jpg" with the first n from screenshotCounter on that names no existing
// file. When saving fails for another reason (an unwritable directory, a full disk), one line says so and the
// viewer goes on.
void TakeScreenshot();
