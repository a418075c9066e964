#include "RenderGeometry.h"

#include "Shaders.h"
#include "TriangleOrder.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

RenderGeometry renderGeometry;

namespace {

constexpr size_t kFloatsPerVertex = sizeof(RenderVertex) / sizeof(float);
constexpr uint32_t kMaxShortIndexVertices = 65536;

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
struct VertexHash {
    size_t operator()(const RenderVertex& v) const
    {
        size_t hash = 1469598103934665603ull;
        for (size_t i = 0; i < kFloatsPerVertex; ++i) {
            const float value = Floats(v)[i] + 0.0f;  // -0 + 0 is +0
            uint32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            hash = (hash ^ bits) * 1099511628211ull;
        }
        return hash;
    }
};

struct VertexEqual {
    bool operator()(const RenderVertex& a, const RenderVertex& b) const
    {
        for (size_t i = 0; i < kFloatsPerVertex; ++i)
            if (!(Floats(a)[i] == Floats(b)[i]))
                return false;
        return true;
    }
};

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

// Gathers each material's corners in collection order, as indices of the given width, and orders them.
template <class Index>
void OrderBatches(const std::vector<uint32_t>& corners, const std::vector<uint32_t>& materialOfTriangle,
                  std::vector<MaterialBatch>& batches, std::vector<Index> MaterialBatch::*indices)
{
    std::vector<std::vector<Index>> gathered(batches.size());
    for (size_t t = 0; t < materialOfTriangle.size(); ++t)
        for (int c = 0; c < 3; ++c)
            gathered[materialOfTriangle[t]].push_back(static_cast<Index>(corners[t * 3 + c]));
    for (size_t m = 0; m < batches.size(); ++m) {
        std::vector<Index> ordered = Order(gathered[m]);
        ordered.shrink_to_fit();
        batches[m].*indices = std::move(ordered);
    }
}

template <class Draw>
void ForEachBatch(Draw draw)
{
    const GLenum type = renderGeometry.indexType;
    for (const MaterialBatch& batch : renderGeometry.batches) {
        const void* indices = type == GL_UNSIGNED_SHORT ? static_cast<const void*>(batch.indices.data())
                                                        : static_cast<const void*>(batch.wideIndices.data());
        draw(batch);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(batch.IndexCount()), type, indices);
    }
}

}  // namespace

WeldedCorners WeldCorners(const std::vector<Triangle>& triangles)
{
    WeldedCorners result;
    result.vertices.reserve(triangles.size() * 3);
    result.corners.reserve(triangles.size() * 3);
    std::unordered_map<RenderVertex, uint32_t, VertexHash, VertexEqual> vertexIndex;
    vertexIndex.reserve(triangles.size() * 3);
    for (const Triangle& triangle : triangles) {
        for (const TriangleCorner& corner : triangle.corners) {
            const RenderVertex vertex = MakeRenderVertex(triangle, corner);
            const auto found = vertexIndex.emplace(vertex, static_cast<uint32_t>(result.vertices.size()));
            if (found.second)
                result.vertices.push_back(vertex);
            result.corners.push_back(found.first->second);
        }
    }
    return result;
}

WeldedGeometry WeldTriangles(const std::vector<Triangle>& triangles)
{
    WeldedCorners welded = WeldCorners(triangles);
    WeldedGeometry result;
    result.vertices = std::move(welded.vertices);
    std::unordered_map<GLuint, uint32_t> materialIndex;
    std::vector<uint32_t> materialOfTriangle;
    materialOfTriangle.reserve(triangles.size());
    for (const Triangle& triangle : triangles) {
        // The table grows past 32 materials instead of writing beyond a fixed array.
        const auto material = materialIndex.emplace(triangle.diffuseTexture, static_cast<uint32_t>(result.batches.size()));
        if (material.second) {
            MaterialBatch batch;
            batch.diffuseTexture = triangle.diffuseTexture;
            batch.normalMap = triangle.normalMap;
            result.batches.push_back(std::move(batch));
        }
        materialOfTriangle.push_back(material.first->second);
    }

    // 16-bit indices address 65,536 vertices; a larger level switches every batch to 32-bit indices.
    if (result.vertices.size() <= kMaxShortIndexVertices) {
        result.indexType = GL_UNSIGNED_SHORT;
        OrderBatches(welded.corners, materialOfTriangle, result.batches, &MaterialBatch::indices);
    } else {
        result.indexType = GL_UNSIGNED_INT;
        OrderBatches(welded.corners, materialOfTriangle, result.batches, &MaterialBatch::wideIndices);
    }
    return result;
}

void BuildRenderGeometry(const BspNode* root)
{
    const std::vector<Triangle> triangles = CollectTriangles(root);
    std::printf("%zu triangles.\n", triangles.size());
    std::fflush(stdout);

    SetCacheSize(24);
    SetStitchStrips(true);
    SetListsOnly(true);
    WeldedGeometry welded = WeldTriangles(triangles);

    glGenBuffersARB(1, &renderGeometry.vertexBuffer);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, renderGeometry.vertexBuffer);
    glBufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(welded.vertices.size() * sizeof(RenderVertex)),
                    welded.vertices.data(), GL_STATIC_DRAW_ARB);
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    renderGeometry.batches = std::move(welded.batches);
    renderGeometry.indexType = welded.indexType;
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

void DrawWithMaterials()
{
    ForEachBatch([](const MaterialBatch& batch) {
        lightShader->SetTextureParameter("diffuseSpecTex", batch.diffuseTexture);
        lightShader->SetTextureParameter("normalTex", batch.normalMap);
    });
}

void DrawPlain()
{
    ForEachBatch([](const MaterialBatch&) {});
}
