#include "GeometryBuild.h"

#include "TriangleOrder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace {

constexpr size_t kFloatsPerVertex = sizeof(RenderVertex) / sizeof(float);
// The vertex cache that the batches are ordered for.
constexpr int kOrderCacheSize = 24;
// Small enough that a cluster's box stays close to its triangles (the optimiser's order follows the surface),
// large enough that the boxes of a million-triangle level are tested in well under a millisecond per pass.
constexpr uint32_t kClusterTriangles = 64;
// Pieces of the passes over all corners or clusters that threads take one at a time.
constexpr size_t kChunkCorners = size_t(1) << 16;
constexpr size_t kChunkClusters = 1024;

const float* Floats(const RenderVertex& v) { return v.position; }

// Calls work(begin, end) for consecutive pieces of [0, count) of at most `chunk` items, on up to `threads`.
template <class Work>
void ForChunks(size_t count, size_t chunk, unsigned threads, Work&& work)
{
    ParallelFor(
        (count + chunk - 1) / chunk,
        [&](size_t piece) { work(piece * chunk, std::min(count, (piece + 1) * chunk)); }, threads);
}

}  // namespace

RenderVertex MakeRenderVertex(const Triangle& triangle, const TriangleCorner& corner)
{
    RenderVertex v;
    v.position[0] = static_cast<float>(corner.position.x);
    v.position[1] = static_cast<float>(corner.position.y);
    v.position[2] = static_cast<float>(corner.position.z);
    v.texCoord[0] = corner.u;
    v.texCoord[1] = corner.v;
    v.tangent[0] = static_cast<float>(triangle.tangent.x);
    v.tangent[1] = static_cast<float>(triangle.tangent.y);
    v.tangent[2] = static_cast<float>(triangle.tangent.z);
    v.bitangent[0] = static_cast<float>(triangle.bitangent.x);
    v.bitangent[1] = static_cast<float>(triangle.bitangent.y);
    v.bitangent[2] = static_cast<float>(triangle.bitangent.z);
    v.normal[0] = static_cast<float>(triangle.plane.normal.x);
    v.normal[1] = static_cast<float>(triangle.plane.normal.y);
    v.normal[2] = static_cast<float>(triangle.plane.normal.z);
    return v;
}

namespace {

RenderVertex CornerVertex(const TriangleRefs& triangles, size_t corner)
{
    const Triangle& triangle = *triangles[corner / 3];
    return MakeRenderVertex(triangle, triangle.corners[corner % 3]);
}

// Hash and equality with the numeric comparison of a linear search: +0 and -0 are the same value, and a vertex
// holding a NaN equals no other vertex, so it is always stored anew.
uint64_t HashVertex(const RenderVertex& v)
{
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < kFloatsPerVertex; ++i) {
        const float value = Floats(v)[i] + 0.0f;  // -0 + 0 is +0
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        hash = (hash ^ bits) * 1099511628211ull;
    }
    return hash ^ (hash >> 29);
}

bool SameVertex(const RenderVertex& a, const RenderVertex& b)
{
    for (size_t i = 0; i < kFloatsPerVertex; ++i)
        if (!(Floats(a)[i] == Floats(b)[i]))
            return false;
    return true;
}

size_t TableSlots(size_t entries)
{
    size_t slots = 16;
    while (slots < entries * 2)
        slots *= 2;
    return slots;
}

// One pass over the corners in order, for one thread.
WeldedCorners WeldInOrder(const TriangleRefs& triangles)
{
    WeldedCorners result;
    const size_t cornerCount = triangles.size() * 3;
    result.vertices.reserve(cornerCount);
    result.corners.reserve(cornerCount);
    // Open addressing over vertex numbers (slot value = number + 1, 0 = empty), at most half full: one flat
    // allocation instead of a node per vertex, which keeps the cost per corner nearly flat as levels grow.
    std::vector<uint32_t> slots(TableSlots(cornerCount), 0);
    const size_t mask = slots.size() - 1;

    // On large levels the table and the vertices outgrow the caches and every probe waits for memory. So each
    // corner is formed and hashed a few corners ahead of its probe, its slot fetched then, and the vertex that slot
    // names fetched halfway; the probes themselves run in order, so the numbering is the same.
    constexpr size_t kAhead = 16;
    struct Pending {
        RenderVertex vertex;
        size_t slot;
    };
    Pending ahead[kAhead];
    const auto prepare = [&](size_t c) {
        Pending& p = ahead[c % kAhead];
        p.vertex = CornerVertex(triangles, c);
        p.slot = HashVertex(p.vertex) & mask;
        __builtin_prefetch(&slots[p.slot]);
    };
    for (size_t c = 0; c < std::min(kAhead, cornerCount); ++c)
        prepare(c);
    for (size_t c = 0; c < cornerCount; ++c) {
        if (c + kAhead / 2 < cornerCount) {
            const uint32_t named = slots[ahead[(c + kAhead / 2) % kAhead].slot];
            if (named != 0)
                __builtin_prefetch(&result.vertices[named - 1]);
        }
        const Pending& p = ahead[c % kAhead];
        size_t slot = p.slot;
        while (slots[slot] != 0 && !SameVertex(result.vertices[slots[slot] - 1], p.vertex))
            slot = (slot + 1) & mask;
        if (slots[slot] == 0) {
            result.vertices.push_back(p.vertex);
            slots[slot] = static_cast<uint32_t>(result.vertices.size());
        }
        result.corners.push_back(slots[slot] - 1);
        if (c + kAhead < cornerCount)
            prepare(c + kAhead);
    }
    return result;
}

// The same numbering on several threads. Equal vertices have equal hashes, so the vertices split by hash into one
// share per thread, welded apart: each thread walks all corners in order, so that the triangles stream through the
// caches as in the single pass, and finds for every corner of its share the first corner with an equal vertex. A
// vertex's number is then the count of first corners before its own, which pieces of the corners count and
// assign at once.
WeldedCorners WeldInShares(const TriangleRefs& triangles, unsigned threads)
{
    const size_t cornerCount = triangles.size() * 3;
    const size_t chunkCount = (cornerCount + kChunkCorners - 1) / kChunkCorners;
    const auto shareOf = [threads](uint32_t hash) { return size_t((uint64_t(hash) * threads) >> 32); };

    // Per corner its hash, later the number of its vertex.
    std::vector<uint32_t> hashes(cornerCount);
    std::vector<size_t> shareSizes(chunkCount * threads, 0);
    ForChunks(cornerCount, kChunkCorners, threads, [&](size_t begin, size_t end) {
        size_t* sizes = &shareSizes[begin / kChunkCorners * threads];
        for (size_t c = begin; c < end; ++c) {
            hashes[c] = static_cast<uint32_t>(HashVertex(CornerVertex(triangles, c)));
            ++sizes[shareOf(hashes[c])];
        }
    });

    WeldedCorners result;
    // Per corner the first corner with an equal vertex, later the number of that vertex.
    std::vector<uint32_t>& first = result.corners;
    first.resize(cornerCount);
    ParallelFor(
        threads,
        [&](size_t share) {
            size_t entries = 0;
            for (size_t chunk = 0; chunk < chunkCount; ++chunk)
                entries += shareSizes[chunk * threads + share];
            // Open addressing over the share's distinct vertices (slot value = number in `kept` + 1, 0 = empty).
            std::vector<uint32_t> slots(TableSlots(entries), 0);
            const size_t mask = slots.size() - 1;
            std::vector<RenderVertex> kept;
            std::vector<uint32_t> keptHash, keptCorner;
            kept.reserve(entries);
            keptHash.reserve(entries);
            keptCorner.reserve(entries);
            for (size_t c = 0; c < cornerCount; ++c) {
                const uint32_t hash = hashes[c];
                if (shareOf(hash) != share)
                    continue;
                const RenderVertex vertex = CornerVertex(triangles, c);
                size_t slot = hash & mask;
                while (slots[slot] != 0 &&
                       !(keptHash[slots[slot] - 1] == hash && SameVertex(kept[slots[slot] - 1], vertex)))
                    slot = (slot + 1) & mask;
                if (slots[slot] == 0) {
                    kept.push_back(vertex);
                    keptHash.push_back(hash);
                    keptCorner.push_back(static_cast<uint32_t>(c));
                    slots[slot] = static_cast<uint32_t>(kept.size());
                }
                first[c] = keptCorner[slots[slot] - 1];
            }
        },
        threads);

    // Numbers for the first corners, piece by piece from the count of those before the piece.
    std::vector<uint32_t> numberBase(chunkCount + 1, 0);
    ForChunks(cornerCount, kChunkCorners, threads, [&](size_t begin, size_t end) {
        uint32_t count = 0;
        for (size_t c = begin; c < end; ++c)
            count += first[c] == c;
        numberBase[begin / kChunkCorners + 1] = count;
    });
    std::partial_sum(numberBase.begin(), numberBase.end(), numberBase.begin());
    result.vertices.resize(numberBase.back());
    std::vector<uint32_t>& numbers = hashes;
    ForChunks(cornerCount, kChunkCorners, threads, [&](size_t begin, size_t end) {
        uint32_t number = numberBase[begin / kChunkCorners];
        for (size_t c = begin; c < end; ++c)
            if (first[c] == c) {
                result.vertices[number] = CornerVertex(triangles, c);
                numbers[c] = number++;
            }
    });
    // Every corner takes the number of its first corner, assigned above.
    ForChunks(cornerCount, kChunkCorners, threads, [&](size_t begin, size_t end) {
        for (size_t c = begin; c < end; ++c)
            first[c] = numbers[first[c]];
    });
    return result;
}

}  // namespace

WeldedCorners WeldCorners(const TriangleRefs& triangles, unsigned threads)
{
    // The shares cost more work than the single pass, which only several threads and enough corners repay; they
    // number corners in 32 bits.
    if (threads <= 1 || triangles.size() * 3 < 2 * kChunkCorners ||
        triangles.size() * 3 >= std::numeric_limits<uint32_t>::max())
        return WeldInOrder(triangles);
    return WeldInShares(triangles, threads);
}

TriangleRefs CollectRenderTriangles(const BspNode* root)
{
    TriangleRefs triangles = CollectTriangleRefs(root);
    std::printf("%zu triangles.\n", triangles.size());
    std::fflush(stdout);
    return triangles;
}

BuiltGeometry WeldGeometry(const TriangleRefs& triangles, unsigned threads)
{
    WeldedCorners welded = WeldCorners(triangles, threads);
    BuiltGeometry result;
    result.vertices = std::move(welded.vertices);
    // The batch of every triangle; the table grows past 32 materials instead of writing beyond a fixed array.
    std::vector<uint32_t> batchOf(triangles.size());
    std::unordered_map<uint32_t, uint32_t> materialIndex;
    std::vector<size_t> sizes;
    for (size_t t = 0; t < triangles.size(); ++t) {
        const Triangle& triangle = *triangles[t];
        const auto material = materialIndex.emplace(triangle.diffuseTexture, static_cast<uint32_t>(result.batches.size()));
        if (material.second) {
            MaterialBatch batch;
            batch.diffuseTexture = triangle.diffuseTexture;
            batch.normalMap = triangle.normalMap;
            result.batches.push_back(std::move(batch));
            sizes.push_back(0);
        }
        batchOf[t] = material.first->second;
        sizes[batchOf[t]] += 3;
    }
    for (size_t b = 0; b < result.batches.size(); ++b)
        result.batches[b].indices.reserve(sizes[b]);
    for (size_t t = 0; t < triangles.size(); ++t) {
        std::vector<uint32_t>& indices = result.batches[batchOf[t]].indices;
        indices.insert(indices.end(), &welded.corners[t * 3], &welded.corners[t * 3] + 3);
    }
    return result;
}

void OrderBatches(BuiltGeometry& geometry, unsigned threads)
{
    std::vector<MaterialBatch>& batches = geometry.batches;
    OrderOptions options;
    options.cacheSize = kOrderCacheSize;
    // The largest lists first, so that no thread is left with a large one at the end.
    std::vector<size_t> bySize(batches.size());
    std::iota(bySize.begin(), bySize.end(), size_t(0));
    std::stable_sort(bySize.begin(), bySize.end(),
                     [&](size_t a, size_t b) { return batches[a].indices.size() > batches[b].indices.size(); });
    std::vector<OrderConsole> consoles(batches.size());
    std::atomic<size_t> next{0};
    const unsigned workers = static_cast<unsigned>(std::min<size_t>(std::max(threads, 1u), batches.size()));
    ParallelFor(
        workers,
        [&](size_t) {
            // Each thread orders with its own scratch, and keeps each batch's console lines for the end.
            OrderScratch scratch;
            for (size_t taken; (taken = next.fetch_add(1)) < bySize.size();) {
                MaterialBatch& batch = batches[bySize[taken]];
                std::vector<uint32_t> ordered(batch.indices.size());
                const OrderResult result =
                    OrderTriangles(ordered.data(), batch.indices.data(), static_cast<uint32_t>(batch.indices.size()),
                                   options, scratch);
                ordered.resize(result.indexCount);
                ordered.shrink_to_fit();
                batch.indices = std::move(ordered);
                consoles[bySize[taken]] = result.console;
            }
        },
        workers);
    for (const OrderConsole& console : consoles)
        console.Print(stdout);
}

void BuildClusters(BuiltGeometry& geometry, unsigned threads)
{
    const size_t step = size_t(kClusterTriangles) * 3;
    geometry.batchClusters.assign(1, 0);
    for (const MaterialBatch& batch : geometry.batches)
        geometry.batchClusters.push_back(
            geometry.batchClusters.back() + static_cast<uint32_t>((batch.indices.size() + step - 1) / step));
    geometry.clusters.assign(geometry.batchClusters.back(), IndexCluster());
    ForChunks(geometry.clusters.size(), kChunkClusters, threads, [&](size_t begin, size_t end) {
        size_t b = size_t(std::upper_bound(geometry.batchClusters.begin(), geometry.batchClusters.end(), begin) -
                          geometry.batchClusters.begin()) - 1;
        for (size_t c = begin; c < end; ++c) {
            while (c >= geometry.batchClusters[b + 1])
                ++b;
            const std::vector<uint32_t>& indices = geometry.batches[b].indices;
            IndexCluster& cluster = geometry.clusters[c];
            const size_t first = (c - geometry.batchClusters[b]) * step;
            cluster.firstIndex = static_cast<uint32_t>(first);
            cluster.indexCount = static_cast<uint32_t>(std::min(step, indices.size() - first));
            ClusterBox& box = cluster.bounds;
            for (int k = 0; k < 3; ++k) {
                box.min[k] = std::numeric_limits<float>::infinity();
                box.max[k] = -std::numeric_limits<float>::infinity();
            }
            for (size_t i = first; i < first + cluster.indexCount; ++i) {
                const float* position = geometry.vertices[indices[i]].position;
                for (int k = 0; k < 3; ++k) {
                    box.min[k] = std::min(box.min[k], position[k]);
                    box.max[k] = std::max(box.max[k], position[k]);
                }
            }
        }
    });
}

BuiltGeometry BuildGeometry(const TriangleRefs& triangles, unsigned threads)
{
    BuiltGeometry geometry = WeldGeometry(triangles, threads);
    OrderBatches(geometry, threads);
    BuildClusters(geometry, threads);
    return geometry;
}
