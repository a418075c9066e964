// Levels whose geometry cannot fit: refused before it is built, with the line that says what it needs, or ended
// by the line of the step that ran out of memory; never by a signal.
#include "ViewerHarness.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One leaf of leafTriangles triangles that every node of a chain of `nodes` refers to, the last one twice: a small
// file that describes leafTriangles * (nodes + 1) triangles.
std::string SharedLeafLevel(int leafTriangles, int nodes)
{
    std::string text = "BSP BBOXES (0 0 0)(1 1 1) ENTITIES l 0 0 0 100 1 1 1\nLEAF\n";
    for (int i = 0; i < leafTriangles; ++i) {
        const std::string x = std::to_string(i);
        text += "t|(0 0 0)(0 0 0)|0 |(" + x + " 0 0) 0 0 0 0 |(" + x + " 1 0) 0 0 0 0 |(" + x + " 0 1) 0 0 0 0\n";
    }
    for (int k = 1; k < nodes; ++k)
        text += "NODE (1 0 0) 0 N" + std::to_string(k) + " L0\n";
    text += "NODE (1 0 0) 0 L0 L0\n";
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TEST(LevelCost, LevelsBeyondTheMemoryEndWithALineAndExitCode1)
{
    const struct {
        const char* name;
        int leafTriangles;
        int nodes;
        unsigned long long addressSpace;  // 0: no limit
        bool mayShow;                     // a level that may fit and then shows
    } cases[] = {
        {"a billion triangles from 3 MB", 10000, 100000, 0, false},
        {"100 million triangles in 4 GiB of address space", 10000, 10000, 4ull << 30, true},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        // The sanitizer reserves terabytes of address space for its shadow at start, so a limit stops it at once.
        if (kUnderAddressSanitizer && testCase.addressSpace != 0)
            continue;
        TempDir dir;
        dir.Write("out.txt", SharedLeafLevel(testCase.leafTriangles, testCase.nodes));
        ViewerOptions options;
        options.addressSpaceLimit = testCase.addressSpace;
        ViewerProcess viewer(dir, options);
        const int exitCode = viewer.WaitForExit(std::chrono::seconds(30));
        if (exitCode == -1) {
            EXPECT_TRUE(testCase.mayShow) << "still running after 30 s";
            EXPECT_FALSE(viewer.WindowId().empty());
            continue;
        }
        EXPECT_EQ(exitCode, 1);
        const std::vector<std::string> lines = viewer.Lines();
        ASSERT_FALSE(lines.empty());
        const std::string& last = lines.back();
        const std::string triangles =
            " for " + std::to_string(1ull * testCase.leafTriangles * (testCase.nodes + 1)) + " triangles; ";
        const bool refused = StartsWith(last, "Level needs ") && last.find(triangles) != std::string::npos &&
                             last.size() > 15 && last.compare(last.size() - 15, 15, " are available.") == 0;
        if (testCase.mayShow)
            EXPECT_TRUE(refused || StartsWith(last, "Out of memory ")) << last;
        else
            EXPECT_TRUE(refused) << last;
    }
}
