// A plane of level space.
#pragma once

#include "VecMath.h"

// The set of points p with normal · p = distance.
struct Plane {
    Vec3 normal;
    double distance = 0.0;
};
