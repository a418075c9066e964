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
    std::vector<std::string> requestedNames;       // every name asked for, loaded or not, in order of first request
    GLuint FallbackTexture = 0;                    // returned for any name that cannot be loaded
};

// Returns the texture of name + ".dds", ".tga" or ".jpg" (first that loads), from the cache when known.
// A fresh load leaves the texture bound to GL_TEXTURE_2D with trilinear minification; a name that cannot be
// loaded prints one line the first time and yields cache.FallbackTexture; its files are probed only once,
// since a level asks for a missing normal map on every triangle of the material.
GLuint LoadTexture(TextureCache& cache, const std::string& name);

// The files LoadTexture probes for name, in its order.
std::vector<std::string> TextureFilePaths(const std::string& name);

// Decodes a loaded name's files again as LoadTexture does and replaces its texture's contents, so that whatever
// holds the texture id shows the new image; the texture's filters stay as they were. When no file loads now, the
// old contents stay and the missing-texture line is printed; false then, and for a name that is not loaded.
bool ReloadTexture(TextureCache& cache, const std::string& name);

// Forgets that name could not be loaded, so that its next request probes its files again; false when it had not
// failed. Whatever holds the fallback texture for it keeps it until it asks again.
bool ForgetMissingTexture(TextureCache& cache, const std::string& name);

// Keeps an image decoder running while it lives, for loads outside start-up: starts one unless one runs, and
// stops only the one it started.
class ImageDecoderSession {
public:
    ImageDecoderSession();
    ~ImageDecoderSession();
    ImageDecoderSession(const ImageDecoderSession&) = delete;
    ImageDecoderSession& operator=(const ImageDecoderSession&) = delete;

private:
    bool started_ = false;
};

// Empties the image library's error stack, so that the next error read is the next call's.
void DrainImageErrors();
