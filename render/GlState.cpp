#include "GlState.h"

#include "RenderGeometry.h"

namespace {

void Enable(GLenum capability, bool on)
{
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
}

bool SameRect(const ScreenRect& a, const ScreenRect& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

void ForgetGlState(GlStateCache& cache) { cache = GlStateCache(); }

void ApplyPassState(GlStateCache& cache, const PassState& wanted)
{
    const bool all = !cache.passKnown;
    PassState& had = cache.pass;
    if (all || wanted.depthTest != had.depthTest)
        Enable(GL_DEPTH_TEST, wanted.depthTest);
    if (all || wanted.depthFunction != had.depthFunction)
        glDepthFunc(wanted.depthFunction);
    if (all || wanted.depthWrite != had.depthWrite)
        glDepthMask(wanted.depthWrite ? GL_TRUE : GL_FALSE);
    if (all || wanted.colourWrite != had.colourWrite) {
        const GLboolean on = wanted.colourWrite ? GL_TRUE : GL_FALSE;
        glColorMask(on, on, on, on);
    }
    if (all || wanted.blend != had.blend)
        Enable(GL_BLEND, wanted.blend);
    if (all || wanted.blendSource != had.blendSource || wanted.blendDestination != had.blendDestination)
        glBlendFunc(wanted.blendSource, wanted.blendDestination);
    if (all || wanted.stencilTest != had.stencilTest)
        Enable(GL_STENCIL_TEST, wanted.stencilTest);
    if (all || wanted.stencilFunction != had.stencilFunction)
        glStencilFunc(wanted.stencilFunction, 1, ~0u);
    if (all || wanted.stencilOnPass != had.stencilOnPass)
        glStencilOp(GL_KEEP, GL_KEEP, wanted.stencilOnPass);
    if (all || wanted.scissorTest != had.scissorTest)
        Enable(GL_SCISSOR_TEST, wanted.scissorTest);
    if (all || wanted.polygonMode != had.polygonMode)
        glPolygonMode(GL_FRONT_AND_BACK, wanted.polygonMode);
    if (all || wanted.cullFace != had.cullFace)
        Enable(GL_CULL_FACE, wanted.cullFace);
    had = wanted;
    cache.passKnown = true;
}

void BindFramebuffer(GlStateCache& cache, GLuint framebuffer)
{
    if (cache.framebufferKnown && cache.framebuffer == framebuffer)
        return;
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    cache.framebuffer = framebuffer;
    cache.framebufferKnown = true;
}

void SetViewport(GlStateCache& cache, const ScreenRect& v)
{
    if (cache.viewportKnown && SameRect(cache.viewport, v))
        return;
    glViewport(v.x, v.y, v.width, v.height);
    cache.viewport = v;
    cache.viewportKnown = true;
}

void SetScissor(GlStateCache& cache, const ScreenRect& s)
{
    if (cache.scissorKnown && SameRect(cache.scissor, s))
        return;
    glScissor(s.x, s.y, s.width, s.height);
    cache.scissor = s;
    cache.scissorKnown = true;
}

void SetStreams(GlStateCache& cache, Streams streams, GLuint vertexBuffer)
{
    if (cache.streamsKnown && cache.streams == streams)
        return;
    UnbindVertexStreams();
    if (streams == Streams::All)
        BindVertexStreams(vertexBuffer);
    if (streams == Streams::PositionsOnly) {
        glBindBufferARB(GL_ARRAY_BUFFER_ARB, vertexBuffer);
        glVertexPointer(3, GL_FLOAT, sizeof(RenderVertex), nullptr);
        glEnableClientState(GL_VERTEX_ARRAY);
    }
    cache.streams = streams;
    cache.streamsKnown = true;
}
