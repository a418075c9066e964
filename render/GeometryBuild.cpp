#include "GeometryBuild.h"

#include "Console.h"
#include "TriangleOrder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>
#include <unordered_map>

namespace {

constexpr size_t kFloatsPerVertex = sizeof(RenderVertex) / sizeof(float);
// The vertex cache that the batches are ordered for.
constexpr int kOrderCacheSize = 24;
// Small enough that a cluster's box stays close to its triangles (the optimiser's order follows the surface),
// large enough that the boxes of a million-triangle level are tested in well under a millisecond per pass.
constexpr uint32_t kClusterTriangles = 64;
// Pieces of the passes over all triangles or clusters that threads take one at a time.
constexpr size_t kChunkTriangles = size_t(1) << 16;
constexpr size_t kChunkClusters = 1024;
// The fewest corners that the weld splits into runs: below, the look-up across runs costs more than a second
// thread saves.
constexpr size_t kThreadedWeldCorners = size_t(1) << 17;
// Hash shares of the weld's look-up per thread: enough that the threads finish together.
constexpr size_t kSharesPerThread = 4;

const float* Floats(const RenderVertex& v) { return v.position; }

// Calls work(begin, end) for consecutive pieces of [0, count) of at most `chunk` items, on up to `threads`.
template <class Work>
void ForChunks(size_t count, size_t chunk, unsigned threads, Work&& work)
{
    ParallelFor((count + chunk - 1) / chunk,
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

// The vertices of corners asked for in order: each triangle is completed once for its three corners.
class CornerVertices {
public:
    explicit CornerVertices(const TriangleRefs& triangles) : triangles_(triangles) {}

    RenderVertex operator()(size_t corner)
    {
        const size_t index = corner / 3;
        if (index != completedIndex_) {
            completed_ = CompletedTriangle(*triangles_[index]);
            completedIndex_ = index;
        }
        return MakeRenderVertex(completed_, completed_.corners[corner % 3]);
    }

private:
    const TriangleRefs& triangles_;
    size_t completedIndex_ = std::numeric_limits<size_t>::max();
    Triangle completed_;
};

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

// The distinct vertices of a run of consecutive corners, in order of first occurrence in the run, with their hashes.
struct RunVertices {
    std::vector<RenderVertex> vertices;
    std::vector<uint32_t> hashes;
};

// One pass over corners [begin, end) in order: numbers[c] becomes the number of corner c's vertex among the run's.
// Room for `reserve` vertices is set aside, so that the first run's vertices can grow into the whole buffer.
RunVertices WeldRun(const TriangleRefs& triangles, size_t begin, size_t end, size_t reserve, uint32_t* numbers)
{
    RunVertices run;
    run.vertices.reserve(reserve);
    run.hashes.reserve(reserve);
    // Open addressing over vertex numbers (slot value = number + 1, 0 = empty), at most half full: one flat
    // allocation instead of a node per vertex, which keeps the cost per corner nearly flat as levels grow. It starts
    // at a guess of a few corners per vertex and doubles when it fills, placing the vertices anew by their kept
    // hashes: a table for every corner would be several times larger than the vertices need, all of it to be faulted
    // in and most of it to miss the caches.
    std::vector<uint32_t> slots(TableSlots((end - begin) / 4), 0);
    size_t mask = slots.size() - 1;
    const auto grow = [&] {
        slots.assign(slots.size() * 2, 0);
        mask = slots.size() - 1;
        for (size_t i = 0; i < run.hashes.size(); ++i) {
            size_t slot = run.hashes[i] & mask;
            while (slots[slot] != 0)
                slot = (slot + 1) & mask;
            slots[slot] = static_cast<uint32_t>(i + 1);
        }
    };

    // On large levels the table and the vertices outgrow the caches and every probe waits for memory. So each
    // corner is formed and hashed a few corners ahead of its probe, its slot fetched then, and the vertex that slot
    // names fetched halfway; the probes themselves run in order, so the numbering is the same.
    constexpr size_t kAhead = 16;
    struct Pending {
        RenderVertex vertex;
        uint32_t hash;
    };
    Pending ahead[kAhead];
    CornerVertices cornerVertex(triangles);
    const auto prepare = [&](size_t c) {
        Pending& p = ahead[c % kAhead];
        p.vertex = cornerVertex(c);
        p.hash = static_cast<uint32_t>(HashVertex(p.vertex));
        __builtin_prefetch(&slots[p.hash & mask]);
    };
    for (size_t c = begin; c < std::min(begin + kAhead, end); ++c)
        prepare(c);
    for (size_t c = begin; c < end; ++c) {
        if (c + kAhead / 2 < end) {
            const uint32_t named = slots[ahead[(c + kAhead / 2) % kAhead].hash & mask];
            if (named != 0)
                __builtin_prefetch(&run.vertices[named - 1]);
        }
        const Pending& p = ahead[c % kAhead];
        size_t slot = p.hash & mask;
        while (slots[slot] != 0 && !SameVertex(run.vertices[slots[slot] - 1], p.vertex))
            slot = (slot + 1) & mask;
        if (slots[slot] == 0) {
            run.vertices.push_back(p.vertex);
            run.hashes.push_back(p.hash);
            slots[slot] = static_cast<uint32_t>(run.vertices.size());
        }
        numbers[c] = slots[slot] - 1;
        if (slots.size() < run.vertices.size() * 2)
            grow();
        if (c + kAhead < end)
            prepare(c + kAhead);
    }
    return run;
}

// The numbering on `threads` threads, one run of consecutive corners each; one run is the single pass. The runs are
// welded apart. A vertex's number is then its place among the runs' vertices, run after run, that no earlier run
// holds: equal vertices have equal hashes, so the threads look up the runs' vertices hash share by hash share, each
// share in order, and find for each the first equal one. Last, every corner trades its number in its run for the
// vertex's number. Together the steps do about the single pass's work.
WeldedCorners WeldInRuns(const TriangleRefs& triangles, unsigned threads)
{
    const size_t cornerCount = triangles.size() * 3;
    const size_t runCount = threads;
    const auto runStart = [&](size_t r) { return cornerCount * r / runCount; };
    WeldedCorners result;
    result.corners.resize(cornerCount);
    const size_t shareCount = size_t(threads) * kSharesPerThread;
    const auto shareOf = [shareCount](uint32_t hash) { return size_t((uint64_t(hash) * shareCount) >> 32); };
    std::vector<RunVertices> runs(runCount);
    // Per run its vertices' numbers grouped by hash share, in order within each share, share s from
    // shareStart[r][s] on.
    std::vector<std::vector<uint32_t>> byShare(runCount), shareStart(runCount);
    ParallelFor(
        runCount,
        [&](size_t r) {
            runs[r] = WeldRun(triangles, runStart(r), runStart(r + 1),
                              r == 0 ? cornerCount : runStart(r + 1) - runStart(r), result.corners.data());
            if (runCount == 1)
                return;
            const std::vector<uint32_t>& hashes = runs[r].hashes;
            std::vector<uint32_t>& start = shareStart[r];
            start.assign(shareCount + 1, 0);
            for (uint32_t hash : hashes)
                ++start[shareOf(hash) + 1];
            std::partial_sum(start.begin(), start.end(), start.begin());
            std::vector<uint32_t> next(start.begin(), start.end() - 1);
            byShare[r].resize(hashes.size());
            for (size_t i = 0; i < hashes.size(); ++i)
                byShare[r][next[shareOf(hashes[i])]++] = static_cast<uint32_t>(i);
        },
        threads);
    if (runCount == 1) {
        result.vertices = std::move(runs[0].vertices);
        return result;
    }

    // The runs' vertices are numbered together, run after run ("pooled" numbers).
    std::vector<uint32_t> runBase(runCount + 1, 0);
    for (size_t r = 0; r < runCount; ++r)
        runBase[r + 1] = runBase[r] + static_cast<uint32_t>(runs[r].vertices.size());
    // The first run's vertices stay in place, at the front of the buffer, which is sized for the pooled vertices
    // while the shares are looked up.
    std::vector<const RenderVertex*> runVertices(runCount);
    for (size_t r = 0; r < runCount; ++r)
        runVertices[r] = runs[r].vertices.data();
    result.vertices = std::move(runs[0].vertices);
    const auto pooledVertex = [&](uint32_t pooled) -> const RenderVertex& {
        const size_t r = size_t(std::upper_bound(runBase.begin(), runBase.end(), pooled) - runBase.begin()) - 1;
        return runVertices[r][pooled - runBase[r]];
    };

    // Per pooled vertex the pooled number of the first equal one.
    std::vector<uint32_t> first(runBase.back());
    ParallelFor(
        1 + shareCount,
        [&](size_t item) {
            if (item == 0) {
                result.vertices.resize(runBase.back());
                return;
            }
            const size_t share = item - 1;
            size_t entries = 0;
            for (size_t r = 0; r < runCount; ++r)
                entries += shareStart[r][share + 1] - shareStart[r][share];
            // Open addressing over the share's first vertices, each slot holding a hash and its pooled number + 1.
            struct Slot {
                uint32_t hash = 0, pooled = 0;
            };
            std::vector<Slot> slots(TableSlots(entries));
            const size_t mask = slots.size() - 1;
            for (size_t r = 0; r < runCount; ++r) {
                const uint32_t* hashes = runs[r].hashes.data();
                const RenderVertex* vertices = runVertices[r];
                const uint32_t* begin = byShare[r].data() + shareStart[r][share];
                const uint32_t* end = byShare[r].data() + shareStart[r][share + 1];
                for (const uint32_t* i = begin; i != end; ++i) {
                    if (end - i > 8)
                        __builtin_prefetch(&slots[hashes[i[8]] & mask]);
                    const uint32_t hash = hashes[*i];
                    const uint32_t pooled = runBase[r] + *i;
                    size_t slot = hash & mask;
                    while (slots[slot].pooled != 0 && !(slots[slot].hash == hash &&
                                                        SameVertex(pooledVertex(slots[slot].pooled - 1), vertices[*i])))
                        slot = (slot + 1) & mask;
                    if (slots[slot].pooled == 0)
                        slots[slot] = {hash, pooled + 1};
                    first[pooled] = slots[slot].pooled - 1;
                }
            }
        },
        threads);

    // Numbers for the first vertices, run after run; then the others take those of their first vertices.
    std::vector<uint32_t> numberBase(runCount + 1, 0);
    for (size_t r = 0; r < runCount; ++r) {
        uint32_t count = 0;
        for (uint32_t pooled = runBase[r]; pooled < runBase[r + 1]; ++pooled)
            count += first[pooled] == pooled;
        numberBase[r + 1] = numberBase[r] + count;
    }
    std::vector<uint32_t> number(runBase.back());
    ParallelFor(
        runCount,
        [&](size_t r) {
            uint32_t next = numberBase[r];
            for (uint32_t pooled = runBase[r]; pooled < runBase[r + 1]; ++pooled)
                if (first[pooled] == pooled)
                    number[pooled] = next++;
        },
        threads);
    ParallelFor(
        runCount,
        [&](size_t r) {
            for (uint32_t pooled = runBase[r]; pooled < runBase[r + 1]; ++pooled)
                if (first[pooled] != pooled)
                    number[pooled] = number[first[pooled]];
        },
        threads);

    // The later runs' first vertices follow the first run's, and their corners take the vertices' numbers.
    result.vertices.resize(numberBase.back());
    ParallelFor(
        runCount - 1,
        [&](size_t item) {
            const size_t r = item + 1;
            const RunVertices& run = runs[r];
            for (uint32_t pooled = runBase[r]; pooled < runBase[r + 1]; ++pooled)
                if (first[pooled] == pooled)
                    result.vertices[number[pooled]] = run.vertices[pooled - runBase[r]];
            for (size_t c = runStart(r); c < runStart(r + 1); ++c)
                result.corners[c] = number[runBase[r] + result.corners[c]];
        },
        threads);
    return result;
}

// The diffuse textures of a piece of the triangles in order of first occurrence there, with the normal map of each
// one's first triangle, its batch, and first the count of its indices in the piece, then where the next of them goes
// in the batch's list.
struct PieceMaterials {
    std::vector<uint32_t> diffuse, normalMap, batch;
    std::vector<size_t> next;
};

}  // namespace

WeldedCorners WeldCorners(const TriangleRefs& triangles, unsigned threads)
{
    // The runs number corners and their vertices in 32 bits; one run is the single pass.
    const size_t cornerCount = triangles.size() * 3;
    const bool split = cornerCount >= kThreadedWeldCorners && cornerCount < std::numeric_limits<uint32_t>::max();
    return WeldInRuns(triangles, split ? std::max(threads, 1u) : 1);
}

TriangleRefs CollectRenderTriangles(const BspNode* root)
{
    TriangleRefs triangles = CollectTriangleRefs(root);
    ConsoleLinef("%zu triangles.", triangles.size());
    return triangles;
}

BuiltGeometry WeldGeometry(const TriangleRefs& triangles, unsigned threads)
{
    WeldedCorners welded = WeldCorners(triangles, threads);
    BuiltGeometry result;
    result.vertices = std::move(welded.vertices);
    // Each piece of the triangles lists its diffuse textures in order of first occurrence and numbers every
    // triangle's among them; the pieces' lists, piece after piece, give the batches' order. The tables grow with the
    // level's textures instead of writing beyond a fixed array.
    std::vector<PieceMaterials> pieces((triangles.size() + kChunkTriangles - 1) / kChunkTriangles);
    std::vector<uint32_t> materialOf(triangles.size());
    ForChunks(triangles.size(), kChunkTriangles, threads, [&](size_t begin, size_t end) {
        PieceMaterials& piece = pieces[begin / kChunkTriangles];
        std::unordered_map<uint32_t, uint32_t> index;
        uint32_t material = 0;
        for (size_t t = begin; t < end; ++t) {
            const LeafTriangle& triangle = *triangles[t];
            // Neighbouring triangles mostly share their texture, which spares the look-up.
            if (t == begin || triangle.diffuseTexture != piece.diffuse[material]) {
                const auto found = index.emplace(triangle.diffuseTexture, static_cast<uint32_t>(piece.diffuse.size()));
                if (found.second) {
                    piece.diffuse.push_back(triangle.diffuseTexture);
                    piece.normalMap.push_back(triangle.normalMap);
                    piece.next.push_back(0);
                }
                material = found.first->second;
            }
            materialOf[t] = material;
            piece.next[material] += 3;
        }
    });
    std::unordered_map<uint32_t, uint32_t> batchIndex;
    std::vector<size_t> sizes;
    for (PieceMaterials& piece : pieces)
        for (size_t m = 0; m < piece.diffuse.size(); ++m) {
            const auto found = batchIndex.emplace(piece.diffuse[m], static_cast<uint32_t>(result.batches.size()));
            if (found.second) {
                MaterialBatch batch;
                batch.diffuseTexture = piece.diffuse[m];
                batch.normalMap = piece.normalMap[m];
                result.batches.push_back(std::move(batch));
                sizes.push_back(0);
            }
            const uint32_t b = found.first->second;
            piece.batch.push_back(b);
            const size_t count = piece.next[m];
            piece.next[m] = sizes[b];
            sizes[b] += count;
        }
    ParallelFor(
        result.batches.size(), [&](size_t b) { result.batches[b].indices.resize(sizes[b]); }, threads);
    // Every piece writes its triangles' indices where its counts above place them, in collection order.
    ForChunks(triangles.size(), kChunkTriangles, threads, [&](size_t begin, size_t end) {
        PieceMaterials& piece = pieces[begin / kChunkTriangles];
        for (size_t t = begin; t < end; ++t) {
            const uint32_t material = materialOf[t];
            uint32_t* indices = &result.batches[piece.batch[material]].indices[piece.next[material]];
            std::copy(&welded.corners[t * 3], &welded.corners[t * 3] + 3, indices);
            piece.next[material] += 3;
        }
    });
    return result;
}

Outcome OrderBatches(BuiltGeometry& geometry, unsigned threads)
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
    std::atomic<bool> outOfMemory{false};
    const unsigned workers = static_cast<unsigned>(std::min<size_t>(std::max(threads, 1u), batches.size()));
    ParallelFor(
        workers,
        [&](size_t) {
            // Each thread orders with its own scratch, and keeps each batch's console lines for the end.
            // Out of memory ends this thread's work and, through the flag, every other thread's.
            try {
                OrderScratch scratch;
                for (size_t taken; !outOfMemory && (taken = next.fetch_add(1)) < bySize.size();) {
                    MaterialBatch& batch = batches[bySize[taken]];
                    std::vector<uint32_t> ordered(batch.indices.size());
                    OrderResult result = OrderTriangles(ordered.data(), batch.indices.data(),
                                                        static_cast<uint32_t>(batch.indices.size()), options, scratch);
                    if (result.outOfMemory) {
                        outOfMemory = true;
                        break;
                    }
                    ordered.resize(result.indexCount);
                    ordered.shrink_to_fit();
                    batch.indices = std::move(ordered);
                    consoles[bySize[taken]] = std::move(result.console);
                }
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
        },
        workers);
    if (outOfMemory)
        return Outcome::Failure(FailureReason::OutOfMemory, kOrderOutOfMemory);
    for (const OrderConsole& console : consoles)
        for (const OrderConsole::Run& run : console.runs)
            for (uint32_t i = 0; i < run.count; ++i)
                ConsoleText(run.text);
    return Outcome();
}

void BuildClusters(BuiltGeometry& geometry, unsigned threads)
{
    const size_t step = size_t(kClusterTriangles) * 3;
    geometry.batchClusters.assign(1, 0);
    for (const MaterialBatch& batch : geometry.batches)
        geometry.batchClusters.push_back(geometry.batchClusters.back() +
                                         static_cast<uint32_t>((batch.indices.size() + step - 1) / step));
    geometry.clusters.assign(geometry.batchClusters.back(), IndexCluster());
    ForChunks(geometry.clusters.size(), kChunkClusters, threads, [&](size_t begin, size_t end) {
        size_t b = size_t(std::upper_bound(geometry.batchClusters.begin(), geometry.batchClusters.end(), begin) -
                          geometry.batchClusters.begin()) -
                   1;
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

Result<BuiltGeometry> BuildGeometry(const TriangleRefs& triangles, unsigned threads,
                                    const std::function<void(double)>& progress, const std::function<void()>& welded)
{
    const auto told = [&progress](double fraction) {
        if (progress)
            progress(fraction);
    };
    try {
        BuiltGeometry geometry = WeldGeometry(triangles, threads);
        if (welded)
            welded();
        // The fractions are each step's share of the build's time on a large level.
        told(0.35);
        const Outcome ordered = OrderBatches(geometry, threads);
        if (!ordered.Ok())
            return ordered;
        told(0.9);
        BuildClusters(geometry, threads);
        told(0.95);
        return geometry;
    } catch (const std::bad_alloc&) {
        return Outcome::Failure(FailureReason::OutOfMemory, kGeometryOutOfMemory);
    }
}
