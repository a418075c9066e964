#include "PostProcess.h"

#include "Shaders.h"
#include "View.h"

#include <algorithm>

void CreatePostTarget(PostTarget& postTarget, int windowWidth, int windowHeight)
{
    const int width = std::max(windowWidth, 1);
    const int height = std::max(windowHeight, 1);
    if (postTarget.postFramebuffer != 0) {
        glDeleteFramebuffersEXT(1, &postTarget.postFramebuffer);
        glDeleteRenderbuffersEXT(1, &postTarget.postDepthBuffer);
        glDeleteTextures(1, &postTarget.postColorTexture);
    }
    glGenFramebuffersEXT(1, &postTarget.postFramebuffer);
    glGenRenderbuffersEXT(1, &postTarget.postDepthBuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, postTarget.postDepthBuffer);
    // 24 depth bits as the view needs, and 8 stencil bits in which the pre-pass marks the pixels it covers.
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH24_STENCIL8_EXT, width, height);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, postTarget.postFramebuffer);
    for (GLenum attachment : {GL_DEPTH_ATTACHMENT_EXT, GL_STENCIL_ATTACHMENT_EXT})
        glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, attachment, GL_RENDERBUFFER_EXT, postTarget.postDepthBuffer);
    glGenTextures(1, &postTarget.postColorTexture);
    glBindTexture(GL_TEXTURE_RECTANGLE_NV, postTarget.postColorTexture);
    glTexImage2D(GL_TEXTURE_RECTANGLE_NV, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_RECTANGLE_NV,
                              postTarget.postColorTexture, 0);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

void DrawPostPass(GlStateCache& gl, ShaderPairs& shaders, const PostTarget& postTarget, int windowWidth,
                  int windowHeight, bool clearColour, GLuint warpTexture, GLuint rampTexture, float shaderTime)
{
    const ShaderParameters& parameters = shaders.parameters;
    const float width = static_cast<float>(windowWidth);
    const float height = static_cast<float>(windowHeight);
    const View view = WindowView(windowWidth, windowHeight);
    ApplyPassState(gl, PassState());
    BindFramebuffer(gl, 0);
    SetViewport(gl, view.viewport);
    SetStreams(gl, Streams::None);
    shaders.postShader.Bind();
    glClear(clearColour ? GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT : GL_DEPTH_BUFFER_BIT);
    LoadViewMatrices(view);
    SetTextureParameter(parameters.postFramebuffer, postTarget.postColorTexture);
    SetTextureParameter(parameters.postWarpTex, warpTexture);
    SetTextureParameter(parameters.postRampTex, rampTexture);
    cgGLSetParameter1f(parameters.postTime, shaderTime);

    // Unit 0 carries pixel coordinates for the rectangle texture, unit 1 coordinates from 0 to 1 over the window.
    struct Corner {
        float x, y, u, v;
    };
    const Corner corners[4] = {{0, 0, 0, 0}, {width, 0, 1, 0}, {width, height, 1, 1}, {0, height, 0, 1}};
    glBegin(GL_QUADS);
    for (const Corner& c : corners) {
        glMultiTexCoord2fARB(GL_TEXTURE0_ARB, c.x, c.y);
        glMultiTexCoord2fARB(GL_TEXTURE1_ARB, c.u, c.v);
        glVertex2f(c.x, c.y);
    }
    glEnd();
    glDisable(GL_TEXTURE_RECTANGLE_NV);
    shaders.postShader.Unbind();
}
