#include "Callbacks.h"
#include "Input.h"
#include "Viewer.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// A fresh viewer per test, without a window: the callbacks change only its state.
class InputTest : public testing::Test {
protected:
    Viewer viewer;
    Camera& camera = viewer.camera;
    Options& options = viewer.options;
    InputState& input = viewer.input;
    int& windowWidth = viewer.windowWidth;
    Level& level = viewer.level;
};

}  // namespace

TEST_F(InputTest, NoHeldKeyLeavesTheCameraWhereItIs)
{
    camera.angleZ = 37;
    MoveCamera(camera, input, 5.0f);
    EXPECT_EQ(camera.position.x, 0);
    EXPECT_EQ(camera.position.y, 0);
    EXPECT_EQ(camera.position.z, 0);
}

TEST_F(InputTest, ForwardAndStrafeAddWithoutNormalisation)
{
    OnKeyDown(viewer, 'w', 0, 0);
    OnKeyDown(viewer, 'a', 0, 0);
    MoveCamera(camera, input, 1.0f);
    EXPECT_NEAR(camera.position.x, 96, 1e-9);
    EXPECT_NEAR(camera.position.y, 96, 1e-9);
    EXPECT_NEAR(camera.position.z, 0, 1e-9);

    // Yaw 90 degrees turns forward to +Y and left to -X.
    camera = Camera();
    camera.angleZ = 90;
    MoveCamera(camera, input, 0.5f);
    EXPECT_NEAR(camera.position.x, -48, 1e-4);
    EXPECT_NEAR(camera.position.y, 48, 1e-4);
}

TEST_F(InputTest, ForwardFollowsThePitchAndVerticalDoesNot)
{
    camera.angleY = 90;  // looking straight down
    OnKeyDown(viewer, 'w', 0, 0);
    MoveCamera(camera, input, 1.0f);
    EXPECT_NEAR(camera.position.x, 0, 1e-4);
    EXPECT_NEAR(camera.position.z, -96, 1e-9);

    // Strafing still moves horizontally, and f lifts along Z whatever the pitch.
    OnKeyUp(viewer, 'w', 0, 0);
    OnKeyDown(viewer, 'd', 0, 0);
    OnKeyDown(viewer, 'f', 0, 0);
    MoveCamera(camera, input, 1.0f);
    EXPECT_NEAR(camera.position.y, -96, 1e-9);
    EXPECT_NEAR(camera.position.z, 0, 1e-9);
}

TEST_F(InputTest, TheLastPressedKeyOfAPairWinsAndEitherReleaseStops)
{
    OnKeyDown(viewer, 'w', 0, 0);
    OnKeyDown(viewer, 's', 0, 0);
    MoveCamera(camera, input, 1.0f);
    EXPECT_NEAR(camera.position.x, -96, 1e-9);
    OnKeyUp(viewer, 's', 0, 0);
    MoveCamera(camera, input, 1.0f);
    EXPECT_NEAR(camera.position.x, -96, 1e-9);

    // Upper case neither starts nor stops a movement.
    OnKeyDown(viewer, 'W', 0, 0);
    EXPECT_EQ(input.moveForward, 0);
    OnKeyDown(viewer, 'w', 0, 0);
    OnKeyUp(viewer, 'W', 0, 0);
    EXPECT_EQ(input.moveForward, 1);
}

TEST_F(InputTest, DraggingTurnsByTheWindowSizeAndClampsThePitch)
{
    OnMouse(viewer, GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    OnMotion(viewer, 400, 300);  // the first motion after a press turns nothing
    EXPECT_EQ(camera.angleZ, 0);
    EXPECT_EQ(camera.angleY, 0);
    OnMotion(viewer, 200, 300);  // a quarter of the width to the left: a quarter turn left
    EXPECT_DOUBLE_EQ(camera.angleZ, 90);
    OnMotion(viewer, 200, 301);  // one pixel down: integer pixels, divided in floating point
    EXPECT_DOUBLE_EQ(camera.angleY, 0.6);
    OnMotion(viewer, 200, 1000);
    EXPECT_EQ(camera.angleY, 90);
    OnMotion(viewer, 200, -2000);
    EXPECT_EQ(camera.angleY, -90);

    // Yaw is never wrapped; after a resize a drag across the new width still turns 360 degrees.
    windowWidth = 333;
    OnMotion(viewer, 200 - 333 * 3, -2000);
    EXPECT_DOUBLE_EQ(camera.angleZ, 90 + 3 * 360);
}

TEST_F(InputTest, TogglesActOnEveryPressAndLatchesOnlyOncePerPress)
{
    OnKeyDown(viewer, ' ', 0, 0);
    OnKeyDown(viewer, ' ', 0, 0);
    OnKeyDown(viewer, ' ', 0, 0);
    EXPECT_FALSE(options.animateLights);
    for (int i = 0; i < 4; ++i)
        OnKeyDown(viewer, 'l', 0, 0);
    EXPECT_EQ(options.gizmoMode, 1);
    OnKeyDown(viewer, 'j', 0, 0);
    OnKeyDown(viewer, 'k', 0, 0);
    OnKeyDown(viewer, 't', 0, 0);
    EXPECT_TRUE(options.onlyFirstLight);
    EXPECT_TRUE(options.wireframe);
    EXPECT_FALSE(options.advanceTime);
    input.reloadArmed = false;
    OnKeyUp(viewer, 'r', 0, 0);
    EXPECT_TRUE(input.reloadArmed);
}

TEST_F(InputTest, SelectingAndMovingLightsNeedsLights)
{
    // Without lights neither key divides by zero nor touches a light.
    OnKeyDown(viewer, 'p', 0, 0);
    OnKeyDown(viewer, 'n', 0, 0);
    EXPECT_EQ(options.selectedLight, 0);

    level.lights.resize(3);
    OnKeyDown(viewer, 'p', 0, 0);
    OnKeyDown(viewer, 'p', 0, 0);
    EXPECT_EQ(options.selectedLight, 2);
    OnKeyDown(viewer, 'p', 0, 0);
    EXPECT_EQ(options.selectedLight, 0);
    OnKeyDown(viewer, 'p', 0, 0);
    camera.position = Vec3(5, 6, 7);
    OnKeyDown(viewer, 'n', 0, 0);
    EXPECT_EQ(level.lights[1].position.y, 6);
    EXPECT_EQ(level.lights[1].currentPosition.z, 7);
    EXPECT_EQ(level.lights[0].position.x, 0);
}
