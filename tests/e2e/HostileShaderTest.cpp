#include "SceneBuilder.h"
#include "ViewerTest.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

using HostileShaderTest = ViewerTest;

std::string LitRoom()
{
    SceneBuilder scene;
    scene.AddBox("white", {-200, -200, -200}, {200, 200, 200}, true);
    scene.AddLight({100, 0, 0}, 400, {1, 1, 1});
    return scene.Text();
}

// Macros that expand for far longer than a compile may take.
std::string DoublingMacros(int levels)
{
    std::string text = "#define M0 x\n";
    for (int i = 1; i <= levels; ++i)
        text += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + " M" + std::to_string(i - 1) + "\n";
    return text + "float4 vertexmain() : POSITION { M" + std::to_string(levels) + "; return 0; }\n" +
           "float4 fragmain() : COLOR { M" + std::to_string(levels) + "; return 0; }\n";
}

bool HasLineWith(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&text](const std::string& line) { return line.find(text) != std::string::npos; });
}

double MeanDifference(const Image& a, const Image& b)
{
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 255;
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        sum += std::abs(a.rgb[i] - b.rgb[i]);
    return sum / static_cast<double>(a.rgb.size());
}

}  // namespace

TEST_F(HostileShaderTest, HostileFilesAtStartUpAreReportedAndFramesGoOn)
{
    WriteSceneAssets(dir);
    std::remove(dir.File("shader.cg").c_str());
    ASSERT_EQ(mkfifo(dir.File("shader.cg").c_str(), 0600), 0);
    dir.Write("ambient.cg", "float4 vertexmain() : POSITION { return " + std::string(4000, '(') + "0" +
                                std::string(4000, ')') + "; }\n");
    // Compiled last: the time of start-up's compiles runs out in its compile.
    dir.Write("post.cg", DoublingMacros(40));
    dir.Write("out.txt", LitRoom());
    viewer = std::make_unique<ViewerProcess>(dir);
    ASSERT_FALSE(viewer->WindowId().empty());
    ASSERT_TRUE(viewer->WaitForLine("Could not load parameter warpTexCoords for the fragment shader of post.cg"));
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_TRUE(HasLineWith(lines, "shader.cg is not a regular file"));
    EXPECT_TRUE(HasLineWith(lines, "ambient.cg: nesting too deep"));
    EXPECT_TRUE(HasLineWith(lines, "post.cg: the compiles took longer than 5 s in all"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_FALSE(Shot().rgb.empty());
    EXPECT_TRUE(viewer->Running());
}

TEST_F(HostileShaderTest, HostileFilesOnReloadAreReportedAndAFixedFileDrawsAsBefore)
{
    Start(LitRoom());
    Keys({"space", "t"});  // a still scene: light and post-processing clock stopped
    const Image before = Shot();
    const std::string shader = dir.File("shader.cg") + ".good";
    std::rename(dir.File("shader.cg").c_str(), shader.c_str());
    std::string sum = "float4 vertexmain(uniform float4 a) : POSITION { return a";
    for (int i = 0; i < 20000; ++i)
        sum += " + a";
    dir.Write("shader.cg", sum + "; }\n");
    dir.Write("shadow.cg",
              "uniform float4 big[100000000];\n"
              "float4 vertexmain(uniform int i) : POSITION { return big[i]; }\n");
    Keys({"r"});
    ASSERT_TRUE(viewer->WaitForLine("Could not load parameter light for the vertex shader of shadow.cg"));
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_TRUE(HasLineWith(lines, "shader.cg: expression too long"));
    EXPECT_TRUE(HasLineWith(lines, "beyond 65536 components"));
    EXPECT_FALSE(Shot().rgb.empty());

    std::rename(shader.c_str(), dir.File("shader.cg").c_str());
    CopyData(dir, "shadow.cg");
    Keys({"r"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LT(MeanDifference(before, Shot()), 1.0);
    EXPECT_TRUE(viewer->Running());
}

TEST_F(HostileShaderTest, AReloadWhoseEveryFileStallsWaitsAtMostFiveSecondsInAll)
{
    Start(LitRoom());
    for (const char* file : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
        dir.Write(file, DoublingMacros(40));
    const auto start = std::chrono::steady_clock::now();
    viewer->Key("r");
    ASSERT_TRUE(viewer->WaitForLine("Could not load parameter warpTexCoords for the fragment shader of post.cg"));
    // Eight compiles of 5 s each, without the shared time.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    const std::vector<std::string> lines = viewer->Lines();
    EXPECT_TRUE(HasLineWith(lines, "shader.cg: the compiles took longer than 5 s in all"));
    EXPECT_TRUE(HasLineWith(lines, "post.cg: not compiled: the compiles took longer than 5 s in all"));
    EXPECT_FALSE(Shot().rgb.empty());
    EXPECT_TRUE(viewer->Running());
}

TEST_F(HostileShaderTest, ACompileProcessStoppedOrKilledFromOutsideBlamesNoFileAndIsReplaced)
{
    if (kUnderAddressSanitizer)
        GTEST_SKIP() << "under AddressSanitizer a new compile process takes seconds to start, past this test's bounds";
    Start(LitRoom());
    Keys({"space", "t"});  // a still scene: light and post-processing clock stopped
    const Image before = Shot();
    const struct {
        const char* signal;
        const char* line;  // the reload's report, or null when the reload goes through
    } cases[] = {
        // Stopped, it takes the first request and never answers: that compile fails.
        {"STOP", "shader.cg: not compiled: the compile process was stopped from outside and was replaced"},
        // Killed between reloads, it is replaced before the first request.
        {"KILL", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        const std::string compiler = CommandOutput("pgrep -P " + std::to_string(viewer->Pid()) + " -x velmora-compile");
        ASSERT_FALSE(compiler.empty()) << "no compile process";
        ASSERT_EQ(std::system(("kill -" + std::string(c.signal) + " " + compiler).c_str()), 0);
        const std::size_t seen = viewer->Lines().size();
        const auto start = std::chrono::steady_clock::now();
        Keys({"r"});
        if (c.line != nullptr) {
            ASSERT_TRUE(viewer->WaitForLine(c.line, std::chrono::seconds(3)));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        const std::vector<std::string> lines = viewer->Lines();
        const std::vector<std::string> reload(lines.begin() + static_cast<std::ptrdiff_t>(seen), lines.end());
        EXPECT_FALSE(HasLineWith(reload, "on this file"));
        // Every other compile of the reload ran in the new process.
        EXPECT_EQ(HasLineWith(reload, "Could not load"), c.line != nullptr);
        EXPECT_FALSE(HasLineWith(reload, "ambient.cg"));
        Keys({"r"});
        EXPECT_LT(MeanDifference(before, Shot()), 1.0);
    }
}
