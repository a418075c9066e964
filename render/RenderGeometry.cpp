#include "RenderGeometry.h"

#include "Shaders.h"
#include "TriangleOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>

RenderGeometry renderGeometry;

namespace {

constexpr size_t kFloatsPerVertex = sizeof(RenderVertex) / sizeof(float);
constexpr uint32_t kMaxShortIndexVertices = 65536;
// Small enough that a cluster's box stays close to its triangles (the optimiser's order follows the surface),
// large enough that the boxes of a million-triangle level are tested in well under a millisecond per pass.
constexpr uint32_t kClusterTriangles = 64;

const float* Floats(const RenderVertex& v) { return v.position; }

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


template <class Index>
std::vector<Index> Order(const std::vector<Index>& triangleIndices);

template <>
std::vector<uint16_t> Order(const std::vector<uint16_t>& triangleIndices)
{
    PrimitiveBatch* batches = nullptr;
    uint16_t batchCount = 0;
    OrderTriangles(triangleIndices.data(), static_cast<uint32_t>(triangleIndices.size()), &batches, &batchCount, true);
    std::vector<uint16_t> ordered(batches[0].indices, batches[0].indices + batches[0].indexCount);
    delete[] batches;
    return ordered;
}

template <>
std::vector<uint32_t> Order(const std::vector<uint32_t>& triangleIndices)
{
    PrimitiveBatch32* batches = nullptr;
    uint16_t batchCount = 0;
    OrderTriangles32(triangleIndices.data(), static_cast<uint32_t>(triangleIndices.size()), &batches, &batchCount,
                     true);
    std::vector<uint32_t> ordered(batches[0].indices, batches[0].indices + batches[0].indexCount);
    delete[] batches;
    return ordered;
}

// Replaces every batch's index list of the given width with the optimiser's order of it.
template <class Index>
void OrderIndexLists(std::vector<MaterialBatch>& batches, std::vector<Index> MaterialBatch::*indices)
{
    for (MaterialBatch& batch : batches) {
        std::vector<Index> ordered = Order(batch.*indices);
        ordered.shrink_to_fit();
        batch.*indices = std::move(ordered);
    }
    ReleaseOrderMemory();
}

// Calls setUp(batch) and draws, for every batch that has something to draw: all of its list without a selection,
// else its selected clusters, neighbouring ones merged into one range, in one call.
template <class SetUp>
void ForEachBatch(const ClusterSelection* selection, DrawRanges& ranges, SetUp setUp)
{
    const GLenum type = renderGeometry.indexType;
    const std::vector<MaterialBatch>& batches = renderGeometry.batches;
    for (size_t b = 0; b < batches.size(); ++b) {
        const MaterialBatch& batch = batches[b];
        const char* indices = type == GL_UNSIGNED_SHORT ? reinterpret_cast<const char*>(batch.indices.data())
                                                        : reinterpret_cast<const char*>(batch.wideIndices.data());
        if (selection == nullptr) {
            setUp(batch);
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(batch.IndexCount()), type, indices);
            continue;
        }
        const size_t indexSize = type == GL_UNSIGNED_SHORT ? sizeof(uint16_t) : sizeof(uint32_t);
        ranges.counts.clear();
        ranges.starts.clear();
        bool extend = false;
        for (uint32_t c = renderGeometry.batchClusters[b]; c < renderGeometry.batchClusters[b + 1]; ++c) {
            const bool selected = (*selection)[c] != 0;
            if (selected) {
                const IndexCluster& cluster = renderGeometry.clusters[c];
                if (extend) {
                    ranges.counts.back() += static_cast<GLsizei>(cluster.indexCount);
                } else {
                    ranges.counts.push_back(static_cast<GLsizei>(cluster.indexCount));
                    ranges.starts.push_back(indices + cluster.firstIndex * indexSize);
                }
            }
            extend = selected;
        }
        if (ranges.counts.empty())
            continue;
        setUp(batch);
        glMultiDrawElements(GL_TRIANGLES, ranges.counts.data(), type, ranges.starts.data(),
                            static_cast<GLsizei>(ranges.counts.size()));
    }
}

// Cuts one batch's index list into clusters of at most clusterTriangles triangles.
template <class Index>
void AppendClusters(const std::vector<Index>& indices, const std::vector<RenderVertex>& vertices,
                    uint32_t clusterTriangles, std::vector<IndexCluster>& clusters)
{
    const size_t step = size_t(clusterTriangles) * 3;
    for (size_t first = 0; first < indices.size(); first += step) {
        IndexCluster cluster;
        cluster.firstIndex = static_cast<uint32_t>(first);
        cluster.indexCount = static_cast<uint32_t>(std::min(step, indices.size() - first));
        ClusterBox& box = cluster.bounds;
        for (int k = 0; k < 3; ++k) {
            box.min[k] = std::numeric_limits<float>::infinity();
            box.max[k] = -std::numeric_limits<float>::infinity();
        }
        for (size_t i = first; i < first + cluster.indexCount; ++i) {
            const float* position = vertices[indices[i]].position;
            for (int k = 0; k < 3; ++k) {
                box.min[k] = std::min(box.min[k], position[k]);
                box.max[k] = std::max(box.max[k], position[k]);
            }
        }
        clusters.push_back(cluster);
    }
}

// Clusters of at most clusterTriangles consecutive triangles of every batch, with the bounds of their vertices.
void BuildClusters(RenderGeometry& geometry, const std::vector<RenderVertex>& vertices, uint32_t clusterTriangles)
{
    geometry.clusters.clear();
    geometry.batchClusters.assign(1, 0);
    for (const MaterialBatch& batch : geometry.batches) {
        if (geometry.indexType == GL_UNSIGNED_SHORT)
            AppendClusters(batch.indices, vertices, clusterTriangles, geometry.clusters);
        else
            AppendClusters(batch.wideIndices, vertices, clusterTriangles, geometry.clusters);
        geometry.batchClusters.push_back(static_cast<uint32_t>(geometry.clusters.size()));
    }
}

}  // namespace

WeldedCorners WeldCorners(const TriangleRefs& triangles)
{
    WeldedCorners result;
    const size_t cornerCount = triangles.size() * 3;
    result.vertices.reserve(cornerCount);
    result.corners.reserve(cornerCount);
    // Open addressing over vertex numbers (slot value = number + 1, 0 = empty), at most half full: one flat
    // allocation instead of a node per vertex, which keeps the cost per corner nearly flat as levels grow.
    size_t slotCount = 16;
    while (slotCount < cornerCount * 2)
        slotCount *= 2;
    std::vector<uint32_t> slots(slotCount, 0);
    const size_t mask = slotCount - 1;

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
        const Triangle& triangle = *triangles[c / 3];
        p.vertex = MakeRenderVertex(triangle, triangle.corners[c % 3]);
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

TriangleRefs CollectRenderTriangles(const BspNode* root)
{
    TriangleRefs triangles = CollectTriangleRefs(root);
    std::printf("%zu triangles.\n", triangles.size());
    std::fflush(stdout);
    return triangles;
}

WeldedGeometry WeldGeometry(const TriangleRefs& triangles)
{
    WeldedCorners welded = WeldCorners(triangles);
    WeldedGeometry result;
    result.vertices = std::move(welded.vertices);
    // 16-bit indices address 65,536 vertices; a larger level switches every batch to 32-bit indices.
    const bool wide = result.vertices.size() > kMaxShortIndexVertices;
    result.indexType = wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    std::unordered_map<GLuint, uint32_t> materialIndex;
    for (size_t t = 0; t < triangles.size(); ++t) {
        const Triangle& triangle = *triangles[t];
        // The table grows past 32 materials instead of writing beyond a fixed array.
        const auto material = materialIndex.emplace(triangle.diffuseTexture, static_cast<uint32_t>(result.batches.size()));
        if (material.second) {
            MaterialBatch batch;
            batch.diffuseTexture = triangle.diffuseTexture;
            batch.normalMap = triangle.normalMap;
            result.batches.push_back(std::move(batch));
        }
        MaterialBatch& batch = result.batches[material.first->second];
        for (int c = 0; c < 3; ++c) {
            const uint32_t vertex = welded.corners[t * 3 + c];
            if (wide)
                batch.wideIndices.push_back(vertex);
            else
                batch.indices.push_back(static_cast<uint16_t>(vertex));
        }
    }
    return result;
}

void OrderBatches(WeldedGeometry& geometry)
{
    SetRenderGeometrySettings();
    if (geometry.indexType == GL_UNSIGNED_SHORT)
        OrderIndexLists(geometry.batches, &MaterialBatch::indices);
    else
        OrderIndexLists(geometry.batches, &MaterialBatch::wideIndices);
}

void UploadGeometry(WeldedGeometry geometry)
{
    glGenBuffersARB(1, &renderGeometry.vertexBuffer);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, renderGeometry.vertexBuffer);
    glBufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(geometry.vertices.size() * sizeof(RenderVertex)),
                    geometry.vertices.data(), GL_STATIC_DRAW_ARB);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    renderGeometry.batches = std::move(geometry.batches);
    renderGeometry.indexType = geometry.indexType;
    BuildClusters(renderGeometry, geometry.vertices, kClusterTriangles);
}


WeldedGeometry WeldTriangles(const TriangleRefs& triangles)
{
    WeldedGeometry geometry = WeldGeometry(triangles);
    OrderBatches(geometry);
    return geometry;
}

void BuildRenderGeometry(const BspNode* root)
{
    UploadGeometry(WeldTriangles(CollectRenderTriangles(root)));
}

void BindVertexStreams()
{
    struct Stream {
        GLint components;
        size_t offset;
    };
    static const Stream streams[4] = {{2, offsetof(RenderVertex, texCoord)},
                                      {3, offsetof(RenderVertex, tangent)},
                                      {3, offsetof(RenderVertex, bitangent)},
                                      {3, offsetof(RenderVertex, normal)}};
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, renderGeometry.vertexBuffer);
    glVertexPointer(3, GL_FLOAT, sizeof(RenderVertex), nullptr);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (int unit = 0; unit < 4; ++unit) {
        glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glTexCoordPointer(streams[unit].components, GL_FLOAT, sizeof(RenderVertex),
                          reinterpret_cast<const void*>(streams[unit].offset));
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    }
}

void UnbindVertexStreams()
{
    for (int unit = 0; unit < 4; ++unit) {
        glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glClientActiveTextureARB(GL_TEXTURE0_ARB);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void DrawWithMaterials(const ClusterSelection* selection, DrawRanges& scratch)
{
    ForEachBatch(selection, scratch, [](const MaterialBatch& batch) {
        SetTextureParameter(shaderParameters.diffuseSpecTex, batch.diffuseTexture);
        SetTextureParameter(shaderParameters.normalTex, batch.normalMap);
    });
}

void DrawPlain(const ClusterSelection* selection, DrawRanges& scratch)
{
    ForEachBatch(selection, scratch, [](const MaterialBatch&) {});
}
