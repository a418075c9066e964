// A text parsed in pieces on several threads against the same text parsed in one pass.

#include "LevelTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace {

// A level of `leaves` leaves of one to four triangles each and a balanced tree over them. Texture names keep
// appearing for the first time all through the text, some with a normal map and some without, and every few
// leaves a triangle is named LEAF, which a cut may mistake for a leaf keyword.
std::string GeneratedLevel(int leaves)
{
    uint32_t seed = 12345;
    const auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    const char* const reals[] = {"0", "1.5", "-2.25e1", ".125", "3.", "+4E-2", "1000", "-0.001"};
    const auto real = [&] { return std::string(reals[next(8)]); };
    const auto vector = [&] { return real() + " " + real() + " " + real(); };

    std::string text = "BSP\nBBOXES\n(0 0 0) (1 1 1)\n(-5 -5 -5) (5 5 5)\nENTITIES\nlamp 0 0 96 400 1 0.9 0.75\n";
    text += "7 1 2 3 50 0.5 0.5 0.5\n";
    for (int leaf = 0; leaf < leaves; ++leaf) {
        text += "LEAF\n";
        for (uint32_t t = 0, count = 1 + next(4); t < count; ++t) {
            const std::string name =
                leaf % 37 == 5 && t == 0 ? "LEAF" : "tex" + std::to_string(next(1 + uint32_t(leaf) / 40));
            text +=
                name + (name == "LEAF" ? " |(" : "|(") + vector() + ")(" + vector() + ")|" + std::to_string(next(9));
            for (int corner = 0; corner < 3; ++corner) {
                text += "\n |(" + vector() + ") " + real() + " " + real() + " " + real() + " " + real();
            }
            text += "\n";
        }
    }
    const int nodes = leaves - 1;
    const auto child = [nodes](int i) { return i < nodes ? "N" + std::to_string(i) : "L" + std::to_string(i - nodes); };
    for (int node = 0; node < nodes; ++node) {
        text += "NODE (0 0 1) " + std::to_string(node) + " " + child(2 * node + 1) + " " + child(2 * node + 2) + "\n";
    }
    return text;
}

// Names in the order of their first request.
std::vector<std::string> FirstRequests(const std::vector<std::string>& requests)
{
    std::vector<std::string> first;
    std::set<std::string> seen;
    for (const std::string& name : requests) {
        if (seen.insert(name).second) {
            first.push_back(name);
        }
    }
    return first;
}

bool SameBytes(const std::vector<::Triangle>& a, const std::vector<::Triangle>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

void ExpectSameScene(const ParsedLevel& one, const ParsedLevel& pieces)
{
    EXPECT_EQ(pieces.console, one.console);
    EXPECT_EQ(FirstRequests(pieces.textures.requests), FirstRequests(one.textures.requests));
    ASSERT_EQ(pieces.lights.size(), one.lights.size());
    for (std::size_t i = 0; i < one.lights.size(); ++i) {
        EXPECT_EQ(std::memcmp(&pieces.lights[i].position, &one.lights[i].position, sizeof(Vec3)), 0);
        EXPECT_EQ(pieces.lights[i].radius, one.lights[i].radius);
        EXPECT_EQ(std::memcmp(&pieces.lights[i].colour, &one.lights[i].colour, sizeof(Vec3)), 0);
    }
    ASSERT_EQ(pieces.boxes.size(), one.boxes.size());
    EXPECT_TRUE(one.boxes.empty() ||
                std::memcmp(pieces.boxes.data(), one.boxes.data(), one.boxes.size() * sizeof(BoundingBox)) == 0);
    ASSERT_EQ(pieces.state.leafTable.size(), one.state.leafTable.size());
    for (std::size_t k = 0; k < one.state.leafTable.size(); ++k) {
        EXPECT_TRUE(SameBytes(pieces.state.leafTable[k]->triangles, one.state.leafTable[k]->triangles)) << "leaf " << k;
    }
    ASSERT_EQ(pieces.state.nodeRecordTable.size(), one.state.nodeRecordTable.size());
    for (std::size_t k = 0; k < one.state.nodeRecordTable.size(); ++k) {
        const NodeRecord& a = pieces.state.nodeRecordTable[k];
        const NodeRecord& b = one.state.nodeRecordTable[k];
        EXPECT_TRUE(a.firstChildIsLeaf == b.firstChildIsLeaf && a.firstChildIndex == b.firstChildIndex &&
                    a.secondChildIsLeaf == b.secondChildIsLeaf && a.secondChildIndex == b.secondChildIndex &&
                    std::memcmp(&a.plane, &b.plane, sizeof(Plane)) == 0);
    }
    EXPECT_EQ(pieces.root == nullptr, one.root == nullptr);
    EXPECT_TRUE(SameBytes(CollectTriangles(pieces.root), CollectTriangles(one.root)));
}

TEST(LevelPieces, ParseInPiecesEqualsOnePass)
{
    const std::string valid = GeneratedLevel(3000);
    const std::vector<std::size_t> cuts = LevelPieceStarts(valid, 8);
    ASSERT_GE(cuts.size(), 8u);
    const std::size_t middle = cuts[cuts.size() / 2];
    // So many lights that a cut falls on the first leaf keyword.
    std::string lights = valid.substr(0, valid.find("LEAF"));
    while (lights.size() < 200000) {
        lights += "lamp 1 2 3 4 5 6 7\n";
    }
    // Where a byte is broken, as an offset into the valid text.
    const auto brokenAt = [&valid](std::size_t at, char with) {
        std::string text = valid;
        text[at] = with;
        return text;
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"valid", valid},
        {"mismatch in the first piece", brokenAt(valid.find('(', cuts[1] / 2), '#')},
        {"mismatch in a later piece", brokenAt(valid.find('|', middle + (cuts.back() - middle) / 2), '-')},
        {"mismatch in the last real before a cut", brokenAt(valid.find_last_not_of(" \n", middle - 1), 'x')},
        {"cut keyword broken", brokenAt(middle + 3, 'X')},
        {"NUL byte in a later piece", brokenAt(middle + 200, '\0')},
        {"mismatch in the last byte", valid.substr(0, valid.find("NODE")) + "NODE (1 0 0) 0 L0 L"},
        {"no tree after the last leaf", valid.substr(0, valid.find("NODE"))},
        {"only the header", valid.substr(0, valid.find("LEAF"))},
        {"a cut on the first leaf, which is empty", lights + "LEAF\nNODE (0 0 1) 0 L0 L0\n"},
    };
    for (const auto& c : cases) {
        ParsedLevel one;
        one.textures.known = {{"tex0", 2}, {"tex0_normal", 3}, {"tex3", 4}, {"tex5_normal", 5}, {"nonormal", 6}};
        Parse(one, c.text, 1);
        for (unsigned threads : {2u, 3u, 8u}) {
            SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(threads));
            ParsedLevel pieces;
            pieces.textures.known = one.textures.known;
            Parse(pieces, c.text, threads);
            ExpectSameScene(one, pieces);
        }
    }
}

TEST(LevelPieces, CutsFallOnLeafKeywordsBetweenWhiteSpace)
{
    const std::string text = GeneratedLevel(3000);
    EXPECT_EQ(LevelPieceStarts(text, 1), std::vector<std::size_t>{0});
    EXPECT_EQ(LevelPieceStarts(text.substr(0, 1000), 8), std::vector<std::size_t>{0});
    const std::vector<std::size_t> cuts = LevelPieceStarts(text, 3);
    ASSERT_GT(cuts.size(), 3u);
    for (std::size_t k = 1; k < cuts.size(); ++k) {
        EXPECT_GT(cuts[k], cuts[k - 1]);
        EXPECT_TRUE(std::isspace(text[cuts[k] - 1]) && text.compare(cuts[k], 4, "LEAF") == 0 &&
                    std::isspace(text[cuts[k] + 4]));
    }
}

}  // namespace
