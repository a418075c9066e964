// A real GL context for tests: a freeglut window on the display that with-xvfb.sh provides, GLEW initialised.
#pragma once

// Creates the window and context once per process; later calls do nothing. Aborts the test run when no
// display or GL is available, since every caller needs a real driver.
void CreateGlTestContext(int width = 800, int height = 600);

// Reads back the RGB pixel at (x, y) of the current read buffer, y counted from the bottom.
struct Rgb {
    unsigned char r, g, b;
};
Rgb ReadPixel(int x, int y);
