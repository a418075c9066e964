// Keyboard, mouse and reshape handling (Callbacks.h), and the per-frame camera movement.
#pragma once

#include "Viewer.h"

// Moves the camera by the held movement keys: 96 level units per second along each active axis.
void MoveCamera(Camera& camera, const InputState& input, float dt);
