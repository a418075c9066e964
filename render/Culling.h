// What a pass can reach: view and shadow-face frusta, light spheres and their screen rectangles, tested against
// the bounding boxes of the render geometry's clusters. Every test is conservative: it rejects a box only when
// nothing inside it can produce a fragment (frusta) or a non-zero contribution (spheres), with a margin for the
// single-precision arithmetic of the shaders.
#pragma once

#include "ScreenRect.h"
#include "VecMath.h"

#include <cstdint>
#include <vector>

// Axis-aligned bounds of a set of vertex positions, in level units.
struct ClusterBox {
    float min[3];
    float max[3];
};

// The six clip planes (a, b, c, d; a point p is inside when a x + b y + c z + d >= 0) of a projection x modelview
// matrix: left, right, bottom, top, near, far.
struct Frustum {
    double planes[6][4];
};

// Planes of the column-major clip matrix (projection x modelview).
Frustum FrustumFromClipMatrix(const double clip[16]);

// True when the box lies wholly outside one of the planes, so that nothing in it is rasterised.
bool BoxOutsideFrustum(const ClusterBox& box, const Frustum& frustum);
// True when the sphere lies wholly outside one of the planes.
bool SphereOutsideFrustum(const Vec3& centre, double radius, const Frustum& frustum);
// True when every point of the box is at least the radius (and a rounding margin) away from the centre.
bool BoxOutsideSphere(const ClusterBox& box, const Vec3& centre, double radius);

// The window rectangle that holds every pixel at which the sphere can be seen, for a symmetric perspective
// projection (such as gluPerspective's) and the given column-major modelview and projection matrices: the
// projection of the sphere widened by two pixels, clipped to the window. The whole window when the sphere
// reaches the near plane or the eye.
ScreenRect SphereScreenRect(const Vec3& centre, double radius, const float modelview[16], const float projection[16],
                            int windowWidth, int windowHeight);

// One flag per cluster of the render geometry; 1 draws it.
using ClusterSelection = std::vector<uint8_t>;
