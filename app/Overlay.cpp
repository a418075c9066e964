#include "Overlay.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

void DrawFrameStats(FrameStats& frameStats, float dt, FrameTimer& renderTimer, int windowWidth, int windowHeight)
{
    renderTimer.Stop();
    frameStats.sampleSeconds += dt;
    const int32_t msec = renderTimer.ElapsedMilliseconds();
    frameStats.sampleMsecSum += msec;
    frameStats.sampleFrames += 1;
    if (frameStats.sampleSeconds >= 1.0f) {
        frameStats.shownFps = frameStats.sampleFrames;
        frameStats.shownMsec = static_cast<int32_t>(
            static_cast<double>(static_cast<uint32_t>(frameStats.sampleMsecSum)) / frameStats.sampleFrames);
        frameStats.sampleSeconds = 0.0f;
        frameStats.sampleFrames = 0;
        frameStats.sampleMsecSum = 0;
    }
    DrawOverlayText(windowWidth, windowHeight, 3, 3, "%i fps (%i msec)", frameStats.shownFps, frameStats.shownMsec);
}

void DrawOverlayText(int windowWidth, int windowHeight, int x, int y, const char* format, ...)
{
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, windowWidth, 0, windowHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(static_cast<float>(x), static_cast<float>(y), 0.0f);
    glScalef(0.1f, 0.1f, 1.0f);
    DrawStrokeText(buffer);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void DrawStrokeText(const char* text)
{
    glPushMatrix();
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') {
            glPopMatrix();
            glTranslatef(0.0f, -180.0f, 0.0f);
            glPushMatrix();
        } else {
            glutStrokeCharacter(GLUT_STROKE_MONO_ROMAN, static_cast<unsigned char>(*c));
        }
    }
    glPopMatrix();
}
