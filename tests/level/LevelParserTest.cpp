#include "LevelTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

std::string Triangle(const std::string& name, const std::string& firstU = "0")
{
    return name + "|(0 0 0)(0 0 0)|0 |(0 0 0) " + firstU + " 0 0 0 |(1 0 0) 1 0 0 0 |(0 1 0) 0 1 0 0";
}

std::string LevelText(const std::string& boxes, const std::string& lights, const std::string& leaves,
                      const std::string& nodes)
{
    return "BSP BBOXES " + boxes + " ENTITIES " + lights + " " + leaves + " " + nodes;
}

const std::string kBox = "(0 0 0)(1 1 1)";
const std::string kLight = "lamp 0 0 0 100 1 1 1";
const std::string kLeaf = "LEAF " + Triangle("t");
const std::string kNode = "NODE (1 0 0) 0 L0 L0";

bool Same(const Vec3& v, double x, double y, double z) { return v.x == x && v.y == y && v.z == z; }

TEST(LevelParser, ExampleLevelBuildsItsRecordsAndTree)
{
    ParsedLevel level;
    level.textures.known = {{"stone", 5}, {"nonormal", 9}};
    Parse(level, kExampleLevel);

    EXPECT_EQ(level.console, "1 nodes.\n1 lights.\n");
    ASSERT_EQ(level.boxes.size(), 2u);
    EXPECT_TRUE(Same(level.boxes[0].firstCorner, -64, -64, 0));
    EXPECT_TRUE(Same(level.boxes[1].secondCorner, 64, 64, 128));

    ASSERT_EQ(level.lights.size(), 1u);
    const Light& light = level.lights[0];
    EXPECT_TRUE(Same(light.position, 0, 0, 96));
    EXPECT_EQ(light.radius, 400.0f);
    EXPECT_TRUE(Same(light.colour, 1, double(0.9f), double(0.75f)));
    EXPECT_TRUE(Same(light.currentPosition, 0, 0, 0));

    ASSERT_NE(level.root, nullptr);
    EXPECT_FALSE(level.root->IsLeaf());
    EXPECT_TRUE(Same(level.root->plane.normal, 1, 0, 0));
    ASSERT_EQ(level.state.leafTable.size(), 2u);
    EXPECT_EQ(level.root->firstChild, level.state.leafTable[0].get());
    EXPECT_EQ(level.root->secondChild, level.state.leafTable[1].get());
    EXPECT_TRUE(level.root->firstChild->IsLeaf());

    const std::vector<LeafTriangle>& first = level.state.leafTable[0]->triangles;
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(Same(first[0].corners[1].position, -64, 64, 0));
    EXPECT_EQ(first[0].corners[2].u, 1.0f);
    EXPECT_EQ(first[0].corners[1].aux2, 1.0f);
    EXPECT_EQ(first[0].diffuseTexture, 5u);
    EXPECT_EQ(first[0].normalMap, 9u);
    EXPECT_TRUE(Same(CompletedTriangle(first[0]).plane.normal, 1, 0, 0));

    // Both triangles are stone: the texture source is asked once per name.
    EXPECT_EQ(level.textures.requests, (std::vector<std::string>{"stone", "stone_normal", "nonormal"}));
}

TEST(LevelParser, TokensNeedNoDelimitersAfterKeywordsAndCharacters)
{
    ParsedLevel level;
    Parse(level, "BSPBBOXES(1 2 3)(4 5 6)ENTITIES" + kLight + "LEAF" + Triangle("t") + "NODE(0 0 1)2L 0L0");
    ASSERT_NE(level.root, nullptr);
    EXPECT_TRUE(Same(level.boxes[0].secondCorner, 4, 5, 6));
    EXPECT_EQ(level.root->plane.distance, 2.0);

    ParsedLevel splitKeyword;
    Parse(splitKeyword, "BSP BBOX ES" + kBox + " ENTITIES " + kLight + " " + kLeaf + " " + kNode);
    EXPECT_EQ(splitKeyword.root, nullptr);
    EXPECT_TRUE(splitKeyword.boxes.empty());
}

TEST(LevelParser, ChildReferencesAllowSpaceAndNeedCapitalLetters)
{
    const std::string leaves = kLeaf + " " + kLeaf;
    ParsedLevel spaced;
    Parse(spaced, LevelText(kBox, kLight, leaves, "NODE (1 0 0) 0 L 1 L\t0"));
    ASSERT_NE(spaced.root, nullptr);
    EXPECT_EQ(spaced.root->firstChild, spaced.state.leafTable[1].get());
    EXPECT_EQ(spaced.root->secondChild, spaced.state.leafTable[0].get());

    ParsedLevel lowerCase;
    Parse(lowerCase, LevelText(kBox, kLight, leaves, "NODE (1 0 0) 0 l1 L0"));
    EXPECT_EQ(lowerCase.root, nullptr);
    EXPECT_TRUE(lowerCase.state.nodeRecordTable.empty());
}

TEST(LevelParser, NamesEndOnlyAtWhiteSpaceOrBarAndHaveNoReservedWords)
{
    ParsedLevel level;
    const std::string lights = "7 1 2 3 4 5 6 7 LEAF 0 0 0 1 1 1 1";
    const std::string leaves = "LEAF " + Triangle("walls/brick(2)") + " " + Triangle("\xc3\xa9t\xff") + " " +
                               Triangle("NODE") +
                               " LEAF brick |(0 0 0)(0 0 0)|0 |(0 0 0) 0 0 0 0 |(1 0 0) 1 0 0 0 "
                               "|(0 1 0) 0 1 0 0";
    Parse(level, LevelText(kBox, lights, leaves, kNode));
    ASSERT_NE(level.root, nullptr);

    ASSERT_EQ(level.lights.size(), 2u);
    EXPECT_TRUE(Same(level.lights[0].position, 1, 2, 3));
    EXPECT_EQ(level.lights[0].radius, 4.0f);
    EXPECT_TRUE(Same(level.lights[1].colour, 1, 1, 1));

    ASSERT_EQ(level.state.leafTable.size(), 2u);
    EXPECT_EQ(level.state.leafTable[0]->triangles.size(), 3u);
    std::vector<std::string> diffuse;
    for (std::size_t i = 0; i < level.textures.requests.size(); i += 3) {
        diffuse.push_back(level.textures.requests[i]);
    }
    EXPECT_EQ(diffuse, (std::vector<std::string>{"walls/brick(2)", "\xc3\xa9t\xff", "NODE", "brick"}));
}

TEST(LevelParser, RealsAreReadInSinglePrecisionAndWidened)
{
    ParsedLevel level;
    Parse(level, LevelText(kBox, "a 1. .5 -2.5e3 +4E-2 0.1 1e-3 -0", kLeaf, kNode));
    ASSERT_EQ(level.lights.size(), 1u);
    const Light& light = level.lights[0];
    EXPECT_TRUE(Same(light.position, 1, 0.5, -2500));
    EXPECT_EQ(light.radius, 0.04f);
    EXPECT_EQ(light.colour.x, 0.100000001490116119384765625);
    EXPECT_EQ(light.colour.y, double(0.001f));
    EXPECT_TRUE(std::signbit(light.colour.z));
}

TEST(LevelParser, IntegersAreSigned32Bit)
{
    const std::string leaves = kLeaf + " " + kLeaf;
    ParsedLevel extremes;
    Parse(extremes, LevelText(kBox, kLight,
                              "LEAF t|(0 0 0)(0 0 0)|2147483647 |(0 0 0) 0 0 0 0 |(1 0 0) 1 0 0 0 |(0 1 0) 0 1 0 0 "
                              "t|(0 0 0)(0 0 0)|-2147483648 |(0 0 0) 0 0 0 0 |(1 0 0) 1 0 0 0 |(0 1 0) 0 1 0 0",
                              "NODE (1 0 0) 0 L+0 L-0"));
    ASSERT_NE(extremes.root, nullptr);
    EXPECT_EQ(extremes.state.leafTable[0]->triangles.size(), 2u);

    ParsedLevel beyond;
    Parse(beyond,
          LevelText(kBox, kLight, "LEAF t|(0 0 0)(0 0 0)|2147483648 |(0 0 0) 0 0 0 0 |(1 0 0) 1 0 0 0 |(0 1 0) 0 1 0 0",
                    kNode));
    EXPECT_TRUE(beyond.state.leafTable.empty());
    EXPECT_TRUE(beyond.textures.requests.empty());

    ParsedLevel hugeIndex;
    Parse(hugeIndex, LevelText(kBox, kLight, kLeaf, "NODE (1 0 0) 0 L0 L4294967296"));
    EXPECT_EQ(hugeIndex.root, nullptr);
    EXPECT_TRUE(hugeIndex.state.nodeRecordTable.empty());
}

// Each text breaks in one section; everything before the break stays stored and the line says where it broke.
TEST(LevelParser, MismatchKeepsEarlierRecordsAndReportsTheFurthestPoint)
{
    struct Case {
        std::string text;
        std::size_t boxes, lights, leaves, nodeRecords;
        std::string console;
    };
    const Case cases[] = {
        {"BSP BBOXES ENTITIES " + kLight, 0, 0, 0, 0, "Level file does not match at line 1, column 12\n0 lights.\n"},
        {"BSP BBOXES " + kBox + "\n(0 0 0)(1 x 1) ENTITIES", 1, 0, 0, 0,
         "Level file does not match at line 2, column 11\n0 lights.\n"},
        {LevelText(kBox, "", kLeaf, kNode), 1, 0, 0, 0, "Level file does not match at line 1, column 42\n0 lights.\n"},
        {LevelText(kBox, kLight + " " + kLight, "LEAF\nLEAF", kNode), 1, 2, 0, 0,
         "Level file does not match at line 2, column 6\n2 lights.\n"},
        {LevelText(kBox, kLight, kLeaf + "\nLEAF t|(0 0 0)(0 0 0)|0 |(0 0 0) 0 0 0 0 |(1 0 0) 1 0 0 0 |(0 1 0) 0 1",
                   kNode),
         1, 1, 1, 0, "Level file does not match at line 2, column 72\n1 lights.\n"},
        {LevelText(kBox, kLight, kLeaf, ""), 1, 1, 1, 0,
         "Level file does not match at line 1, column 132\n1 lights.\n"},
        {LevelText(kBox, kLight, kLeaf, kNode + " NODE (1 0 0) 0 L0 ") + std::string("\0 L0", 4), 1, 1, 1, 1, ""},
        {LevelText(kBox, kLight, kLeaf, kNode) + " NODE (1 0 0) 0 L0 N", 1, 1, 1, 1, ""},
        {LevelText(kBox, kLight, kLeaf, kNode) + " trailing words", 1, 1, 1, 1, ""},
    };
    for (const Case& c : cases) {
        ParsedLevel level;
        Parse(level, c.text);
        EXPECT_EQ(level.boxes.size(), c.boxes) << c.text;
        EXPECT_EQ(level.lights.size(), c.lights) << c.text;
        EXPECT_EQ(level.state.leafTable.size(), c.leaves) << c.text;
        EXPECT_EQ(level.state.nodeRecordTable.size(), c.nodeRecords) << c.text;
        if (c.console.empty()) {
            EXPECT_EQ(level.console, "1 nodes.\n1 lights.\n") << c.text;
            EXPECT_NE(level.root, nullptr) << c.text;
        } else {
            EXPECT_EQ(level.console, c.console) << c.text;
            EXPECT_EQ(level.root, nullptr) << c.text;
        }
    }
}

TEST(LevelParser, BrokenTriangleLoadsNoTextureAndEndsItsLeaf)
{
    ParsedLevel level;
    Parse(level, LevelText(kBox, kLight, "LEAF " + Triangle("good") + " bad|(0 0 0)(0 0 0)|0 |(0 0 0) 0 0", kNode));
    EXPECT_EQ(level.root, nullptr);
    ASSERT_EQ(level.state.leafTable.size(), 1u);
    EXPECT_EQ(level.state.leafTable[0]->triangles.size(), 1u);
    EXPECT_EQ(level.textures.requests, (std::vector<std::string>{"good", "good_normal", "nonormal"}));
}

TEST(LevelParser, NulByteEndsTheText)
{
    std::string text = kExampleLevel;
    text.insert(text.find("NODE"), std::string(1, '\0'));
    ParsedLevel level;
    Parse(level, text);
    EXPECT_EQ(level.root, nullptr);
    EXPECT_EQ(level.state.leafTable.size(), 2u);
    EXPECT_EQ(level.console, "Level file does not match at line 14, column 1\n1 lights.\n");
}

TEST(LevelParser, NodeRecordsMayReferToLaterRecords)
{
    const std::string leaves = kLeaf + " " + kLeaf + " " + kLeaf;
    ParsedLevel level;
    Parse(level, LevelText(kBox, kLight, leaves, "NODE (0 0 1) 0 N2 L0 NODE (0 1 0) 1 L1 L2 NODE (1 0 0) 2 N1 L2"));
    ASSERT_NE(level.root, nullptr);
    EXPECT_EQ(level.console, "3 nodes.\n1 lights.\n");
    const BspNode* second = level.root->firstChild;
    ASSERT_EQ(second, level.state.nodeTable[2].get());
    EXPECT_EQ(second->plane.distance, 2.0);
    EXPECT_EQ(second->firstChild, level.state.nodeTable[1].get());
    EXPECT_EQ(second->firstChild->secondChild, level.state.leafTable[2].get());
    EXPECT_EQ(level.root->secondChild, level.state.leafTable[0].get());
}

TEST(LevelParser, StateCanBeReusedForAnotherText)
{
    ParsedLevel level;
    Parse(level, kExampleLevel);
    level.lights.clear();
    level.boxes.clear();
    Parse(level, LevelText(kBox, kLight, kLeaf, kNode));
    ASSERT_NE(level.root, nullptr);
    EXPECT_EQ(level.state.leafTable.size(), 1u);
    EXPECT_EQ(level.state.nodeTable.size(), 1u);
    EXPECT_EQ(level.root->firstChild, level.state.leafTable[0].get());
}

}  // namespace
