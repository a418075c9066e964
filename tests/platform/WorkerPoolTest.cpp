#include "WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <vector>

TEST(WorkerPoolTest, EveryItemRunsExactlyOnceWhateverTheThreadCount)
{
    const std::size_t counts[] = {0, 1, 2, 3, 1000};
    const unsigned threadCounts[] = {1, 2, 3, 8};
    for (std::size_t count : counts)
        for (unsigned threads : threadCounts) {
            std::vector<std::atomic<int>> calls(count);
            ParallelFor(
                count, [&](std::size_t item) { calls[item].fetch_add(1); }, threads);
            for (std::size_t item = 0; item < count; ++item)
                EXPECT_EQ(calls[item].load(), 1) << "item " << item << " of " << count << ", " << threads << " threads";
        }
}

TEST(WorkerPoolTest, OneThreadRunsInOrderOnTheCaller)
{
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::size_t> order;
    ParallelFor(
        5,
        [&](std::size_t item) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            order.push_back(item);
        },
        1);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(WorkerPoolTest, SeveralThreadsReallyRunAtOnce)
{
    // Two items that each wait for the other finish only if they run on different threads at the same time.
    std::atomic<int> arrived{0};
    ParallelFor(
        2,
        [&](std::size_t) {
            arrived.fetch_add(1);
            while (arrived.load() < 2)
                std::this_thread::yield();
        },
        2);
    EXPECT_EQ(arrived.load(), 2);
    EXPECT_GE(UsableThreads(), 1u);
}

TEST(WorkerPoolTest, AnExceptionOnAnyThreadReachesTheCallerAfterEveryThreadStopped)
{
    // The throwing item is taken by a helper thread or the caller, whichever comes first; either way the caller
    // sees the exception, and only once no call is running any more.
    for (unsigned threads : {1u, 4u}) {
        std::atomic<int> running{0};
        EXPECT_THROW(ParallelFor(
                         1000,
                         [&](std::size_t item) {
                             running.fetch_add(1);
                             std::this_thread::yield();
                             running.fetch_sub(1);
                             if (item == 3)
                                 throw std::bad_alloc();
                         },
                         threads),
                     std::bad_alloc)
            << threads << " threads";
        EXPECT_EQ(running.load(), 0) << threads << " threads";
    }
}
