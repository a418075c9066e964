// The light fall-off curve 1 - x^2 as a 256-texel one-dimensional texture.
#pragma once

#include <GL/glew.h>

#include <array>

constexpr int kAttenuationTexels = 256;

// Entry i is 1 - (i * k)^2 with k the single-precision value of 1/255, rounded once to float.
std::array<float, kAttenuationTexels> AttenuationTable();

// Uploads the table as a GL_TEXTURE_1D (linear filtering, clamped to edge) and leaves it bound; returns its name.
GLuint CreateAttenuationTexture();
