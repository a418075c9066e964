// Which of the frame's short cuts cannot change the image for the shader files loaded now, decided by running the
// compiled programs on probes after every load (start-up and the shader reload). When a probe cannot show that a
// short cut is exact, the frame draws in full.
#pragma once

#include "RenderGeometry.h"
#include "Shaders.h"

#include <GL/glew.h>

#include <array>
#include <vector>

struct ShortCuts {
    // Clusters outside the view (or a shadow face's frustum) can be left out of the pre-pass, the light passes,
    // the shadow faces: the pass's vertex program puts vertices where ModelViewProj puts them.
    bool cullPrePass = false;
    bool cullLightPasses = false;
    bool cullShadowFaces = false;
    // A light pass may leave out clusters and pixels beyond the light's sphere (for a radius in the probed range,
    // SphereCulls): the light program writes (0, 0, 0, 1) there, and alpha 1 everywhere, so that adding it
    // changes no pixel.
    bool cullLightSpheres = false;
    // The first light may draw only in its sphere after the pre-pass's pixels are painted black: besides the
    // above, its program writes every pixel that the pre-pass covered, as the pre-pass placed it.
    bool cullFirstLight = false;
    // A shadow face may leave out clusters beyond the light's sphere: what the shadow program writes for points
    // beyond the radius, in place of the face's clear colour, changes nothing the light program writes.
    bool cullShadowSpheres = false;
    // The post pass may leave the window's colour uncleared: its program never discards a fragment, and the quad
    // covers every pixel.
    bool skipPostColourClear = false;
};

// The radii the probes try a light's sphere with, and so the radii for which the sphere culls at all.
constexpr double kLowestProbedRadius = 0.01;
constexpr double kHighestProbedRadius = 100000.0;

// True when a light's sphere may cull its passes: the short cut holds and the radius lies in the probed range.
bool SphereCulls(bool shortCut, double radius);

// The materials (diffuse texture, normal map) the probes draw with, in the order they use them: the level's
// batches', or none (0, 0) for a level without triangles.
std::vector<std::array<GLuint, 2>> LevelMaterials(const RenderGeometry& geometry);

// Runs the probes on the four loaded pairs, with the render geometry's textures and the attenuation texture.
// Needs a current GL context; leaves the GL state as it found it except the framebuffer binding (0) and the
// textures bound to units, which every pass sets again.
ShortCuts DecideShortCuts(ShaderPairs& shaders, const RenderGeometry& geometry, GLuint attenuationTexture);
