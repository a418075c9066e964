#include "LevelTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A fresh directory with a "work" folder beside a "Velmora" folder; the test runs inside "work".
class LoadLevelTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/level-load-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root / "work");
        fs::create_directories(root / "Velmora");
        previous = fs::current_path();
        fs::current_path(root / "work");
    }

    void TearDown() override
    {
        fs::current_path(previous);
        fs::remove_all(root);
    }

    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

    // The example level with `extra` more lights, so the count tells the files apart.
    static std::string LevelWithLights(int extra)
    {
        std::string text = kExampleLevel;
        std::string lights;
        for (int i = 0; i < extra; ++i) {
            lights += "extra 1 2 3 4 5 6 7\n";
        }
        return text.insert(text.find("LEAF"), lights);
    }

    std::string Load(Level& level, LevelSearch search = LevelSearch::ParentThenWorking)
    {
        const TextureSource source = textures.Source();
        return CaptureStdout([&] { EXPECT_TRUE(LoadLevel(level, source, search).Ok()); });
    }

    fs::path root;
    fs::path previous;
    TextureTable textures;
};

TEST_F(LoadLevelTest, PrefersTheToolDirectoryThenTheWorkingDirectory)
{
    Write(root / "Velmora" / "out.txt", LevelWithLights(2));
    Write(root / "work" / "out.txt", LevelWithLights(0));
    textures.known = {{"stone", 2}, {"stone_normal", 3}};

    Level level;
    EXPECT_EQ(Load(level), "File opened\n1 nodes.\n3 lights.\n");
    const BspNode* first = level.root;
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(level.lights.size(), 3u);

    fs::remove(root / "Velmora" / "out.txt");
    Level fallback;
    EXPECT_EQ(Load(fallback), "File opened\n1 nodes.\n1 lights.\n");
    EXPECT_EQ(fallback.lights.size(), 1u);

    // A second load into the same level keeps the first tree usable.
    EXPECT_EQ(Load(level), "File opened\n1 nodes.\n4 lights.\n");
    EXPECT_EQ(CollectTriangles(first).size(), 2u);
    EXPECT_EQ(CollectTriangles(level.root).size(), 2u);
}

TEST_F(LoadLevelTest, ReadsTheFileOnlyUpToANulByte)
{
    std::string text = LevelWithLights(1);
    text.insert(text.find("LEAF"), std::string("\0", 1));
    Write(root / "work" / "out.txt", text);

    Level level;
    EXPECT_EQ(Load(level), "File opened\nLevel file does not match at line 8, column 1\n2 lights.\n");
    EXPECT_EQ(level.root, nullptr);
}

TEST_F(LoadLevelTest, AMissingFileOrOneThatIsNotRegularIsAFailureForTheCallerToReport)
{
    const auto expectNotFound = [&](const char* what) {
        Level level;
        Outcome status;
        EXPECT_EQ(CaptureStdout([&] { status = LoadLevel(level, textures.Source()); }), "") << what;
        EXPECT_EQ(status.Reason(), FailureReason::NotFound) << what;
        EXPECT_EQ(status.Message(), "Error opening file") << what;
        EXPECT_TRUE(level.lights.empty() && level.parseStates.empty()) << what;
    };
    expectNotFound("no file");
    // A FIFO would block the open for ever; a directory opens but cannot be read.
    ASSERT_EQ(mkfifo((root / "Velmora" / "out.txt").c_str(), 0600), 0);
    fs::create_directory(root / "work" / "out.txt");
    expectNotFound("a FIFO and a directory");
}

TEST_F(LoadLevelTest, ALevelDirectoryNamedOnTheCommandLineIgnoresTheToolDirectory)
{
    Write(root / "Velmora" / "out.txt", LevelWithLights(2));
    textures.known = {{"stone", 2}, {"stone_normal", 3}};
    Level missing;
    EXPECT_EQ(LoadLevel(missing, textures.Source(), LevelSearch::WorkingOnly).Reason(), FailureReason::NotFound);

    Write(root / "work" / "out.txt", LevelWithLights(0));
    Level level;
    EXPECT_EQ(Load(level, LevelSearch::WorkingOnly), "File opened\n1 nodes.\n1 lights.\n");
}

}  // namespace
