// The bounded frame (passes limited to what the view, a light's sphere or a shadow face can reach) draws the same
// image as the frame that draws everything everywhere, on the generated demo level.
#include "Callbacks.h"
#include "Culling.h"
#include "Frame.h"
#include "GlTestContext.h"
#include "Overlay.h"
#include "Shadows.h"
#include "Startup.h"
#include "ViewerState.h"

#include <gtest/gtest.h>

#include <GL/glu.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The statistics line changes from frame to frame; it sits in this lower-left corner.
constexpr int kOverlayWidth = 320;
constexpr int kOverlayHeight = 30;

class FrameBoundsTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        directory = fs::temp_directory_path() / ("velmora-bounds-" + std::to_string(getpid()));
        const std::string generate = std::string(VELMORA_LEVELGEN) + " --out " + directory.string() + " >/dev/null";
        ASSERT_EQ(std::system(generate.c_str()), 0);
        for (const char* shader : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
            fs::copy_file(fs::path(VELMORA_DATA_DIR) / shader, directory / shader,
                          fs::copy_options::overwrite_existing);
        previous = fs::current_path();
        fs::current_path(directory);
        CreateGlTestContext(800, 600);
        Init();
        // The very first frame draws its shadow faces and pre-pass with GL_LESS, every later one with GL_LEQUAL.
        OnDisplay();
    }

    static void TearDownTestSuite()
    {
        fs::current_path(previous);
        fs::remove_all(directory);
    }

    void SetUp() override
    {
        options = Options();
        options.animateLights = false;
        options.advanceTime = false;
        OnReshape(800, 600);
    }

    // One frame with fresh shadow maps, read back from the window.
    static std::vector<unsigned char> RenderFrame(bool culling)
    {
        DisplayFrame().options.culling = culling;
        for (Light& light : level.lights)
            light.shadowPosition = Vec3(65535.0, 65535.0, 65535.0);
        OnDisplay();
        std::vector<unsigned char> pixels(size_t(windowWidth) * windowHeight * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, windowWidth, windowHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        DisplayFrame().options.culling = true;
        return pixels;
    }

    static fs::path directory, previous;
};

fs::path FrameBoundsTest::directory, FrameBoundsTest::previous;

struct Viewpoint {
    const char* name;
    Vec3 position;
    double angleZ;  // yaw, positive turns left from +X
    double angleY;  // pitch, positive looks down
    std::function<void()> setUp;
};

}  // namespace

TEST_F(FrameBoundsTest, BoundedPassesDrawTheImageOfUnboundedOnes)
{
    // The demo level: room 0 holds lights 0 to 2 (radii 480 to 640) around (336, 0); light 3 (radius 717) is in
    // the next room east, beyond room 0's wall at x = 768; rooms 4 to 6 lie north, from y = 960.
    const Viewpoint views[] = {
        {"eye inside three spheres, a light behind a wall", Vec3(0, 0, 20), 0, 0, nullptr},
        {"eye outside every sphere, spheres cut by the window edge", Vec3(-1500, 400, 300), -15, 10, nullptr},
        {"lights behind the eye", Vec3(1000, 0, 40), 0, 0, nullptr},
        {"looking down at a sphere's rim", Vec3(700, 100, 100), 30, 60, nullptr},
        {"wireframe", Vec3(0, 0, 20), 10, 0, [] { options.wireframe = true; }},
        {"only the first light", Vec3(1000, 0, 40), 180, 0, [] { options.onlyFirstLight = true; }},
        {"gizmos with circles", Vec3(-300, -200, 60), 30, 5, [] { options.gizmoMode = 2; }},
        {"a light moved to the eye with n", Vec3(1200, -150, 30), 160, 0,
         [] {
             options.selectedLight = 3;
             OnKeyDown('n', 0, 0);
         }},
        {"both animated lights moved", Vec3(0, 0, 20), -30, 0,
         [] {
             options.animateLights = true;
             AnimateLights(2.0f);
             options.animateLights = false;
         }},
        {"resized window", Vec3(0, 0, 20), 20, 0, [] { OnReshape(641, 479); }},
    };
    const std::vector<Light> original = level.lights;
    for (const Viewpoint& view : views) {
        SetUp();
        camera.position = view.position;
        camera.angleX = 0;
        camera.angleY = view.angleY;
        camera.angleZ = view.angleZ;
        if (view.setUp)
            view.setUp();
        const std::vector<unsigned char> bounded = RenderFrame(true);
        const std::vector<unsigned char> unbounded = RenderFrame(false);
        ASSERT_EQ(bounded.size(), unbounded.size());
        int offByOne = 0;
        int offByMore = 0;
        int lit = 0;
        for (int y = 0; y < windowHeight; ++y)
            for (int x = 0; x < windowWidth; ++x) {
                if (x < kOverlayWidth && y < kOverlayHeight)
                    continue;
                int worst = 0;
                for (int k = 0; k < 3; ++k) {
                    const size_t i = (size_t(y) * windowWidth + x) * 3 + k;
                    worst = std::max(worst, std::abs(bounded[i] - unbounded[i]));
                    lit += k == 0 && bounded[i] > 40;
                }
                offByOne += worst == 1;
                offByMore += worst > 1;
            }
        EXPECT_EQ(offByMore, 0) << view.name;
        EXPECT_LE(offByOne, 20) << view.name;
        EXPECT_GT(lit, 1000) << view.name << ": the view should show lit surfaces";
        level.lights = original;
    }
}

TEST_F(FrameBoundsTest, AStillSceneRendersNoShadowFacesAfterItsFirstFrame)
{
    for (Light& light : level.lights)
        light.shadowPosition = Vec3(65535.0, 65535.0, 65535.0);
    OnDisplay();
    const long afterFirst = shadowFacesRendered;
    OnDisplay();
    OnDisplay();
    EXPECT_EQ(shadowFacesRendered, afterFirst);
}

TEST_F(FrameBoundsTest, ASpheresRectangleHoldsEveryPixelWhereTheSphereIsSeen)
{
    struct Case {
        const char* name;
        Vec3 centre;
        double radius;
        double yaw;  // of the eye at the origin looking along +X, degrees to the left
        int width, height;
        bool small;  // the rectangle must be a small part of the window
    };
    const Case cases[] = {
        {"ahead", Vec3(500, 0, 0), 100, 0, 800, 600, true},
        {"ahead, off-centre and low", Vec3(400, 250, -180), 120, 0, 800, 600, true},
        {"cut by the window's left edge", Vec3(300, 420, 0), 150, 0, 800, 600, true},
        {"beside the eye, just clear of the near plane", Vec3(3, 200, 40), 1.5, 0, 800, 600, false},
        {"reaching the near plane", Vec3(60, 0, 0), 59.5, 0, 800, 600, false},
        {"holding the eye", Vec3(10, -5, 3), 40, 0, 800, 600, false},
        {"behind the eye", Vec3(-500, 0, 0), 100, 0, 800, 600, false},
        {"far, small, turned view", Vec3(3000, 2500, 100), 30, 40, 641, 479, true},
        {"tall window", Vec3(700, -100, 300), 200, -10, 300, 900, false},
    };
    for (const Case& c : cases) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(90, double(c.width) / c.height, 1, 10000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotatef(-90, 1, 0, 0);
        glRotatef(90, 0, 0, 1);
        glRotatef(float(-c.yaw), 0, 0, 1);
        double modelview[16], projection[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        float modelviewFloats[16], projectionFloats[16];
        for (int i = 0; i < 16; ++i) {
            modelviewFloats[i] = static_cast<float>(modelview[i]);
            projectionFloats[i] = static_cast<float>(projection[i]);
        }
        const ScreenRect rect =
            SphereScreenRect(c.centre, c.radius, modelviewFloats, projectionFloats, c.width, c.height);
        const GLint viewport[4] = {0, 0, c.width, c.height};
        int seen = 0;
        // Points on and inside the sphere, spread by a golden-angle spiral over shells.
        for (int i = 0; i < 20000; ++i) {
            const double shell = c.radius * (1.0 - (i % 4) * 0.25);
            const double z = 1.0 - 2.0 * (i + 0.5) / 20000;
            const double ring = std::sqrt(1.0 - z * z);
            const double angle = i * 2.399963229728653;
            const Vec3 p(c.centre.x + shell * ring * std::cos(angle), c.centre.y + shell * ring * std::sin(angle),
                         c.centre.z + shell * z);
            const double eyeDepth = -(modelview[2] * p.x + modelview[6] * p.y + modelview[10] * p.z + modelview[14]);
            if (eyeDepth < 1.0)
                continue;  // before the near plane: never drawn
            double wx, wy, wz;
            gluProject(p.x, p.y, p.z, modelview, projection, viewport, &wx, &wy, &wz);
            if (wx < 0 || wy < 0 || wx >= c.width || wy >= c.height)
                continue;
            ++seen;
            EXPECT_TRUE(wx >= rect.x && wx <= rect.x + rect.width && wy >= rect.y && wy <= rect.y + rect.height)
                << c.name << ": (" << wx << ", " << wy << ") outside " << rect.x << " " << rect.y << " " << rect.width
                << "x" << rect.height;
            if (HasFailure())
                return;
        }
        if (c.small) {
            EXPECT_LT(rect.width * rect.height, c.width * c.height / 4) << c.name;
        }
        if (seen == 0) {
            EXPECT_TRUE(rect.width == 0 || rect.height == 0 || rect.width * rect.height == c.width * c.height)
                << c.name << ": an unseen sphere needs no rectangle";
        }
    }
}
