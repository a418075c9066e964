#include "DebugDraw.h"

#include <GL/glew.h>

#include <cmath>

namespace {

constexpr int kCircleSegments = 32;

struct UnitCircle {
    float sine[kCircleSegments];
    float cosine[kCircleSegments];

    UnitCircle()
    {
        const float step = static_cast<float>(3.14159265358979323846 / 16.0);
        for (int i = 0; i < kCircleSegments; ++i) {
            sine[i] = std::sin(i * step);
            cosine[i] = std::cos(i * step);
        }
    }
};

void Vertex(double x, double y, double z)
{
    glVertex3f(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

// One closed circle of radius r around p; first and second pick the two axes it spans (0 x, 1 y, 2 z).
void DrawCircle(const UnitCircle& circle, const Vec3& p, double r, int first, int second)
{
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < kCircleSegments; ++i) {
        double v[3] = {p.x, p.y, p.z};
        v[first] += r * circle.cosine[i];
        v[second] += r * circle.sine[i];
        glVertex3dv(v);
    }
    glEnd();
}

}  // namespace

void DrawBoxOutline(const Vec3& min, const Vec3& max)
{
    const double x0 = min.x, y0 = min.y, z0 = min.z, x1 = max.x, y1 = max.y, z1 = max.z;
    glBegin(GL_LINE_LOOP);
    Vertex(x0, y0, z0);
    Vertex(x0, y1, z0);
    Vertex(x1, y1, z0);
    Vertex(x1, y0, z0);
    Vertex(x1, y0, z1);
    Vertex(x1, y1, z1);
    Vertex(x0, y1, z1);
    Vertex(x0, y0, z1);
    glEnd();
    glBegin(GL_LINES);
    Vertex(x0, y0, z0);
    Vertex(x1, y0, z0);
    Vertex(x0, y0, z1);
    Vertex(x1, y0, z1);
    Vertex(x0, y1, z0);
    Vertex(x0, y1, z1);
    Vertex(x1, y1, z0);
    Vertex(x1, y1, z1);
    glEnd();
}

void DrawLightGizmo(const Light& light, bool withCircles)
{
    const Vec3& p = light.currentPosition;
    DrawBoxOutline(p - Vec3(4, 4, 4), p + Vec3(4, 4, 4));
    if (!withCircles)
        return;
    const double r = light.radius;
    // The three circles share one table of sines and cosines.
    const UnitCircle circle;
    DrawCircle(circle, p, r, 0, 1);
    DrawCircle(circle, p, r, 0, 2);
    DrawCircle(circle, p, r, 1, 2);
}
