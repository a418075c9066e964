// Speed and cache quality of the triangle order optimiser against meshoptimizer's vertex cache optimisers, on
// the same synthetic meshes in the same run; times are medians of several runs.
//
// Use: bench_meshopt [RUNS]
#include "BenchTable.h"
#include "MeshGen.h"
#include "TriangleOrder.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

int runs = 7;
constexpr unsigned cacheSize = 24;

struct Mesh {
    std::string name;
    std::vector<uint32_t> indices;
    size_t vertexCount = 0;
};

Mesh Grid(int w, int h)
{
    Mesh m{"grid " + std::to_string(w) + "x" + std::to_string(h), {}, size_t((w + 1) * (h + 1))};
    auto at = [&](int x, int y) { return uint32_t(y * (w + 1) + x); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m.indices.insert(m.indices.end(),
                             {at(x, y), at(x + 1, y), at(x, y + 1), at(x, y + 1), at(x + 1, y), at(x + 1, y + 1)});
    return m;
}

void Shuffle(Mesh& m, std::mt19937& rng)
{
    size_t n = m.indices.size() / 3;
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<uint32_t> out;
    for (size_t t : order)
        out.insert(out.end(), m.indices.begin() + 3 * t, m.indices.begin() + 3 * t + 3);
    m.indices = out;
    m.name = "shuffled " + m.name;
}

// The tests' subdivided icosahedron: vertex numbering follows the subdivision, so the mesh is irregular in its
// order as well as in its valences (12 vertices of valence 5).
Mesh Sphere(int levels)
{
    std::vector<uint16_t> tris = SphereMesh(levels);
    Mesh m{"subdivided sphere", std::vector<uint32_t>(tris.begin(), tris.end()), 0};
    m.vertexCount = size_t(*std::max_element(tris.begin(), tris.end())) + 1;
    return m;
}

// Boxes of random sizes with each wall a grid of its own vertices (walls do not share vertices, as faceted
// level geometry does not), walls in random order.
Mesh Rooms(std::mt19937& rng, size_t targetTriangles)
{
    Mesh m{"random rooms", {}, 0};
    std::vector<std::vector<uint32_t>> walls;
    while (m.indices.size() / 3 < targetTriangles) {
        for (int wall = 0; wall < 6; ++wall) {
            int w = 2 + int(rng() % 24), h = 2 + int(rng() % 12);
            uint32_t base = uint32_t(m.vertexCount);
            m.vertexCount += size_t((w + 1) * (h + 1));
            std::vector<uint32_t> tris;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    uint32_t a = base + uint32_t(y * (w + 1) + x), b = a + 1, c = a + uint32_t(w + 1), d = c + 1;
                    tris.insert(tris.end(), {a, b, c, c, b, d});
                }
            m.indices.insert(m.indices.end(), tris.begin(), tris.end());
            walls.push_back(tris);
        }
    }
    std::shuffle(walls.begin(), walls.end(), rng);
    m.indices.clear();
    for (const auto& wall : walls)
        m.indices.insert(m.indices.end(), wall.begin(), wall.end());
    return m;
}

float Acmr(const std::vector<uint32_t>& indices)
{
    return FifoCacheMissRatio(indices.data(), uint32_t(indices.size()), cacheSize);
}

void Measure(const Mesh& m)
{
    std::vector<uint32_t> ours, fifo(m.indices.size()), tipsify(m.indices.size());
    bool wide = m.vertexCount > 65536;
    std::vector<uint16_t> narrow(m.indices.begin(), m.indices.end());
    OrderOptions options;
    options.cacheSize = int(cacheSize);
    OrderScratch scratch;
    std::vector<uint16_t> narrowOut(narrow.size());
    double ourTime = MedianSeconds(runs, [&] {
        ours.resize(m.indices.size());
        if (wide) {
            ours.resize(
                OrderTriangles(ours.data(), m.indices.data(), uint32_t(m.indices.size()), options, scratch).indexCount);
        } else {
            const OrderResult result =
                OrderTriangles(narrowOut.data(), narrow.data(), uint32_t(narrow.size()), options, scratch);
            ours.assign(narrowOut.begin(), narrowOut.begin() + result.indexCount);
        }
    });
    double fifoTime = MedianSeconds(runs, [&] {
        meshopt_optimizeVertexCacheFifo(fifo.data(), m.indices.data(), m.indices.size(), m.vertexCount, cacheSize);
    });
    double tipsifyTime = MedianSeconds(
        runs, [&] { meshopt_optimizeVertexCache(tipsify.data(), m.indices.data(), m.indices.size(), m.vertexCount); });
    const double triangles = double(m.indices.size() / 3) / 1e6;
    const std::string name = Format("%s, %.0fk triangles", m.name.c_str(), triangles * 1e3);
    PrintRow("optimiser speed (synthetic)", "M triangles/s, " + name + Format(" (median of %d)", runs),
             Format("%.2f", triangles / ourTime),
             Format("meshopt fifo: %.2f; meshopt vcache: %.2f", triangles / fifoTime, triangles / tipsifyTime),
             Format("time x%.2f fifo; x%.2f vcache", ourTime / fifoTime, ourTime / tipsifyTime));
    const double acmr = Acmr(ours);
    PrintRow("optimiser quality", Format("ACMR (FIFO %u), ", cacheSize) + name, Format("%.3f", acmr),
             Format("input order: %.3f; meshopt fifo: %.3f; meshopt vcache: %.3f", Acmr(m.indices), Acmr(fifo),
                    Acmr(tipsify)),
             Format("%.2f; %.2f; %.2f", acmr / Acmr(m.indices), acmr / Acmr(fifo), acmr / Acmr(tipsify)));
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_meshopt [RUNS]", argc == 1 || (argc == 2 && std::atoi(argv[1]) >= 1));
    if (argc > 1)
        runs = std::atoi(argv[1]);
    std::mt19937 rng(2026);
    Measure(Grid(255, 255));
    Mesh grid = Grid(256, 128);
    Measure(grid);
    Shuffle(grid, rng);
    Measure(grid);
    Measure(Sphere(6));
    Measure(Rooms(rng, 65536));
    return 0;
}
