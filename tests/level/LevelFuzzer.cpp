// Feeds arbitrary bytes to the level parser and checks the tree walk and the real conversion on what it built. The
// fuzz build cuts texts into pieces of a few dozen bytes, so every input is also parsed in pieces on several threads,
// which must give what one pass gives.

#include "Level.h"
#include "LevelReal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The parser's console lines would drown the fuzzer's own report.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

namespace {

// A real that matched must be the float strtof reads from the same text.
void CheckReal(const char* first, const char* last)
{
    float value = 0.0f;
    const char* end = ReadLevelReal(first, last, value);
    if (end == nullptr) {
        return;
    }
    const std::string text(first, end);
    const float expected = std::strtof(text.c_str(), nullptr);
    if (std::memcmp(&value, &expected, sizeof value) != 0) {
        std::abort();
    }
}

// Bit-for-bit equality of the values as read, so that a NaN read twice compares equal.
template <class T>
bool Same(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool Same(const Vec3& a, const Vec3& b) { return Same(a.x, b.x) && Same(a.y, b.y) && Same(a.z, b.z); }

bool Same(const LeafTriangle& a, const LeafTriangle& b)
{
    for (int i = 0; i < 3; ++i) {
        const TriangleCorner& p = a.corners[i];
        const TriangleCorner& q = b.corners[i];
        if (!Same(p.position, q.position) || !Same(p.u, q.u) || !Same(p.v, q.v) || !Same(p.aux1, q.aux1) ||
            !Same(p.aux2, q.aux2)) {
            return false;
        }
    }
    return a.diffuseTexture == b.diffuseTexture && a.normalMap == b.normalMap;
}

struct Parsed {
    LevelParseState state;
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    std::vector<std::string> requests;  // texture names in order of first request
    const BspNode* root = nullptr;
};

void ParseWith(std::string_view text, unsigned threads, Parsed& parsed)
{
    std::map<std::string, uint32_t> textures;
    TextureSource source;
    source.loadTexture = [&](const std::string& name) {
        const auto added = textures.emplace(name, uint32_t(textures.size() + 2));
        if (added.second) {
            parsed.requests.push_back(name);
        }
        return added.first->second;
    };
    source.fallbackTexture = 1;
    parsed.root = ParseLevelText(text, parsed.state, parsed.lights, parsed.boxes, source, threads);
}

bool SameLevel(const Parsed& a, const Parsed& b)
{
    if ((a.root == nullptr) != (b.root == nullptr) || a.requests != b.requests || a.lights.size() != b.lights.size() ||
        a.boxes.size() != b.boxes.size() || a.state.leafTable.size() != b.state.leafTable.size() ||
        a.state.nodeRecordTable.size() != b.state.nodeRecordTable.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.lights.size(); ++i) {
        const Light& p = a.lights[i];
        const Light& q = b.lights[i];
        if (!Same(p.position, q.position) || !Same(p.radius, q.radius) || !Same(p.colour, q.colour)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < a.boxes.size(); ++i) {
        if (!Same(a.boxes[i].firstCorner, b.boxes[i].firstCorner) ||
            !Same(a.boxes[i].secondCorner, b.boxes[i].secondCorner)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < a.state.leafTable.size(); ++i) {
        const std::vector<LeafTriangle>& p = a.state.leafTable[i]->triangles;
        const std::vector<LeafTriangle>& q = b.state.leafTable[i]->triangles;
        if (p.size() != q.size() ||
            !std::equal(p.begin(), p.end(), q.begin(), [](auto& x, auto& y) { return Same(x, y); })) {
            return false;
        }
    }
    for (std::size_t i = 0; i < a.state.nodeRecordTable.size(); ++i) {
        const NodeRecord& p = a.state.nodeRecordTable[i];
        const NodeRecord& q = b.state.nodeRecordTable[i];
        if (p.firstChildIsLeaf != q.firstChildIsLeaf || p.firstChildIndex != q.firstChildIndex ||
            p.secondChildIsLeaf != q.secondChildIsLeaf || p.secondChildIndex != q.secondChildIndex ||
            !Same(p.plane.normal, q.plane.normal) || !Same(p.plane.distance, q.plane.distance)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    CheckReal(text, text + size);

    const std::string_view level(text, size);
    Parsed single;
    ParseWith(level, 1, single);
    Parsed pieces;
    ParseWith(level, 4, pieces);
    if (!SameLevel(single, pieces)) {
        std::abort();
    }

    const LevelParseState& state = single.state;
    const BspNode* root = single.root;
    if (root != nullptr) {
        std::size_t leafTriangles = 0;
        for (const auto& leaf : state.leafTable) {
            leafTriangles += leaf->triangles.size();
        }
        // Each node is reached once, so no leaf can be collected more often than there are child references.
        if (CollectTriangles(root).size() > 2 * state.nodeTable.size() * leafTriangles) {
            std::abort();
        }
    }
    return 0;
}
