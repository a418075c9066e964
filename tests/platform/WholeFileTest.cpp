// Files written whole or not at all, on an ordinary directory and on a small file system that fills up or turns
// read-only (mounted by the test, so only when it runs as root).
#include "WholeFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

int Write(const std::string& path, const std::string& text, bool replace)
{
    return WriteWholeFile(path, text.data(), text.size(), replace);
}

TEST(WholeFileTest, AnExistingFileIsReplacedOnlyWhenAskedAndNothingElseIsLeft)
{
    TempDir dir("whole-file");
    EXPECT_EQ(Write(dir.File("a.txt"), "first", false), 0);
    EXPECT_EQ(Write(dir.File("a.txt"), "second", false), EEXIST);
    EXPECT_EQ(ReadFileText(dir.File("a.txt")), "first");
    EXPECT_EQ(Write(dir.File("a.txt"), "third", true), 0);
    EXPECT_EQ(ReadFileText(dir.File("a.txt")), "third");
    EXPECT_EQ(Write(dir.File("absent/a.txt"), "x", true), ENOENT);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"a.txt"});
}

// A tmpfs of 64 KiB mounted over a fresh directory, unmounted when the object goes.
class SmallFileSystem {
public:
    SmallFileSystem() : dir_("whole-file-small")
    {
        if (mount("tmpfs", dir_.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
            problem_ = std::strerror(errno);
    }
    ~SmallFileSystem()
    {
        if (problem_.empty())
            umount2(dir_.Path().c_str(), MNT_DETACH);
    }
    const std::string& Problem() const { return problem_; }
    std::string File(const std::string& name) const { return dir_.File(name); }
    const std::string& Path() const { return dir_.Path(); }
    bool MakeReadOnly() const
    {
        return mount(nullptr, dir_.Path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
    }

private:
    TempDir dir_;
    std::string problem_;
};

TEST(WholeFileTest, AFailedWriteLeavesNoPartAndEarlierFilesAsTheyWere)
{
    SmallFileSystem small;
    if (!small.Problem().empty())
        GTEST_SKIP() << "cannot mount a tmpfs (" << small.Problem() << "); the test needs root";
    const std::string large(256 * 1024, 'x');
    ASSERT_EQ(Write(small.File("earlier.txt"), "earlier", true), 0);
    const struct {
        const char* name;
        bool replace;
    } cases[] = {{"new.txt", false}, {"new.txt", true}, {"earlier.txt", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.replace ? " replaced" : ""));
        EXPECT_EQ(Write(small.File(c.name), large, c.replace), ENOSPC);
        EXPECT_EQ(Names(small.Path()), std::vector<std::string>{"earlier.txt"});
        EXPECT_EQ(ReadFileText(small.File("earlier.txt")), "earlier");
    }
    ASSERT_TRUE(small.MakeReadOnly());
    EXPECT_EQ(Write(small.File("earlier.txt"), "later", true), EROFS);
    EXPECT_EQ(ReadFileText(small.File("earlier.txt")), "earlier");
}

}  // namespace
