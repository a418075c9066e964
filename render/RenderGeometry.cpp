#include "RenderGeometry.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kMaxShortIndexVertices = 65536;
// Selected clusters are drawn in runs gathered on the stack, this many to a multi-draw call.
constexpr size_t kRangesPerDraw = 512;

// Texture coordinate sets 0 to 3 of the vertex layout.
struct Stream {
    GLint components;
    size_t offset;
};
constexpr Stream kStreams[4] = {{2, offsetof(RenderVertex, texCoord)},
                                {3, offsetof(RenderVertex, tangent)},
                                {3, offsetof(RenderVertex, bitangent)},
                                {3, offsetof(RenderVertex, normal)}};

// Calls setUp(batch) and draws, for every batch that has something to draw: all of its list without a selection,
// else its selected clusters, neighbouring ones merged into one range.
template <class SetUp>
void ForEachBatch(const RenderGeometry& geometry, const ClusterSelection* selection, SetUp setUp)
{
    for (size_t b = 0; b < geometry.batches.size(); ++b) {
        const DrawBatch& batch = geometry.batches[b];
        const unsigned char* indices = geometry.indexData.data() + batch.firstIndex * geometry.indexSize;
        if (selection == nullptr) {
            setUp(batch);
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(batch.indexCount), geometry.indexType, indices);
            continue;
        }
        GLsizei counts[kRangesPerDraw];
        const void* starts[kRangesPerDraw];
        size_t ranges = 0;
        bool setUpDone = false;
        const auto flush = [&] {
            if (!setUpDone)
                setUp(batch);
            setUpDone = true;
            glMultiDrawElements(GL_TRIANGLES, counts, geometry.indexType, starts, static_cast<GLsizei>(ranges));
            ranges = 0;
        };
        bool extend = false;
        for (uint32_t c = geometry.batchClusters[b]; c < geometry.batchClusters[b + 1]; ++c) {
            const bool selected = (*selection)[c] != 0;
            if (selected) {
                const IndexCluster& cluster = geometry.clusters[c];
                if (extend) {
                    counts[ranges - 1] += static_cast<GLsizei>(cluster.indexCount);
                } else {
                    if (ranges == kRangesPerDraw)
                        flush();
                    counts[ranges] = static_cast<GLsizei>(cluster.indexCount);
                    starts[ranges] = indices + cluster.firstIndex * geometry.indexSize;
                    ++ranges;
                }
            }
            extend = selected;
        }
        if (ranges > 0)
            flush();
    }
}

}  // namespace

void UploadVertices(RenderGeometry& target, const std::vector<RenderVertex>& vertices)
{
    glGenBuffersARB(1, &target.vertexBuffer);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, target.vertexBuffer);
    glBufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(vertices.size() * sizeof(RenderVertex)),
                    vertices.data(), GL_STATIC_DRAW_ARB);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void ReserveVertices(RenderGeometry& target, size_t count)
{
    glGenBuffersARB(1, &target.vertexBuffer);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, target.vertexBuffer);
    glBufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(count * sizeof(RenderVertex)), nullptr,
                    GL_STATIC_DRAW_ARB);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void WriteVertices(const RenderGeometry& target, const std::vector<RenderVertex>& vertices, size_t first, size_t count)
{
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, target.vertexBuffer);
    glBufferSubDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLintptrARB>(first * sizeof(RenderVertex)),
                       static_cast<GLsizeiptrARB>(count * sizeof(RenderVertex)), vertices.data() + first);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
}

void ArrangeDrawLists(RenderGeometry& target, BuiltGeometry& geometry, size_t vertexCount)
{
    // 16-bit indices address 65,536 vertices; a larger level keeps 32-bit indices in every batch.
    const bool narrow = vertexCount <= kMaxShortIndexVertices;
    target.indexType = narrow ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
    target.indexSize = narrow ? sizeof(uint16_t) : sizeof(uint32_t);
    size_t indexCount = 0;
    for (const MaterialBatch& batch : geometry.batches)
        indexCount += batch.indices.size();
    target.indexData.resize(indexCount * target.indexSize);
    target.batches.clear();
    size_t first = 0;
    for (MaterialBatch& batch : geometry.batches) {
        unsigned char* out = target.indexData.data() + first * target.indexSize;
        if (narrow) {
            for (uint32_t index : batch.indices) {
                const uint16_t value = static_cast<uint16_t>(index);
                std::memcpy(out, &value, sizeof value);
                out += sizeof value;
            }
        } else {
            std::memcpy(out, batch.indices.data(), batch.indices.size() * sizeof(uint32_t));
        }
        target.batches.push_back(DrawBatch{batch.diffuseTexture, batch.normalMap, first, batch.indices.size()});
        first += batch.indices.size();
        // Released batch by batch, so that the lists and their copy are not held whole twice.
        batch.indices = std::vector<uint32_t>();
    }
    target.clusters = std::move(geometry.clusters);
    target.batchClusters = std::move(geometry.batchClusters);
}

void UploadGeometry(RenderGeometry& target, BuiltGeometry geometry)
{
    UploadVertices(target, geometry.vertices);
    const size_t vertexCount = geometry.vertices.size();
    geometry.vertices = std::vector<RenderVertex>();
    ArrangeDrawLists(target, geometry, vertexCount);
}

void DeleteRenderGeometry(RenderGeometry& geometry)
{
    if (geometry.vertexBuffer != 0)
        glDeleteBuffersARB(1, &geometry.vertexBuffer);
    geometry = RenderGeometry();
}

Outcome BuildRenderGeometry(RenderGeometry& target, const BspNode* root, const std::function<void(double)>& progress,
                            const std::function<void()>& welded)
{
    Result<BuiltGeometry> built = BuildGeometry(CollectRenderTriangles(root), UsableThreads(), progress, welded);
    if (!built.Ok())
        return built.GetOutcome();
    UploadGeometry(target, std::move(built.Value()));
    if (progress)
        progress(1.0);
    return Outcome();
}

void BindVertexStreams(GLuint vertexBuffer)
{
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, vertexBuffer);
    glVertexPointer(3, GL_FLOAT, sizeof(RenderVertex), nullptr);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (int unit = 0; unit < 4; ++unit) {
        glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glTexCoordPointer(kStreams[unit].components, GL_FLOAT, sizeof(RenderVertex),
                          reinterpret_cast<const void*>(kStreams[unit].offset));
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

void DrawWithMaterials(const RenderGeometry& geometry, const ShaderParameters& parameters,
                       const ClusterSelection* selection)
{
    ForEachBatch(geometry, selection, [&](const DrawBatch& batch) {
        SetTextureParameter(parameters.diffuseSpecTex, batch.diffuseTexture);
        SetTextureParameter(parameters.normalTex, batch.normalMap);
    });
}

void DrawPlain(const RenderGeometry& geometry, const ClusterSelection* selection)
{
    ForEachBatch(geometry, selection, [](const DrawBatch&) {});
}
