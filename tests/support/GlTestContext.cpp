#include "GlTestContext.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>

namespace {
bool created = false;
void DisplayNothing() {}
}  // namespace

void CreateGlTestContext(int width, int height)
{
    if (created)
        return;
    int argc = 1;
    char name[] = "velmora-test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitWindowSize(width, height);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("velmora-test");
    glutDisplayFunc(DisplayNothing);
    if (glewInit() != GLEW_OK) {
        std::fprintf(stderr, "GlTestContext: glewInit failed\n");
        std::abort();
    }
    created = true;
}

Rgb ReadPixel(int x, int y)
{
    unsigned char p[3] = {0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2]};
}
