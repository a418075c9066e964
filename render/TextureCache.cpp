#include "TextureCache.h"

#include "Console.h"
#include "ImageDecoder.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>

#include <cstdio>

void DrainImageErrors()
{
    while (ilGetError() != IL_NO_ERROR) {
    }
}

namespace {

void RememberFailure(TextureCache& textureCache, const std::string& name)
{
    textureCache.failedLookup.insert(name);
    textureCache.failedNames.push_back(name);
    ConsoleLine("Couldn't load texture \"" + name + "\" (load image failed)");
}

}  // namespace

GLuint LoadTexture(TextureCache& textureCache, const std::string& name)
{
    const auto known = textureCache.loadedTextures.find(name);
    if (known != textureCache.loadedTextures.end())
        return known->second;
    if (textureCache.failedLookup.count(name) != 0)
        return textureCache.FallbackTexture;

    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);

    // The file name is built as a string rather than in a fixed buffer, so a base name of any length is safe.
    const struct {
        const char* extension;
        ImageFormat format;
    } candidates[] = {{".dds", ImageFormat::Dds}, {".tga", ImageFormat::Tga}, {".jpg", ImageFormat::Jpeg}};
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    bool loaded = false;
    for (const auto& candidate : candidates) {
        if (LoadImageGuarded(name + candidate.extension, candidate.format, static_cast<uint32_t>(maxTextureSize)) ==
            ImageFailure::None) {
            loaded = true;
            break;
        }
    }

    if (!loaded) {
        ilDeleteImages(1, &image);
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
