// The frame statistics line, drawn with GLUT's stroke font in window pixels.
#pragma once

#include "FrameTimer.h"

#include <cstdint>

struct FrameStats {
    float sampleSeconds = 0.0f;  // frame intervals summed in the current sample
    int32_t sampleMsecSum = 0;   // whole-millisecond rendering times summed in the current sample
    int32_t sampleFrames = 0;
    int32_t shownFps = 0;   // frames in the last completed sample of at least one second
    int32_t shownMsec = 0;  // their mean rendering time
};

// Stops renderTimer, adds the frame to the sample (closing it once a second of frame time is summed) and draws
// "%i fps (%i msec)" at (3, 3) of the window.
void DrawFrameStats(FrameStats& stats, float dt, FrameTimer& renderTimer, int windowWidth, int windowHeight);

// Draws printf-style text at (x, y) window pixels from the lower-left corner of a window of the given size, in the
// current colour; the text is cut at 255 bytes.
void DrawOverlayText(int windowWidth, int windowHeight, int x, int y, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

// Draws text at the modelview origin in stroke-font units; '\n' starts a line 180 units lower.
void DrawStrokeText(const char* text);
