// The render-geometry build on generated levels: welding (time per corner, which stays flat when welding is linear
// in the corners), ordering (triangles per second), with the optimiser's time and cache quality beside
// meshoptimizer's on the same per-material batches, and clusters. Each step runs on every processor the process
// may use (`taskset -c 0` for one).
//
// Use: bench_render_geometry RUNS LEVEL_FILE...   (levels from the smallest to the largest)

#include "BenchLevel.h"
#include "BenchTable.h"
#include "Level.h"
#include "GeometryBuild.h"
#include "TriangleOrder.h"

#include <meshoptimizer.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr unsigned kCacheSize = 24;

// The indices of every batch as 32-bit values, with the number of vertices they address.
struct Batch32 {
    std::vector<uint32_t> indices;
    size_t vertexCount = 0;
};

std::vector<Batch32> WideBatches(const BuiltGeometry& geometry)
{
    std::vector<Batch32> result;
    for (const MaterialBatch& batch : geometry.batches) {
        Batch32 wide;
        wide.indices = batch.indices;
        for (uint32_t index : wide.indices)
            wide.vertexCount = std::max<size_t>(wide.vertexCount, size_t(index) + 1);
        result.push_back(std::move(wide));
    }
    return result;
}

// Misses per triangle over all batches together.
double Acmr(const std::vector<Batch32>& batches)
{
    double misses = 0.0;
    double triangles = 0.0;
    for (const Batch32& batch : batches) {
        const double count = double(batch.indices.size() / 3);
        misses += count * FifoCacheMissRatio(batch.indices.data(), uint32_t(batch.indices.size()), kCacheSize);
        triangles += count;
    }
    return triangles > 0 ? misses / triangles : 0.0;
}

struct LevelFigures {
    std::string name;
    double weldNsPerCorner = 0.0;
};

LevelFigures Measure(int runs, const char* path)
{
    const std::string text = ReadFile(path);
    std::map<std::string, uint32_t> ids;
    const TextureSource textures = NumberedTextures(ids);
    LevelParseState state;
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    const BspNode* root = ParseLevelText(text, state, lights, boxes, textures);
    const TriangleRefs triangles = CollectRenderTriangles(root);
    const double corners = 3.0 * double(triangles.size());
    LevelFigures figures;
    figures.name = Format("%zuk-triangle level", triangles.size() / 1000);
    const std::string median = Format("median of %d", runs);

    BuiltGeometry welded;
    const double weldSeconds = MedianSeconds(runs, [&] { welded = WeldGeometry(triangles); });
    std::vector<RenderVertex> formed;
    const double formSeconds = MedianSeconds(runs, [&] {
        formed.clear();
        formed.reserve(triangles.size() * 3);
        for (const LeafTriangle* stored : triangles) {
            const Triangle triangle = CompletedTriangle(*stored);
            for (const TriangleCorner& corner : triangle.corners)
                formed.push_back(MakeRenderVertex(triangle, corner));
        }
    });
    figures.weldNsPerCorner = weldSeconds / corners * 1e9;
    PrintRow("render-geometry build",
             Format("weld (WeldGeometry): ns per corner, %s (%zu vertices from %.0f corners; %s)", figures.name.c_str(),
                    welded.vertices.size(), corners, median.c_str()),
             Format("%.1f (%.2f M tris/s)", figures.weldNsPerCorner, double(triangles.size()) / weldSeconds / 1e6),
             Format("forming the corner vertices, no welding: %.1f", formSeconds / corners * 1e9),
             Format("%.2f", weldSeconds / formSeconds));

    std::vector<double> orderSeconds;
    BuiltGeometry ordered;
    for (int run = 0; run < runs; ++run) {
        ordered = welded;
        const auto start = std::chrono::steady_clock::now();
        OrderBatches(ordered);
        orderSeconds.push_back(SecondsSince(start));
    }
    const std::vector<Batch32> input = WideBatches(welded);
    std::vector<Batch32> fifo = input, vcache = input;
    const double fifoSeconds = MedianSeconds(runs, [&] {
        for (size_t b = 0; b < input.size(); ++b)
            meshopt_optimizeVertexCacheFifo(fifo[b].indices.data(), input[b].indices.data(), input[b].indices.size(),
                                            input[b].vertexCount, kCacheSize);
    });
    const double vcacheSeconds = MedianSeconds(runs, [&] {
        for (size_t b = 0; b < input.size(); ++b)
            meshopt_optimizeVertexCache(vcache[b].indices.data(), input[b].indices.data(), input[b].indices.size(),
                                        input[b].vertexCount);
    });
    const double ourSeconds = Median(orderSeconds);
    const double rate = double(triangles.size()) / 1e6;
    PrintRow("render-geometry build",
             Format("order (OrderBatches): M triangles/s, %s, its %zu batches (%s)", figures.name.c_str(),
                    welded.batches.size(), median.c_str()),
             Format("%.2f", rate / ourSeconds),
             Format("meshopt fifo: %.2f; meshopt vcache: %.2f", rate / fifoSeconds, rate / vcacheSeconds),
             Format("time x%.2f fifo; x%.2f vcache", ourSeconds / fifoSeconds, ourSeconds / vcacheSeconds));
    const double clusterSeconds = MedianSeconds(runs, [&] { BuildClusters(ordered); });
    PrintRow("render-geometry build",
             Format("clusters (BuildClusters): M triangles/s, %s, %zu clusters (%s)", figures.name.c_str(),
                    ordered.clusters.size(), median.c_str()),
             Format("%.1f", rate / clusterSeconds), Format("%.1f ms", clusterSeconds * 1e3), "");
    const double ours = Acmr(WideBatches(ordered));
    const double inputAcmr = Acmr(input), fifoAcmr = Acmr(fifo), vcacheAcmr = Acmr(vcache);
    PrintRow("optimiser quality",
             Format("ACMR (FIFO %u), %s, its %zu batches", kCacheSize, figures.name.c_str(), welded.batches.size()),
             Format("%.3f", ours),
             Format("input order: %.3f; meshopt fifo: %.3f; meshopt vcache: %.3f", inputAcmr, fifoAcmr, vcacheAcmr),
             Format("%.2f; %.2f; %.2f", ours / inputAcmr, ours / fifoAcmr, ours / vcacheAcmr));
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_render_geometry RUNS LEVEL_FILE...", argc >= 3 && std::atoi(argv[1]) >= 1);
    const int runs = std::atoi(argv[1]);
    std::vector<LevelFigures> levels;
    for (int i = 2; i < argc; ++i)
        levels.push_back(Measure(runs, argv[i]));
    if (levels.size() > 1) {
        const LevelFigures& small = levels.front();
        const LevelFigures& large = levels.back();
        PrintRow("render-geometry build",
                 Format("weld linearity: ns per corner, %s against %s", large.name.c_str(), small.name.c_str()),
                 Format("%.1f", large.weldNsPerCorner), Format("%.1f", small.weldNsPerCorner),
                 Format("%.2f", large.weldNsPerCorner / small.weldNsPerCorner));
    }
    return 0;
}
