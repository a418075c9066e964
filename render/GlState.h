// The GL state that the frame's passes depend on, set through one record of the values last set: each pass states
// all of it on entry, and only what differs from the previous pass reaches the driver.
#pragma once

#include "Culling.h"

#include <GL/glew.h>

// The clear colour of the off-screen target and of the shadow faces, set once at start-up.
constexpr float kClearColour[4] = {0.25f, 0.25f, 0.25f, 1.0f};

// Which of the vertex buffer's streams the fixed arrays read.
enum class Streams { None, PositionsOnly, All };

// Everything a pass sets before it draws. Stencil test and scissor test are off unless named.
struct PassState {
    bool depthTest = true;
    GLenum depthFunction = GL_LEQUAL;
    bool depthWrite = true;
    bool colourWrite = true;
    bool blend = false;
    GLenum blendSource = GL_ONE;
    GLenum blendDestination = GL_ZERO;
    bool stencilTest = false;
    GLenum stencilFunction = GL_ALWAYS;  // against reference 1, all bits
    GLenum stencilOnPass = GL_KEEP;      // when both stencil and depth pass; KEEP on failures
    bool scissorTest = false;
    GLenum polygonMode = GL_FILL;
    bool cullFace = true;
};

// The values last given to the driver, each trusted once it has been set through the cache. ForgetGlState makes
// every next call go through; the frame forgets at its start, since start-up, the shader reload and screenshots
// set GL state of their own between frames.
struct GlStateCache {
    bool passKnown = false;
    PassState pass;
    bool framebufferKnown = false;
    GLuint framebuffer = 0;
    bool viewportKnown = false;
    ScreenRect viewport;
    bool scissorKnown = false;
    ScreenRect scissor;
    bool streamsKnown = false;
    Streams streams = Streams::None;
};

// Marks every value unknown, so that the next call of each setter reaches the driver.
void ForgetGlState(GlStateCache& cache);
// Gives the driver the parts of wanted that differ from the pass state last set.
void ApplyPassState(GlStateCache& cache, const PassState& wanted);
// Binds the framebuffer object (0: the window) unless it is bound.
void BindFramebuffer(GlStateCache& cache, GLuint framebuffer);
// glViewport and glScissor, skipped when the rectangle is the one set.
void SetViewport(GlStateCache& cache, const ScreenRect& viewport);
void SetScissor(GlStateCache& cache, const ScreenRect& scissor);
// Points the arrays at the render geometry's vertex buffer: positions alone, or all five streams
// (BindVertexStreams). None disables them and unbinds the buffer (vertexBuffer is then unused).
void SetStreams(GlStateCache& cache, Streams streams, GLuint vertexBuffer = 0);
