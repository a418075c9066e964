// The renderer's four shader pairs and their set-up from "shader.cg", "ambient.cg", "shadow.cg" and "post.cg".
#pragma once

#include "CGShader.h"

extern CGShader* lightShader;    // per-light passes
extern CGShader* ambientShader;  // depth pre-pass
extern CGShader* shadowShader;   // shadow cube faces
extern CGShader* postShader;     // post-processing quad (fragment program only)

// Creates the four pairs with new CGShader, in the order light, ambient, shadow, post; the first creates the
// shared context. Start-up calls it once, with the GL context current, before LoadShaders.
void CreateShaderPairs();

// The handles that the passes set every frame, filled by LoadShaders from one table of {pair, name, stage, slot}
// (null where the registration failed), so that no frame looks a parameter up by name.
struct ShaderParameters {
    CGparameter lightModelViewProj = nullptr;
    CGparameter lightVector = nullptr;
    CGparameter eyeVector = nullptr;
    CGparameter lightColor = nullptr;
    CGparameter diffuseSpecTex = nullptr;
    CGparameter normalTex = nullptr;
    CGparameter shadowMap = nullptr;
    CGparameter attenuationTex = nullptr;
    CGparameter ambientModelViewProj = nullptr;
    CGparameter shadowModelViewProj = nullptr;
    CGparameter shadowLight = nullptr;
    CGparameter postFramebuffer = nullptr;
    CGparameter postTime = nullptr;
    CGparameter postWarpTex = nullptr;
    CGparameter postRampTex = nullptr;
    CGparameter postWarpTexCoords = nullptr;  // registered, set by no pass
};

extern ShaderParameters shaderParameters;

// True when both programs of the pair compiled, so that its pass draws what its shader file computes rather than
// the fixed-function fallback.
bool PairLoaded(const CGShader& pair);

// Compiles all four pairs from the working directory, registers their parameters and writes the program dumps
// ("shaderFP.txt", "shaderVP.txt", "shadowFP.txt", "shadowVP.txt", "postFP.txt"). Also the shader reload.
// Fills shaderParameters.
void LoadShaders();
