// The GLUT callbacks through which the main loop drives the viewer.
#pragma once

#include "Frame.h"

void OnDisplay();
void OnReshape(int width, int height);
void OnKeyDown(unsigned char key, int x, int y);
void OnKeyUp(unsigned char key, int x, int y);
void OnMouse(int button, int state, int x, int y);
void OnMotion(int x, int y);

// What OnDisplay's frames share: the frame options, the short cuts of the loaded shaders, the GL state cache.
FrameContext& DisplayFrame();
