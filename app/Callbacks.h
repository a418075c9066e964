// The GLUT callbacks through which the main loop drives the viewer; start-up registers thin adapters that pass the
// viewer on.
#pragma once

#include "Viewer.h"

void OnDisplay(Viewer& viewer);
void OnReshape(Viewer& viewer, int width, int height);
void OnKeyDown(Viewer& viewer, unsigned char key, int x, int y);
void OnKeyUp(Viewer& viewer, unsigned char key, int x, int y);
void OnMouse(Viewer& viewer, int button, int state, int x, int y);
void OnMotion(Viewer& viewer, int x, int y);
