// What start-up shows while a level loads: a bar in the window and, when standard error is a terminal, one line
// there that is rewritten in place. Both appear only once the load has taken half a second, so a quick start looks
// and prints exactly as before.
#pragma once

#include "Viewer.h"

#include <chrono>
#include <string>
#include <vector>

// The phases of the load, in order; the bar gives each a fixed share.
enum class LoadPhase { Level, Geometry, Shaders };

class LoadProgress {
public:
    // Starts the clock and registers the window's callbacks for the time of the load: the bar is drawn on demand,
    // and the input and size changes that arrive while events are pumped are kept for the viewer.
    LoadProgress();
    // Erases the terminal line.
    ~LoadProgress();
    LoadProgress(const LoadProgress&) = delete;
    LoadProgress& operator=(const LoadProgress&) = delete;

    // Where the load stands: the phase and the fraction of it done, from 0 to 1. On the GL thread: past half a
    // second it redraws the bar (every GL state it changes is restored), rewrites the terminal line and handles
    // the window's events, at most ten times a second.
    void Report(LoadPhase phase, double fraction);

    // The whole load's fraction done when `phase` is `fraction` done.
    static double Overall(LoadPhase phase, double fraction);

    // After start-up, with the viewer's own callbacks registered: hands it the size changes and input kept
    // during the load, in their order, and asks for the first frame.
    void HandOver(Viewer& viewer);

    // Window callbacks of the load (public for the adapters GLUT calls).
    void Draw();
    struct Event {
        enum Kind { Reshape, KeyDown, KeyUp, Mouse, Motion } kind;
        int a, b, c, d;
    };
    void Keep(const Event& event) { events_.push_back(event); }

private:
    void WriteTerminalLine();
    void EraseTerminalLine();

    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastShown_;
    bool shown_ = false;
    bool terminal_ = false;
    LoadPhase phase_ = LoadPhase::Level;
    double overall_ = 0.0;
    std::string line_;
    std::vector<Event> events_;
};
