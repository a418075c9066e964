// Texture loading through the cache against the image library's own load and upload of the same files, for a set
// of materials at 1024x1024 in each of the three formats; and the cost of asking for a name that has no file.
// Writes the images into DIR on first use (they are kept for later runs). Needs a display (run under Xvfb).
//
// Use: bench_texture_load RUNS DIR

#include "BenchTable.h"
#include "GlTestContext.h"
#include "ImageDecoder.h"
#include "Startup.h"
#include "TextureCache.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMaterials = 40;
constexpr int kSize = 1024;

struct ImageFile {
    const char* extension;
    ILenum type;
};
const ImageFile kFormats[] = {{"dds", IL_DDS}, {"tga", IL_TGA}, {"jpg", IL_JPG}};

std::string MaterialName(const std::string& dir, const ImageFile& format, int k)
{
    return dir + "/" + format.extension + "/material" + std::to_string(k);
}

// A smooth pattern with per-texel noise, different for every material, so that no format compresses it to nothing.
void WriteImages(const std::string& dir)
{
    std::vector<unsigned char> pixels(size_t(kSize) * kSize * 3);
    for (const ImageFile& format : kFormats) {
        fs::create_directories(dir + "/" + format.extension);
        for (int k = 0; k < kMaterials; ++k) {
            const std::string file = MaterialName(dir, format, k) + "." + format.extension;
            if (fs::exists(file))
                continue;
            uint32_t noise = 2654435761u * uint32_t(k + 1);
            for (int y = 0; y < kSize; ++y)
                for (int x = 0; x < kSize; ++x)
                    for (int c = 0; c < 3; ++c) {
                        noise = noise * 1664525u + 1013904223u;
                        const double wave = std::sin((x * (c + 1) + y * (k % 7 + 1)) * 0.01 + k);
                        pixels[(size_t(y) * kSize + x) * 3 + c] =
                            static_cast<unsigned char>(std::lround(110 + 90 * wave) + (noise >> 28));
                    }
            ILuint image = 0;
            ilGenImages(1, &image);
            ilBindImage(image);
            ilTexImage(kSize, kSize, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
            if (!ilSave(format.type, file.c_str()))
                std::printf("cannot write %s\n", file.c_str());
            ilDeleteImages(1, &image);
        }
    }
}

void DeleteTextures(std::vector<GLuint>& textures)
{
    glDeleteTextures(GLsizei(textures.size()), textures.data());
    textures.clear();
}

// Every material of the format through LoadTexture, from an empty cache.
double CacheLoadSeconds(const std::string& dir, const ImageFile& format)
{
    TextureCache textureCache;
    textureCache.FallbackTexture = CreateCheckerTexture();
    std::vector<GLuint> textures;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kMaterials; ++k)
        textures.push_back(LoadTexture(textureCache, MaterialName(dir, format, k)));
    glFinish();
    const double seconds = SecondsSince(start);
    DeleteTextures(textures);
    return seconds;
}

// The same files with the library alone: load, upload, mipmaps and filters as the cache sets them.
double LibraryLoadSeconds(const std::string& dir, const ImageFile& format)
{
    std::vector<GLuint> textures;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kMaterials; ++k) {
        ILuint image = 0;
        ilGenImages(1, &image);
        ilBindImage(image);
        ilLoadImage((MaterialName(dir, format, k) + "." + format.extension).c_str());
        textures.push_back(ilutGLBindTexImage());
        ilutGLBuildMipmaps();
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        ilDeleteImages(1, &image);
    }
    glFinish();
    const double seconds = SecondsSince(start);
    DeleteTextures(textures);
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_texture_load RUNS DIR", argc == 3);
    const int runs = std::max(1, std::atoi(argv[1]));
    const std::string dir = argv[2];
    CreateGlTestContext();
    ilInit();
    ilutRenderer(ILUT_OPENGL);
    WriteImages(dir);
    StartImageDecoder();

    for (const ImageFile& format : kFormats) {
        std::vector<double> ours, library;
        for (int run = 0; run < runs; ++run) {
            ours.push_back(CacheLoadSeconds(dir, format));
            library.push_back(LibraryLoadSeconds(dir, format));
        }
        const double a = Median(ours), b = Median(library);
        PrintRow("texture loading",
                 Format("%d materials %dx%d %s through LoadTexture, s (median of %d)", kMaterials, kSize, kSize,
                        format.extension, runs),
                 Format("%.3f", a), Format("the library's own load and upload: %.3f", b), Format("%.2f", a / b));
    }

    // A name with no file, asked for as often as the triangles of a material ask for its missing normal map.
    constexpr int kCalls = 20000;
    TextureCache textureCache;
    textureCache.FallbackTexture = CreateCheckerTexture();
    std::vector<double> missing;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int call = 0; call < kCalls; ++call)
            LoadTexture(textureCache, dir + "/no-such-image_normal");
        missing.push_back(SecondsSince(start) / kCalls * 1e9);
    }
    PrintRow("texture loading",
             Format("LoadTexture of a name without a file, ns per call (%d calls, median of %d)", kCalls, runs),
             Format("%.0f", Median(missing)), "-", "-");
    return 0;
}
