// The culled frame (passes limited to what the view, a light's sphere or a shadow face can reach, as far as the
// loaded shader files allow) draws the same image as the frame that draws everything everywhere, on the generated
// demo level, for the shipped shader files and for edited ones.
#include "Callbacks.h"
#include "Culling.h"
#include "Frame.h"
#include "GlTestContext.h"
#include "Overlay.h"
#include "RenderGeometry.h"
#include "ShadowPool.h"
#include "ShortCuts.h"
#include "Startup.h"
#include "Viewer.h"

#include <gtest/gtest.h>

#include <GL/glu.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The suite's viewer, built once the GL context exists and shared by its tests as the running viewer's frames are.
std::unique_ptr<Viewer> suiteViewer;
Viewer& TheViewer() { return *suiteViewer; }

// The statistics line changes from frame to frame; it sits in this lower-left corner.
constexpr int kOverlayWidth = 320;
constexpr int kOverlayHeight = 30;

class FrameCullingTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        directory = fs::temp_directory_path() / ("velmora-culling-" + std::to_string(getpid()));
        const std::string generate = std::string(VELMORA_LEVELGEN) + " --out " + directory.string() + " " +
                                     VELMORA_LEVELGEN_ARGS + " >/dev/null";
        ASSERT_EQ(std::system(generate.c_str()), 0);
        for (const char* shader : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
            fs::copy_file(fs::path(VELMORA_DATA_DIR) / shader, directory / shader,
                          fs::copy_options::overwrite_existing);
        previous = fs::current_path();
        fs::current_path(directory);
        CreateGlTestContext(800, 600);
        suiteViewer = std::make_unique<Viewer>();
        ASSERT_TRUE(Init(*suiteViewer).Ok());
        // The very first frame draws its shadow faces and pre-pass with GL_LESS, every later one with GL_LEQUAL.
        OnDisplay(TheViewer());
    }

    static void TearDownTestSuite()
    {
        fs::current_path(previous);
        fs::remove_all(directory);
    }

    void SetUp() override
    {
        TheViewer().options = Options();
        TheViewer().options.animateLights = false;
        TheViewer().options.advanceTime = false;
        OnReshape(TheViewer(), 800, 600);
    }

    // One frame with fresh shadow maps, read back from the window. The window is painted magenta first, so that a
    // pixel the frame leaves alone shows.
    static std::vector<unsigned char> RenderFrame(bool culling, bool freshMaps = true)
    {
        TheViewer().renderer.frame.options.culling = culling;
        if (freshMaps)
            TheViewer().renderer.shadows.ForgetMaps();
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glClearColor(1, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]);
        OnDisplay(TheViewer());
        std::vector<unsigned char> pixels(size_t(TheViewer().windowWidth) * TheViewer().windowHeight * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, TheViewer().windowWidth, TheViewer().windowHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        TheViewer().renderer.frame.options.culling = true;
        return pixels;
    }

    // Pixels (outside the statistics line) that differ between the frames with culling on and off, and the pixels
    // lit in the culled one.
    struct Difference {
        int differing = 0;
        int lit = 0;
    };
    static Difference Compare(const std::vector<unsigned char>& frame, const std::vector<unsigned char>& reference)
    {
        Difference difference;
        for (int y = 0; y < TheViewer().windowHeight; ++y)
            for (int x = 0; x < TheViewer().windowWidth; ++x) {
                if (x < kOverlayWidth && y < kOverlayHeight)
                    continue;
                const size_t i = (size_t(y) * TheViewer().windowWidth + x) * 3;
                difference.differing +=
                    frame[i] != reference[i] || frame[i + 1] != reference[i + 1] || frame[i + 2] != reference[i + 2];
                difference.lit += frame[i] > 40;
            }
        return difference;
    }
    static Difference CompareCulledWithFull()
    {
        const std::vector<unsigned char> culled = RenderFrame(true);
        return Compare(culled, RenderFrame(false));
    }

    static fs::path directory, previous;
};

fs::path FrameCullingTest::directory, FrameCullingTest::previous;

struct Viewpoint {
    const char* name;
    Vec3 position;
    double angleZ;  // yaw, positive turns left from +X
    double angleY;  // pitch, positive looks down
    std::function<void()> setUp;
};

// Puts the camera at the viewpoint and runs its own set-up.
void EnterViewpoint(const Viewpoint& view)
{
    TheViewer().camera.position = view.position;
    TheViewer().camera.angleX = 0;
    TheViewer().camera.angleY = view.angleY;
    TheViewer().camera.angleZ = view.angleZ;
    if (view.setUp)
        view.setUp();
}

}  // namespace

TEST_F(FrameCullingTest, CulledPassesDrawTheImageOfFullOnes)
{
    // The demo level: room 0 holds lights 0 to 2 (radii 480 to 640) around (336, 0); light 3 (radius 717) is in
    // the next room east, beyond room 0's wall at x = 768; rooms 4 to 6 lie north, from y = 960.
    const Viewpoint views[] = {
        {"eye inside three spheres, a light behind a wall", Vec3(0, 0, 20), 0, 0, nullptr},
        {"eye outside every sphere, spheres cut by the window edge", Vec3(-1500, 400, 300), -15, 10, nullptr},
        {"lights behind the eye", Vec3(1000, 0, 40), 0, 0, nullptr},
        {"looking down at a sphere's rim", Vec3(700, 100, 100), 30, 60, nullptr},
        {"wireframe", Vec3(0, 0, 20), 10, 0, [] { TheViewer().options.wireframe = true; }},
        {"only the first light", Vec3(1000, 0, 40), 180, 0, [] { TheViewer().options.onlyFirstLight = true; }},
        {"gizmos with circles", Vec3(-300, -200, 60), 30, 5, [] { TheViewer().options.gizmoMode = 2; }},
        {"a light moved to the eye with n", Vec3(1200, -150, 30), 160, 0,
         [] {
             TheViewer().options.selectedLight = 3;
             OnKeyDown(TheViewer(), 'n', 0, 0);
         }},
        {"both animated lights moved", Vec3(0, 0, 20), -30, 0,
         [] {
             TheViewer().options.animateLights = true;
             AnimateLights(TheViewer().renderer, TheViewer().Request(), 2.0f);
             TheViewer().options.animateLights = false;
         }},
        {"resized window", Vec3(0, 0, 20), 20, 0, [] { OnReshape(TheViewer(), 641, 479); }},
    };
    const std::vector<Light> original = TheViewer().level.lights;
    for (const Viewpoint& view : views) {
        SetUp();
        EnterViewpoint(view);
        const Difference difference = CompareCulledWithFull();
        EXPECT_EQ(difference.differing, 0) << view.name;
        EXPECT_GT(difference.lit, 1000) << view.name << ": the view should show lit surfaces";
        TheViewer().level.lights = original;
    }
}

// Run on a level of more vertices than 16-bit indices reach, so that culled drawing is compared with 32-bit
// indices too.
TEST_F(FrameCullingTest, TheWideLevelDrawsWithThirtyTwoBitIndices)
{
    EXPECT_EQ(TheViewer().renderer.geometry.indexType, static_cast<GLenum>(GL_UNSIGNED_INT));
}

// Pools of two and three maps for the level's eight lights: maps change hands between the passes of one frame and
// between frames, lights leave the view and come back, and every frame is still the one a pool holding every map
// draws.
TEST_F(FrameCullingTest, ASmallShadowPoolDrawsTheImagesOfAFullOne)
{
    const Viewpoint views[] = {
        {"eye inside three spheres", Vec3(0, 0, 20), 0, 0, nullptr},
        {"eye outside every sphere", Vec3(-1500, 400, 300), -15, 10, nullptr},
        {"lights behind the eye", Vec3(1000, 0, 40), 0, 0, nullptr},
        {"wireframe, turned", Vec3(0, 0, 20), 100, 0, [] { TheViewer().options.wireframe = true; }},
        {"a light moved to the eye with n", Vec3(1200, -150, 30), 160, 0,
         [] {
             TheViewer().options.selectedLight = 3;
             OnKeyDown(TheViewer(), 'n', 0, 0);
         }},
    };
    const std::vector<Light> original = TheViewer().level.lights;
    std::vector<std::vector<unsigned char>> expected;
    for (const Viewpoint& view : views) {
        SetUp();
        EnterViewpoint(view);
        expected.push_back(RenderFrame(false));
        TheViewer().level.lights = original;
    }
    ShadowPool& pool = TheViewer().renderer.shadows;
    for (const size_t maps : {2, 3}) {
        pool.SetBudget(maps * kShadowMapBytes);
        // Both culling settings with fresh maps, then the views again in turn with the maps the earlier frames
        // left, twice over.
        for (const int round : {0, 1, 2, 3})
            for (size_t v = 0; v < std::size(views); ++v) {
                SetUp();
                EnterViewpoint(views[v]);
                const bool fresh = round < 2;
                EXPECT_EQ(Compare(RenderFrame(round != 1, fresh), expected[v]).differing, 0)
                    << maps << " maps, round " << round << ": " << views[v].name;
                EXPECT_LE(pool.MapsCreated(), maps);
                TheViewer().level.lights = original;
            }
    }
    pool.SetBudget(kShadowPoolBudgetBytes);
}

TEST_F(FrameCullingTest, AShaderReloadRendersEveryShadowMapAgainWithTheNewProgram)
{
    // The edited program writes the faces' clear value everywhere: nothing is shadowed.
    std::ostringstream text;
    text << std::ifstream(directory / "shadow.cg", std::ios::binary).rdbuf();
    const std::string shipped = text.str();
    const size_t body = shipped.find("    return PackFraction(");
    ASSERT_NE(body, std::string::npos);
    std::string unshadowed = shipped;
    unshadowed.insert(body, "    return float4(0.25, 0.25, 0.25, 1.0);\n");
    const std::vector<unsigned char> before = RenderFrame(true);
    const auto reload = [](const std::string& text) {
        std::ofstream(directory / "shadow.cg", std::ios::binary) << text;
        LoadShadersAndShortCuts(TheViewer().renderer);
        return RenderFrame(true, false);
    };
    EXPECT_GT(Compare(reload(unshadowed), before).differing, 1000) << "the shadows are gone";
    EXPECT_EQ(Compare(reload(shipped), before).differing, 0) << "the shadows are back";
}

TEST_F(FrameCullingTest, AStillSceneRendersNoShadowFacesAfterItsFirstFrame)
{
    TheViewer().renderer.shadows.ForgetMaps();
    OnDisplay(TheViewer());
    const long afterFirst = TheViewer().renderer.frame.shadowFacesRendered;
    OnDisplay(TheViewer());
    OnDisplay(TheViewer());
    EXPECT_EQ(TheViewer().renderer.frame.shadowFacesRendered, afterFirst);
}

TEST_F(FrameCullingTest, ASpheresRectangleHoldsEveryPixelWhereTheSphereIsSeen)
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

namespace {

// One replacement in one shipped shader file.
struct Edit {
    const char* file;
    const char* from;
    const char* to;
};

struct ShaderVariant {
    const char* name;
    std::vector<Edit> edits;
    ShortCuts expected;  // what the decision keeps
};

std::string ReadFile(const fs::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

ShortCuts AllShortCuts(bool on) { return ShortCuts{on, on, on, on, on, on, on}; }

// Culling by the view only: the light program's output does not end at the radius.
ShortCuts ViewCullingOnly()
{
    ShortCuts cuts = AllShortCuts(true);
    cuts.cullLightSpheres = cuts.cullFirstLight = cuts.cullShadowSpheres = false;
    return cuts;
}

ShortCuts AllButPostClear()
{
    ShortCuts cuts = AllShortCuts(true);
    cuts.skipPostColourClear = false;
    return cuts;
}

ShortCuts OnlyPostClear()
{
    ShortCuts cuts = AllShortCuts(false);
    cuts.skipPostColourClear = true;
    return cuts;
}

}  // namespace

TEST_F(FrameCullingTest, EditedShadersDrawTheSameImageCulledAndInFull)
{
    const char* lightOutput = "return float4(IN.lightColor * attenuation * lit, 1);";
    const char* lightDistance = "float distance = length(IN.lightToPoint.xyz) / max(IN.lightToPoint.w, 1e-6);";
    const char* attenuationLookup =
        "float attenuation = max(tex1D(attenuationTex, (distance * 255.0 + 0.5) / 256.0).r, 0.0);";
    const char* placed = "OUT.position = mul(ModelViewProj, position);";
    const char* displaced =
        "OUT.position = mul(ModelViewProj, position + float4(0, 0, 24 * sin(position.x * 0.02), 0));";
    const ShaderVariant variants[] = {
        {"the shipped files", {}, AllShortCuts(true)},
        {"an ambient term that does not fade at the radius",
         {{"shader.cg", lightOutput, "return float4(IN.lightColor * (attenuation * lit + 0.05 * diffuse), 1);"}},
         ViewCullingOnly()},
        {"a fall-off that reaches twice the radius",
         {{"shader.cg", lightDistance,
           "float distance = length(IN.lightToPoint.xyz) / max(2.0 * IN.lightToPoint.w, 1e-6);"}},
         ViewCullingOnly()},
        {"a fall-off of its own, ending at the radius, without the attenuation texture",
         {{"shader.cg", attenuationLookup, "float attenuation = saturate(1.0 - distance * distance);"}},
         AllShortCuts(true)},
        {"a vertex program displacing geometry in the pre-pass, the light and the shadow pass",
         {{"shader.cg", placed, displaced},
          {"shadow.cg", placed, displaced},
          {"ambient.cg", "return mul(ModelViewProj, position);",
           "return mul(ModelViewProj, position + float4(0, 0, 24 * sin(position.x * 0.02), 0));"}},
         OnlyPostClear()},
        {"a post program discarding fragments",
         {{"post.cg", "return float4(lerp(scene, graded, gradeShare), 1);",
           "if (frac(windowCoords.x * 23.0 + windowCoords.y * 7.0) < 0.25)\n        discard;\n"
           "    return float4(lerp(scene, graded, gradeShare), 1);"}},
         AllButPostClear()},
    };
    const Viewpoint views[] = {
        {"start view", Vec3(0, 0, 20), 0, 0, nullptr},
        {"wireframe", Vec3(0, 0, 20), 10, 0, [] { TheViewer().options.wireframe = true; }},
        {"gizmos", Vec3(-300, -200, 60), 30, 5, [] { TheViewer().options.gizmoMode = 2; }},
        {"only the first light", Vec3(1000, 0, 40), 180, 0, [] { TheViewer().options.onlyFirstLight = true; }},
        {"an animated frame", Vec3(0, 0, 20), -30, 0,
         [] {
             TheViewer().options.animateLights = true;
             AnimateLights(TheViewer().renderer, TheViewer().Request(), 2.0f);
             TheViewer().options.animateLights = false;
         }},
        {"a resized window", Vec3(-1500, 400, 300), -15, 10, [] { OnReshape(TheViewer(), 641, 479); }},
    };
    const std::vector<Light> original = TheViewer().level.lights;
    for (const ShaderVariant& variant : variants) {
        for (const char* file : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
            fs::copy_file(fs::path(VELMORA_DATA_DIR) / file, directory / file, fs::copy_options::overwrite_existing);
        for (const Edit& edit : variant.edits) {
            std::string text = ReadFile(directory / edit.file);
            const size_t at = text.find(edit.from);
            ASSERT_NE(at, std::string::npos) << variant.name << ": " << edit.from;
            text.replace(at, std::string(edit.from).size(), edit.to);
            std::ofstream(directory / edit.file) << text;
        }
        OnKeyDown(TheViewer(), 'r', 0, 0);
        OnKeyUp(TheViewer(), 'r', 0, 0);
        const ShortCuts& cuts = TheViewer().renderer.frame.shortCuts;
        const ShortCuts& expected = variant.expected;
        EXPECT_EQ(cuts.cullPrePass, expected.cullPrePass) << variant.name;
        EXPECT_EQ(cuts.cullLightPasses, expected.cullLightPasses) << variant.name;
        EXPECT_EQ(cuts.cullShadowFaces, expected.cullShadowFaces) << variant.name;
        EXPECT_EQ(cuts.cullLightSpheres, expected.cullLightSpheres) << variant.name;
        EXPECT_EQ(cuts.cullFirstLight, expected.cullFirstLight) << variant.name;
        EXPECT_EQ(cuts.cullShadowSpheres, expected.cullShadowSpheres) << variant.name;
        EXPECT_EQ(cuts.skipPostColourClear, expected.skipPostColourClear) << variant.name;
        for (const Viewpoint& view : views) {
            SetUp();
            EnterViewpoint(view);
            EXPECT_EQ(CompareCulledWithFull().differing, 0) << variant.name << ", " << view.name;
            TheViewer().level.lights = original;
        }
    }
    for (const char* file : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
        fs::copy_file(fs::path(VELMORA_DATA_DIR) / file, directory / file, fs::copy_options::overwrite_existing);
    OnKeyDown(TheViewer(), 'r', 0, 0);
    OnKeyUp(TheViewer(), 'r', 0, 0);
}
