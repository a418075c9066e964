#include "Startup.h"

#include "Attenuation.h"
#include "Callbacks.h"
#include "GlState.h"
#include "ImageDecoder.h"
#include "PostProcess.h"
#include "RenderGeometry.h"
#include "Shaders.h"
#include "Shadows.h"
#include "ShortCuts.h"
#include "TextureCache.h"
#include "ViewerState.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/XKBlib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

FixedTextures fixedTextures;

namespace {

void PrintLine(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// Loads one of the post-processing images and replaces the loader's mipmapped minification with plain linear
// filtering. On failure this sets the filters of whatever is bound to GL_TEXTURE_2D, which is harmless.
GLuint LoadLinearTexture(const char* name)
{
    const GLuint texture = LoadTexture(name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}

}  // namespace

void CheckGLCapabilities()
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
    for (const Requirement& requirement : requirements) {
        if (!requirement.present) {
            PrintLine(requirement.message);
            std::exit(1);
        }
    }
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

void CreateFixedTextures()
{
    textureCache.FallbackTexture = CreateCheckerTexture();
    fixedTextures.attenuation = CreateAttenuationTexture();
    fixedTextures.warp = LoadLinearTexture("postprocess");
    fixedTextures.ramp = LoadLinearTexture("ramp");
}

void SetFixedRenderState()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glClearColor(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]);
    glDisable(GL_TEXTURE_2D);
}

void ReloadShaders()
{
    LoadShaders();
    DisplayFrame().shortCuts = DecideShortCuts(fixedTextures.attenuation);
}

bool Init(LevelSearch search)
{
    CheckGLCapabilities();
    InitImageLibrary();
    CreateFixedTextures();
    bool found = false;
    level.root = LoadLevel(level.lights, level.boxes, TextureSource{LoadTexture, textureCache.FallbackTexture}, search,
                           &found);
    if (!found) {
        StopImageDecoder();
        return false;
    }
    PrintLine("Done loading BSP file.");
    BuildRenderGeometry(level.root);
    CreateShaderPairs();
    ReloadShaders();
    CreatePostTarget();
    for (Light& light : level.lights)
        CreateShadowResources(light);
    SetFixedRenderState();
    // Images load only during start-up; the decoder and its memory end with it.
    StopImageDecoder();
    return true;
}

int RunViewer(int argc, char** argv, LevelSearch search)
{
    glutInit(&argc, argv);
    glutInitWindowSize(800, 600);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("VelmoraViewer");
    // A held key then sends repeated presses and one release at the end, instead of a release before every
    // repeat: the r and u latches and the movement keys rely on that.
    if (Display* display = glXGetCurrentDisplay())
        XkbSetDetectableAutoRepeat(display, True, nullptr);
    glutDisplayFunc(OnDisplay);
    glutReshapeFunc(OnReshape);
    glutKeyboardFunc(OnKeyDown);
    glutMotionFunc(OnMotion);
    glutMouseFunc(OnMouse);
    glutKeyboardUpFunc(OnKeyUp);
    if (!Init(search))
        return 1;
    glutMainLoop();
    return 0;
}
