// Cube-map shadows: six 512x512 faces per map, rendered from a light's position.
#pragma once

#include "Culling.h"
#include "GlState.h"
#include "RenderGeometry.h"
#include "View.h"

#include <GL/glew.h>

#include <cstddef>

constexpr int kShadowMapSize = 512;

// The GL objects of one cube map: the RGBA8 cube, the two framebuffers its faces render through (four colour
// attachments, then two) and the depth renderbuffer they share.
struct ShadowMap {
    GLuint cube = 0;
    GLuint framebuffers[2] = {0, 0};
    GLuint depthBuffer = 0;
};

// What one map holds in driver memory: six RGBA8 faces and a 24-bit depth buffer stored in 32 bits per pixel.
constexpr size_t kShadowMapBytes = size_t(7) * kShadowMapSize * kShadowMapSize * 4;

ShadowMap CreateShadowMap();
void DeleteShadowMap(ShadowMap& map);

// The view from the light's position through cube face f (0 to 5: +X, -X, +Y, -Y, +Z, -Z in GL's cube-map
// orientation): 90 degrees, near 0.001, far 10000, 512x512 pixels.
View ShadowFaceView(const Vec3& lightPosition, int face);

// Renders the six faces of a light's cube map from position, the light's sphere of the given radius. Expects the
// shadow pass's state: shadowShader bound, the position stream, depth test and writes on. reach: the clusters
// that may shadow what the light reaches, of which each face draws those in its frustum (selected into inFace);
// null draws everything in every face.
void RenderShadowCube(GlStateCache& gl, const RenderGeometry& geometry, const ShaderParameters& parameters,
                      const Vec3& position, float radius, const ShadowMap& map, const ClusterSelection* reach,
                      ClusterSelection& inFace);
