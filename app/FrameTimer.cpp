#include "FrameTimer.h"

#include "PerfCounter.h"

FrameTimer::FrameTimer() : frequency(QueryPerformanceFrequency()) {}

void FrameTimer::Start()
{
    startCount = QueryPerformanceCounter();
    stopped = 0;
}

void FrameTimer::Stop()
{
    elapsedTicks = QueryPerformanceCounter() - startCount;
    stopped = 1;
}

double FrameTimer::ElapsedSeconds()
{
    if (!stopped)
        elapsedTicks = QueryPerformanceCounter() - startCount;
    return static_cast<double>(elapsedTicks) / static_cast<double>(frequency);
}

int32_t FrameTimer::ElapsedMilliseconds()
{
    if (!stopped)
        elapsedTicks = QueryPerformanceCounter() - startCount;
    return static_cast<int32_t>(static_cast<double>(elapsedTicks) * 1000.0 / static_cast<double>(frequency));
}
