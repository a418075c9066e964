#include "LevelTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A level whose leaf k holds one triangle with u = k at its first corner, so collected triangles name their leaf.
std::string LevelWithLeaves(int leafCount, const std::string& nodes)
{
    std::string text = "BSP BBOXES (0 0 0)(1 1 1) ENTITIES lamp 0 0 0 100 1 1 1\n";
    for (int k = 0; k < leafCount; ++k) {
        text += "LEAF t|(0 0 0)(0 0 0)|0 |(0 0 0) " + std::to_string(k) + " 0 0 0 |(1 0 0) 1 0 0 0 |(0 1 0) 0 1 0 0\n";
    }
    return text + nodes;
}

std::vector<int> CollectedLeaves(const BspNode* root)
{
    std::vector<int> leaves;
    for (const Triangle& triangle : CollectTriangles(root)) {
        leaves.push_back(int(triangle.corners[0].u));
    }
    return leaves;
}

TEST(BspTree, CollectsFirstChildBeforeSecondAndSharedLeavesOnEachReference)
{
    ParsedLevel level;
    Parse(level, LevelWithLeaves(4,
                                 "NODE (1 0 0) 0 N1 N2\n"
                                 "NODE (0 1 0) 0 L2 L0\n"
                                 "NODE (0 0 1) 0 L2 L1\n"));
    ASSERT_NE(level.root, nullptr);
    EXPECT_EQ(level.console, "3 nodes.\n1 lights.\n");
    // Leaf 3 is named by no node: it keeps its triangle but adds nothing to the geometry.
    EXPECT_EQ(level.state.leafTable[3]->triangles.size(), 1u);
    EXPECT_EQ(CollectedLeaves(level.root), (std::vector<int>{2, 0, 2, 1}));
    EXPECT_TRUE(CollectTriangles(nullptr).empty());
}

TEST(BspTree, RejectsReferencesThatAreNotATree)
{
    struct Case {
        std::string nodes;
        std::string line;
    };
    const Case cases[] = {
        {"NODE (1 0 0) 0 L0 L2", "Node 0 refers to leaf 2, which does not exist; the level has no tree.\n"},
        {"NODE (1 0 0) 0 L-1 L0", "Node 0 refers to leaf -1, which does not exist; the level has no tree.\n"},
        {"NODE (1 0 0) 0 L0 N1 NODE (1 0 0) 0 N5 L0",
         "Node 1 refers to node 5, which does not exist; the level has no tree.\n"},
        {"NODE (1 0 0) 0 L0 N1 NODE (1 0 0) 0 N0 L0", "Node 1 refers to the root node 0; the level has no tree.\n"},
        {"NODE (1 0 0) 0 N1 L0 NODE (1 0 0) 0 L1 N1",
         "Node 1 refers to node 1 a second time; the level has no tree.\n"},
        {"NODE (1 0 0) 0 N1 N2 NODE (1 0 0) 0 L0 N2 NODE (1 0 0) 0 L0 L1",
         "Node 1 refers to node 2 a second time; the level has no tree.\n"},
        {"NODE (1 0 0) 0 N1 N1 NODE (1 0 0) 0 L0 L1",
         "Node 0 refers to node 1 a second time; the level has no tree.\n"},
        {"NODE (1 0 0) 0 N1 L0 NODE (1 0 0) 0 N2 L0 NODE (1 0 0) 0 N1 L1",
         "Node 2 refers to node 1 a second time; the level has no tree.\n"},
    };
    for (const Case& c : cases) {
        ParsedLevel level;
        Parse(level, LevelWithLeaves(2, c.nodes));
        EXPECT_EQ(level.root, nullptr) << c.nodes;
        EXPECT_TRUE(level.state.nodeTable.empty()) << c.nodes;
        EXPECT_EQ(level.console, c.line + "1 lights.\n") << c.nodes;
    }
}

TEST(BspTree, RecordsThatTheRootDoesNotReachAreIgnored)
{
    struct Case {
        std::string nodes;
        std::vector<int> collected;
    };
    const Case cases[] = {
        {"NODE (1 0 0) 0 L0 L1 NODE (1 0 0) 0 N0 L0", {0, 1}},
        {"NODE (1 0 0) 0 L1 L0 NODE (1 0 0) 0 N5 L9", {1, 0}},
        {"NODE (1 0 0) 0 N2 L0 NODE (1 0 0) 0 N2 N1 NODE (1 0 0) 0 L1 L1", {1, 1, 0}},
    };
    for (const Case& c : cases) {
        ParsedLevel level;
        Parse(level, LevelWithLeaves(2, c.nodes));
        ASSERT_NE(level.root, nullptr) << level.console;
        EXPECT_EQ(CollectedLeaves(level.root), c.collected) << c.nodes;
    }
}

TEST(BspTree, MillionNodeChainLoadsWithoutDeepRecursion)
{
    const int nodeCount = 1000000;
    std::string nodes;
    nodes.reserve(std::size_t(nodeCount) * 24);
    for (int k = 0; k + 1 < nodeCount; ++k) {
        nodes += "NODE(0 0 1)0 N" + std::to_string(k + 1) + " L0\n";
    }
    nodes += "NODE(0 0 1)0 L1 L0\n";
    ParsedLevel level;
    Parse(level, LevelWithLeaves(2, nodes));
    ASSERT_NE(level.root, nullptr);
    EXPECT_EQ(level.console, "1000000 nodes.\n1 lights.\n");

    int depth = 0;
    const BspNode* deepest = level.root;
    while (!deepest->firstChild->IsLeaf()) {
        deepest = deepest->firstChild;
        ++depth;
    }
    EXPECT_EQ(depth, nodeCount - 1);
    EXPECT_EQ(deepest->firstChild, level.state.leafTable[1].get());
}

TEST(BspTree, CollectWalksADeepChainIteratively)
{
    std::vector<std::unique_ptr<BspNode>> chain;
    BspLeaf leaf;
    leaf.triangles.resize(1);
    leaf.triangles[0].corners[0].u = 7;
    BspNode* below = &leaf;
    for (int k = 0; k < 1000000; ++k) {
        chain.push_back(std::make_unique<BspNode>());
        chain.back()->secondChild = below;
        below = chain.back().get();
    }
    EXPECT_EQ(CollectedLeaves(below), (std::vector<int>{7}));
}

}  // namespace
