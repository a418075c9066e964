// One view of the scene, computed once on the processor: the matrices its passes draw with, the frustum its
// culling tests and the viewport. The matrices are built in single precision with the arithmetic of GL's own
// matrix calls (glRotatef, glTranslatef, gluPerspective, gluOrtho2D), so a view loaded into GL holds exactly the
// values those calls would have left, and shaders and fixed-function drawing see the same numbers as before.
#pragma once

#include "Culling.h"
#include "VecMath.h"
#include "Camera.h"

// Column-major 4 by 4 matrix of floats, as GL keeps it.
struct GlMatrix {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// m = m x the rotation of angle degrees about the positive axis (0 x, 1 y, 2 z), as glRotatef.
void Rotate(GlMatrix& m, float angle, int axis);
// m = m x the translation by (x, y, z), as glTranslatef.
void Translate(GlMatrix& m, float x, float y, float z);
// The projection of gluPerspective (field of view in degrees along y).
GlMatrix Perspective(double fovy, double aspect, double zNear, double zFar);
// The projection of gluOrtho2D.
GlMatrix Ortho2D(double left, double right, double bottom, double top);
// After this the eye looks along +X of the level with +Z up and -Y to the right.
void ApplyBaseRotation(GlMatrix& m);

struct View {
    GlMatrix projection;
    GlMatrix modelview;
    Frustum frustum;  // of projection x modelview, in double precision
    ScreenRect viewport;
};

// Fills the frustum from the two matrices; call after changing them.
void UpdateFrustum(View& view);

// The camera's view of a window of width by height pixels: 90 degrees, near 1, far 10000.
View CameraView(const Camera& camera, int width, int height);
// The post pass's view: the window in pixels, orthographic, identity modelview.
View WindowView(int width, int height);

// Loads both matrices into GL (leaves the modelview matrix current), for the shader's state-matrix parameters and
// for fixed-function drawing.
void LoadViewMatrices(const View& view);
