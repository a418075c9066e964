// The file watcher on a real directory with the kernel's notifications. Times are given to Poll by the test, so
// the quiet period is exercised without sleeping; the kernel queues an event before the call that causes it returns.
#include "FileWatch.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int64_t kMs = 1'000'000;
using Paths = std::vector<std::string>;

// What the watcher reports once the writes are well past the quiet period, after a first read at time 0.
Paths Settled(FileWatch& watch)
{
    EXPECT_TRUE(watch.Poll(0).empty());
    return watch.Poll(1000 * kMs);
}

TEST(FileWatchTest, AFileIsReportedOnceItIsCompleteHoweverItGotThere)
{
    const struct {
        const char* name;
        std::function<void(const TempDir&)> change;
        bool reported;
    } cases[] = {
        {"written and closed", [](const TempDir& d) { d.Write("a", "new"); }, true},
        {"renamed into place",
         [](const TempDir& d) {
             d.Write("a.tmp", "new");
             std::rename(d.File("a.tmp").c_str(), d.File("a").c_str());
         },
         true},
        {"deleted, then written",
         [](const TempDir& d) {
             std::remove(d.File("a").c_str());
             d.Write("a", "new");
         },
         true},
        {"deleted only", [](const TempDir& d) { std::remove(d.File("a").c_str()); }, false},
        {"another file of the directory", [](const TempDir& d) { d.Write("b", "new"); }, false},
        // The reader refuses what is not a regular file; the watcher only says that something is in place.
        {"a FIFO renamed into place",
         [](const TempDir& d) {
             mkfifo(d.File("fifo").c_str(), 0600);
             std::rename(d.File("fifo").c_str(), d.File("a").c_str());
         },
         true},
        {"a directory renamed into place",
         [](const TempDir& d) {
             std::remove(d.File("a").c_str());
             mkdir(d.File("sub").c_str(), 0700);
             std::rename(d.File("sub").c_str(), d.File("a").c_str());
         },
         false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempDir dir("file-watch");
        dir.Write("a", "old");
        FileWatch watch;
        std::string why;
        ASSERT_TRUE(watch.Add(dir.File("a"), &why)) << why;
        testCase.change(dir);
        EXPECT_EQ(Settled(watch), testCase.reported ? Paths{dir.File("a")} : Paths{});
    }
}

TEST(FileWatchTest, AFileOpenForWritingIsReportedOnlyOnceClosed)
{
    TempDir dir("file-watch");
    FileWatch watch;
    std::string why;
    ASSERT_TRUE(watch.Add(dir.File("a"), &why)) << why;
    const int fd = open(dir.File("a").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "half", 4), 4);
    EXPECT_EQ(Settled(watch), Paths{});
    close(fd);
    EXPECT_EQ(Settled(watch), Paths{dir.File("a")});
}

TEST(FileWatchTest, ChangesAreReportedTogetherAfterAQuietPeriodAndEachOnce)
{
    TempDir dir("file-watch");
    FileWatch watch(250 * kMs, 2000 * kMs);
    std::string why;
    for (const char* name : {"level", "image", "shader"})
        ASSERT_TRUE(watch.Add(dir.File(name), &why)) << why;
    dir.Write("shader", "1");
    EXPECT_EQ(watch.Poll(0), Paths{});
    dir.Write("level", "1");
    EXPECT_EQ(watch.Poll(200 * kMs), Paths{});
    EXPECT_EQ(watch.Poll(400 * kMs), Paths{});
    EXPECT_EQ(watch.Poll(450 * kMs), (Paths{dir.File("level"), dir.File("shader")}));
    EXPECT_EQ(watch.Poll(2000 * kMs), Paths{});
}

TEST(FileWatchTest, AHundredQuickRewritesGiveOneReportAndASteadyWriterIsNotStarved)
{
    TempDir dir("file-watch");
    FileWatch watch(250 * kMs, 2000 * kMs);
    std::string why;
    ASSERT_TRUE(watch.Add(dir.File("a"), &why)) << why;
    int reports = 0;
    for (int k = 0; k < 100; ++k) {
        dir.Write("a", std::to_string(k));
        reports += watch.Poll(k * 10 * kMs).size();
    }
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(watch.Poll(1300 * kMs), Paths{dir.File("a")});
    EXPECT_EQ(ReadFileText(dir.File("a")), "99");

    // One rewrite every 100 ms for ten seconds never leaves 250 ms of quiet.
    reports = 0;
    int64_t now = 2000 * kMs;
    for (int k = 0; k < 100; ++k, now += 100 * kMs) {
        dir.Write("a", std::to_string(k));
        reports += watch.Poll(now).size();
    }
    EXPECT_GE(reports, 4);
    EXPECT_LE(reports, 5);
    EXPECT_EQ(watch.Poll(now + 300 * kMs), Paths{dir.File("a")});
}

TEST(FileWatchTest, ARenamedDirectoryIsStillWatched)
{
    TempDir dir("file-watch");
    ASSERT_EQ(mkdir(dir.File("level").c_str(), 0700), 0);
    FileWatch watch;
    std::string why;
    ASSERT_TRUE(watch.Add(dir.File("level/out.txt"), &why)) << why;
    ASSERT_EQ(std::rename(dir.File("level").c_str(), dir.File("moved").c_str()), 0);
    dir.Write("moved/out.txt", "new");
    EXPECT_EQ(Settled(watch), Paths{dir.File("level/out.txt")});
}

TEST(FileWatchTest, APathThatCannotBeWatchedIsRefusedWithTheReason)
{
    TempDir dir("file-watch");
    dir.Write("file", "");
    FileWatch watch;
    std::string why;
    EXPECT_FALSE(watch.Add(dir.File("missing/a"), &why));
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_FALSE(watch.Add(dir.File("file/a"), &why));
    EXPECT_EQ(why, "Not a directory");
    EXPECT_TRUE(watch.Add(dir.File("a"), &why)) << why;
}

// More events than the kernel queues: the lost ones may have been of any file, so every watched file is reported.
TEST(FileWatchTest, AnOverflowingQueueCountsEveryWatchedFileAsChanged)
{
    TempDir dir("file-watch");
    FileWatch watch;
    std::string why;
    ASSERT_TRUE(watch.Add(dir.File("a"), &why)) << why;
    ASSERT_TRUE(watch.Add(dir.File("b"), &why)) << why;
    // The kernel merges an event with the identical one before it, so two files take turns.
    for (int k = 0; k < 20000; ++k)
        close(open(dir.File(k % 2 ? "noise1" : "noise2").c_str(), O_WRONLY | O_CREAT, 0600));
    Paths settled;
    for (int64_t now = 0; settled.empty() && now < 100; ++now)
        settled = watch.Poll(now * 1000 * kMs);
    EXPECT_EQ(settled, (Paths{dir.File("a"), dir.File("b")}));
}

}  // namespace
