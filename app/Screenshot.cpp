#include "Screenshot.h"

#include "Console.h"
#include "TextureCache.h"
#include "WholeFile.h"

#include <GL/glew.h>
#include <IL/il.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// From the start-of-image marker at the front to the end-of-image marker that the encoder writes last.
bool WholeJpeg(const char* bytes, size_t size)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return size >= 4 && b[0] == 0xFF && b[1] == 0xD8 && b[size - 2] == 0xFF && b[size - 1] == 0xD9;
}

}  // namespace

Jpeg EncodeJpeg(const unsigned char* rgb, int width, int height)
{
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilTexImage(width, height, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, const_cast<unsigned char*>(rgb));
    DrainImageErrors();

    char* bytes = nullptr;
    size_t size = 0;
    std::FILE* memory = open_memstream(&bytes, &size);
    // The library passes the encoded length through an 8-bit flag, so that one image in 256 reads as a failure:
    // the stream itself tells whether a whole image was written.
    if (memory != nullptr) {
        ilSaveF(IL_JPG, memory);
        std::fclose(memory);
    }
    DrainImageErrors();
    ilDeleteImages(1, &image);

    Jpeg jpeg;
    jpeg.bytes.reset(bytes);
    if (WholeJpeg(bytes, size))
        jpeg.size = size;
    return jpeg;
}

void TakeScreenshot(int& screenshotCounter, int windowWidth, int windowHeight)
{
    if (windowWidth <= 0 || windowHeight <= 0)
        return;
    // The pixels are held twice (read back, then in the image library) besides the JPEG: a window beyond the
    // budget is refused rather than allowed to take gigabytes.
    const int64_t pixelCount = int64_t(windowWidth) * windowHeight;
    if (pixelCount > kMaxScreenshotPixels) {
        ConsoleLinef(
            "Could not save screenshot: the window's %dx%d pixels are more than the %lld a screenshot may "
            "hold.",
            windowWidth, windowHeight, static_cast<long long>(kMaxScreenshotPixels));
        return;
    }
    std::vector<unsigned char> pixels(static_cast<size_t>(windowWidth) * windowHeight * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, windowWidth, windowHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());

    // Encoded in memory first, so that the file is written whole or not at all.
    const Jpeg jpeg = EncodeJpeg(pixels.data(), windowWidth, windowHeight);
    const bool encoded = jpeg.size != 0;

    // Every attempt uses up a number. An existing file moves on to the next; any other failure would repeat
    // forever, so it ends the attempt with one line, and one more on standard error with the reason.
    for (;;) {
        const std::string name = "shot" + std::to_string(screenshotCounter) + ".jpg";
        ++screenshotCounter;
        const int error = encoded ? WriteWholeFile(name, jpeg.bytes.get(), jpeg.size, false) : 0;
        if (encoded && error == 0)
            break;
        if (error == EEXIST)
            continue;
        ConsoleLine("Could not save screenshot " + name);
        ReportFileNotWritten(name, encoded ? std::strerror(error) : "the image could not be encoded");
        break;
    }
}
