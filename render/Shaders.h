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

// Compiles all four pairs from the working directory, registers their parameters and writes the program dumps
// ("shaderFP.txt", "shaderVP.txt", "shadowFP.txt", "shadowVP.txt", "postFP.txt"). Also the shader reload.
void LoadShaders();
