#include "TextureCache.h"

#include "ImageCheck.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

TextureCache textureCache;

namespace {

void DrainImageErrors()
{
    while (ilGetError() != IL_NO_ERROR) {
    }
}

// Longest a trial decode of one image may take before the image counts as broken.
constexpr int kTrialDecodeMilliseconds = 10000;

// Loads one candidate file into the bound DevIL image, when it exists and passes the checks that keep a damaged
// file from crashing or hanging the decoder.
bool LoadCandidate(const std::string& file, ImageFormat format)
{
    if (access(file.c_str(), R_OK) != 0)
        return false;
    if (!ImageFileIsSound(format, file) || !ImageDecodesInChild(file, kTrialDecodeMilliseconds))
        return false;
    return ilLoadImage(file.c_str());
}

void ReportFailureOnce(const std::string& name)
{
    std::vector<std::string>& failed = textureCache.failedNames;
    if (std::find(failed.begin(), failed.end(), name) != failed.end())
        return;
    failed.push_back(name);
    std::printf("Couldn't load texture \"%s\" (load image failed)\n", name.c_str());
    std::fflush(stdout);
}

}  // namespace

GLuint LoadTexture(const std::string& name)
{
    const auto known = textureCache.loadedTextures.find(name);
    if (known != textureCache.loadedTextures.end())
        return known->second;

    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);

    // The file name is built as a string rather than in a fixed buffer, so a base name of any length is safe.
    const struct {
        const char* extension;
        ImageFormat format;
    } candidates[] = {{".dds", ImageFormat::Dds}, {".tga", ImageFormat::Tga}, {".jpg", ImageFormat::Jpeg}};
    bool loaded = false;
    for (const auto& candidate : candidates) {
        if (LoadCandidate(name + candidate.extension, candidate.format)) {
            loaded = true;
            break;
        }
    }

    if (!loaded) {
        ilDeleteImages(1, &image);
        ReportFailureOnce(name);
        return textureCache.FallbackTexture;
    }

    DrainImageErrors();
    const GLuint texture = ilutGLBindTexImage();
    ilutGLBuildMipmaps();
    ilDeleteImages(1, &image);
    textureCache.loadedTextures[name] = texture;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}
