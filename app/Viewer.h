// The viewer: everything the GLUT callbacks change and every frame reads, in one object that start-up builds and
// every callback receives.
#pragma once

#include "Camera.h"
#include "FrameTimer.h"
#include "Level.h"
#include "Overlay.h"
#include "Renderer.h"
#include "Watch.h"

#include <memory>
#include <optional>

class LevelReloader;

// Movement intents (-1, 0 or +1) held between key press and release, key latches and the last drag position.
struct InputState {
    int moveForward = 0;
    int moveStrafe = 0;
    int moveVertical = 0;
    bool screenshotArmed = true;
    bool reloadArmed = true;
    int lastMouseX = -1;  // -1: no previous drag position
    int lastMouseY = -1;
};

struct Viewer {
    // The loaded level: lights in file order, boxes, and the root of its tree (null when it has none).
    Level level;
    Camera camera;
    Options options;
    InputState input;
    int windowWidth = 800;
    int windowHeight = 600;
    std::optional<FrameTimer> frameTimer;  // created and started by the first frame; measures frame to frame
    FrameStats frameStats;
    float sinceMemoryReturn = 0.0f;  // seconds since freed memory was last handed back to the system
    int screenshotCounter = 0;       // the number the next screenshot attempt uses
    Renderer renderer;

    // --watch (Watch.h): the files followed and what each feeds; empty without the option.
    std::optional<WatchState> watch;

    // The level read again in the background (app/LevelReload.cpp): its worker and the job it hands over between
    // frames; made by the first request. Declared after the level and the renderer, so its worker stops before they go.
    std::shared_ptr<LevelReloader> levelReload;

    // What this frame asks of the renderer's passes: a frame of the post target's size, which the post pass
    // stretches over the window when the window is larger than a frame may be.
    FrameRequest Request()
    {
        return FrameRequest{level.lights, camera, options, renderer.postTarget.width, renderer.postTarget.height};
    }
};
