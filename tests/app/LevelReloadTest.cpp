// A level reloaded in the background and swapped in between frames, in the process with a real GL context: the
// geometry it swaps in is the one start-up builds from the same file, the viewer's state carries over, and a file
// that cannot become a level leaves the current one on screen with a line that says why.
#include "Console.h"
#include "GeometryBuild.h"
#include "GlTestContext.h"
#include "ImageDecoder.h"
#include "LevelReload.h"
#include "RenderGeometry.h"
#include "Startup.h"
#include "TestSupport.h"
#include "Viewer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::unique_ptr<Viewer> suiteViewer;

std::string Generate(const fs::path& directory, const std::string& options)
{
    const std::string command =
        std::string(VELMORA_LEVELGEN) + " --out " + directory.string() + " " + options + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return (directory / "out.txt").string();
}

std::size_t OpenDescriptors()
{
    return std::size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class LevelReloadTest : public testing::Test {
protected:
    // The start-up level (seed 1, eight lights) in the working directory with its images; a smaller one (seed 2,
    // four lights) and a copy of the first beside it, with the same material names.
    static void SetUpTestSuite()
    {
        directory = fs::temp_directory_path() / ("velmora-reload-" + std::to_string(getpid()));
        Generate(directory, "--missing-normal-maps");
        small = Generate(directory / "small", "--seed 2 --rooms 2 --missing-normal-maps --no-textures");
        large = (directory / "large.txt").string();
        fs::copy_file(directory / "out.txt", large);
        previous = fs::current_path();
        fs::current_path(directory);
        CreateGlTestContext(800, 600);
        suiteViewer = std::make_unique<Viewer>();
        ASSERT_TRUE(Init(*suiteViewer, LevelSearch::WorkingOnly).Ok());
    }

    static void TearDownTestSuite()
    {
        suiteViewer.reset();
        fs::current_path(previous);
        fs::remove_all(directory);
    }

    // Services the reload between "frames" until it has shown a level or said why not; returns what it printed.
    static std::string ServiceUntilSettled()
    {
        ConsoleCapture capture;
        std::string lines;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (lines.find("Done loading BSP file.") == std::string::npos &&
               lines.find(kKeepingCurrentLevel) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            ServiceLevelReload(*suiteViewer);
            lines += capture.Take();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return lines;
    }

    static std::string Reload(const std::string& path)
    {
        RequestLevelReload(*suiteViewer, path);
        return ServiceUntilSettled();
    }

    static Viewer& viewer() { return *suiteViewer; }

    static fs::path directory, previous;
    static std::string small, large;
};

fs::path LevelReloadTest::directory, LevelReloadTest::previous;
std::string LevelReloadTest::small, LevelReloadTest::large;

// What the draws read back from a render geometry: its vertex buffer's bytes, its index store and its batches.
struct DrawnGeometry {
    std::vector<unsigned char> vertices;
    std::vector<unsigned char> indices;
    std::vector<std::vector<std::size_t>> batches;  // diffuse, normal map, first index, index count

    explicit DrawnGeometry(const RenderGeometry& geometry) : indices(geometry.indexData)
    {
        GLint bytes = 0;
        glBindBufferARB(GL_ARRAY_BUFFER_ARB, geometry.vertexBuffer);
        glGetBufferParameterivARB(GL_ARRAY_BUFFER_ARB, GL_BUFFER_SIZE_ARB, &bytes);
        vertices.resize(std::size_t(bytes));
        glGetBufferSubDataARB(GL_ARRAY_BUFFER_ARB, 0, bytes, vertices.data());
        glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
        for (const DrawBatch& batch : geometry.batches)
            batches.push_back({batch.diffuseTexture, batch.normalMap, batch.firstIndex, batch.indexCount});
    }
};

}  // namespace

TEST_F(LevelReloadTest, TheSwappedInGeometryIsWhatStartUpBuildsFromTheFile)
{
    const std::size_t descriptors = OpenDescriptors();
    const std::string lines = Reload(small);
    // The level's lines in start-up's order; the textures are known already, so none is printed.
    const std::vector<std::string> expected = {"File opened\n", " nodes.\n", "4 lights.\n", "Done loading BSP file.\n",
                                               " triangles.\n"};
    std::size_t at = 0;
    for (const std::string& line : expected) {
        at = lines.find(line, at);
        ASSERT_NE(at, std::string::npos) << "\"" << line << "\" in order in:\n" << lines;
    }
    EXPECT_EQ(lines.find(kKeepingCurrentLevel), std::string::npos);

    // The same file through start-up's loader, with the texture cache's ids, built and uploaded.
    Level reference;
    ConsoleCapture quiet;
    ASSERT_TRUE(LoadLevelFile(reference, small, LevelTextures(viewer().renderer)).Ok());
    Result<BuiltGeometry> built = BuildGeometry(CollectRenderTriangles(reference.root));
    ASSERT_TRUE(built.Ok());
    RenderGeometry uploaded;
    UploadGeometry(uploaded, std::move(built.Value()));
    const DrawnGeometry fresh(uploaded), swapped(viewer().renderer.geometry);
    DeleteRenderGeometry(uploaded);
    EXPECT_EQ(swapped.batches, fresh.batches);
    EXPECT_TRUE(swapped.indices == fresh.indices);
    EXPECT_TRUE(swapped.vertices == fresh.vertices);
    // Materials without a normal map get "nonormal", as at start-up, not the checker.
    const GLuint nonormal = viewer().renderer.textures.loadedTextures.at("nonormal");
    EXPECT_TRUE(std::any_of(swapped.batches.begin(), swapped.batches.end(),
                            [&](const std::vector<std::size_t>& batch) { return batch[1] == nonormal; }));

    // The decoder ran only while the textures loaded, and nothing else stays open.
    EXPECT_EQ(ImageDecoderProcessId(), -1);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(LevelReloadTest, CameraAndOptionsStayAndTheSelectionWraps)
{
    Reload(large);
    ASSERT_EQ(viewer().level.lights.size(), 8u);
    viewer().camera.position = Vec3(100, -20, 35);
    viewer().camera.angleZ = 42;
    viewer().options.wireframe = true;
    viewer().options.selectedLight = 6;
    viewer().level.lights[1].currentPosition = Vec3(1, 2, 3);

    Reload(small);
    ASSERT_EQ(viewer().level.lights.size(), 4u);
    EXPECT_EQ(viewer().options.selectedLight, 2);
    EXPECT_TRUE(viewer().options.wireframe);
    EXPECT_EQ(viewer().camera.position.x, 100);
    EXPECT_EQ(viewer().camera.angleZ, 42);
    for (const Light& light : viewer().level.lights) {
        EXPECT_EQ(light.currentPosition.x, light.position.x);
        EXPECT_EQ(light.currentPosition.y, light.position.y);
    }
    // The next frame draws as a first one, with every shadow map rendered again.
    EXPECT_TRUE(viewer().renderer.frame.firstFrame);
    viewer().options = Options();
}

TEST_F(LevelReloadTest, AFileThatCannotBecomeALevelKeepsTheCurrentOne)
{
    Reload(large);
    const BspNode* const root = viewer().level.root;
    const fs::path fifo = directory / "fifo.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(directory / "folder");
    std::ofstream(directory / "broken.txt") << "BSP\nBBOXES\n( 0 0 0 ) ( 1 1 1 )\nENTITIES\nlight (1 2\n";
    const struct {
        std::string path;
        std::string line;
    } cases[] = {
        {fifo.string(), "Cannot read level file " + fifo.string() + ": not a regular file"},
        {(directory / "folder").string(),
         "Cannot read level file " + (directory / "folder").string() + ": not a regular file"},
        {(directory / "gone.txt").string(),
         "Cannot read level file " + (directory / "gone.txt").string() + ": No such file or directory"},
        {(directory / "broken.txt").string(), "Level file does not match at line 5"},
    };
    for (const auto& c : cases) {
        const std::string lines = Reload(c.path);
        EXPECT_NE(lines.find(c.line), std::string::npos) << lines;
        EXPECT_NE(lines.find(kKeepingCurrentLevel), std::string::npos) << lines;
        EXPECT_EQ(lines.find("Done loading BSP file."), std::string::npos) << lines;
        EXPECT_EQ(viewer().level.root, root) << c.path;
        EXPECT_EQ(viewer().level.lights.size(), 8u) << c.path;
    }
}

TEST_F(LevelReloadTest, OnlyTheNewestOfSeveralRequestsIsShown)
{
    Reload(large);
    RequestLevelReload(viewer(), small);
    RequestLevelReload(viewer(), (directory / "never.txt").string());
    RequestLevelReload(viewer(), large);
    std::string lines = ServiceUntilSettled();
    // Anything the superseded requests could still hand over comes within these frames.
    for (int frame = 0; frame < 100; ++frame) {
        ConsoleCapture capture;
        ServiceLevelReload(viewer());
        lines += capture.Take();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(lines.find("Done loading BSP file."), lines.rfind("Done loading BSP file.")) << lines;
    EXPECT_EQ(lines.find("never.txt"), std::string::npos) << lines;
    EXPECT_EQ(viewer().level.lights.size(), 8u);
}

// A tool writes the file while it is read: whatever that read makes of it, the read after the tool closed the file
// shows the complete level.
TEST_F(LevelReloadTest, TheCompleteVersionWinsOverOneReadWhileWritten)
{
    Reload(large);
    const std::string text = ReadFileText(small);
    const std::string target = (directory / "written.txt").string();
    std::thread writer([&] {
        std::ofstream out(target);
        for (std::size_t at = 0; at < text.size(); at += 4096) {
            out << text.substr(at, 4096) << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Reload(target);
    writer.join();
    const std::string lines = Reload(target);
    EXPECT_NE(lines.find("Done loading BSP file."), std::string::npos) << lines;
    EXPECT_EQ(viewer().level.lights.size(), 4u);
}
