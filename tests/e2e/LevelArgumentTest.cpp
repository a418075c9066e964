// The viewer started from another directory with a level named on its command line runs in the level's directory:
// it reads that directory's out.txt, images and shader files (not ../Velmora/out.txt, not the working directory's),
// and saves its screenshots there. Without a level it ends with a line that says where it looked.
#include "SceneBuilder.h"
#include "ViewerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

// A lit wall facing the start view, with `lights` lights so that the lights line tells levels apart.
std::string WallLevel(int lights)
{
    SceneBuilder scene;
    scene.AddQuad("white", {400, -400, -100}, {400, -400, 300}, {400, 400, 300}, {400, 400, -100});
    for (int k = 0; k < lights; ++k)
        scene.AddLight({150, 0, 0}, 800, {1, 1, 1});
    return scene.Text();
}

// root/level holds the level with its images and shader files; root/Velmora/out.txt is another level that a start
// without an argument in root/level would prefer.
struct LevelTree {
    LevelTree()
    {
        WriteSceneAssets(root);
        fs::create_directories(level);
        for (const fs::directory_entry& entry : fs::directory_iterator(root.Path()))
            if (entry.is_regular_file())
                fs::copy_file(entry.path(), level / entry.path().filename());
        fs::create_directories(root.File("Velmora"));
        root.Write("Velmora/out.txt", WallLevel(2));
        root.Write("level/out.txt", WallLevel(1));
    }

    TempDir root;
    fs::path level = root.File("level");
};

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(LevelArgument, TheNamedLevelIsShownAndItsScreenshotSavedInItsDirectory)
{
    TempDir elsewhere;
    elsewhere.Write("out.txt", WallLevel(3));
    for (const char* form : {"directory", "out.txt", "relative directory"}) {
        SCOPED_TRACE(form);
        LevelTree tree;
        const std::string name = form == std::string("directory") ? tree.level.string()
                                 : form == std::string("out.txt") ? (tree.level / "out.txt").string()
                                                                  : fs::relative(tree.level, elsewhere.Path()).string();
        ViewerOptions options;
        options.arguments = {name};
        ViewerProcess viewer(elsewhere, options);
        ASSERT_FALSE(viewer.WindowId().empty());
        ASSERT_TRUE(viewer.WaitForLine("Done loading BSP file."));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const std::vector<std::string> lines = viewer.Lines();
        EXPECT_TRUE(HasLine(lines, "1 lights.")) << "another level was read";
        for (const std::string& line : lines)
            EXPECT_EQ(line.rfind("Couldn't load texture", 0), std::string::npos) << line;

        const std::string shot = viewer.Screenshot((tree.level / "shot0.jpg").string());
        ASSERT_FALSE(shot.empty());
        EXPECT_FALSE(elsewhere.Exists("shot0.jpg"));
        const Image image = LoadImage(shot);
        ASSERT_EQ(image.width, 800);
        // The lit wall, far brighter than the grey the window is cleared to.
        EXPECT_GT(Brightness(image, 400, 300), 120.0);
    }
}

TEST(LevelArgument, ADirectoryWithoutALevelEndsWithTheLineThatSaysWhereItLooked)
{
    TempDir elsewhere;
    elsewhere.Write("out.txt", WallLevel(1));
    TempDir empty;
    ViewerOptions options;
    options.arguments = {empty.Path()};
    ViewerProcess viewer(elsewhere, options);
    EXPECT_EQ(viewer.WaitForExit(), 1);
    const std::vector<std::string> lines = viewer.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Error opening file");
    EXPECT_EQ(lines.back(), "velmora-viewer: no level found: tried " + fs::canonical(empty.Path()).string() +
                                "/out.txt (No such file or directory); make one with 'velmora-levelgen --out DIR', "
                                "then run 'velmora-viewer DIR'");
}
