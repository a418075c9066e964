// Keyboard, mouse and reshape handling, and the per-frame camera movement.
#pragma once

// Moves the camera by the held movement keys: 96 level units per second along each active axis.
void MoveCamera(float dt);
