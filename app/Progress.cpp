#include "Progress.h"

#include "Callbacks.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <GL/freeglut_ucall.h>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kQuietTime = std::chrono::milliseconds(500);
// Ten redraws a second: each costs a clear and a buffer swap on the GL thread, which also joins the parsed pieces.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// The share of the bar each phase fills, in phase order: the file dominates a large level's load.
constexpr double kPhaseShares[] = {0.7, 0.2, 0.1};
constexpr const char* kPhaseNames[] = {"level", "geometry", "shaders"};

void DrawAdapter(void* progress) { static_cast<LoadProgress*>(progress)->Draw(); }
void ReshapeKeeper(int width, int height, void* progress)
{
    static_cast<LoadProgress*>(progress)->Keep({LoadProgress::Event::Reshape, width, height, 0, 0});
}
void KeyDownKeeper(unsigned char key, int x, int y, void* progress)
{
    static_cast<LoadProgress*>(progress)->Keep({LoadProgress::Event::KeyDown, key, x, y, 0});
}
void KeyUpKeeper(unsigned char key, int x, int y, void* progress)
{
    static_cast<LoadProgress*>(progress)->Keep({LoadProgress::Event::KeyUp, key, x, y, 0});
}
void MouseKeeper(int button, int state, int x, int y, void* progress)
{
    static_cast<LoadProgress*>(progress)->Keep({LoadProgress::Event::Mouse, button, state, x, y});
}
void MotionKeeper(int x, int y, void* progress)
{
    static_cast<LoadProgress*>(progress)->Keep({LoadProgress::Event::Motion, x, y, 0, 0});
}

void Rectangle(float x0, float y0, float x1, float y1)
{
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

}  // namespace

LoadProgress::LoadProgress() : start_(Clock::now()), lastShown_(start_), terminal_(isatty(STDERR_FILENO) == 1)
{
    glutDisplayFuncUcall(DrawAdapter, this);
    glutReshapeFuncUcall(ReshapeKeeper, this);
    glutKeyboardFuncUcall(KeyDownKeeper, this);
    glutKeyboardUpFuncUcall(KeyUpKeeper, this);
    glutMouseFuncUcall(MouseKeeper, this);
    glutMotionFuncUcall(MotionKeeper, this);
}

LoadProgress::~LoadProgress() { EraseTerminalLine(); }

double LoadProgress::Overall(LoadPhase phase, double fraction)
{
    double done = 0.0;
    for (int k = 0; k < int(phase); ++k)
        done += kPhaseShares[k];
    return done + kPhaseShares[int(phase)] * std::clamp(fraction, 0.0, 1.0);
}

void LoadProgress::Report(LoadPhase phase, double fraction)
{
    phase_ = phase;
    overall_ = Overall(phase, fraction);
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietTime)
        return;
    // A phase prints its lines when it ends, so the terminal line makes way for them.
    if (fraction >= 1.0)
        EraseTerminalLine();
    if (shown_ && now - lastShown_ < kRedrawInterval)
        return;
    shown_ = true;
    lastShown_ = now;
    if (fraction < 1.0)
        WriteTerminalLine();
    // The window maps and is exposed while events are handled; the display callback draws the bar.
    glutPostRedisplay();
    glutMainLoopEvent();
}

void LoadProgress::EraseTerminalLine()
{
    if (line_.empty())
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    line_.clear();
}

void LoadProgress::WriteTerminalLine()
{
    if (!terminal_ || overall_ >= 1.0)
        return;
    char text[96];
    std::snprintf(text, sizeof text, "Loading: %s, %d%% in all", kPhaseNames[int(phase_)], int(overall_ * 100));
    if (text == line_)
        return;
    line_ = text;
    std::fprintf(stderr, "\r\033[K%s", text);
    std::fflush(stderr);
}

void LoadProgress::Draw()
{
    if (!shown_)
        return;
    const int width = glutGet(GLUT_WINDOW_WIDTH);
    const int height = glutGet(GLUT_WINDOW_HEIGHT);
    GLint framebuffer = 0;
    GLint program = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glUseProgram(0);
    glViewport(0, 0, width, height);
    for (const GLenum capability : {GL_DEPTH_TEST, GL_CULL_FACE, GL_TEXTURE_2D, GL_BLEND, GL_SCISSOR_TEST,
                                    GL_STENCIL_TEST, GL_ALPHA_TEST, GL_LIGHTING, GL_FOG})
        glDisable(capability);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0.08f, 0.08f, 0.1f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    const float left = width * 0.15f, right = width * 0.85f, bottom = height * 0.5f - 10, top = height * 0.5f + 10;
    glColor3f(0.35f, 0.35f, 0.4f);
    Rectangle(left - 2, bottom - 2, right + 2, top + 2);
    glColor3f(0.12f, 0.12f, 0.15f);
    Rectangle(left, bottom, right, top);
    glColor3f(0.85f, 0.6f, 0.2f);
    Rectangle(left, bottom, left + float(overall_) * (right - left), top);
    glColor3f(0.9f, 0.9f, 0.9f);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glRasterPos2f(left, top + 12);
    const std::string label = std::string("Loading ") + kPhaseNames[int(phase_)];
    glutBitmapString(GLUT_BITMAP_HELVETICA_12, reinterpret_cast<const unsigned char*>(label.c_str()));

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
    glUseProgram(GLuint(program));
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GLuint(framebuffer));
    glutSwapBuffers();
}

void LoadProgress::HandOver(Viewer& viewer)
{
    for (const Event& event : events_) {
        switch (event.kind) {
        case Event::Reshape:
            OnReshape(viewer, event.a, event.b);
            break;
        case Event::KeyDown:
            OnKeyDown(viewer, static_cast<unsigned char>(event.a), event.b, event.c);
            break;
        case Event::KeyUp:
            OnKeyUp(viewer, static_cast<unsigned char>(event.a), event.b, event.c);
            break;
        case Event::Mouse:
            OnMouse(viewer, event.a, event.b, event.c, event.d);
            break;
        case Event::Motion:
            OnMotion(viewer, event.a, event.b);
            break;
        }
    }
    events_.clear();
    if (shown_)
        glutPostRedisplay();
}
