// Feeds arbitrary bytes to the level parser and checks the tree walk and the real conversion on what it built.

#include "Level.h"
#include "LevelReal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    CheckReal(text, text + size);

    std::map<std::string, uint32_t> textures;
    TextureSource source;
    source.loadTexture = [&textures](const std::string& name) {
        return textures.emplace(name, uint32_t(textures.size() + 2)).first->second;
    };
    source.fallbackTexture = 1;

    LevelParseState state;
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    const BspNode* root = ParseLevelText(std::string_view(text, size), state, lights, boxes, source);
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
