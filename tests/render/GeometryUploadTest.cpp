#include "GlTestContext.h"
#include "RenderGeometry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A built geometry of vertexCount vertices with two batches that use the highest vertex number.
BuiltGeometry Built(size_t vertexCount)
{
    BuiltGeometry built;
    built.vertices.resize(vertexCount);
    const uint32_t last = static_cast<uint32_t>(vertexCount - 1);
    built.batches.resize(2);
    built.batches[0].indices = {0, 1, last};
    built.batches[1].indices = {last, 2, 1, 2, 3, 0};
    built.batches[1].diffuseTexture = 5;
    built.batchClusters = {0, 1, 2};
    built.clusters.resize(2);
    return built;
}

}  // namespace

TEST(GeometryUpload, IndicesNarrowTo16BitsOnlyWhereEveryVertexFits)
{
    CreateGlTestContext();
    const struct {
        size_t vertexCount;
        GLenum type;
    } cases[] = {{65536, GL_UNSIGNED_SHORT}, {65537, GL_UNSIGNED_INT}};
    for (const auto& c : cases) {
        const BuiltGeometry built = Built(c.vertexCount);
        RenderGeometry renderGeometry;
        UploadGeometry(renderGeometry, built);
        EXPECT_EQ(renderGeometry.indexType, c.type);
        ASSERT_EQ(renderGeometry.batches.size(), 2u);
        EXPECT_EQ(renderGeometry.batches[1].diffuseTexture, 5u);
        EXPECT_EQ(renderGeometry.clusters.size(), 2u);
        for (size_t b = 0; b < 2; ++b) {
            const DrawBatch& batch = renderGeometry.batches[b];
            ASSERT_EQ(batch.indexCount, built.batches[b].indices.size());
            for (size_t i = 0; i < batch.indexCount; ++i) {
                const unsigned char* at =
                    renderGeometry.indexData.data() + (batch.firstIndex + i) * renderGeometry.indexSize;
                uint32_t value = 0;
                if (c.type == GL_UNSIGNED_SHORT) {
                    uint16_t narrow;
                    std::memcpy(&narrow, at, sizeof narrow);
                    value = narrow;
                } else {
                    std::memcpy(&value, at, sizeof value);
                }
                EXPECT_EQ(value, built.batches[b].indices[i]) << c.vertexCount << " batch " << b << " index " << i;
            }
        }
    }
}
