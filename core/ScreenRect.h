// A rectangle of window pixels.
#pragma once

// Origin lower left, as GL's viewport and scissor take it.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
