// Cube-map shadows: six 512x512 faces per light, rendered from the light's position when it moves.
#pragma once

#include "Culling.h"
#include "GlState.h"
#include "Level.h"
#include "RenderGeometry.h"
#include "View.h"

constexpr int kShadowMapSize = 512;

// Copies the level position into currentPosition, sets shadowPosition to 65535 on every axis (so that the first
// frame renders the map) and creates the light's cube map, its two framebuffers and its depth renderbuffer.
void CreateShadowResources(Light& light);

// True unless currentPosition and shadowPosition are approximately equal on all three axes.
bool LightMoved(const Light& light);

// The view from the light's position through cube face f (0 to 5: +X, -X, +Y, -Y, +Z, -Z in GL's cube-map
// orientation): 90 degrees, near 0.001, far 10000, 512x512 pixels.
View ShadowFaceView(const Vec3& lightPosition, int face);

// Renders the six faces of the light's cube map. Expects the shadow pass's state: shadowShader bound, the
// position stream, depth test and writes on. reach: the clusters that may shadow what the light reaches, of which
// each face draws those in its frustum (selected into inFace); null draws everything in every face.
void RenderShadowCube(GlStateCache& gl, const RenderGeometry& geometry, const ShaderParameters& parameters,
                      const Light& light, const ClusterSelection* reach, ClusterSelection& inFace);
