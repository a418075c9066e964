#include "ViewerState.h"

Camera camera;
Options options;
InputState input;
int windowWidth = 800;
int windowHeight = 600;
Level level;
