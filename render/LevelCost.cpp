#include "LevelCost.h"

#include "AvailableMemory.h"
#include "GeometryBuild.h"
#include "ShadowPool.h"
#include "Shadows.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// Per collected triangle at the build's peak: its address (8), its three corner numbers (12), its material (4), its
// batch's index list (12) with the ordered copy (12) and the optimiser's adjacency scratch (about 48), and the
// uploaded 32-bit indices (12), with some room over.
constexpr uint64_t kBytesPerTriangle = 112;
// Per welded vertex: the vertex, its copy in the vertex buffer, its hash, its weld table slots, and the pooled
// numbering of a weld on several threads.
constexpr uint64_t kBytesPerVertex = 3 * sizeof(RenderVertex) + 32;
// The weld keeps one vertex for equal corners: the generator's levels have about half a vertex per triangle, and
// corners are only equal within the triangles as stored, however often a leaf is referred to. One vertex per
// distinct triangle holds with room for most levels; one that welds less fails later, with its line, when the
// system refuses the memory.
constexpr uint64_t kVerticesPerDistinctTriangle = 1;
// The programs, the post target of an ordinary window and the driver's own allocations after the check.
constexpr uint64_t kFixedBytes = uint64_t(64) << 20;
// A level may take this share of what is available; the rest stays for the window system, the driver and the
// other programs' growth.
constexpr uint64_t kShareNumerator = 9;
constexpr uint64_t kShareDenominator = 10;

uint64_t SaturatingProduct(uint64_t a, uint64_t b)
{
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

uint64_t SaturatingSum(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// "<n> GB" from a gigabyte on, else "<n> MB"; rounded up for a need and down for what is available.
std::string Amount(uint64_t bytes, bool roundUp)
{
    const uint64_t unit = bytes >= 1000000000 ? 1000000000 : 1000000;
    const uint64_t count = roundUp ? bytes / unit + (bytes % unit != 0) : bytes / unit;
    return std::to_string(count) + (unit == 1000000000 ? " GB" : " MB");
}

}  // namespace

LevelCost EstimateLevelCost(const BspNode* root, std::size_t lights)
{
    LevelCost cost;
    std::unordered_set<const BspNode*> leavesSeen;
    std::vector<const BspNode*> pending;
    if (root != nullptr)
        pending.push_back(root);
    while (!pending.empty()) {
        const BspNode* node = pending.back();
        pending.pop_back();
        if (node->IsLeaf()) {
            const uint64_t count = static_cast<const BspLeaf*>(node)->triangles.size();
            cost.triangles = SaturatingSum(cost.triangles, count);
            if (leavesSeen.insert(node).second)
                cost.distinctTriangles += count;
            continue;
        }
        for (const BspNode* child : {node->firstChild, node->secondChild})
            if (child != nullptr)
                pending.push_back(child);
    }
    const uint64_t vertices = std::min(SaturatingProduct(cost.triangles, 3),
                                       SaturatingProduct(cost.distinctTriangles, kVerticesPerDistinctTriangle));
    const uint64_t shadows = std::min<uint64_t>(SaturatingProduct(lights, kShadowMapBytes), kShadowPoolBudgetBytes);
    cost.bytes = SaturatingSum(SaturatingSum(SaturatingProduct(cost.triangles, kBytesPerTriangle),
                                             SaturatingProduct(vertices, kBytesPerVertex)),
                               SaturatingSum(shadows, kFixedBytes));
    return cost;
}

Outcome CheckLevelFits(const LevelCost& cost, uint64_t availableBytes)
{
    const uint64_t share = availableBytes / kShareDenominator * kShareNumerator;
    if (cost.bytes <= share)
        return Outcome();
    char line[160];
    std::snprintf(line, sizeof line, "Level needs %s for %" PRIu64 " triangles; %s are available.",
                  Amount(cost.bytes, true).c_str(), cost.triangles, Amount(availableBytes, false).c_str());
    return Outcome::Failure(FailureReason::OutOfMemory, line);
}

Outcome CheckLevelFitsMemory(const Level& level)
{
    return CheckLevelFits(EstimateLevelCost(level.root, level.lights.size()), AvailableMemoryBytes());
}
