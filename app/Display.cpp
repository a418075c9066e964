#include "Callbacks.h"
#include "DebugDraw.h"
#include "Frame.h"
#include "FrameTimer.h"
#include "Input.h"
#include "LevelReload.h"
#include "Overlay.h"
#include "Viewer.h"
#include "Watch.h"

#include <GL/freeglut.h>

#include <malloc.h>

namespace {

// Window-sized buffers come and go in the driver (resizes, screenshots, shader reloads); the C library keeps the
// freed pages, so over a long session the process would grow although nothing leaks. Handing them back once a
// second keeps the resident size flat.
void ReturnFreedMemory(Viewer& viewer, float dt)
{
    viewer.sinceMemoryReturn += dt;
    if (viewer.sinceMemoryReturn >= 1.0f) {
        viewer.sinceMemoryReturn = 0.0f;
        malloc_trim(0);
    }
}

// The light boxes (and with gizmoMode 2 their radius circles) into the off-screen target, the selected one red,
// with no shader bound, in the main view, depth tested and written.
void GizmoPass(Viewer& viewer)
{
    const Options& options = viewer.options;
    if (options.gizmoMode != 1 && options.gizmoMode != 2)
        return;
    FrameContext& frame = viewer.renderer.frame;
    ApplyPassState(frame.gl, PassState());
    BindFramebuffer(frame.gl, viewer.renderer.postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    SetStreams(frame.gl, Streams::None);
    LoadViewMatrices(frame.mainView);
    const std::vector<Light>& lights = viewer.level.lights;
    for (size_t i = 0; i < lights.size(); ++i) {
        if (static_cast<int>(i) == options.selectedLight)
            glColor3f(1, 0, 0);
        else
            glColor3f(1, 1, 1);
        DrawLightGizmo(lights[i], options.gizmoMode == 2);
    }
}

}  // namespace

void OnDisplay(Viewer& viewer)
{
    ServiceWatch(viewer);
    ServiceLevelReload(viewer);
    if (!viewer.frameTimer) {
        viewer.frameTimer.emplace();
        viewer.frameTimer->Start();
    }
    FrameTimer& frameTimer = *viewer.frameTimer;
    frameTimer.Stop();
    const float dt = static_cast<float>(frameTimer.ElapsedSeconds());
    frameTimer.Start();
    Renderer& renderer = viewer.renderer;
    if (viewer.options.advanceTime)
        renderer.shaderTime += dt;
    MoveCamera(viewer.camera, viewer.input, dt);

    FrameTimer renderTimer;
    renderTimer.Start();
    const FrameRequest request = viewer.Request();
    AnimateLights(renderer, request, dt);
    // A minimised window has no pixels to draw; the frame still keeps time and swaps.
    if (viewer.windowWidth > 0 && viewer.windowHeight > 0) {
        BeginFrame(renderer);
        BeginMainView(renderer, request);
        ShadowPass(renderer, request);
        DepthPrePass(renderer);
        LightPasses(renderer, request);
        GizmoPass(viewer);
        PostPass(renderer, request);
        DrawFrameStats(viewer.frameStats, dt, renderTimer, viewer.windowWidth, viewer.windowHeight);
        EndFrame(renderer);
    }
    glutSwapBuffers();
    glutPostRedisplay();
    ReturnFreedMemory(viewer, dt);
}
