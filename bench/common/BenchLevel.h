// Level input for the benchmarks that parse level files without GL.
#pragma once

#include "Triangle.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

// The whole file, or an empty string when it cannot be read.
inline std::string ReadFile(const char* path)
{
    std::string text;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr)
        return text;
    char chunk[1 << 16];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, count);
    std::fclose(file);
    return text;
}

// Texture names become ids from 2 on in order of first request, as the viewer's cache would number them; 1 is the
// fallback. The table must outlive the source.
inline TextureSource NumberedTextures(std::map<std::string, uint32_t>& ids)
{
    TextureSource textures;
    textures.loadTexture = [&ids](const std::string& name) {
        return ids.emplace(name, uint32_t(ids.size() + 2)).first->second;
    };
    textures.fallbackTexture = 1;
    return textures;
}
