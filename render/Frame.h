// The passes of one frame, in the order the display callback runs them.
#pragma once

#include <GL/glew.h>

extern float shaderTime;           // seconds, the post shader's "time"; runs while options.advanceTime is on
extern float lightAnimationAngle;  // radians of phase of the light animation

// On (the default): every pass draws only the clusters that can change its pixels -- the view's, a light's
// sphere's, a shadow face's -- and a light pass only inside its sphere's screen rectangle. Off: every pass draws
// all geometry over the whole target; the image is the same, which the frame tests compare.
extern bool boundedPasses;

// While options.animateLights is on: advances the phase by dt and circles the first light (radius 16) and swings
// the third (32 along X) around their level positions. Lights that do not exist are left alone.
void AnimateLights(float dt);

// Re-renders the cube map of every light that moved since the previous frame; then every light's shadowPosition
// becomes its currentPosition.
void ShadowPass();

// Binds the off-screen target, clears it and sets the camera's projection and view; feeds the view to the light
// and depth shaders.
void BeginMainView();

// Writes the depth of the visible surface, colour writes off.
void DepthPrePass();

// One pass per light over the pre-pass depth: the first replaces, later ones add. Leaves filled polygons.
void LightPasses(GLuint attenuationTexture);
