// Image textures by base name: decoded by the image decoder (ImageDecoder.h), which must run while textures load,
// and uploaded as mipmapped GL textures, each name once.
#pragma once

#include <GL/glew.h>

#include <map>
#include <string>
#include <unordered_set>
#include <vector>

struct TextureCache {
    std::map<std::string, GLuint> loadedTextures;  // successful loads only, keyed by the exact name
    std::vector<std::string> failedNames;          // names already reported as missing, in order of first failure
    std::unordered_set<std::string> failedLookup;  // the same names, looked up before any file is probed
    GLuint FallbackTexture = 0;                    // returned for any name that cannot be loaded
};

// Returns the texture of name + ".dds", ".tga" or ".jpg" (first that loads), from the cache when known.
// A fresh load leaves the texture bound to GL_TEXTURE_2D with trilinear minification; a name that cannot be
// loaded prints one line the first time and yields cache.FallbackTexture; its files are probed only once,
// since a level asks for a missing normal map on every triangle of the material.
GLuint LoadTexture(TextureCache& cache, const std::string& name);

// Empties the image library's error stack, so that the next error read is the next call's.
void DrainImageErrors();
