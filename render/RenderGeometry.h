// The level's triangles as one static vertex buffer of welded vertices and one cache-ordered index list per
// diffuse texture, with the draw operations of the scene passes.
#pragma once

#include "Culling.h"
#include "Level.h"

#include <GL/glew.h>

#include <cstdint>
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

// The triangles of one diffuse texture. A level of at most 65,536 distinct vertices uses 16-bit indices; a larger
// one uses 32-bit indices in every batch.
struct MaterialBatch {
    GLuint diffuseTexture = 0;
    GLuint normalMap = 0;  // that of the first triangle with this diffuse texture
    std::vector<uint16_t> indices;
    std::vector<uint32_t> wideIndices;

    size_t IndexCount() const { return indices.size() + wideIndices.size(); }
};

// A run of consecutive triangles of one batch's index list with the bounds of their vertices: the unit in which
// passes leave out what they cannot reach. Drawing a selection of clusters draws a subsequence of the list in its
// own order.
struct IndexCluster {
    uint32_t firstIndex = 0;
    uint32_t indexCount = 0;
    ClusterBox bounds;
};

struct RenderGeometry {
    GLuint vertexBuffer = 0;
    std::vector<MaterialBatch> batches;  // in order of first occurrence of their diffuse textures
    GLenum indexType = GL_UNSIGNED_SHORT;
    std::vector<IndexCluster> clusters;   // every batch's clusters, batch after batch, each in list order
    std::vector<uint32_t> batchClusters;  // batch b owns clusters batchClusters[b] to batchClusters[b + 1] - 1
};

extern RenderGeometry renderGeometry;

// The vertex of one triangle corner: its position and u, v with the triangle's tangent frame and plane normal.
RenderVertex MakeRenderVertex(const Triangle& triangle, const TriangleCorner& corner);

// Triangles by address, in collection order: the level's tree keeps them, so the build copies none.
using TriangleRefs = std::vector<const Triangle*>;

// Identical vertices stored once, numbered in order of first occurrence; three vertex indices per triangle.
struct WeldedCorners {
    std::vector<RenderVertex> vertices;
    std::vector<uint32_t> corners;
};

// Welds the corners in order, comparing the fourteen values as floats: +0 equals -0 and NaN equals nothing, as a
// linear search from the first vertex would decide, in time linear in the number of corners.
WeldedCorners WeldCorners(const TriangleRefs& triangles);

// Welded vertices and their batches, before upload.
struct WeldedGeometry {
    std::vector<RenderVertex> vertices;
    std::vector<MaterialBatch> batches;
    GLenum indexType = GL_UNSIGNED_SHORT;
};

// BuildRenderGeometry runs these four steps in order; each can also be called (and timed) on its own.

// Collects the level's triangles from root (none when root is null) and prints "<n> triangles.".
TriangleRefs CollectRenderTriangles(const BspNode* root);
// Welds the corners and groups the triangles by diffuse texture, each batch's indices in collection order: 16-bit
// up to 65,536 vertices, 32-bit in every batch beyond. Needs no GL.
WeldedGeometry WeldGeometry(const TriangleRefs& triangles);
// Sets the optimiser up for a 24-entry vertex cache with list output and reorders every batch's indices for it.
// Needs no GL.
void OrderBatches(WeldedGeometry& geometry);
// Uploads the vertices into a new static vertex buffer, hands the batches to renderGeometry and cuts their index
// lists into bounded clusters.
void UploadGeometry(WeldedGeometry geometry);

// WeldGeometry followed by OrderBatches. Needs no GL.
WeldedGeometry WeldTriangles(const TriangleRefs& triangles);

// Collects, welds, orders and uploads the level's triangles into renderGeometry.
void BuildRenderGeometry(const BspNode* root);

// Binds the vertex buffer and enables the position array and texture coordinate sets 0 to 3 at stride 56.
void BindVertexStreams();
// Disables those five arrays and unbinds the vertex buffer.
void UnbindVertexStreams();
// out = one flag per cluster: set for the clusters of within (all when within is null) whose bounds outside(bounds)
// does not reject.
template <class Outside>
void SelectClusters(const ClusterSelection* within, Outside outside, ClusterSelection& out)
{
    const std::vector<IndexCluster>& clusters = renderGeometry.clusters;
    out.resize(clusters.size());
    for (size_t c = 0; c < clusters.size(); ++c)
        out[c] = (within == nullptr || (*within)[c]) && !outside(clusters[c].bounds);
}

// Index ranges of one batch's selected clusters: the draws' scratch, which the caller keeps to reuse its memory.
struct DrawRanges {
    std::vector<GLsizei> counts;
    std::vector<const void*> starts;
};

// Draws every batch, first setting "diffuseSpecTex" and "normalTex" of lightShader to the batch's textures. With a
// selection, only its clusters are drawn (neighbouring ones merged into one range), and a batch without any is
// skipped with its textures.
void DrawWithMaterials(const ClusterSelection* selection, DrawRanges& scratch);
// Draws every batch (or the selected clusters) without touching textures or shader parameters.
void DrawPlain(const ClusterSelection* selection, DrawRanges& scratch);
