// The culling tests against boxes and spheres, and the views they take their frusta from: a view computed on the
// processor holds the matrices GL's own calls leave, bit for bit.
#include "Culling.h"
#include "GlTestContext.h"
#include "Shadows.h"
#include "View.h"

#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glu.h>

#include <cmath>

namespace {

// The camera at the origin looking along +X, 90 degrees at 800x600, near 1, far 10000.
Frustum AheadFrustum()
{
    Camera eye;
    return CameraView(eye, 800, 600).frustum;
}

ClusterBox Box(float x0, float y0, float z0, float x1, float y1, float z1)
{
    return ClusterBox{{x0, y0, z0}, {x1, y1, z1}};
}

void ExpectMatrix(const GlMatrix& computed, GLenum which, const char* name)
{
    float fromGl[16];
    glGetFloatv(which, fromGl);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(computed.m[i], fromGl[i]) << name << ", element " << i;
}

}  // namespace

TEST(CullingTest, BoxesOutsideTheViewAndOnlyThoseAreCulled)
{
    // Left is +Y, up is +Z; at distance 500 the view reaches 666.7 to either side and 500 up and down.
    struct Case {
        const char* name;
        ClusterBox box;
        bool outside;
    };
    const Case cases[] = {
        {"ahead", Box(400, -10, -10, 420, 10, 10), false},
        {"around the eye", Box(-5, -5, -5, 5, 5, 5), false},
        {"behind the eye", Box(-300, -10, -10, -100, 10, 10), true},
        {"beyond the far plane", Box(10100, -10, -10, 10200, 10, 10), true},
        {"reaching across the far plane", Box(9990, -10, -10, 10100, 10, 10), false},
        {"left of the view", Box(500, 700, -10, 510, 800, 10), true},
        {"right of the view", Box(500, -800, -10, 510, -700, 10), true},
        {"above the view", Box(500, -10, 520, 510, 10, 600), true},
        {"straddling the left edge", Box(500, 650, -10, 510, 700, 10), false},
        {"a point 0.05 beyond the left edge, within the rounding margin", Box(500, 666.72f, 0, 500, 666.72f, 0), false},
        {"a point 5 beyond the left edge", Box(500, 671.7f, 0, 500, 671.7f, 0), true},
    };
    const Frustum frustum = AheadFrustum();
    for (const Case& c : cases)
        EXPECT_EQ(BoxOutsideFrustum(c.box, frustum), c.outside) << c.name;
}

TEST(CullingTest, SpheresOutsideTheViewAndBoxesOutsideASphere)
{
    const Frustum frustum = AheadFrustum();
    struct SphereCase {
        const char* name;
        Vec3 centre;
        double radius;
        bool outside;
    };
    const SphereCase spheres[] = {
        {"ahead", Vec3(500, 0, 0), 10, false},
        {"holding the eye", Vec3(-50, 0, 0), 100, false},
        {"behind, not reaching the near plane", Vec3(-50, 0, 0), 40, true},
        // 80 from the left plane.
        {"left, reaching the left plane within the rounding margin", Vec3(500, 800, 0), 80 * 0.9995, false},
        {"left, clear of the left plane", Vec3(500, 800, 0), 79.5, true},
    };
    for (const SphereCase& c : spheres)
        EXPECT_EQ(SphereOutsideFrustum(c.centre, c.radius, frustum), c.outside) << c.name;

    struct BoxCase {
        const char* name;
        ClusterBox box;
        bool outside;
    };
    // The sphere of radius 100 around (10, 20, 30).
    const BoxCase boxes[] = {
        {"holding the centre", Box(0, 0, 0, 20, 40, 60), false},
        {"a face at 99.9 along X", Box(109.9f, 0, 0, 200, 40, 60), false},
        {"a face at 100.05, within the rounding margin", Box(110.05f, 0, 0, 200, 40, 60), false},
        {"a face at 101 along X", Box(111, 0, 0, 200, 40, 60), true},
        {"a corner at 99 on the diagonal", Box(67.2f, 77.2f, 87.2f, 90, 90, 90), false},
        {"a corner at 104 on the diagonal", Box(70.1f, 80.1f, 90.1f, 90, 90, 100), true},
        {"below, far", Box(-500, -500, -500, -400, -400, -400), true},
    };
    for (const BoxCase& c : boxes)
        EXPECT_EQ(BoxOutsideSphere(c.box, Vec3(10, 20, 30), 100), c.outside) << c.name;
}

TEST(CullingTest, ViewsHoldTheMatricesOfGlsOwnCalls)
{
    CreateGlTestContext();
    struct CameraCase {
        Vec3 position;
        double angleX, angleY, angleZ;
        int width, height;
    };
    const CameraCase cameras[] = {
        {Vec3(0, 0, 0), 0, 0, 0, 800, 600},
        {Vec3(-1500.25, 400.5, 300.125), 0, 10, -15, 800, 600},
        {Vec3(1200.7, -150.3, 30.9), 3.5, -71.2, 160.4, 641, 479},
        {Vec3(1e5, -3e4, 17), -12, 89.9, 359.9, 1, 900},
    };
    for (const CameraCase& c : cameras) {
        Camera camera;
        camera.position = c.position;
        camera.angleX = c.angleX;
        camera.angleY = c.angleY;
        camera.angleZ = c.angleZ;
        const View view = CameraView(camera, c.width, c.height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(90, static_cast<double>(c.width) / c.height, 1, 10000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotatef(-90, 1, 0, 0);
        glRotatef(90, 0, 0, 1);
        glRotatef(static_cast<float>(-c.angleX), 1, 0, 0);
        glRotatef(static_cast<float>(-c.angleY), 0, 1, 0);
        glRotatef(static_cast<float>(-c.angleZ), 0, 0, 1);
        glTranslatef(static_cast<float>(-c.position.x), static_cast<float>(-c.position.y),
                     static_cast<float>(-c.position.z));
        ExpectMatrix(view.projection, GL_PROJECTION_MATRIX, "camera projection");
        ExpectMatrix(view.modelview, GL_MODELVIEW_MATRIX, "camera modelview");
    }

    // The faces' rotations after the base rotation, in GL's cube-map orientation of +X, -X, +Y, -Y, +Z, -Z.
    struct Rotation {
        float angle, x, y, z;
    };
    const Rotation faces[6][2] = {{{180, 1, 0, 0}, {90, 1, 0, 0}}, {{90, 1, 0, 0}, {180, 0, 0, 1}},
                                  {{-90, 0, 0, 1}, {0, 0, 0, 1}},  {{90, 0, 0, 1}, {180, 0, 1, 0}},
                                  {{90, 0, 1, 0}, {-90, 0, 0, 1}}, {{-90, 0, 1, 0}, {90, 0, 0, 1}}};
    const Vec3 light(336.4, -280.2, 24.7);
    for (int f = 0; f < 6; ++f) {
        const View view = ShadowFaceView(light, f);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(90, 1, 0.001, 10000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotatef(-90, 1, 0, 0);
        glRotatef(90, 0, 0, 1);
        for (const Rotation& r : faces[f])
            glRotatef(r.angle, r.x, r.y, r.z);
        glTranslated(-light.x, -light.y, -light.z);
        ExpectMatrix(view.projection, GL_PROJECTION_MATRIX, "shadow face projection");
        ExpectMatrix(view.modelview, GL_MODELVIEW_MATRIX, "shadow face modelview");
    }

    const View window = WindowView(641, 479);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, 641, 0, 479);
    ExpectMatrix(window.projection, GL_PROJECTION_MATRIX, "window projection");
}
