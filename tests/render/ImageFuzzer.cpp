// Fuzzes image loading as the texture cache does it: an image reaches the decoder in this process only after its
// header check and a trial decode in a child process have passed. The first byte picks the format.
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
    if (!ImageIsSound(formats[kind], data + 1, size - 1))
        return 0;
    const std::string path = "/tmp/velmora-image-fuzz-" + std::to_string(getpid()) + extensions[kind];
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);
    if (ImageDecodesInChild(path, 2000)) {
        ILuint name = 0;
        ilGenImages(1, &name);
        ilBindImage(name);
        ilLoadImage(path.c_str());
        ilDeleteImages(1, &name);
    }
    while (ilGetError() != IL_NO_ERROR) {
    }
    std::remove(path.c_str());
    return 0;
}
