#include "Shadows.h"

#include "RenderGeometry.h"
#include "Shaders.h"

#include <GL/glew.h>

long shadowFacesRendered = 0;

namespace {

struct Rotation {
    float angle, x, y, z;
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
    {0, 0, 2, {{180, 1, 0, 0}, {90, 1, 0, 0}}},   // +X
    {0, 1, 2, {{90, 1, 0, 0}, {180, 0, 0, 1}}},   // -X
    {0, 2, 1, {{-90, 0, 0, 1}, {0, 0, 0, 0}}},    // +Y
    {0, 3, 2, {{90, 0, 0, 1}, {180, 0, 1, 0}}},   // -Y
    {1, 0, 2, {{90, 0, 1, 0}, {-90, 0, 0, 1}}},   // +Z
    {1, 1, 2, {{-90, 0, 1, 0}, {90, 0, 0, 1}}},   // -Z
};

}  // namespace

void CreateShadowResources(Light& light)
{
    light.currentPosition = light.position;
    light.shadowPosition = Vec3(65535.0, 65535.0, 65535.0);
    glGenTextures(1, &light.shadowCubeMap);
    glGenFramebuffersEXT(2, light.shadowFramebuffers);
    glGenRenderbuffersEXT(1, &light.shadowDepthBuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, light.shadowDepthBuffer);
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, kShadowMapSize, kShadowMapSize);
    for (GLuint framebuffer : light.shadowFramebuffers) {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
        glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                     light.shadowDepthBuffer);
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, light.shadowCubeMap);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    for (int f = 0; f < 6; ++f) {
        const GLenum face = GL_TEXTURE_CUBE_MAP_POSITIVE_X + f;
        glTexImage2D(face, 0, GL_RGBA8, kShadowMapSize, kShadowMapSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, light.shadowFramebuffers[kCubeFaces[f].framebuffer]);
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + kCubeFaces[f].attachment, face,
                                  light.shadowCubeMap, 0);
    }
}

bool LightMoved(const Light& light) { return !ApproxEqual(light.currentPosition, light.shadowPosition); }

void RenderShadowCube(const Light& light, const ClusterSelection* reach)
{
    static ClusterSelection inFace;
    const Vec3& p = light.currentPosition;
    cgGLSetParameter4d(shaderParameters.shadowLight, p.x, p.y, p.z, light.radius);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, light.shadowFramebuffers[0]);
    for (int f = 0; f < 6; ++f) {
        const CubeFace& face = kCubeFaces[f];
        glPushMatrix();
        for (int r = 0; r < face.rotationCount; ++r)
            glRotatef(face.rotations[r].angle, face.rotations[r].x, face.rotations[r].y, face.rotations[r].z);
        glTranslated(-p.x, -p.y, -p.z);
        SetModelViewProjParameter(shaderParameters.shadowModelViewProj);
        glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT + face.attachment);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (reach != nullptr) {
            const Frustum frustum = CurrentFrustum();
            SelectClusters(reach, [&](const ClusterBox& box) { return BoxOutsideFrustum(box, frustum); }, inFace);
        }
        DrawPlain(reach != nullptr ? &inFace : nullptr);
        glPopMatrix();
        ++shadowFacesRendered;
        if (f == 3)
            glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, light.shadowFramebuffers[1]);
    }
}
