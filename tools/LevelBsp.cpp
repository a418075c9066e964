#include "LevelBsp.h"

#include "GenRandom.h"

#include <algorithm>
#include <numeric>

namespace {

struct BspBuilder {
    const std::vector<float>& centroids;
    size_t leafSize;
    BspTree& tree;

    float Coordinate(uint64_t triangle, int axis) const { return centroids[triangle * 3 + axis]; }

    BspChild Build(size_t begin, size_t end, bool mustSplit)
    {
        float lo[3] = {Coordinate(tree.triangles[begin], 0), Coordinate(tree.triangles[begin], 1),
                       Coordinate(tree.triangles[begin], 2)};
        float hi[3] = {lo[0], lo[1], lo[2]};
        for (size_t k = begin; k < end; ++k) {
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], Coordinate(tree.triangles[k], a));
                hi[a] = std::max(hi[a], Coordinate(tree.triangles[k], a));
            }
        }
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (hi[a] - lo[a] > hi[axis] - lo[axis])
                axis = a;

        const bool small = end - begin <= leafSize;
        const bool flat = hi[axis] == lo[axis];
        if (end - begin < 2 || (!mustSplit && (small || flat))) {
            tree.leaves.emplace_back(begin, end);
            return {true, static_cast<uint32_t>(tree.leaves.size() - 1)};
        }

        const size_t middle = begin + (end - begin) / 2;
        const auto first = tree.triangles.begin();
        std::nth_element(first + begin, first + middle, first + end,
                         [&](uint64_t a, uint64_t b) { return Coordinate(a, axis) < Coordinate(b, axis); });
        // The plane lies halfway between the two halves, so centroids on it are rare.
        const float upper = Coordinate(tree.triangles[middle], axis);
        float lower = Coordinate(tree.triangles[begin], axis);
        for (size_t k = begin; k < middle; ++k)
            lower = std::max(lower, Coordinate(tree.triangles[k], axis));

        const uint32_t self = static_cast<uint32_t>(tree.nodes.size());
        tree.nodes.push_back({axis, lower + (upper - lower) * 0.5f, {}, {}});
        const BspChild back = Build(begin, middle, false);
        const BspChild front = Build(middle, end, false);
        tree.nodes[self].back = back;
        tree.nodes[self].front = front;
        return {false, self};
    }
};

// A permutation of 0..count-1 that keeps the first `fixed` numbers in place.
std::vector<uint32_t> Shuffled(size_t count, size_t fixed, GenRandom& random)
{
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    for (size_t k = count; k > fixed + 1; --k)
        std::swap(order[k - 1], order[fixed + random.Below(static_cast<uint32_t>(k - fixed))]);
    return order;
}

}  // namespace

BspTree BuildBsp(const std::vector<float>& centroids, size_t leafSize)
{
    BspTree tree;
    tree.triangles.resize(centroids.size() / 3);
    std::iota(tree.triangles.begin(), tree.triangles.end(), uint64_t{0});
    BspBuilder builder{centroids, std::max<size_t>(leafSize, 1), tree};
    builder.Build(0, tree.triangles.size(), true);
    return tree;
}

void ShuffleBsp(BspTree& tree, uint64_t seed)
{
    GenRandom random(seed ^ 0x42535073687566ull);
    // newOf[old] is the record's new number; the records move to their new places.
    const std::vector<uint32_t> leafNew = Shuffled(tree.leaves.size(), 0, random);
    const std::vector<uint32_t> nodeNew = Shuffled(tree.nodes.size(), 1, random);

    std::vector<std::pair<size_t, size_t>> leaves(tree.leaves.size());
    for (size_t k = 0; k < leaves.size(); ++k)
        leaves[leafNew[k]] = tree.leaves[k];
    const auto remap = [&](BspChild child) {
        child.index = child.isLeaf ? leafNew[child.index] : nodeNew[child.index];
        return child;
    };
    std::vector<BspSplit> nodes(tree.nodes.size());
    for (size_t k = 0; k < nodes.size(); ++k) {
        BspSplit split = tree.nodes[k];
        split.front = remap(split.front);
        split.back = remap(split.back);
        nodes[nodeNew[k]] = split;
    }
    tree.leaves = std::move(leaves);
    tree.nodes = std::move(nodes);
}
