// The process-wide state that the callbacks change and every frame reads.
#pragma once

#include "Level.h"
#include "VecMath.h"

// The eye: position in level units, angles in degrees (angleX roll, angleY pitch with positive looking down,
// angleZ yaw with positive turning left).
struct Camera {
    Vec3 position;
    double angleX = 0.0;
    double angleY = 0.0;
    double angleZ = 0.0;
};

// Rendering options switched by keys.
struct Options {
    bool animateLights = true;   // space
    bool advanceTime = true;     // t: the post shader's clock runs
    bool wireframe = false;      // k
    bool onlyFirstLight = false; // j
    int gizmoMode = 0;           // l: 0 none, 1 boxes, 2 boxes and radius circles
    int selectedLight = 0;       // p; drawn red, moved to the camera by n
};

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
