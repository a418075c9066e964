// The result cache as a file that anyone may have damaged, replaced or be writing at the same time: every entry
// that is not exactly what was stored for exactly this key is a miss, and a cache that cannot be written is skipped.
#include "ResultCache.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

// The one entry file in directory (the test stores one key at a time).
std::string OnlyEntry(const std::string& directory)
{
    std::string found;
    for (const auto& entry : fs::directory_iterator(directory)) {
        EXPECT_TRUE(found.empty()) << "more than one file in " << directory;
        found = entry.path();
    }
    return found;
}

void Overwrite(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool Load(const std::string& directory, const std::string& key, std::string& value, std::size_t limit = 1 << 20)
{
    return LoadCachedResult(directory, "test", key, limit, value);
}

TEST(ResultCacheTest, AStoredValueIsFoundUnderItsKeyOnly)
{
    TempDir dir("result-cache");
    const std::string binary("va\0lue\xff", 7);
    StoreCachedResult(dir.Path(), "test", "key one", binary);
    std::string value;
    ASSERT_TRUE(Load(dir.Path(), "key one", value));
    EXPECT_EQ(value, binary);
    EXPECT_FALSE(Load(dir.Path(), "key two", value));
    EXPECT_FALSE(LoadCachedResult(dir.Path(), "other", "key one", 1 << 20, value));
    StoreCachedResult(dir.Path(), "test", "key one", "newer");
    ASSERT_TRUE(Load(dir.Path(), "key one", value));
    EXPECT_EQ(value, "newer");
}

// Each case changes the stored entry for "the key" (holding "the value") and expects a miss, quickly and without
// an allocation sized by the file.
TEST(ResultCacheTest, DamagedTruncatedOversizedStaleOrForeignEntriesAreMisses)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& entry, const std::string& directory)> spoil;
        std::size_t limit;
    };
    const auto bytes = [](const std::string& path) { return ReadFileText(path); };
    const Case cases[] = {
        {"one value byte changed",
         [&](const std::string& e, const std::string&) {
             std::string b = bytes(e);
             b[b.size() - 12] ^= 1;
             Overwrite(e, b);
         },
         1 << 20},
        {"checksum changed",
         [&](const std::string& e, const std::string&) {
             std::string b = bytes(e);
             b.back() ^= 0x40;
             Overwrite(e, b);
         },
         1 << 20},
        {"truncated by one byte",
         [&](const std::string& e, const std::string&) { Overwrite(e, bytes(e).substr(0, bytes(e).size() - 1)); },
         1 << 20},
        {"truncated to half", [&](const std::string& e, const std::string&) { Overwrite(e, bytes(e).substr(0, 20)); },
         1 << 20},
        {"empty", [&](const std::string& e, const std::string&) { Overwrite(e, ""); }, 1 << 20},
        {"a byte appended", [&](const std::string& e, const std::string&) { Overwrite(e, bytes(e) + "x"); }, 1 << 20},
        {"value longer than the caller allows", [](const std::string&, const std::string&) {}, 4},
        {"sparse 8 GiB file",
         [](const std::string& e, const std::string&) { ASSERT_EQ(truncate(e.c_str(), 8LL << 30), 0); }, 1 << 20},
        {"value size field huge",
         [&](const std::string& e, const std::string&) {
             std::string b = bytes(e);
             b[8 + 8 + 7 + 7] = '\x7f';  // top byte of the value's size, after the magic, key size and key
             Overwrite(e, b);
         },
         1 << 20},
        {"another key's entry under this name",
         [&](const std::string& e, const std::string& d) {
             StoreCachedResult(d + "/other", "test", "the kez", "the value");
             fs::copy_file(OnlyEntry(d + "/other"), e, fs::copy_options::overwrite_existing);
         },
         1 << 20},
        {"a directory", [](const std::string& e, const std::string&) { fs::remove(e), fs::create_directory(e); },
         1 << 20},
        {"a FIFO", [](const std::string& e, const std::string&) { fs::remove(e), mkfifo(e.c_str(), 0600); }, 1 << 20},
        {"a link to /dev/zero",
         [](const std::string& e, const std::string&) { fs::remove(e), fs::create_symlink("/dev/zero", e); }, 1 << 20},
    };
    for (const Case& c : cases) {
        TempDir dir("result-cache");
        const std::string entries = dir.File("entries");
        StoreCachedResult(entries, "test", "the key", "the value");
        c.spoil(OnlyEntry(entries), dir.Path());
        std::string value = "untouched";
        EXPECT_FALSE(Load(entries, "the key", value, c.limit)) << c.name;
        EXPECT_EQ(value, "untouched") << c.name;
        // The next store puts a whole entry back, whatever was there.
        if (!fs::is_directory(OnlyEntry(entries))) {
            StoreCachedResult(entries, "test", "the key", "the value");
            EXPECT_TRUE(Load(entries, "the key", value)) << c.name;
        }
    }
}

TEST(ResultCacheTest, ADirectoryThatCannotBeMadeOrWrittenIsSkipped)
{
    TempDir dir("result-cache");
    dir.Write("file", "x");
    for (const std::string& directory :
         {dir.File("file") + "/cache", std::string("/proc/velmora-cache"), std::string()}) {
        StoreCachedResult(directory, "test", "key", "value");
        std::string value;
        EXPECT_FALSE(Load(directory, "key", value)) << directory;
    }
    EXPECT_EQ(ReadFileText(dir.File("file")), "x");
}

TEST(ResultCacheTest, TwoWritersAndAReaderSeeWholeEntriesOnly)
{
    TempDir dir("result-cache");
    const std::string values[2] = {std::string(100000, 'a'), std::string(150000, 'b')};
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            for (int i = 0; i < 200; ++i)
                StoreCachedResult(dir.Path(), "test", "shared key", values[w]);
            _exit(0);
        }
    }
    // Reads for as long as either writer runs.
    int running = 2;
    int statuses[2] = {-1, -1};
    while (running > 0) {
        std::string value;
        if (Load(dir.Path(), "shared key", value)) {
            ASSERT_TRUE(value == values[0] || value == values[1]) << "a mixed or partial value of " << value.size();
        }
        for (int w = 0; w < 2; ++w) {
            int status = 0;
            if (statuses[w] == -1 && waitpid(writers[w], &status, WNOHANG) == writers[w]) {
                statuses[w] = status;
                --running;
            }
        }
    }
    for (int status : statuses)
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string value;
    EXPECT_TRUE(Load(dir.Path(), "shared key", value));
    OnlyEntry(dir.Path());  // no file written aside is left
}

TEST(ResultCacheTest, TheDirectoryFollowsXdgCacheHomeThenHome)
{
    const std::string xdg = std::getenv("XDG_CACHE_HOME") ? std::getenv("XDG_CACHE_HOME") : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    } const cases[] = {
        {"/x/cache", "/home/u", "/x/cache/velmora-viewer"},
        {"relative", "/home/u", "/home/u/.cache/velmora-viewer"},
        {nullptr, "/home/u", "/home/u/.cache/velmora-viewer"},
        {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        c.xdg ? setenv("XDG_CACHE_HOME", c.xdg, 1) : unsetenv("XDG_CACHE_HOME");
        c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        EXPECT_EQ(ResultCacheDirectory(), c.expected);
    }
    xdg.empty() ? unsetenv("XDG_CACHE_HOME") : setenv("XDG_CACHE_HOME", xdg.c_str(), 1);
    home.empty() ? unsetenv("HOME") : setenv("HOME", home.c_str(), 1);
}

}  // namespace
