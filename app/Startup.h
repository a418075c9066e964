// Start-up: the window, the capability checks, the fixed textures and the fixed render state.
#pragma once

#include "LevelSearch.h"
#include "Progress.h"
#include "Result.h"
#include "Viewer.h"

#include <GL/glew.h>

// Opens the window, builds the viewer, runs Init with a progress display, registers the callbacks, starts watching
// the level's files when asked (Watch.h) and enters the main loop. Returns the
// failure after printing its line when start-up fails; otherwise the main loop does not return.
Outcome RunViewer(int argc, char** argv, LevelSearch search, bool watch = false);

// Runs once after the window exists and before the main loop: the steps below, with the level, the render
// geometry, the shaders, the post target and the shadow resources in between. Stops at the first failure that
// makes rendering impossible (a missing extension, no level file, no memory for the geometry) and returns it,
// unprinted; the image decoder is stopped either way.
// A level whose geometry cannot fit in the memory left fails before it is built. Memory refused on any step fails
// with OutOfMemory and kStartupOutOfMemory. With a progress display, each phase reports to it as it goes.
Outcome Init(Viewer& viewer, LevelSearch search = LevelSearch::ParentThenWorking, LoadProgress* progress = nullptr);
constexpr const char* kStartupOutOfMemory = "Out of memory while starting up.";

// ilInit, the OpenGL renderer of ILUT, and the image decoder, which Init stops once start-up is over.
void InitImageLibrary();
// The checker (which becomes the texture cache's fallback), the attenuation texture, and the images "postprocess"
// and "ramp" with plain linear filtering.
void CreateFixedTextures(Renderer& renderer);
// Framebuffer 0, face culling and depth test on, the grey clear colour, 2D texturing off.
void SetFixedRenderState();

// Succeeds when the three required extensions are present; otherwise fails with MissingCapability and the line
// that names the first missing one.
Outcome CheckGLCapabilities();

// A 32x32 luminance checker (top-left quadrant white), linear filtering, left bound to GL_TEXTURE_2D.
GLuint CreateCheckerTexture();
