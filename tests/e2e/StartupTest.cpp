#include "ViewerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// Mesa prints its own warning on standard output when an override names an extension it always offers.
std::vector<std::string> ViewerLines(const ViewerProcess& viewer)
{
    std::vector<std::string> lines;
    for (const std::string& line : viewer.Lines())
        if (line.rfind("Warning: extension", 0) != 0)
            lines.push_back(line);
    return lines;
}

// Which of the three required extensions the driver offers under the given override, asked of a separate probe.
std::string ProbeExtensions(const std::string& override)
{
    const std::string output =
        CommandOutput("MESA_EXTENSION_OVERRIDE='" + override + "' " VELMORA_PROBE_PATH " 2>/dev/null");
    const size_t line = output.rfind("probe ");
    return line == std::string::npos ? std::string() : output.substr(line + 6, 5);
}

}  // namespace

TEST(Startup, MissingImagesAreReportedOnceEachAndTheViewerKeepsRunning)
{
    TempDir dir;
    dir.Write("out.txt",
              "BSP BBOXES (0 0 0)(1 1 1) ENTITIES l 0 0 0 1 1 1 1\n"
              "LEAF t|(0 0 0)(0 0 0)|0 |(9 0 0) 0 0 0 0 |(9 1 0) 0 0 0 0 |(9 0 1) 0 0 0 0\n"
              "NODE (1 0 0) 0 L0 L0\n");
    ViewerProcess viewer(dir);
    ASSERT_FALSE(viewer.WindowId().empty());
    ASSERT_TRUE(viewer.WaitForLine("Couldn't load texture \"ramp\" (load image failed)"));
    const std::vector<std::string> lines = ViewerLines(viewer);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Couldn't load texture \"postprocess\" (load image failed)");
    EXPECT_EQ(lines[1], "Couldn't load texture \"ramp\" (load image failed)");
    EXPECT_EQ(viewer.WaitForExit(std::chrono::milliseconds(1500)), -1) << "the viewer stopped";
}

TEST(Startup, AMissingLevelFileEndsStartUpWithExitCode1)
{
    TempDir dir;
    ViewerProcess viewer(dir);
    EXPECT_EQ(viewer.WaitForExit(), 1);
    const std::vector<std::string> lines = ViewerLines(viewer);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Error opening file");
    EXPECT_EQ(lines.back().rfind("velmora-viewer: no level found: ", 0), 0u) << lines.back();
}

// The optimiser's scratch for a level of one large material cannot be had: start-up says so in one line and ends
// with exit code 1, where an exception used to end the process.
TEST(Startup, RefusedOptimiserMemoryEndsStartUpWithOneLineAndExitCode1)
{
    if (kUnderAddressSanitizer)
        GTEST_SKIP() << "under AddressSanitizer the scratch comes from the sanitizer's heap";
    TempDir dir;
    int status = -1;
    CommandOutput(std::string(VELMORA_LEVELGEN) + " --out " + dir.Path() + " --materials 1 --triangles 100000",
                  &status);
    ASSERT_EQ(status, 0);
    ViewerProcess viewer(dir, {{{"LD_PRELOAD", VELMORA_REFUSE_LARGE_BLOCKS}}});
    EXPECT_EQ(viewer.WaitForExit(std::chrono::seconds(120)), 1);
    const std::vector<std::string> lines = ViewerLines(viewer);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Out of memory while ordering the triangles for the vertex cache.");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines.back()), 1);
}

TEST(Startup, TheFirstMissingExtensionIsReportedAloneWithExitCode1)
{
    const struct {
        const char* override;
    } cases[] = {{"-GL_NV_texture_rectangle"},
                 {"-GL_EXT_framebuffer_object -GL_NV_texture_rectangle"},
                 {"-GL_ARB_vertex_buffer_object"}};
    const char* messages[] = {"Requires GL_ARB_vertex_buffer_object support!",
                              "Requires GL_EXT_framebuffer_object. Try upgrading to forceware 75.90 beta drivers!",
                              "Requires NV_texture_rectangle"};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.override);
        // The driver decides what an override removes (Mesa cannot drop some extensions alone), so the
        // expectation follows what the driver then offers.
        const std::string present = ProbeExtensions(testCase.override);
        ASSERT_EQ(present.size(), 5u);
        const size_t firstMissing = present.find('0');
        ASSERT_NE(firstMissing, std::string::npos) << "the override removed nothing: " << present;

        TempDir dir;
        ViewerProcess viewer(dir, {{{"MESA_EXTENSION_OVERRIDE", testCase.override}}});
        EXPECT_EQ(viewer.WaitForExit(), 1);
        EXPECT_EQ(ViewerLines(viewer), std::vector<std::string>{messages[firstMissing / 2]});
    }
}

TEST(Startup, RemovingOnlyRectangleTexturesReportsThem)
{
    ASSERT_EQ(ProbeExtensions("-GL_NV_texture_rectangle"), "1 1 0");
    TempDir dir;
    ViewerProcess viewer(dir, {{{"MESA_EXTENSION_OVERRIDE", "-GL_NV_texture_rectangle"}}});
    EXPECT_EQ(viewer.WaitForExit(), 1);
    EXPECT_EQ(ViewerLines(viewer), std::vector<std::string>{"Requires NV_texture_rectangle"});
}
