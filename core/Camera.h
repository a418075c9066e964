// The eye and the switches that the keys turn: what a frame is asked to show.
#pragma once

#include "VecMath.h"

// Position in level units, angles in degrees (angleX roll, angleY pitch with positive looking down, angleZ yaw with
// positive turning left).
struct Camera {
    Vec3 position;
    double angleX = 0.0;
    double angleY = 0.0;
    double angleZ = 0.0;
};

// Rendering options switched by keys.
struct Options {
    bool animateLights = true;    // space
    bool advanceTime = true;      // t: the post shader's clock runs
    bool wireframe = false;       // k
    bool onlyFirstLight = false;  // j
    int gizmoMode = 0;            // l: 0 none, 1 boxes, 2 boxes and radius circles
    int selectedLight = 0;        // p; drawn red, moved to the camera by n
};
