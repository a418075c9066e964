// Runs independent pieces of start-up's work on every processor the process may use.
//
// Threads are started per call and joined before it returns: start-up calls this a handful of times, and a thread
// costs tens of microseconds against phases of milliseconds, so no pool outlives its work and nothing is shared
// between calls. GL must stay on the caller's thread: the work given here must make no GL call.
#pragma once

#include <cstddef>
#include <functional>

// Processors in this process's affinity mask (so `taskset -c 0` gives 1); at least 1.
unsigned UsableThreads();

// Calls work(item) once for every item in [0, count), on up to `threads` threads (the caller's among them), and
// returns when every call has returned. Items are handed out in increasing order as threads come free, so calls
// run at once and finish in any order: a call may write only what its item owns. With threads <= 1 or count <= 1
// every call runs on the caller's thread in order and no thread is started. When a call throws, no further item is
// started and, after every thread has stopped, the first exception is rethrown to the caller.
void ParallelFor(std::size_t count, const std::function<void(std::size_t item)>& work,
                 unsigned threads = UsableThreads());
