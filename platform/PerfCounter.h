// Monotonic high-resolution counter with a fixed frequency, read as signed 64-bit ticks.
#pragma once

#include <cstdint>

// Ticks per second; fixed for the life of the process (1,000,000,000).
int64_t QueryPerformanceFrequency();
// Current tick count of a monotonic clock.
int64_t QueryPerformanceCounter();
