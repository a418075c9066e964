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
    void SetUp() override {
        char pattern[] = "/tmp/level-load-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root / "work");
        fs::create_directories(root / "Velmora");
        previous = fs::current_path();
        fs::current_path(root / "work");
    }

    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(root);
    }

    static void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    // The example level with `extra` more lights, so the count tells the files apart.
    static std::string LevelWithLights(int extra) {
        std::string text = kExampleLevel;
        std::string lights;
        for (int i = 0; i < extra; ++i) {
            lights += "extra 1 2 3 4 5 6 7\n";
        }
        return text.insert(text.find("LEAF"), lights);
    }

    std::string Load(std::vector<Light>& lights, BspNode*& root,
                     LevelSearch search = LevelSearch::ParentThenWorking, bool* found = nullptr) {
        std::vector<BoundingBox> boxes;
        const TextureSource source = textures.Source();
        return CaptureStdout([&] { root = LoadLevel(lights, boxes, source, search, found); });
    }

    fs::path root;
    fs::path previous;
    TextureTable textures;
};

TEST_F(LoadLevelTest, PrefersTheToolDirectoryThenTheWorkingDirectory) {
    Write(root / "Velmora" / "out.txt", LevelWithLights(2));
    Write(root / "work" / "out.txt", LevelWithLights(0));
    textures.known = {{"stone", 2}, {"stone_normal", 3}};

    std::vector<Light> lights;
    BspNode* tree = nullptr;
    EXPECT_EQ(Load(lights, tree), "File opened\n1 nodes.\n3 lights.\n");
    EXPECT_NE(tree, nullptr);
    EXPECT_EQ(lights.size(), 3u);

    fs::remove(root / "Velmora" / "out.txt");
    std::vector<Light> fallbackLights;
    EXPECT_EQ(Load(fallbackLights, tree), "File opened\n1 nodes.\n1 lights.\n");
    EXPECT_EQ(fallbackLights.size(), 1u);
    // The first tree stays usable after a second load.
    EXPECT_EQ(CollectTriangles(tree).size(), 2u);
}

TEST_F(LoadLevelTest, ReadsTheFileOnlyUpToANulByte) {
    std::string text = LevelWithLights(1);
    text.insert(text.find("LEAF"), std::string("\0", 1));
    Write(root / "work" / "out.txt", text);

    std::vector<Light> lights;
    BspNode* tree = nullptr;
    EXPECT_EQ(Load(lights, tree), "File opened\nLevel file does not match at line 8, column 1\n2 lights.\n");
    EXPECT_EQ(tree, nullptr);
}

TEST_F(LoadLevelTest, NoRegularFileIsAFailureReturnedAfterOneLine) {
    const auto expectNotFound = [&](LevelSearch search, const char* what) {
        std::vector<Light> lights;
        BspLeaf sentinel;
        BspNode* tree = &sentinel;
        bool found = true;
        EXPECT_EQ(Load(lights, tree, search, &found), "Error opening file\n") << what;
        EXPECT_FALSE(found) << what;
        EXPECT_EQ(tree, nullptr) << what;
    };
    expectNotFound(LevelSearch::ParentThenWorking, "no file");
    // A FIFO would block the open for ever; a directory opens but cannot be read.
    ASSERT_EQ(mkfifo((root / "Velmora" / "out.txt").c_str(), 0600), 0);
    fs::create_directory(root / "work" / "out.txt");
    expectNotFound(LevelSearch::ParentThenWorking, "a FIFO and a directory");
}

TEST_F(LoadLevelTest, ALevelDirectoryNamedOnTheCommandLineIgnoresTheToolDirectory) {
    Write(root / "Velmora" / "out.txt", LevelWithLights(2));
    textures.known = {{"stone", 2}, {"stone_normal", 3}};
    std::vector<Light> lights;
    BspNode* tree = nullptr;
    bool found = true;
    EXPECT_EQ(Load(lights, tree, LevelSearch::WorkingOnly, &found), "Error opening file\n");
    EXPECT_FALSE(found);

    Write(root / "work" / "out.txt", LevelWithLights(0));
    EXPECT_EQ(Load(lights, tree, LevelSearch::WorkingOnly, &found), "File opened\n1 nodes.\n1 lights.\n");
    EXPECT_TRUE(found);
}

}  // namespace
