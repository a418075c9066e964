#include "Callbacks.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

void OnDisplay()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
    glutPostRedisplay();
}

void OnReshape(int, int) {}
void OnKeyDown(unsigned char, int, int) {}
void OnKeyUp(unsigned char, int, int) {}
void OnMouse(int, int, int, int) {}
void OnMotion(int, int) {}
