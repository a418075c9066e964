#include "Input.h"

#include "Callbacks.h"
#include "Screenshot.h"

#include <GL/freeglut.h>

namespace {

constexpr double kUnitsPerSecond = 96.0;

}  // namespace

void OnKeyDown(Viewer& viewer, unsigned char key, int, int)
{
    Options& options = viewer.options;
    InputState& input = viewer.input;
    std::vector<Light>& lights = viewer.level.lights;
    switch (key) {
    case ' ':
        options.animateLights = !options.animateLights;
        break;
    case 'a':
        input.moveStrafe = +1;
        break;
    case 'c':
        input.moveVertical = -1;
        break;
    case 'd':
        input.moveStrafe = -1;
        break;
    case 'f':
        input.moveVertical = +1;
        break;
    case 'j':
        options.onlyFirstLight = !options.onlyFirstLight;
        break;
    case 'k':
        options.wireframe = !options.wireframe;
        break;
    case 'l':
        options.gizmoMode = (options.gizmoMode + 1) % 3;
        break;
    case 'n':
        // Without lights there is nothing to move.
        if (options.selectedLight < static_cast<int>(lights.size())) {
            Light& light = lights[options.selectedLight];
            light.position = viewer.camera.position;
            light.currentPosition = viewer.camera.position;
        }
        break;
    case 'p':
        if (!lights.empty())
            options.selectedLight = (options.selectedLight + 1) % static_cast<int>(lights.size());
        break;
    case 'r':
        if (input.reloadArmed) {
            LoadShadersAndShortCuts(viewer.renderer);
            input.reloadArmed = false;
        }
        break;
    case 's':
        input.moveForward = -1;
        break;
    case 't':
        options.advanceTime = !options.advanceTime;
        break;
    case 'u':
        if (input.screenshotArmed) {
            TakeScreenshot(viewer.screenshotCounter, viewer.windowWidth, viewer.windowHeight);
            input.screenshotArmed = false;
        }
        break;
    case 'w':
        input.moveForward = +1;
        break;
    default:
        break;
    }
}

void OnKeyUp(Viewer& viewer, unsigned char key, int, int)
{
    InputState& input = viewer.input;
    switch (key) {
    case 'a':
    case 'd':
        input.moveStrafe = 0;
        break;
    case 'c':
    case 'f':
        input.moveVertical = 0;
        break;
    case 'r':
        input.reloadArmed = true;
        break;
    case 's':
    case 'w':
        input.moveForward = 0;
        break;
    case 'u':
        input.screenshotArmed = true;
        break;
    default:
        break;
    }
}

void OnMouse(Viewer& viewer, int, int state, int, int)
{
    if (state == GLUT_DOWN) {
        viewer.input.lastMouseX = -1;
        viewer.input.lastMouseY = -1;
    }
}

void OnMotion(Viewer& viewer, int x, int y)
{
    InputState& input = viewer.input;
    Camera& camera = viewer.camera;
    const int px = input.lastMouseX == -1 ? x : input.lastMouseX;
    const int py = input.lastMouseY == -1 ? y : input.lastMouseY;
    camera.angleZ += static_cast<double>(px - x) / viewer.windowWidth * 360.0;
    camera.angleY = camera.angleY - static_cast<double>(py - y) / viewer.windowHeight * 360.0;
    if (camera.angleY > 90.0)
        camera.angleY = 90.0;
    input.lastMouseY = y;
    input.lastMouseX = x;
    if (camera.angleY < -90.0)
        camera.angleY = -90.0;
}

void OnReshape(Viewer& viewer, int width, int height)
{
    viewer.windowWidth = width;
    viewer.windowHeight = height;
    CreatePostTarget(viewer.renderer.postTarget, width, height);
}

void MoveCamera(Camera& camera, const InputState& input, float dt)
{
    // The degree-to-radian factor uses pi in single precision: 0.017453293005625408.
    const double k = static_cast<double>(3.14159265f) / 180.0;
    Mat4 rotation;
    rotation.SetRotation(-camera.angleX * k, -camera.angleY * k, -camera.angleZ * k);
    Vec3 d;
    if (input.moveForward != 0) {
        const Vec3 forward = rotation.TransformPoint(Vec3(1, 0, 0));
        const double scale = dt * kUnitsPerSecond * input.moveForward;
        d = Vec3(forward.x * scale, forward.y * scale, forward.z * scale);
    }
    if (input.moveStrafe != 0) {
        const Vec3 strafe = rotation.TransformPoint(Vec3(0, 1, 0));
        const double scale = dt * kUnitsPerSecond * input.moveStrafe;
        d = d + Vec3(strafe.x * scale, strafe.y * scale, strafe.z * scale);
    }
    if (input.moveVertical != 0)
        d.z = d.z + input.moveVertical * dt * kUnitsPerSecond;
    camera.position = camera.position + d;
}
