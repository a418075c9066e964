// Line drawings that show where the lights are, in the current colour and GL state.
#pragma once

#include "Level.h"
#include "VecMath.h"

// The twelve edges of the axis-aligned box from min to max, each once.
void DrawBoxOutline(const Vec3& min, const Vec3& max);

// A cube of edge 8 around the light's current position and, with circles, three 32-segment circles of its radius
// in the XY, XZ and YZ planes.
void DrawLightGizmo(const Light& light, bool withCircles);
