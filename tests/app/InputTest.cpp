#include "Callbacks.h"
#include "Input.h"
#include "ViewerState.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class InputTest : public testing::Test {
protected:
    void SetUp() override
    {
        camera = Camera();
        options = Options();
        input = InputState();
        windowWidth = 800;
        windowHeight = 600;
        level = Level();
    }
};

}  // namespace

TEST_F(InputTest, NoHeldKeyLeavesTheCameraWhereItIs)
{
    camera.angleZ = 37;
    MoveCamera(5.0f);
    EXPECT_EQ(camera.position.x, 0);
    EXPECT_EQ(camera.position.y, 0);
    EXPECT_EQ(camera.position.z, 0);
}

TEST_F(InputTest, ForwardAndStrafeAddWithoutNormalisation)
{
    OnKeyDown('w', 0, 0);
    OnKeyDown('a', 0, 0);
    MoveCamera(1.0f);
    EXPECT_NEAR(camera.position.x, 96, 1e-9);
    EXPECT_NEAR(camera.position.y, 96, 1e-9);
    EXPECT_NEAR(camera.position.z, 0, 1e-9);

    // Yaw 90 degrees turns forward to +Y and left to -X.
    camera = Camera();
    camera.angleZ = 90;
    MoveCamera(0.5f);
    EXPECT_NEAR(camera.position.x, -48, 1e-4);
    EXPECT_NEAR(camera.position.y, 48, 1e-4);
}

TEST_F(InputTest, ForwardFollowsThePitchAndVerticalDoesNot)
{
    camera.angleY = 90;  // looking straight down
    OnKeyDown('w', 0, 0);
    MoveCamera(1.0f);
    EXPECT_NEAR(camera.position.x, 0, 1e-4);
    EXPECT_NEAR(camera.position.z, -96, 1e-9);

    // Strafing still moves horizontally, and f lifts along Z whatever the pitch.
    OnKeyUp('w', 0, 0);
    OnKeyDown('d', 0, 0);
    OnKeyDown('f', 0, 0);
    MoveCamera(1.0f);
    EXPECT_NEAR(camera.position.y, -96, 1e-9);
    EXPECT_NEAR(camera.position.z, 0, 1e-9);
}

TEST_F(InputTest, TheLastPressedKeyOfAPairWinsAndEitherReleaseStops)
{
    OnKeyDown('w', 0, 0);
    OnKeyDown('s', 0, 0);
    MoveCamera(1.0f);
    EXPECT_NEAR(camera.position.x, -96, 1e-9);
    OnKeyUp('s', 0, 0);
    MoveCamera(1.0f);
    EXPECT_NEAR(camera.position.x, -96, 1e-9);

    // Upper case neither starts nor stops a movement.
    OnKeyDown('W', 0, 0);
    EXPECT_EQ(input.moveForward, 0);
    OnKeyDown('w', 0, 0);
    OnKeyUp('W', 0, 0);
    EXPECT_EQ(input.moveForward, 1);
}

TEST_F(InputTest, DraggingTurnsByTheWindowSizeAndClampsThePitch)
{
    OnMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    OnMotion(400, 300);  // the first motion after a press turns nothing
    EXPECT_EQ(camera.angleZ, 0);
    EXPECT_EQ(camera.angleY, 0);
    OnMotion(200, 300);  // a quarter of the width to the left: a quarter turn left
    EXPECT_DOUBLE_EQ(camera.angleZ, 90);
    OnMotion(200, 301);  // one pixel down: integer pixels, divided in floating point
    EXPECT_DOUBLE_EQ(camera.angleY, 0.6);
    OnMotion(200, 1000);
    EXPECT_EQ(camera.angleY, 90);
    OnMotion(200, -2000);
    EXPECT_EQ(camera.angleY, -90);

    // Yaw is never wrapped; after a resize a drag across the new width still turns 360 degrees.
    windowWidth = 333;
    OnMotion(200 - 333 * 3, -2000);
    EXPECT_DOUBLE_EQ(camera.angleZ, 90 + 3 * 360);
}

TEST_F(InputTest, TogglesActOnEveryPressAndLatchesOnlyOncePerPress)
{
    OnKeyDown(' ', 0, 0);
    OnKeyDown(' ', 0, 0);
    OnKeyDown(' ', 0, 0);
    EXPECT_FALSE(options.animateLights);
    for (int i = 0; i < 4; ++i)
        OnKeyDown('l', 0, 0);
    EXPECT_EQ(options.gizmoMode, 1);
    OnKeyDown('j', 0, 0);
    OnKeyDown('k', 0, 0);
    OnKeyDown('t', 0, 0);
    EXPECT_TRUE(options.onlyFirstLight);
    EXPECT_TRUE(options.wireframe);
    EXPECT_FALSE(options.advanceTime);
    input.reloadArmed = false;
    OnKeyUp('r', 0, 0);
    EXPECT_TRUE(input.reloadArmed);
}

TEST_F(InputTest, SelectingAndMovingLightsNeedsLights)
{
    // Without lights neither key divides by zero nor touches a light.
    OnKeyDown('p', 0, 0);
    OnKeyDown('n', 0, 0);
    EXPECT_EQ(options.selectedLight, 0);

    level.lights.resize(3);
    OnKeyDown('p', 0, 0);
    OnKeyDown('p', 0, 0);
    EXPECT_EQ(options.selectedLight, 2);
    OnKeyDown('p', 0, 0);
    EXPECT_EQ(options.selectedLight, 0);
    OnKeyDown('p', 0, 0);
    camera.position = Vec3(5, 6, 7);
    OnKeyDown('n', 0, 0);
    EXPECT_EQ(level.lights[1].position.y, 6);
    EXPECT_EQ(level.lights[1].currentPosition.z, 7);
    EXPECT_EQ(level.lights[0].position.x, 0);
}
