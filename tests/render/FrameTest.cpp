#include "Callbacks.h"
#include "Frame.h"
#include "GlTestContext.h"
#include "Startup.h"
#include "Viewer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

// The suite's viewer, built once the GL context exists and shared by its tests as the running viewer's frames are.
std::unique_ptr<Viewer> suiteViewer;
Viewer& TheViewer() { return *suiteViewer; }

// Three lights over a floor, so that the animation has a first and a third light to move and a second to leave.
const char* kLevel =
    "BSP BBOXES (0 0 0)(1 1 1) ENTITIES\n"
    "a 100 0 0 300 1 1 1\nb 100 50 0 300 1 0 0\nc 100 -50 0 300 0 0 1\n"
    "LEAF floor|(0 0 0)(0 0 0)|0 |(0 -200 -40) 0 0 0 0 |(400 -200 -40) 1 0 0 0 |(400 200 -40) 1 1 0 0\n"
    "LEAF floor|(0 0 0)(0 0 0)|0 |(0 -200 -40) 0 0 0 0 |(400 200 -40) 1 1 0 0 |(0 200 -40) 0 1 0 0\n"
    "NODE (1 0 0) 0 L0 L1\n";

GLenum FirstGlError()
{
    const GLenum first = glGetError();
    while (glGetError() != GL_NO_ERROR) {
    }
    return first;
}

class FrameTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        directory = fs::temp_directory_path() / ("velmora-frame-" + std::to_string(getpid()));
        fs::create_directories(directory);
        for (const char* shader : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
            fs::copy_file(fs::path(VELMORA_DATA_DIR) / shader, directory / shader,
                          fs::copy_options::overwrite_existing);
        std::ofstream(directory / "out.txt") << kLevel;
        previous = fs::current_path();
        fs::current_path(directory);
        CreateGlTestContext();
        suiteViewer = std::make_unique<Viewer>();
        ASSERT_TRUE(Init(*suiteViewer).Ok());
        FirstGlError();
    }

    static void TearDownTestSuite()
    {
        fs::current_path(previous);
        fs::remove_all(directory);
    }

    static fs::path directory, previous;
};

fs::path FrameTest::directory, FrameTest::previous;

}  // namespace

TEST_F(FrameTest, FramesRaiseNoGlErrorsAtAnySizeIncludingZero)
{
    for (const auto& size : {std::array<int, 2>{800, 600}, {0, 0}, {0, 300}, {301, 0}, {641, 479}}) {
        OnReshape(TheViewer(), size[0], size[1]);
        OnDisplay(TheViewer());
        OnDisplay(TheViewer());
        EXPECT_EQ(FirstGlError(), static_cast<GLenum>(GL_NO_ERROR)) << size[0] << "x" << size[1];
    }
    TheViewer().options.wireframe = true;
    TheViewer().options.gizmoMode = 2;
    TheViewer().options.onlyFirstLight = true;
    OnDisplay(TheViewer());
    EXPECT_EQ(FirstGlError(), static_cast<GLenum>(GL_NO_ERROR));
    TheViewer().options = Options();
}

TEST_F(FrameTest, OnlyLightsThatMovedGetTheirShadowsRendered)
{
    OnReshape(TheViewer(), 800, 600);
    TheViewer().options.animateLights = false;
    OnDisplay(TheViewer());
    const long afterStill = TheViewer().renderer.frame.shadowFacesRendered;
    OnDisplay(TheViewer());
    OnDisplay(TheViewer());
    EXPECT_EQ(TheViewer().renderer.frame.shadowFacesRendered, afterStill) << "a still scene renders no shadow face";

    // Animated, the first and third lights move every frame; the second stays.
    TheViewer().options.animateLights = true;
    const Vec3 second = TheViewer().level.lights[1].currentPosition;
    OnDisplay(TheViewer());
    EXPECT_EQ(TheViewer().renderer.frame.shadowFacesRendered, afterStill + 12);
    EXPECT_EQ(TheViewer().level.lights[1].currentPosition.x, second.x);
    EXPECT_EQ(TheViewer().level.lights[1].currentPosition.y, second.y);
    const float angle = TheViewer().renderer.lightAnimationAngle;
    const Light& first = TheViewer().level.lights[0];
    EXPECT_NEAR(first.currentPosition.x, first.position.x + 16 * std::sin(angle), 1e-4);
    EXPECT_NEAR(first.currentPosition.y, first.position.y + 16 * std::cos(angle), 1e-4);
    const Light& third = TheViewer().level.lights[2];
    EXPECT_NEAR(third.currentPosition.x, third.position.x + 32 * std::sin(angle), 1e-4);
    EXPECT_EQ(third.currentPosition.y, third.position.y);
}

TEST_F(FrameTest, AnimationLeavesLightsThatDoNotExistAlone)
{
    // With one light only the first moves; with none nothing is touched.
    Viewer& viewer = TheViewer();
    std::vector<Light>& lights = viewer.level.lights;
    const std::vector<Light> saved = lights;
    lights.resize(1);
    viewer.options.animateLights = true;
    AnimateLights(viewer.renderer, viewer.Request(), 0.5f);
    EXPECT_NEAR(lights[0].currentPosition.y, lights[0].position.y + 16 * std::cos(viewer.renderer.lightAnimationAngle),
                1e-4);
    lights.clear();
    AnimateLights(viewer.renderer, viewer.Request(), 0.5f);
    OnDisplay(viewer);
    EXPECT_EQ(FirstGlError(), static_cast<GLenum>(GL_NO_ERROR));
    lights = saved;
}
