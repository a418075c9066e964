// --watch with the real viewer: files rewritten while it runs are shown as a fresh start shows them, and hostile
// rewrites neither stop its frames nor win over the last complete file.
#include "SceneBuilder.h"
#include "ViewerTest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

// A floor of "white" and a back wall of "wall" facing the camera, lit by a still white light; the first light,
// the one the animation moves, is black and behind the camera, so that any two runs draw the same pixels. Behind
// the camera too, out of view, a quad whose texture lies in a directory that does not exist.
std::string WallLevel()
{
    SceneBuilder scene;
    scene.AddQuad("white", {-50, -400, -100}, {400, -400, -100}, {400, 400, -100}, {-50, 400, -100});
    scene.AddQuad("wall", {400, -400, -100}, {400, -400, 300}, {400, 400, 300}, {400, 400, -100});
    scene.AddQuad("absent/stone", {-300, 400, -100}, {-300, 400, 300}, {-300, -400, 300}, {-300, -400, -100});
    scene.AddLight({-100, 0, 0}, 10, {0, 0, 0});
    scene.AddLight({150, 120, 0}, 800, {1, 1, 1});
    return scene.Text();
}

size_t DescriptorCount(pid_t pid)
{
    std::error_code error;
    const fs::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
    return error ? 0 : std::distance(fs::begin(fds), fs::end(fds));
}

bool HasInotifyDescriptor(pid_t pid)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (fs::read_symlink(entry.path(), error).string() == "anon_inode:inotify")
            return true;
    return false;
}

// Writes a file as a tool does: the bytes into the name, then close.
void WriteText(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void CopyInto(const TempDir& dir, const std::string& from, const std::string& to)
{
    WriteText(dir.File(to), ReadFileText(dir.File(from)));
}

class WatchTest : public ViewerTest {
protected:
    // The scene with "wall" as white as the floor, watched.
    void StartWatching()
    {
        WriteSceneAssets(dir);
        CopyInto(dir, "white.tga", "wall.tga");
        ViewerOptions options;
        options.arguments = {"--watch"};
        Start(WallLevel(), options);
    }

    // Presses u and loads the screenshot, which the viewer writes to its working directory, `directory`.
    Image ShotIn(const std::string& directory)
    {
        const std::string path = viewer->Screenshot(directory + "/shot" + std::to_string(shots++) + ".jpg");
        EXPECT_FALSE(path.empty());
        Image image = LoadImage(path);
        // A black frame of the window's size keeps the comparisons in bounds when the shot failed above.
        if (image.rgb.empty())
            image = Image{800, 600, std::vector<unsigned char>(800 * 600 * 3)};
        return image;
    }

    // Screenshots until one differs from each of `before` (the viewer has acted on the change, not only on an
    // earlier one still on its way) or ten seconds pass; then the next one, of a frame drawn wholly after it.
    Image ShotOnceChanged(std::initializer_list<const Image*> before, std::string directory = "")
    {
        if (directory.empty())
            directory = dir.Path();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        const auto isBefore = [&](const Image& shot) {
            return std::any_of(before.begin(), before.end(),
                               [&](const Image* image) { return DifferingPixels(shot, *image) == 0; });
        };
        while (isBefore(ShotIn(directory)) && std::chrono::steady_clock::now() < end) {
        }
        return ShotIn(directory);
    }

    // What a fresh viewer, without --watch, shows of the directory as it is now.
    Image FreshShot()
    {
        viewer = std::make_unique<ViewerProcess>(dir);
        EXPECT_FALSE(viewer->WindowId().empty());
        EXPECT_TRUE(viewer->WaitForLine("Done loading BSP file."));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_FALSE(HasInotifyDescriptor(viewer->Pid())) << "a viewer without --watch watches";
        return Shot();
    }
};

TEST_F(WatchTest, ARewrittenImageIsShownAsAFreshStartShowsIt)
{
    StartWatching();
    EXPECT_TRUE(HasInotifyDescriptor(viewer->Pid()));
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "velmora-viewer: cannot watch 'absent/stone.dds': No such file or directory"),
              1);
    const Image before = Shot();
    // Renamed into place, as an image editor saves.
    CopyInto(dir, "ramp.tga", "wall.tmp");
    ASSERT_EQ(std::rename(dir.File("wall.tmp").c_str(), dir.File("wall.tga").c_str()), 0);
    const Image reloaded = ShotOnceChanged({&before});
    EXPECT_GT(DifferingPixels(reloaded, before), 10000);
    EXPECT_EQ(DifferingPixels(reloaded, FreshShot()), 0);
}

TEST_F(WatchTest, ARewrittenPostShaderIsShownAsAFreshStartShowsIt)
{
    StartWatching();
    const Image before = Shot();
    std::string post = ReadFileText(dir.File("post.cg"));
    const std::string graded = "return float4(lerp(scene, graded, gradeShare), 1);";
    ASSERT_NE(post.find(graded), std::string::npos);
    post.replace(post.find(graded), graded.size(), "return float4(1 - lerp(scene, graded, gradeShare), 1);");
    dir.Write("post.cg", post);
    const Image reloaded = ShotOnceChanged({&before});
    EXPECT_GT(DifferingPixels(reloaded, before), 100000);
    EXPECT_EQ(DifferingPixels(reloaded, FreshShot()), 0);
}

// A FIFO or a directory in the image's place, a file deleted and written again, a hundred rewrites in ten seconds
// and the level's directory renamed: the frames keep coming (each screenshot is a frame drawn) and what is shown in
// the end is the last complete image.
TEST_F(WatchTest, HostileRewritesNeitherStopTheFramesNorBeatTheLastCompleteImage)
{
    StartWatching();
    const Image white = Shot();
    // The decoder is started for each reload and stopped after it.
    const std::vector<std::string> children = ChildProcessNames(viewer->Pid());
    const size_t descriptors = DescriptorCount(viewer->Pid());

    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(std::rename(dir.File("fifo").c_str(), dir.File("wall.tga").c_str()), 0);
    EXPECT_TRUE(viewer->WaitForLine("Couldn't load texture \"wall\" (load image failed)", std::chrono::seconds(10)));
    EXPECT_EQ(DifferingPixels(Shot(), white), 0) << "the old image stays when the new one cannot be read";

    ASSERT_EQ(std::remove(dir.File("wall.tga").c_str()), 0);
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    ASSERT_EQ(std::rename(dir.File("sub").c_str(), dir.File("wall.tga").c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(DifferingPixels(Shot(), white), 0);
    ASSERT_EQ(rmdir(dir.File("wall.tga").c_str()), 0);

    CopyInto(dir, "ramp.tga", "wall.tga");
    const Image ramp = ShotOnceChanged({&white});
    EXPECT_GT(DifferingPixels(ramp, white), 10000);

    for (int k = 0; k < 100; ++k) {
        CopyInto(dir, k % 2 ? "white.tga" : "ramp.tga", "wall.tga");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (k == 50)
            Shot();
    }
    CopyInto(dir, "postprocess.tga", "wall.tga");
    // The storm's last images may still be shown when the first shot is taken.
    const Image grey = ShotOnceChanged({&ramp, &white});
    EXPECT_GT(DifferingPixels(grey, white), 10000);

    // The viewer's working directory moves with the rename, and so do the watches.
    const std::string moved = dir.Path() + "-moved";
    ASSERT_EQ(std::rename(dir.Path().c_str(), moved.c_str()), 0);
    WriteText(moved + "/wall.tga", ReadFileText(moved + "/white.tga"));
    const Image whiteAgain = ShotOnceChanged({&grey}, moved);
    ASSERT_EQ(std::rename(moved.c_str(), dir.Path().c_str()), 0);
    EXPECT_EQ(DifferingPixels(whiteAgain, white), 0);
    EXPECT_EQ(ChildProcessNames(viewer->Pid()), children);
    EXPECT_EQ(DescriptorCount(viewer->Pid()), descriptors);
    EXPECT_TRUE(viewer->Running());
    viewer.reset();
    EXPECT_EQ(DifferingPixels(whiteAgain, FreshShot()), 0);
}

}  // namespace
