#include "View.h"

#include <GL/glew.h>

#include <cmath>

namespace {

// product = a x b in single precision, every element summed left to right as GL's matrix stack does.
GlMatrix Multiply(const GlMatrix& a, const GlMatrix& b)
{
    GlMatrix product;
    for (int row = 0; row < 4; ++row) {
        const float a0 = a.m[row], a1 = a.m[4 + row], a2 = a.m[8 + row], a3 = a.m[12 + row];
        for (int column = 0; column < 4; ++column) {
            const float* bc = &b.m[column * 4];
            product.m[column * 4 + row] = a0 * bc[0] + a1 * bc[1] + a2 * bc[2] + a3 * bc[3];
        }
    }
    return product;
}

void MultiplyColumnMajor(const double a[16], const double b[16], double out[16])
{
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            out[column * 4 + row] = sum;
        }
}

}  // namespace

void Rotate(GlMatrix& m, float angle, int axis)
{
    // The sine and cosine of the angle rounded to single precision, and the rotation about a positive axis written
    // out with exact zeros and ones, as GL builds it.
    const float s = std::sin(static_cast<float>(angle * M_PI / 180.0));
    const float c = std::cos(static_cast<float>(angle * M_PI / 180.0));
    const int first = (axis + 1) % 3;
    const int second = (axis + 2) % 3;
    GlMatrix r;
    r.m[first * 4 + first] = c;
    r.m[second * 4 + second] = c;
    r.m[second * 4 + first] = -s;
    r.m[first * 4 + second] = s;
    m = Multiply(m, r);
}

void Translate(GlMatrix& m, float x, float y, float z)
{
    for (int row = 0; row < 4; ++row)
        m.m[12 + row] = m.m[row] * x + m.m[4 + row] * y + m.m[8 + row] * z + m.m[12 + row];
}

GlMatrix Perspective(double fovy, double aspect, double zNear, double zFar)
{
    // Built in double precision and rounded once, as a double matrix multiplied onto the stack is.
    const double radians = fovy / 2 * M_PI / 180;
    const double cotangent = std::cos(radians) / std::sin(radians);
    const double deltaZ = zFar - zNear;
    GlMatrix p;
    p.m[0] = static_cast<float>(cotangent / aspect);
    p.m[5] = static_cast<float>(cotangent);
    p.m[10] = static_cast<float>(-(zFar + zNear) / deltaZ);
    p.m[11] = -1.0f;
    p.m[14] = static_cast<float>(-2 * zNear * zFar / deltaZ);
    p.m[15] = 0.0f;
    return p;
}

GlMatrix Ortho2D(double left, double right, double bottom, double top)
{
    const float l = static_cast<float>(left), r = static_cast<float>(right);
    const float b = static_cast<float>(bottom), t = static_cast<float>(top);
    const float n = -1.0f, f = 1.0f;
    GlMatrix o;
    o.m[0] = 2.0f / (r - l);
    o.m[12] = -(r + l) / (r - l);
    o.m[5] = 2.0f / (t - b);
    o.m[13] = -(t + b) / (t - b);
    o.m[10] = -2.0f / (f - n);
    o.m[14] = -(f + n) / (f - n);
    return o;
}

void ApplyBaseRotation(GlMatrix& m)
{
    Rotate(m, -90.0f, 0);
    Rotate(m, 90.0f, 2);
}

void UpdateFrustum(View& view)
{
    double projection[16];
    double modelview[16];
    double clip[16];
    for (int i = 0; i < 16; ++i) {
        projection[i] = view.projection.m[i];
        modelview[i] = view.modelview.m[i];
    }
    MultiplyColumnMajor(projection, modelview, clip);
    view.frustum = FrustumFromClipMatrix(clip);
}

View CameraView(const Camera& camera, int width, int height)
{
    View view;
    view.projection = Perspective(90, static_cast<double>(width) / height, 1, 10000);
    GlMatrix& m = view.modelview;
    ApplyBaseRotation(m);
    Rotate(m, static_cast<float>(-camera.angleX), 0);
    Rotate(m, static_cast<float>(-camera.angleY), 1);
    Rotate(m, static_cast<float>(-camera.angleZ), 2);
    Translate(m, static_cast<float>(-camera.position.x), static_cast<float>(-camera.position.y),
              static_cast<float>(-camera.position.z));
    view.viewport = ScreenRect{0, 0, width, height};
    UpdateFrustum(view);
    return view;
}

View WindowView(int width, int height)
{
    View view;
    view.projection = Ortho2D(0, width, 0, height);
    view.viewport = ScreenRect{0, 0, width, height};
    UpdateFrustum(view);
    return view;
}

void LoadViewMatrices(const View& view)
{
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(view.projection.m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(view.modelview.m);
}
