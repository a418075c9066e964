// The level's geometry on the GL side: the built vertices in one static vertex buffer, the index lists in client
// memory, and the draw operations of the scene passes.
#pragma once

#include "GeometryBuild.h"
#include "Result.h"
#include "Shaders.h"

#include <GL/glew.h>

#include <cstdint>
#include <functional>
#include <vector>

// One batch as drawn: its textures and its run of the index store.
struct DrawBatch {
    GLuint diffuseTexture = 0;
    GLuint normalMap = 0;
    size_t firstIndex = 0;
    size_t indexCount = 0;
};

struct RenderGeometry {
    GLuint vertexBuffer = 0;
    std::vector<DrawBatch> batches;  // in order of first occurrence of their diffuse textures
    // Every batch's indices, batch after batch: 16-bit when every vertex number fits, else 32-bit.
    std::vector<unsigned char> indexData;
    GLenum indexType = GL_UNSIGNED_SHORT;
    size_t indexSize = sizeof(uint16_t);
    std::vector<IndexCluster> clusters;   // every batch's clusters, batch after batch, each in list order
    std::vector<uint32_t> batchClusters;  // batch b owns clusters batchClusters[b] to batchClusters[b + 1] - 1
};

// Uploads the vertices into a new static vertex buffer and hands the batches, their indices narrowed to 16 bits
// where every vertex number fits, and the clusters to target.
void UploadGeometry(RenderGeometry& target, BuiltGeometry geometry);
// UploadGeometry's two halves, for a caller that prepares the lists away from the GL thread.
// The batches, the index store (16-bit when vertexCount allows) and the clusters into target, taken from geometry's
// lists, which are emptied batch by batch; no GL call, and geometry's vertices stay.
void ArrangeDrawLists(RenderGeometry& target, BuiltGeometry& geometry, size_t vertexCount);
// A new static vertex buffer holding the vertices, into target.vertexBuffer.
void UploadVertices(RenderGeometry& target, const std::vector<RenderVertex>& vertices);
// The same in steps, for a caller that spreads a large upload over frames: a new static vertex buffer of `count`
// vertices with undefined contents, then vertices [first, first + count) of the list written into it.
void ReserveVertices(RenderGeometry& target, size_t count);
void WriteVertices(const RenderGeometry& target, const std::vector<RenderVertex>& vertices, size_t first, size_t count);

// Deletes the vertex buffer (with a current GL context) and empties the lists: nothing is left to draw.
void DeleteRenderGeometry(RenderGeometry& geometry);

// Collects, builds and uploads the level's triangles into target; fails (and uploads nothing) when the build does.
// `progress` and `welded` as for BuildGeometry.
Outcome BuildRenderGeometry(RenderGeometry& target, const BspNode* root,
                            const std::function<void(double)>& progress = {}, const std::function<void()>& welded = {});

// Binds the vertex buffer and enables the position array and texture coordinate sets 0 to 3 at stride 56.
void BindVertexStreams(GLuint vertexBuffer);
// Disables those five arrays and unbinds the vertex buffer.
void UnbindVertexStreams();
// out = one flag per cluster: set for the clusters of within (all when within is null) whose bounds outside(bounds)
// does not reject.
template <class Outside>
void SelectClusters(const RenderGeometry& geometry, const ClusterSelection* within, Outside outside,
                    ClusterSelection& out)
{
    const std::vector<IndexCluster>& clusters = geometry.clusters;
    out.resize(clusters.size());
    for (size_t c = 0; c < clusters.size(); ++c)
        out[c] = (within == nullptr || (*within)[c]) && !outside(clusters[c].bounds);
}

// Draws every batch, first setting the light pair's "diffuseSpecTex" and "normalTex" to the batch's textures. With
// a selection, only its clusters are drawn, and a batch without any is skipped with its textures.
void DrawWithMaterials(const RenderGeometry& geometry, const ShaderParameters& parameters,
                       const ClusterSelection* selection = nullptr);
// Draws every batch (or the selected clusters) without touching textures or shader parameters.
void DrawPlain(const RenderGeometry& geometry, const ClusterSelection* selection = nullptr);
