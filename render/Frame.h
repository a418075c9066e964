// The passes of one frame, in the order the display callback runs them. Each pass sets the GL state it depends on
// through the frame's state cache, and takes the view from the frame rather than from GL.
#pragma once

#include "Camera.h"
#include "Culling.h"
#include "GlState.h"
#include "Level.h"
#include "ShortCuts.h"
#include "View.h"

#include <GL/glew.h>

#include <cstdint>
#include <vector>

struct Renderer;

// Switches of the frame that only tests and benchmarks turn.
struct FrameOptions {
    // On: every pass leaves out what cannot change its pixels, as far as the loaded shaders allow (ShortCuts).
    // Off: every pass draws all geometry over the whole target; the image is the same, which the tests compare.
    bool culling = true;
};

// Cluster flags that the passes fill every frame, kept to reuse their memory.
struct FrameScratch {
    ClusterSelection inView;          // clusters that can be rasterised in the main view
    ClusterSelection inSphere;        // of those, the ones a light's sphere reaches
    ClusterSelection reach;           // clusters that may shadow what a light reaches
    ClusterSelection inFace;          // of those, the ones in one shadow face's frustum
    std::vector<uint32_t> staleMaps;  // lights whose passes come and whose maps are to be rendered
};

// What the passes of successive frames share; the renderer owns it.
struct FrameContext {
    FrameOptions options;
    ShortCuts shortCuts;     // for the shader files loaded now
    bool firstFrame = true;  // the shadow faces and the pre-pass of the first frame test depth with GL_LESS,
                             // later ones with GL_LEQUAL
    GlStateCache gl;
    View mainView;  // this frame's camera view, set by BeginMainView
    FrameScratch scratch;
    long shadowFacesRendered = 0;  // since start-up; a still scene adds none after its first frame unless its
                                   // view needs more maps than the shadow pool holds
};

// What the caller hands every pass of a frame: the level's lights (the animation moves their current positions),
// the eye, the switches and the window.
struct FrameRequest {
    std::vector<Light>& lights;
    const Camera& camera;
    const Options& options;
    int windowWidth;
    int windowHeight;
};

// While options.animateLights is on: advances the renderer's phase by dt and circles the first light (radius 16)
// and swings the third (32 along X) around their level positions. Lights that do not exist are left alone.
void AnimateLights(Renderer& renderer, const FrameRequest& request, float dt);

// Forgets the GL state that the cache holds, since anything between frames may have changed it.
void BeginFrame(Renderer& renderer);

// Computes the camera's view, binds and clears the off-screen target and selects the clusters in view.
void BeginMainView(Renderer& renderer, const FrameRequest& request);

// After BeginMainView: notes the lights that moved since the previous frame, whose maps are then out of date, and
// renders the out-of-date maps of the lights whose passes come in this frame, as many as the shadow pool holds
// without taking a map from another such light. The light passes render the rest.
void ShadowPass(Renderer& renderer, const FrameRequest& request);

// Writes the depth of the visible surface, colour writes off; stencil 1 marks the pixels it covered.
void DepthPrePass(Renderer& renderer);

// One pass per light over the pre-pass depth: the first replaces, later ones add. A light whose map the shadow
// pass could not render has it rendered just before its pass.
void LightPasses(Renderer& renderer, const FrameRequest& request);

// Draws the off-screen target onto the window through the post pair, with the renderer's clock.
void PostPass(Renderer& renderer, const FrameRequest& request);

// Ends the frame: the next one is not the first.
void EndFrame(Renderer& renderer);
