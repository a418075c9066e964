// Cube-map shadows: six 512x512 faces per light, rendered from the light's position when it moves.
#pragma once

#include "Culling.h"
#include "Level.h"

constexpr int kShadowMapSize = 512;

// Copies the level position into currentPosition, sets shadowPosition to 65535 on every axis (so that the first
// frame renders the map) and creates the light's cube map, its two framebuffers and its depth renderbuffer.
void CreateShadowResources(Light& light);

// True unless currentPosition and shadowPosition are approximately equal on all three axes.
bool LightMoved(const Light& light);

// Renders the six faces of the light's cube map. Expects the shadow pass's state: 512x512 viewport, 90-degree
// projection, the base rotation on the modelview matrix, shadowShader bound and the position array enabled.
// reach: the clusters that may shadow what the light reaches, of which each face draws those in its frustum;
// null draws everything in every face. Leaves the light's second framebuffer bound.
void RenderShadowCube(const Light& light, const ClusterSelection* reach);

// Number of cube faces rendered since start-up; a still scene adds none after its first frame.
extern long shadowFacesRendered;
