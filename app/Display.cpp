#include "Callbacks.h"
#include "DebugDraw.h"
#include "Frame.h"
#include "FrameTimer.h"
#include "Input.h"
#include "Overlay.h"
#include "PostProcess.h"
#include "Startup.h"
#include "ViewerState.h"

#include <GL/freeglut.h>

#include <malloc.h>

#include <memory>

namespace {

// Created and started by the first frame; measures the interval from one frame to the next.
std::unique_ptr<FrameTimer> frameTimer;

FrameContext displayFrame;

// Window-sized buffers come and go in the driver (resizes, screenshots, shader reloads); the C library keeps the
// freed pages, so over a long session the process would grow although nothing leaks. Handing them back once a
// second keeps the resident size flat.
void ReturnFreedMemory(float dt)
{
    static float sinceReturn = 0.0f;
    sinceReturn += dt;
    if (sinceReturn >= 1.0f) {
        sinceReturn = 0.0f;
        malloc_trim(0);
    }
}

// The light boxes (and with gizmoMode 2 their radius circles) into the off-screen target, the selected one red,
// with no shader bound, in the main view, depth tested and written.
void GizmoPass(FrameContext& frame)
{
    if (options.gizmoMode != 1 && options.gizmoMode != 2)
        return;
    ApplyPassState(frame.gl, PassState());
    BindFramebuffer(frame.gl, postTarget.postFramebuffer);
    SetViewport(frame.gl, frame.mainView.viewport);
    SetStreams(frame.gl, Streams::None);
    LoadViewMatrices(frame.mainView);
    for (size_t i = 0; i < level.lights.size(); ++i) {
        if (static_cast<int>(i) == options.selectedLight)
            glColor3f(1, 0, 0);
        else
            glColor3f(1, 1, 1);
        DrawLightGizmo(level.lights[i], options.gizmoMode == 2);
    }
}

}  // namespace

FrameContext& DisplayFrame() { return displayFrame; }

void OnDisplay()
{
    if (!frameTimer) {
        frameTimer = std::make_unique<FrameTimer>();
        frameTimer->Start();
    }
    frameTimer->Stop();
    const float dt = static_cast<float>(frameTimer->ElapsedSeconds());
    frameTimer->Start();
    if (options.advanceTime)
        shaderTime += dt;
    MoveCamera(dt);

    FrameTimer renderTimer;
    renderTimer.Start();
    AnimateLights(dt);
    // A minimised window has no pixels to draw; the frame still keeps time and swaps.
    if (windowWidth > 0 && windowHeight > 0) {
        FrameContext& frame = displayFrame;
        BeginFrame(frame);
        ShadowPass(frame);
        BeginMainView(frame);
        DepthPrePass(frame);
        LightPasses(frame, fixedTextures.attenuation);
        GizmoPass(frame);
        const bool clearColour = !(frame.options.culling && frame.shortCuts.skipPostColourClear);
        DrawPostPass(frame.gl, clearColour, fixedTextures.warp, fixedTextures.ramp, shaderTime);
        DrawFrameStats(dt, renderTimer);
        EndFrame(frame);
    }
    glutSwapBuffers();
    glutPostRedisplay();
    ReturnFreedMemory(dt);
}
