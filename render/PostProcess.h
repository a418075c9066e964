// The off-screen target that the scene is drawn into, and the full-window pass that draws it through post.cg.
#pragma once

#include "GlState.h"
#include "Shaders.h"

#include <GL/glew.h>

#include <cstdint>

struct PostTarget {
    GLuint postFramebuffer = 0;
    GLuint postDepthBuffer = 0;   // depth and stencil
    GLuint postColorTexture = 0;  // rectangle texture, addressed in pixels
    // The frame drawn into the target: the window's size when it fits, else smaller and scaled up to the window.
    int width = 0;
    int height = 0;
    int windowWidth = 0;
    int windowHeight = 0;
};

// The most a frame may hold: the driver's largest texture, rectangle texture, renderbuffer and viewport, and a
// budget of pixels (8 bytes each: colour, depth and stencil).
struct FrameLimits {
    int maxWidth = 0;
    int maxHeight = 0;
    int64_t maxPixels = 0;
};
constexpr int64_t kMaxFramePixels = int64_t(32) << 20;

// The driver's limits and the budget; needs a current context.
FrameLimits DriverFrameLimits();

struct FrameSize {
    int width = 1;
    int height = 1;
};
// The window's own size when it fits the limits, else the largest size of about its shape that does (at least
// 1x1). A zero-sized window (minimised) gets 1x1.
FrameSize FitFrame(int windowWidth, int windowHeight, const FrameLimits& limits);

// (Re)creates the target at FitFrame's size for the window, deleting the previous one.
void CreatePostTarget(PostTarget& target, int windowWidth, int windowHeight);

// Draws the frame of frameWidth by frameHeight pixels in the target over the whole window through the post pair
// with the warp and ramp images and the shader clock. The window's colour is cleared first unless clearColour is
// false, for a post program that writes every pixel.
void DrawPostPass(GlStateCache& gl, ShaderPairs& shaders, const PostTarget& target, int frameWidth, int frameHeight,
                  bool clearColour, GLuint warpTexture, GLuint rampTexture, float shaderTime);
