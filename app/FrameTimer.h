// Interval timer on the monotonic performance counter.
#pragma once

#include <cstdint>

struct FrameTimer {
    int64_t frequency;         // ticks per second, read at construction
    int64_t startCount = 0;    // counter at the last Start
    int64_t elapsedTicks = 0;  // Start to the last Stop, or to the last reading while running
    int32_t stopped = 1;

    FrameTimer();
    void Start();
    void Stop();
    // Seconds since Start; a running timer is read anew and keeps running.
    double ElapsedSeconds();
    // Whole milliseconds since Start, truncated toward zero; a running timer is read anew and keeps running.
    int32_t ElapsedMilliseconds();
};
