// Fuzzes image loading along the texture cache's own path: the guarded load that checks the file, decodes it in a
// child process and rebuilds the decoded image here. The first byte picks the format. Converting the result as the
// GL upload does exercises the palette look-ups of colour-mapped images in this process.
#include "ImageCheck.h"

#include <IL/il.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool initialised = (ilInit(), true);
    (void)initialised;
    if (size < 1 || size > (1u << 20))
        return 0;
    const ImageFormat formats[] = {ImageFormat::Dds, ImageFormat::Tga, ImageFormat::Jpeg};
    const char* extensions[] = {".dds", ".tga", ".jpg"};
    const int kind = data[0] % 3;
    const std::string path = "/tmp/velmora-image-fuzz-" + std::to_string(getpid()) + extensions[kind];
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    if (LoadImageGuarded(path, formats[kind], 2000))
        ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE);
    ilDeleteImages(1, &name);
    while (ilGetError() != IL_NO_ERROR) {
    }
    std::remove(path.c_str());
    return 0;
}
