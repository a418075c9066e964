// The process-wide state that the callbacks change and every frame reads.
#pragma once

#include "Level.h"
#include "Camera.h"

// Movement intents (-1, 0 or +1) held between key press and release, key latches and the last drag position.
struct InputState {
    int moveForward = 0;
    int moveStrafe = 0;
    int moveVertical = 0;
    bool screenshotArmed = true;
    bool reloadArmed = true;
    int lastMouseX = -1;  // -1: no previous drag position
    int lastMouseY = -1;
};

extern Camera camera;
extern Options options;
extern InputState input;
extern int windowWidth;
extern int windowHeight;

// The loaded level: lights in file order, boxes, and the root of its tree (null when it has none).
extern Level level;
