// The viewer's writes on a file system that is full: screenshots and program dumps are whole or absent, earlier files
// stay as they were, and each failure gives its reason. The test mounts a small tmpfs, so it runs only as root.
#include "SceneBuilder.h"
#include "ViewerTest.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

class FullDiskTest : public ViewerTest {
protected:
    void TearDown() override
    {
        viewer.reset();
        if (mounted)
            umount2(dir.Path().c_str(), MNT_DETACH);
    }

    // Writes to a file in the working directory until the file system refuses.
    void Fill()
    {
        const int fd = open(dir.File("filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::vector<char> chunk(64 * 1024, 'x');
        while (write(fd, chunk.data(), chunk.size()) > 0) {
        }
        close(fd);
    }

    std::vector<std::string> HiddenFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename();
            if (name[0] == '.' && name != ".viewer-output")
                names.push_back(name);
        }
        return names;
    }

    TempDir outside{"full-disk-output"};
    bool mounted = false;
};

bool EndsLikeAJpeg(const std::string& path)
{
    const std::string bytes = ReadFileText(path);
    return bytes.size() > 4 && bytes.compare(0, 2, "\xFF\xD8") == 0 &&
           bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

}  // namespace

TEST_F(FullDiskTest, WritesOnAFullFileSystemAreWholeOrAbsentAndSayWhy)
{
    if (mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=8m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (" << std::strerror(errno) << "); the test needs root";
    mounted = true;
    // The viewer's console goes to a file elsewhere, so that a full disk does not swallow its lines.
    fs::create_symlink(outside.File("viewer-output"), dir.File(".viewer-output"));
    SceneBuilder scene;
    scene.AddBox("white", {-200, -200, -200}, {200, 200, 200}, true);
    scene.AddLight({100, 0, 0}, 400, {1, 1, 1});
    Start(scene.Text());
    const std::string dump = ReadFileText(dir.File("shaderFP.txt"));
    ASSERT_FALSE(dump.empty());

    Fill();
    viewer->Key("u");
    EXPECT_TRUE(viewer->WaitForLine("Could not save screenshot shot0.jpg", std::chrono::seconds(10)));
    EXPECT_TRUE(viewer->WaitForLine("velmora-viewer: could not write shot0.jpg: No space left on device"));
    EXPECT_FALSE(dir.Exists("shot0.jpg"));
    // A reload writes the dumps again: each keeps its earlier text.
    viewer->Key("r");
    EXPECT_TRUE(viewer->WaitForLine("velmora-viewer: could not write shaderFP.txt: No space left on device"));
    EXPECT_EQ(ReadFileText(dir.File("shaderFP.txt")), dump);
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{}) << "a temporary file was left";

    fs::remove(dir.File("filler"));
    const std::string shot = viewer->Screenshot("shot1.jpg");
    ASSERT_FALSE(shot.empty());
    EXPECT_TRUE(EndsLikeAJpeg(shot));
    EXPECT_EQ(LoadImage(shot).width, 800);
    EXPECT_TRUE(viewer->Running());
}
