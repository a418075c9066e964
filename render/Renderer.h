// Everything the renderer keeps between frames, owned by one object that the caller creates once GL is current and
// hands to every pass.
#pragma once

#include "Frame.h"
#include "PostProcess.h"
#include "RenderGeometry.h"
#include "ShadowPool.h"
#include "Shaders.h"
#include "TextureCache.h"

#include <GL/glew.h>

#include <memory>

// Fixed textures made or loaded at start-up.
struct FixedTextures {
    GLuint attenuation = 0;
    GLuint warp = 0;  // the image "postprocess"
    GLuint ramp = 0;  // the image "ramp"
};

struct Renderer {
    std::unique_ptr<ShaderPairs> shaders;  // made by start-up once GL is current (CreateShaderPairs)
    RenderGeometry geometry;
    TextureCache textures;
    PostTarget postTarget;
    FrameContext frame;
    ShadowPool shadows;
    FixedTextures fixedTextures;
    float shaderTime = 0.0f;           // seconds, the post shader's "time"; runs while options.advanceTime is on
    float lightAnimationAngle = 0.0f;  // radians of phase of the light animation
};

// Compiles the four shader pairs (LoadShaders) and decides which of the frame's short cuts they allow; start-up
// and the r key. Every shadow map is then rendered again before it is next sampled.
void LoadShadersAndShortCuts(Renderer& renderer);

// The level's texture source: the renderer's cache, its checker for what fails.
TextureSource LevelTextures(Renderer& renderer);
