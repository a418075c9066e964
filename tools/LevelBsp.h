// A BSP tree over the triangles of a generated level, split on axis-aligned planes through the median centroid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct BspChild {
    bool isLeaf = true;
    uint32_t index = 0;
};

// An inner node: the plane axis . p = distance, with `front` on the side where axis . p >= distance.
struct BspSplit {
    int axis = 0;
    float distance = 0.0f;
    BspChild front;
    BspChild back;
};

struct BspTree {
    std::vector<uint64_t> triangles;                // triangle numbers, grouped by leaf
    std::vector<std::pair<size_t, size_t>> leaves;  // [begin, end) into `triangles`
    std::vector<BspSplit> nodes;                    // node 0 is the root
};

// Splits until a leaf holds at most `leafSize` triangles; the root is always split, so the tree has at least one
// node. Every triangle lands in exactly one leaf, on the side of each plane above it where its centroid lies
// (a centroid on a plane may go either way). `centroids` holds three floats per triangle; at least two triangles.
BspTree BuildBsp(const std::vector<float>& centroids, size_t leafSize);

// Renumbers leaves and all nodes but the root in a random order fixed by `seed`, so that children are often
// written before their parents.
void ShuffleBsp(BspTree& tree, uint64_t seed);
