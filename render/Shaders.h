// The renderer's four shader pairs and their set-up from "shader.cg", "ambient.cg", "shadow.cg" and "post.cg".
#pragma once

#include "CGShader.h"

#include <memory>
#include <string>
#include <vector>

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

// The renderer's four pairs, made in one runtime context, and their parameter table.
struct ShaderPairs {
    ShaderRuntime runtime;            // first: the pairs are made in it and destroyed before it
    CGShader lightShader{runtime};    // per-light passes
    CGShader ambientShader{runtime};  // depth pre-pass
    CGShader shadowShader{runtime};   // shadow cube faces
    CGShader postShader{runtime};     // post-processing quad (fragment program only)
    ShaderParameters parameters;
};

// Creates the empty pairs, in the order light, ambient, shadow, post; needs a current GL context. Start-up calls it
// once, before LoadShaders.
std::unique_ptr<ShaderPairs> CreateShaderPairs();

// Starts compiling the four files' programs on a thread of their own (the level may load meanwhile), so that
// LoadShaders finds them ready. Needs the pairs' runtime; FinishShaderCompiles must follow before the process ends.
void StartShaderCompiles(const ShaderPairs& pairs);
// Waits for the compiles StartShaderCompiles began and drops the results LoadShaders has not taken: a later
// reload compiles again.
void FinishShaderCompiles();

// True when both programs of the pair compiled, so that its pass draws what its shader file computes rather than
// the fixed-function fallback.
bool PairLoaded(const CGShader& pair);

// The four shader files, relative to the working directory, in the order of the pairs.
std::vector<std::string> ShaderFileNames();

// Compiles all four pairs from the working directory, registers their parameters and writes the program dumps
// ("shaderFP.txt", "shaderVP.txt", "shadowFP.txt", "shadowVP.txt", "postFP.txt"). Also the shader reload.
// Fills pairs.parameters.
void LoadShaders(ShaderPairs& pairs);
