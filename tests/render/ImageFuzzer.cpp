// Fuzzes image loading in one of two modes, chosen when it is built. By default it follows the texture cache's own
// path: the guarded load that judges the file, decodes it in the sandboxed decoder process and rebuilds the image
// here. With IMAGE_FUZZ_IN_PROCESS it runs the same checks and then DevIL's decode in this process, where libFuzzer
// sees the decoder's crashes and hangs, and then checks the answer and rebuilds the image as the guarded load does.
// The first byte picks the format. Converting the result as the GL upload does exercises the palette look-ups.
#include "ImageDecoder.h"

#include <IL/il.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// llvmpipe's largest texture.
constexpr uint32_t kMaxTextureSize = 16384;

#ifdef IMAGE_FUZZ_IN_PROCESS
ImageFailure Load(ImageFormat format, const uint8_t* bytes, size_t size, const char*)
{
    ImageHeader header;
    if (JudgeImage(format, bytes, size, size, header) != ImageVerdict::Sound)
        return ImageFailure::Refused;
    const ILuint target = ilGetInteger(IL_CUR_IMAGE);
    ILuint scratch = 0;
    ilGenImages(1, &scratch);
    ilBindImage(scratch);
    DecodedImage image{};
    const uint8_t* pixels = nullptr;
    const uint8_t* palette = nullptr;
    const bool decoded = DecodeWithLibrary(format, bytes, size, image, pixels, palette);
    ilBindImage(target);
    const ImageFailure failure =
        decoded ? AcceptDecodedImage(header, image, pixels, palette, kMaxTextureSize) : ImageFailure::DecodeFailed;
    ilDeleteImages(1, &scratch);
    ilBindImage(target);
    return failure;
}
#else
ImageFailure Load(ImageFormat format, const uint8_t* bytes, size_t size, const char* extension)
{
    static const bool started = StartImageDecoder();
    (void)started;
    const std::string path = "/tmp/velmora-image-fuzz-" + std::to_string(getpid()) + extension;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return ImageFailure::Missing;
    std::fwrite(bytes, 1, size, file);
    std::fclose(file);
    const ImageFailure failure = LoadImageGuarded(path, format, kMaxTextureSize);
    std::remove(path.c_str());
    return failure;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool initialised = (ilInit(), true);
    (void)initialised;
    if (size < 1 || size > (1u << 20))
        return 0;
    const ImageFormat formats[] = {ImageFormat::Dds, ImageFormat::Tga, ImageFormat::Jpeg};
    const char* extensions[] = {".dds", ".tga", ".jpg"};
    const int kind = data[0] % 3;
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    if (Load(formats[kind], data + 1, size - 1, extensions[kind]) == ImageFailure::None)
        ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE);
    ilDeleteImages(1, &name);
    while (ilGetError() != IL_NO_ERROR) {
    }
    return 0;
}
