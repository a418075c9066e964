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

    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilTexImage(windowWidth, windowHeight, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
    DrainImageErrors();

    // Encoded in memory first, so that the file is written whole or not at all.
    char* jpeg = nullptr;
    size_t jpegBytes = 0;
    std::FILE* memory = open_memstream(&jpeg, &jpegBytes);
    const bool encoded = memory != nullptr && ilSaveF(IL_JPG, memory) != 0;
    if (memory != nullptr)
        std::fclose(memory);
    DrainImageErrors();
    ilDeleteImages(1, &image);

    // Every attempt uses up a number. An existing file moves on to the next; any other failure would repeat
    // forever, so it ends the attempt with one line, and one more on standard error with the reason.
    for (;;) {
        const std::string name = "shot" + std::to_string(screenshotCounter) + ".jpg";
        ++screenshotCounter;
        const int error = encoded ? WriteWholeFile(name, jpeg, jpegBytes, false) : 0;
        if (encoded && error == 0)
            break;
        if (error == EEXIST)
            continue;
        ConsoleLine("Could not save screenshot " + name);
        ReportFileNotWritten(name, encoded ? std::strerror(error) : "the image could not be encoded");
        break;
    }
    std::free(jpeg);
}
