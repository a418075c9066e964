#include "Shadows.h"

#include "RenderGeometry.h"
#include "Shaders.h"

#include <GL/glew.h>

namespace {

struct Rotation {
    float angle;
    int axis;  // 0 x, 1 y, 2 z
};

// Per face: which framebuffer and attachment it renders through, and the rotations after the base rotation that
// turn the view to the GL cube-map orientation of the face.
struct CubeFace {
    int framebuffer;
    int attachment;
    int rotationCount;
    Rotation rotations[2];
};

const CubeFace kCubeFaces[6] = {
    {0, 0, 2, {{180, 0}, {90, 0}}},  // +X
    {0, 1, 2, {{90, 0}, {180, 2}}},  // -X
    {0, 2, 1, {{-90, 2}, {0, 0}}},   // +Y
    {0, 3, 2, {{90, 2}, {180, 1}}},  // -Y
    {1, 0, 2, {{90, 1}, {-90, 2}}},  // +Z
    {1, 1, 2, {{-90, 1}, {90, 2}}},  // -Z
};

}  // namespace

ShadowMap CreateShadowMap()
{
    // Made while a frame runs: the bindings this changes are put back, so that the state the frame's passes set
    // stays true.
    GLint framebuffer = 0, renderbuffer = 0, cube = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
    glGetIntegerv(GL_RENDERBUFFER_BINDING_EXT, &renderbuffer);
    glGetIntegerv(GL_TEXTURE_BINDING_CUBE_MAP, &cube);
    ShadowMap map;
    glGenTextures(1, &map.cube);
    glGenFramebuffersEXT(2, map.framebuffers);
    glGenRenderbuffersEXT(1, &map.depthBuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, map.depthBuffer);
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, kShadowMapSize, kShadowMapSize);
    for (GLuint shadowFramebuffer : map.framebuffers) {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, shadowFramebuffer);
        glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, map.depthBuffer);
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, map.cube);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    for (int f = 0; f < 6; ++f) {
        const GLenum face = GL_TEXTURE_CUBE_MAP_POSITIVE_X + f;
        glTexImage2D(face, 0, GL_RGBA8, kShadowMapSize, kShadowMapSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, map.framebuffers[kCubeFaces[f].framebuffer]);
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + kCubeFaces[f].attachment, face,
                                  map.cube, 0);
    }
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, renderbuffer);
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube);
    return map;
}

void DeleteShadowMap(ShadowMap& map)
{
    glDeleteFramebuffersEXT(2, map.framebuffers);
    glDeleteRenderbuffersEXT(1, &map.depthBuffer);
    glDeleteTextures(1, &map.cube);
    map = ShadowMap();
}

View ShadowFaceView(const Vec3& lightPosition, int face)
{
    View view;
    view.projection = Perspective(90, 1, 0.001, 10000);
    ApplyBaseRotation(view.modelview);
    const CubeFace& f = kCubeFaces[face];
    for (int r = 0; r < f.rotationCount; ++r)
        Rotate(view.modelview, f.rotations[r].angle, f.rotations[r].axis);
    Translate(view.modelview, static_cast<float>(-lightPosition.x), static_cast<float>(-lightPosition.y),
              static_cast<float>(-lightPosition.z));
    view.viewport = ScreenRect{0, 0, kShadowMapSize, kShadowMapSize};
    UpdateFrustum(view);
    return view;
}

void RenderShadowCube(GlStateCache& gl, const RenderGeometry& geometry, const ShaderParameters& parameters,
                      const Vec3& position, float radius, const ShadowMap& map, const ClusterSelection* reach,
                      ClusterSelection& inFace)
{
    const Vec3& p = position;
    cgGLSetParameter4d(parameters.shadowLight, p.x, p.y, p.z, radius);
    for (int f = 0; f < 6; ++f) {
        const CubeFace& face = kCubeFaces[f];
        const View view = ShadowFaceView(p, f);
        BindFramebuffer(gl, map.framebuffers[face.framebuffer]);
        SetViewport(gl, view.viewport);
        LoadViewMatrices(view);
        SetModelViewProjParameter(parameters.shadowModelViewProj);
        glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT + face.attachment);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (reach != nullptr)
            SelectClusters(
                geometry, reach, [&](const ClusterBox& box) { return BoxOutsideFrustum(box, view.frustum); }, inFace);
        DrawPlain(geometry, reach != nullptr ? &inFace : nullptr);
    }
}
