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

template <class T>
bool SameBytes(const std::vector<T>& a, const std::vector<T>& b)
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

// Offset of the first leaf keyword at or after `from`.
std::size_t LeafAfter(const std::string& text, std::size_t from) { return text.find("\nLEAF\n", from) + 1; }

TEST(LevelPieces, StreamedInPiecesEqualsOnePass)
{
    const std::string valid = GeneratedLevel(1500);
    const std::size_t middle = LeafAfter(valid, valid.size() / 2);
    // So many lights that the first pieces end inside the header, some of them named like the leaf keyword.
    std::string lights = valid.substr(0, valid.find("LEAF"));
    while (lights.size() < 100000) {
        lights += lights.size() % 3 ? "lamp 1 2 3 4 5 6 7\n" : "LEAF 1 2 3 4 5 6 7\n";
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
        {"mismatch in the first leaves", brokenAt(valid.find('(', LeafAfter(valid, 0) + 40), '#')},
        {"mismatch in a later leaf", brokenAt(valid.find('|', middle + valid.size() / 5), '-')},
        {"mismatch in the last real before a leaf", brokenAt(valid.find_last_not_of(" \n", middle - 1), 'x')},
        {"leaf keyword broken", brokenAt(middle + 3, 'X')},
        {"leaf keyword without its triangles", valid.substr(0, middle) + "LEAF\n" + valid.substr(middle)},
        {"NUL byte in a later leaf", brokenAt(middle + 200, '\0')},
        {"mismatch in the last byte", valid.substr(0, valid.find("NODE")) + "NODE (1 0 0) 0 L0 L"},
        {"no tree after the last leaf", valid.substr(0, valid.find("NODE"))},
        {"only the header", valid.substr(0, valid.find("LEAF"))},
        {"lights named LEAF, then an empty leaf", lights + "LEAF\nNODE (0 0 1) 0 L0 L0\n"},
        {"lights named LEAF, then the leaves", lights + valid.substr(valid.find("LEAF"))},
        {"leaves after the node records", valid + valid.substr(valid.find("LEAF"))},
        {"empty text", ""},
    };
    for (const auto& c : cases) {
        ParsedLevel one;
        one.textures.known = {{"tex0", 2}, {"tex0_normal", 3}, {"tex3", 4}, {"tex5_normal", 5}, {"nonormal", 6}};
        Parse(one, c.text, 1, c.text.size() + 1);
        for (const auto& [threads, block] :
             {std::pair{1u, 3u}, {2u, 7u}, {3u, 64u}, {1u, 1000u}, {2u, 4096u}, {8u, 1u << 16}}) {
            SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(threads) + ", blocks of " +
                         std::to_string(block));
            ParsedLevel pieces;
            pieces.textures.known = one.textures.known;
            Parse(pieces, c.text, threads, block);
            ExpectSameScene(one, pieces);
        }
    }
}

// A read that fails part way leaves the lists as they were, whatever was parsed before it.
TEST(LevelPieces, FailedReadChangesNothing)
{
    const std::string text = GeneratedLevel(200);
    for (const std::size_t failAt : {std::size_t(0), text.size() / 2, text.size()}) {
        SCOPED_TRACE("read fails at " + std::to_string(failAt));
        std::size_t at = 0;
        const LevelTextReader read = [&](char* buffer, std::size_t size) -> std::ptrdiff_t {
            if (at >= failAt && failAt < text.size()) {
                return -1;
            }
            const std::size_t count = text.copy(buffer, std::min(size, failAt - at), at);
            at += count;
            return std::ptrdiff_t(count);
        };
        ParsedLevel level;
        level.lights.resize(2);
        bool complete = true;
        const std::string console = CaptureStdout([&] {
            complete = ParseLevelStream(read, level.state, level.lights, level.boxes, level.textures.Source(), 2, 512);
        });
        EXPECT_EQ(complete, failAt == text.size());
        if (!complete) {
            EXPECT_EQ(level.lights.size(), 2u);
            EXPECT_TRUE(level.boxes.empty() && level.state.leafTable.empty() && level.state.root == nullptr);
            EXPECT_EQ(console.find(" lights."), std::string::npos);
        }
    }
}

}  // namespace
