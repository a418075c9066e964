#include "Startup.h"

#include "Attenuation.h"
#include "Callbacks.h"
#include "Console.h"
#include "GlState.h"
#include "ImageDecoder.h"
#include "LevelCost.h"
#include "Progress.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>
#include <GL/freeglut.h>
#include <GL/freeglut_ucall.h>
#include <GL/glx.h>
#include <X11/XKBlib.h>

#include <functional>
#include <new>
#include <vector>

namespace {

// Loads one of the post-processing images and replaces the loader's mipmapped minification with plain linear
// filtering. On failure this sets the filters of whatever is bound to GL_TEXTURE_2D, which is harmless.
GLuint LoadLinearTexture(TextureCache& cache, const char* name)
{
    const GLuint texture = LoadTexture(cache, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}

// The adapters GLUT calls: each hands its arguments and the viewer on.
void DisplayAdapter(void* viewer) { OnDisplay(*static_cast<Viewer*>(viewer)); }
void ReshapeAdapter(int width, int height, void* viewer) { OnReshape(*static_cast<Viewer*>(viewer), width, height); }
void KeyDownAdapter(unsigned char key, int x, int y, void* viewer)
{
    OnKeyDown(*static_cast<Viewer*>(viewer), key, x, y);
}
void KeyUpAdapter(unsigned char key, int x, int y, void* viewer) { OnKeyUp(*static_cast<Viewer*>(viewer), key, x, y); }
void MouseAdapter(int button, int state, int x, int y, void* viewer)
{
    OnMouse(*static_cast<Viewer*>(viewer), button, state, x, y);
}
void MotionAdapter(int x, int y, void* viewer) { OnMotion(*static_cast<Viewer*>(viewer), x, y); }

// The progress of one phase for a step that reports fractions; nothing without a progress display.
std::function<void(double)> PhaseProgress(LoadProgress* progress, LoadPhase phase)
{
    if (progress == nullptr)
        return {};
    return [progress, phase](double fraction) { progress->Report(phase, fraction); };
}

// The steps of Init that may fail, in order.
Outcome InitSteps(Viewer& viewer, LevelSearch search, LoadProgress* progress)
{
    const Outcome capable = CheckGLCapabilities();
    if (!capable.Ok())
        return capable;
    Renderer& renderer = viewer.renderer;
    InitImageLibrary();
    CreateFixedTextures(renderer);
    // The shader files compile while the level loads; LoadShadersAndShortCuts collects them.
    renderer.shaders = CreateShaderPairs();
    StartShaderCompiles(*renderer.shaders);
    const Outcome loaded =
        LoadLevel(viewer.level, LevelTextures(renderer), search, PhaseProgress(progress, LoadPhase::Level));
    if (!loaded.Ok())
        return loaded;
    ConsoleLine("Done loading BSP file.");
    const Outcome fits = CheckLevelFitsMemory(viewer.level);
    if (!fits.Ok())
        return fits;
    // Nothing reads the level's triangles once they are welded into the render geometry.
    const Outcome built =
        BuildRenderGeometry(renderer.geometry, viewer.level.root, PhaseProgress(progress, LoadPhase::Geometry),
                            [&viewer] { ReleaseTriangles(viewer.level); });
    if (!built.Ok())
        return built;
    const std::function<void(double)> shaderProgress = PhaseProgress(progress, LoadPhase::Shaders);
    if (shaderProgress)
        shaderProgress(0.0);
    LoadShadersAndShortCuts(renderer);
    if (shaderProgress)
        shaderProgress(1.0);
    CreatePostTarget(renderer.postTarget, viewer.windowWidth, viewer.windowHeight);
    // Shadow maps are made in the frames whose light passes need them.
    for (Light& light : viewer.level.lights)
        light.currentPosition = light.position;
    SetFixedRenderState();
    return Outcome();
}

void RegisterCallbacks(Viewer& viewer)
{
    glutDisplayFuncUcall(DisplayAdapter, &viewer);
    glutReshapeFuncUcall(ReshapeAdapter, &viewer);
    glutKeyboardFuncUcall(KeyDownAdapter, &viewer);
    glutMotionFuncUcall(MotionAdapter, &viewer);
    glutMouseFuncUcall(MouseAdapter, &viewer);
    glutKeyboardUpFuncUcall(KeyUpAdapter, &viewer);
}

}  // namespace

Outcome CheckGLCapabilities()
{
    // glewInit resolves the entry points and the per-extension flags; it needs the window's context.
    glewInit();
    struct Requirement {
        GLboolean present;
        const char* message;
    };
    const Requirement requirements[] = {
        {GLEW_ARB_vertex_buffer_object, "Requires GL_ARB_vertex_buffer_object support!"},
        {GLEW_EXT_framebuffer_object,
         "Requires GL_EXT_framebuffer_object. Try upgrading to forceware 75.90 beta drivers!"},
        {GLEW_NV_texture_rectangle, "Requires NV_texture_rectangle"},
    };
    for (const Requirement& requirement : requirements)
        if (!requirement.present)
            return Outcome::Failure(FailureReason::MissingCapability, requirement.message);
    return Outcome();
}

GLuint CreateCheckerTexture()
{
    std::vector<unsigned char> pixels(32 * 32);
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 32; ++c)
            pixels[r * 32 + c] = ((r < 16) == (c < 16)) ? 255 : 0;

    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE8, 32, 32, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, pixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return id;
}

void InitImageLibrary()
{
    ilInit();
    ilutRenderer(ILUT_OPENGL);
    // Without a decoder every image fails like a missing file; nothing is decoded in this process.
    StartImageDecoder();
}

void CreateFixedTextures(Renderer& renderer)
{
    TextureCache& cache = renderer.textures;
    cache.FallbackTexture = CreateCheckerTexture();
    renderer.fixedTextures.attenuation = CreateAttenuationTexture();
    renderer.fixedTextures.warp = LoadLinearTexture(cache, "postprocess");
    renderer.fixedTextures.ramp = LoadLinearTexture(cache, "ramp");
}

void SetFixedRenderState()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glClearColor(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]);
    glDisable(GL_TEXTURE_2D);
}

Outcome Init(Viewer& viewer, LevelSearch search, LoadProgress* progress)
{
    Outcome status;
    try {
        status = InitSteps(viewer, search, progress);
    } catch (const std::bad_alloc&) {
        status = Outcome::Failure(FailureReason::OutOfMemory, kStartupOutOfMemory);
    }
    // A start-up that failed before the shaders were collected still waits for their compile thread.
    FinishShaderCompiles();
    // Images load only during start-up; the decoder and its memory end with it, whether it succeeded or not.
    StopImageDecoder();
    return status;
}

Outcome RunViewer(int argc, char** argv, LevelSearch search, bool watch)
{
    glutInit(&argc, argv);
    glutInitWindowSize(800, 600);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("VelmoraViewer");
    // A held key then sends repeated presses and one release at the end, instead of a release before every
    // repeat: the r and u latches and the movement keys rely on that.
    if (Display* display = glXGetCurrentDisplay())
        XkbSetDetectableAutoRepeat(display, True, nullptr);
    // GLUT's main loop ends the process without returning here, so the viewer lives for the rest of the run.
    Viewer viewer;
    {
        LoadProgress progress;
        const Outcome started = Init(viewer, search, &progress);
        if (!started.Ok()) {
            ConsoleLine(started.Message());
            return started;
        }
        RegisterCallbacks(viewer);
        progress.HandOver(viewer);
    }
    if (watch)
        StartWatch(viewer);
    glutMainLoop();
    return Outcome();
}
