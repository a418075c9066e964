#include "WorkerPool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

unsigned UsableThreads()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

void ParallelFor(std::size_t count, const std::function<void(std::size_t item)>& work, unsigned threads)
{
    const std::size_t workers = std::min<std::size_t>(threads, count);
    if (workers <= 1) {
        for (std::size_t item = 0; item < count; ++item)
            work(item);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    // A call that throws ends its thread's share; the first exception is rethrown on the caller's thread once
    // every thread has stopped, since one escaping a thread would end the process.
    auto drain = [&] {
        try {
            for (std::size_t item; (item = next.fetch_add(1, std::memory_order_relaxed)) < count;)
                work(item);
        } catch (...) {
            next = count;
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    for (std::size_t i = 1; i < workers; ++i)
        helpers.emplace_back(drain);
    drain();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}
