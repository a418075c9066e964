// Start-ups with the viewer's cache directory empty, filled by an earlier start and then spoiled: the console lines
// and the program dumps are the same every time, and only the start that finds whole kept results does without a
// compile process. The image follows from the programs and the short-cut decision (ShortCutCacheTest compares the
// kept decision with the probes'); a screenshot here would show how far the lights moved before the keys that stop
// them arrived, which depends on how fast the start was.
#include "ViewerTest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kDumps[] = {"shaderFP.txt", "shaderVP.txt", "shadowFP.txt", "shadowVP.txt", "postFP.txt"};

struct Outputs {
    std::vector<std::string> lines;
    std::map<std::string, std::string> dumps;
    bool compiler = false;
};

class KeptResultsTest : public ViewerTest {
protected:
    Outputs StartOnce()
    {
        for (const char* dump : kDumps)
            fs::remove(dir.File(dump));
        ViewerOptions options;
        options.environment["XDG_CACHE_HOME"] = cacheHome.Path();
        viewer = std::make_unique<ViewerProcess>(dir, options);
        Outputs outputs;
        EXPECT_FALSE(viewer->WindowId().empty());
        // The first frame has been drawn once a screenshot of it exists.
        EXPECT_FALSE(viewer->Screenshot("shot0.jpg").empty());
        fs::remove(dir.File("shot0.jpg"));
        // Alive, not a zombie: a compile process that died with the thread that started it would still be listed.
        outputs.compiler =
            !CommandOutput("pgrep -r R,S,D -P " + std::to_string(viewer->Pid()) + " -x velmora-compile").empty();
        outputs.lines = viewer->Lines();
        for (const char* dump : kDumps)
            outputs.dumps[dump] = ReadFileText(dir.File(dump));
        viewer.reset();
        return outputs;
    }

    TempDir cacheHome{"kept-results"};
};

TEST_F(KeptResultsTest, ColdWarmAndSpoiledCachesGiveTheSameStartUp)
{
    SceneBuilder scene;
    scene.AddBox("white", {-200, -200, -200}, {200, 200, 200}, true);
    scene.AddLight({100, 0, 0}, 400, {1, 1, 1});
    scene.AddLight({-120, 50, 30}, 300, {0.5, 0.25, 1});
    WriteSceneAssets(dir);
    dir.Write("out.txt", scene.Text());

    const Outputs cold = StartOnce();
    EXPECT_TRUE(cold.compiler);
    for (const char* dump : kDumps)
        EXPECT_FALSE(cold.dumps.at(dump).empty()) << dump;
    const fs::path kept = cacheHome.File("velmora-viewer");
    ASSERT_TRUE(fs::is_directory(kept));

    const Outputs warm = StartOnce();
    EXPECT_FALSE(warm.compiler) << "the kept programs were compiled again";

    // Every kept entry damaged in its last byte: each is a miss, compiled or probed again.
    for (const auto& entry : fs::directory_iterator(kept)) {
        std::string bytes = ReadFileText(entry.path());
        ASSERT_FALSE(bytes.empty());
        bytes.back() ^= 0x5a;
        std::ofstream(entry.path(), std::ios::binary | std::ios::trunc) << bytes;
    }
    const Outputs spoiled = StartOnce();
    EXPECT_TRUE(spoiled.compiler);

    for (const Outputs* run : {&warm, &spoiled}) {
        EXPECT_EQ(run->lines, cold.lines);
        EXPECT_EQ(run->dumps, cold.dumps);
    }
}

}  // namespace
