// The short-cut decision kept between runs: the probes' answer depends only on the programs, the driver and the
// textures the probes read, so a start-up where all of them are as before takes the kept answer.
#pragma once

#include "ShortCuts.h"

#include <string>

// Everything the probes' answer depends on, as one string: the running program, the driver's strings, each pair's
// programs (file text and GL text), and the contents and sampling of every level texture the probes read.
// Needs a current GL context.
std::string ShortCutKey(ShaderPairs& shaders, const RenderGeometry& geometry);

// The kept decision for the same key from the user's cache directory, else DecideShortCuts's, which is kept.
ShortCuts CachedShortCuts(ShaderPairs& shaders, const RenderGeometry& geometry, GLuint attenuationTexture);
