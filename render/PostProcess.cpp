#include "PostProcess.h"

#include "Shaders.h"
#include "View.h"

#include <algorithm>
#include <cmath>

FrameLimits DriverFrameLimits()
{
    GLint texture = 0, rectangle = 0, renderbuffer = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE_NV, &rectangle);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_EXT, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    const int side = std::min({texture, rectangle, renderbuffer});
    return FrameLimits{std::min(side, int(viewport[0])), std::min(side, int(viewport[1])), kMaxFramePixels};
}

FrameSize FitFrame(int windowWidth, int windowHeight, const FrameLimits& limits)
{
    const int64_t width = std::max(windowWidth, 1);
    const int64_t height = std::max(windowHeight, 1);
    if (width <= limits.maxWidth && height <= limits.maxHeight && width * height <= limits.maxPixels)
        return FrameSize{int(width), int(height)};
    double scale = std::min(double(limits.maxWidth) / width, double(limits.maxHeight) / height);
    scale = std::min(scale, std::sqrt(double(limits.maxPixels) / double(width * height)));
    FrameSize fitted{std::max(1, int(width * scale)), std::max(1, int(height * scale))};
    fitted.width = std::min(fitted.width, std::max(limits.maxWidth, 1));
    fitted.height = std::min(fitted.height, std::max(limits.maxHeight, 1));
    return fitted;
}

void CreatePostTarget(PostTarget& postTarget, int windowWidth, int windowHeight)
{
    const FrameSize frame = FitFrame(windowWidth, windowHeight, DriverFrameLimits());
    const int width = frame.width;
    const int height = frame.height;
    postTarget.width = width;
    postTarget.height = height;
    postTarget.windowWidth = std::max(windowWidth, 1);
    postTarget.windowHeight = std::max(windowHeight, 1);
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

void DrawPostPass(GlStateCache& gl, ShaderPairs& shaders, const PostTarget& postTarget, int frameWidth, int frameHeight,
                  bool clearColour, GLuint warpTexture, GLuint rampTexture, float shaderTime)
{
    const ShaderParameters& parameters = shaders.parameters;
    const int windowWidth = postTarget.windowWidth;
    const int windowHeight = postTarget.windowHeight;
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

    // Unit 0 carries the frame's pixel coordinates for the rectangle texture, unit 1 coordinates from 0 to 1 over
    // the window. A frame smaller than the window is stretched over it.
    struct Corner {
        float x, y, u, v;
    };
    const Corner corners[4] = {{0, 0, 0, 0}, {width, 0, 1, 0}, {width, height, 1, 1}, {0, height, 0, 1}};
    const float frameRight = static_cast<float>(frameWidth);
    const float frameTop = static_cast<float>(frameHeight);
    glBegin(GL_QUADS);
    for (const Corner& c : corners) {
        glMultiTexCoord2fARB(GL_TEXTURE0_ARB, c.u * frameRight, c.v * frameTop);
        glMultiTexCoord2fARB(GL_TEXTURE1_ARB, c.u, c.v);
        glVertex2f(c.x, c.y);
    }
    glEnd();
    glDisable(GL_TEXTURE_RECTANGLE_NV);
    shaders.postShader.Unbind();
}
