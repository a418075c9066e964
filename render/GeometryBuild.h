// The level's triangles turned, on the CPU and with no GL call, into what the renderer draws from: welded
// vertices, one cache-ordered list of 32-bit indices per diffuse texture, and the lists cut into bounded clusters.
// The steps run on up to `threads` threads; their results do not depend on the count.
#pragma once

#include "Culling.h"
#include "Level.h"
#include "Result.h"
#include "WorkerPool.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// One vertex of the buffer: 56 bytes, fourteen floats, no gaps.
struct RenderVertex {
    float position[3];   // vertex array, offset 0
    float texCoord[2];   // texture coordinate set 0, offset 12
    float tangent[3];    // set 1, offset 20
    float bitangent[3];  // set 2, offset 32
    float normal[3];     // set 3, offset 44
};
static_assert(sizeof(RenderVertex) == 56, "the vertex layout is fixed at 56 bytes");

// The triangles of one diffuse texture, three vertex numbers each.
struct MaterialBatch {
    uint32_t diffuseTexture = 0;
    uint32_t normalMap = 0;  // that of the first triangle with this diffuse texture
    std::vector<uint32_t> indices;
};

// A run of consecutive triangles of one batch's index list with the bounds of their vertices: the unit in which
// passes leave out what they cannot reach. Drawing a selection of clusters draws a subsequence of the list in its
// own order.
struct IndexCluster {
    uint32_t firstIndex = 0;
    uint32_t indexCount = 0;
    ClusterBox bounds;
};

struct BuiltGeometry {
    std::vector<RenderVertex> vertices;
    std::vector<MaterialBatch> batches;   // in order of first occurrence of their diffuse textures
    std::vector<IndexCluster> clusters;   // every batch's clusters, batch after batch, each in list order
    std::vector<uint32_t> batchClusters;  // batch b owns clusters batchClusters[b] to batchClusters[b + 1] - 1
};

// The vertex of one triangle corner: its position and u, v with the triangle's tangent frame and plane normal.
RenderVertex MakeRenderVertex(const Triangle& triangle, const TriangleCorner& corner);

// Triangles by address, in collection order: the level's tree keeps them, so the build copies none.
using TriangleRefs = std::vector<const LeafTriangle*>;

// Leaves the numbers of a resized list unset, so that the threads which fill a new list also fault its pages in.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Identical vertices stored once, numbered in order of first occurrence; three vertex indices per triangle.
struct WeldedCorners {
    std::vector<RenderVertex> vertices;
    std::vector<uint32_t, UnsetAllocator<uint32_t>> corners;
};

// Welds the corners in order, comparing the fourteen values as floats: +0 equals -0 and NaN equals nothing, as a
// linear search from the first vertex would decide, in time linear in the number of corners.
WeldedCorners WeldCorners(const TriangleRefs& triangles, unsigned threads = UsableThreads());

// Collects the level's triangles from root (none when root is null) and prints "<n> triangles.".
TriangleRefs CollectRenderTriangles(const BspNode* root);

// BuildGeometry runs these three steps in order; each can also be called (and timed) on its own.
// Welds the corners and groups the triangles by diffuse texture, each batch's indices in collection order.
BuiltGeometry WeldGeometry(const TriangleRefs& triangles, unsigned threads = UsableThreads());
// Reorders every batch's indices for a 24-entry vertex cache, and prints the optimiser's console lines batch
// after batch. When memory runs out, fails with OutOfMemory and kOrderOutOfMemory, prints nothing, and leaves
// the batches partly ordered.
Outcome OrderBatches(BuiltGeometry& geometry, unsigned threads = UsableThreads());
// Cuts every batch's index list into clusters of at most 64 consecutive triangles with their bounds.
void BuildClusters(BuiltGeometry& geometry, unsigned threads = UsableThreads());

// The lines of the build's failures.
constexpr const char* kOrderOutOfMemory = "Out of memory while ordering the triangles for the vertex cache.";
constexpr const char* kGeometryOutOfMemory = "Out of memory while building the render geometry.";

// Welds, orders and clusters the triangles; fails with OutOfMemory when the system refuses memory on any thread.
// `progress`, when set, is told the fraction of the build done after each step; `welded`, when set, is called once
// the triangles are no longer read, so that their owner may release them.
Result<BuiltGeometry> BuildGeometry(const TriangleRefs& triangles, unsigned threads = UsableThreads(),
                                    const std::function<void(double)>& progress = {},
                                    const std::function<void()>& welded = {});
