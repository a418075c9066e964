#include "TextureCache.h"

#include "Console.h"
#include "ImageDecoder.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>

#include <algorithm>
#include <cstdio>

void DrainImageErrors()
{
    while (ilGetError() != IL_NO_ERROR) {
    }
}

namespace {

const struct {
    const char* extension;
    ImageFormat format;
} kCandidates[] = {{".dds", ImageFormat::Dds}, {".tga", ImageFormat::Tga}, {".jpg", ImageFormat::Jpeg}};

void ReportMissing(const std::string& name)
{
    ConsoleLine("Couldn't load texture \"" + name + "\" (load image failed)");
}

void RememberFailure(TextureCache& textureCache, const std::string& name)
{
    textureCache.failedLookup.insert(name);
    textureCache.failedNames.push_back(name);
    ReportMissing(name);
}

// Decodes the first of name's files that loads into a new DevIL image, left bound; 0 when none loads.
ILuint DecodeImage(const std::string& name)
{
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    // The file name is built as a string rather than in a fixed buffer, so a base name of any length is safe.
    for (const auto& candidate : kCandidates)
        if (LoadImageGuarded(name + candidate.extension, candidate.format, static_cast<uint32_t>(maxTextureSize)) ==
            ImageFailure::None)
            return image;
    ilDeleteImages(1, &image);
    return 0;
}

}  // namespace

GLuint LoadTexture(TextureCache& textureCache, const std::string& name)
{
    const auto known = textureCache.loadedTextures.find(name);
    if (known != textureCache.loadedTextures.end())
        return known->second;
    if (textureCache.failedLookup.count(name) != 0)
        return textureCache.FallbackTexture;
    textureCache.requestedNames.push_back(name);

    ILuint image = DecodeImage(name);
    if (image == 0) {
        RememberFailure(textureCache, name);
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

std::vector<std::string> TextureFilePaths(const std::string& name)
{
    std::vector<std::string> paths;
    for (const auto& candidate : kCandidates)
        paths.push_back(name + candidate.extension);
    return paths;
}

bool ReloadTexture(TextureCache& textureCache, const std::string& name)
{
    const auto known = textureCache.loadedTextures.find(name);
    if (known == textureCache.loadedTextures.end())
        return false;
    ILuint image = DecodeImage(name);
    if (image == 0) {
        ReportMissing(name);
        return false;
    }
    DrainImageErrors();
    glBindTexture(GL_TEXTURE_2D, known->second);
    GLint minification = 0, magnification = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minification);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magnification);
    // The same uploads as a first load, into the bound texture instead of a new one.
    ilutGLTexImage(0);
    ilutGLBuildMipmaps();
    ilDeleteImages(1, &image);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minification);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magnification);
    return true;
}

bool ForgetMissingTexture(TextureCache& textureCache, const std::string& name)
{
    if (textureCache.failedLookup.erase(name) == 0)
        return false;
    std::vector<std::string>& failed = textureCache.failedNames;
    failed.erase(std::find(failed.begin(), failed.end(), name));
    return true;
}

ImageDecoderSession::ImageDecoderSession()
{
    if (ImageDecoderProcessId() < 0)
        started_ = StartImageDecoder();
}

ImageDecoderSession::~ImageDecoderSession()
{
    if (started_)
        StopImageDecoder();
}
