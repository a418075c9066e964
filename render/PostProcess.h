// The off-screen target that the scene is drawn into, and the full-window pass that draws it through post.cg.
#pragma once

#include "GlState.h"
#include "Shaders.h"

#include <GL/glew.h>

struct PostTarget {
    GLuint postFramebuffer = 0;
    GLuint postDepthBuffer = 0;   // depth and stencil
    GLuint postColorTexture = 0;  // rectangle texture, window-sized, addressed in pixels
};

// (Re)creates the target at the window's size, deleting the previous one. A zero-sized window (minimised) gets a
// 1x1 target, so that the framebuffer stays complete.
void CreatePostTarget(PostTarget& target, int windowWidth, int windowHeight);

// Draws the target onto the window through the post pair with the warp and ramp images and the shader clock. The
// window's colour is cleared first unless clearColour is false, for a post program that writes every pixel.
void DrawPostPass(GlStateCache& gl, ShaderPairs& shaders, const PostTarget& target, int windowWidth, int windowHeight,
                  bool clearColour, GLuint warpTexture, GLuint rampTexture, float shaderTime);
