#include "Screenshot.h"

#include "Console.h"
#include "TextureCache.h"

#include <GL/glew.h>
#include <IL/il.h>

#include <cstdio>
#include <string>
#include <vector>

void TakeScreenshot(int& screenshotCounter, int windowWidth, int windowHeight)
{
    if (windowWidth <= 0 || windowHeight <= 0)
        return;
    std::vector<unsigned char> pixels(static_cast<size_t>(windowWidth) * windowHeight * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, windowWidth, windowHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());

    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilTexImage(windowWidth, windowHeight, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
    DrainImageErrors();

    // Every attempt uses up a number. An existing file moves on to the next; any other failure would repeat
    // forever, so it ends the attempt with one line.
    for (;;) {
        const std::string name = "shot" + std::to_string(screenshotCounter) + ".jpg";
        ++screenshotCounter;
        ilSave(IL_JPG, name.c_str());
        const ILenum error = ilGetError();
        if (error == IL_NO_ERROR)
            break;
        DrainImageErrors();
        if (error != IL_FILE_ALREADY_EXISTS) {
            ConsoleLine("Could not save screenshot " + name);
            break;
        }
    }
    ilDeleteImages(1, &image);
}
