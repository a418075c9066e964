// Digests of what the render geometry build hands to GL: the vertex buffer as GL holds it, and every batch's
// textures, index type and index bytes, after the viewer's own start-up steps up to the geometry. Run in a
// directory with the level and its images (under Xvfb); comparing the lines of two builds shows whether their
// geometry is identical byte for byte. The file also builds against the code before the geometry was split in
// two (no GeometryBuild.h, a 16-bit and a 32-bit list per batch), so that both sides of a change can be checked.
//
// Prints "vertices <bytes> <digest>", one "batch <n> <diffuse> <normal map> <index type> <bytes> <digest>" per
// batch and "all <digest>".

#include "BenchTable.h"
#include "GlTestContext.h"
#include "RenderGeometry.h"
#include "Startup.h"
#include "TextureCache.h"
#include "Viewer.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// FNV-1a over bytes.
uint64_t Digest(const unsigned char* bytes, size_t size, uint64_t hash = 1469598103934665603ull)
{
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

struct IndexBytes {
    const unsigned char* data;
    size_t size;
};

#if __has_include("GeometryBuild.h")
IndexBytes BatchIndices(const RenderGeometry& renderGeometry, size_t b)
{
    const DrawBatch& batch = renderGeometry.batches[b];
    return {renderGeometry.indexData.data() + batch.firstIndex * renderGeometry.indexSize,
            batch.indexCount * renderGeometry.indexSize};
}
#else
IndexBytes BatchIndices(const RenderGeometry& renderGeometry, size_t b)
{
    const MaterialBatch& batch = renderGeometry.batches[b];
    if (renderGeometry.indexType == GL_UNSIGNED_SHORT)
        return {reinterpret_cast<const unsigned char*>(batch.indices.data()), batch.indices.size() * 2};
    return {reinterpret_cast<const unsigned char*>(batch.wideIndices.data()), batch.wideIndices.size() * 4};
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_geometry_digest   (in a directory with the level and its images)", argc == 1);
    CreateGlTestContext(800, 600);
    CheckGLCapabilities();
    InitImageLibrary();
    Viewer viewer;
    CreateFixedTextures(viewer.renderer);
    if (!LoadLevel(viewer.level, LevelTextures(viewer.renderer)).Ok() ||
        !BuildRenderGeometry(viewer.renderer.geometry, viewer.level.root).Ok())
        return 1;
    const RenderGeometry& renderGeometry = viewer.renderer.geometry;

    GLint size = 0;
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, renderGeometry.vertexBuffer);
    glGetBufferParameterivARB(GL_ARRAY_BUFFER_ARB, GL_BUFFER_SIZE_ARB, &size);
    std::vector<unsigned char> vertices(static_cast<size_t>(size));
    glGetBufferSubDataARB(GL_ARRAY_BUFFER_ARB, 0, size, vertices.data());
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    uint64_t all = Digest(vertices.data(), vertices.size());
    std::printf("vertices %zu %016llx\n", vertices.size(), static_cast<unsigned long long>(all));
    for (size_t b = 0; b < renderGeometry.batches.size(); ++b) {
        const IndexBytes indices = BatchIndices(renderGeometry, b);
        const uint64_t digest = Digest(indices.data, indices.size);
        all = Digest(indices.data, indices.size, all);
        std::printf("batch %zu %u %u %#x %zu %016llx\n", b, unsigned(renderGeometry.batches[b].diffuseTexture),
                    unsigned(renderGeometry.batches[b].normalMap), unsigned(renderGeometry.indexType), indices.size,
                    static_cast<unsigned long long>(digest));
    }
    std::printf("all %016llx\n", static_cast<unsigned long long>(all));
    return 0;
}
