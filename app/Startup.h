// Start-up: the window, the capability checks, the fixed textures and the fixed render state.
#pragma once

#include "LevelSearch.h"

#include <GL/glew.h>

// Opens the window, registers the callbacks, runs Init and enters the main loop, which never returns. Returns 1
// when Init finds no level file.
int RunViewer(int argc, char** argv, LevelSearch search);

// Runs once after the window exists and before the main loop: the steps below, with the level, the render
// geometry, the shaders, the post target and the shadow resources in between. False, right after the level
// loader's line, when no level file opens.
bool Init(LevelSearch search = LevelSearch::ParentThenWorking);

// Compiles the four shader pairs (LoadShaders) and decides which of the frame's short cuts they allow; start-up
// and the r key.
void ReloadShaders();

// ilInit, the OpenGL renderer of ILUT, and the image decoder, which Init stops once start-up is over.
void InitImageLibrary();
// The checker (which becomes the texture cache's fallback), the attenuation texture, and the images "postprocess"
// and "ramp" with plain linear filtering.
void CreateFixedTextures();
// Framebuffer 0, face culling and depth test on, the grey clear colour, 2D texturing off.
void SetFixedRenderState();

// Returns when the three required extensions are present; otherwise prints the first missing one and exits with 1.
void CheckGLCapabilities();

// A 32x32 luminance checker (top-left quadrant white), linear filtering, left bound to GL_TEXTURE_2D.
GLuint CreateCheckerTexture();

// Fixed textures made or loaded by Init.
struct FixedTextures {
    GLuint attenuation = 0;
    GLuint warp = 0;  // the image "postprocess"
    GLuint ramp = 0;  // the image "ramp"
};
extern FixedTextures fixedTextures;
