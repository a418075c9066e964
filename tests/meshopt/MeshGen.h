// Small mesh generators for the optimiser's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

// A w x h grid of quads, two triangles each, row by row, all wound the same way.
inline std::vector<uint16_t> GridMesh(int w, int h)
{
    std::vector<uint16_t> out;
    auto at = [&](int x, int y) { return uint16_t(y * (w + 1) + x); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.insert(out.end(), {at(x, y), at(x + 1, y), at(x, y + 1), at(x, y + 1), at(x + 1, y), at(x + 1, y + 1)});
    return out;
}

// An icosahedron subdivided `levels` times (20 x 4^levels triangles), vertices numbered as the subdivision makes
// them; twelve vertices have valence 5, all others 6.
inline std::vector<uint16_t> SphereMesh(int levels)
{
    std::vector<uint16_t> tris = {0, 11, 5,  0, 5,  1, 0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                                  4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3,  9,  4, 3,  4,  2, 3, 2, 6, 3,
                                  6, 8,  3,  8, 9,  4, 9, 5, 2, 4, 11, 6,  2, 10, 8,  6, 7, 9, 8, 1};
    uint16_t vertexCount = 12;
    for (int l = 0; l < levels; ++l) {
        std::map<std::pair<uint16_t, uint16_t>, uint16_t> midpoints;
        auto mid = [&](uint16_t a, uint16_t b) {
            auto found = midpoints.emplace(std::make_pair(std::min(a, b), std::max(a, b)), vertexCount);
            if (found.second)
                ++vertexCount;
            return found.first->second;
        };
        std::vector<uint16_t> next;
        for (size_t t = 0; t < tris.size(); t += 3) {
            uint16_t a = tris[t], b = tris[t + 1], c = tris[t + 2];
            uint16_t ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
            next.insert(next.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
        }
        tris = next;
    }
    return tris;
}

// Shuffles the triangles and rotates each one (keeping its winding).
inline void ShuffleTriangles(std::vector<uint16_t>& tris, std::mt19937& rng)
{
    size_t n = tris.size() / 3;
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<uint16_t> out;
    for (size_t t : order) {
        int r = int(rng() % 3);
        for (int k = 0; k < 3; ++k)
            out.push_back(tris[3 * t + (k + r) % 3]);
    }
    tris = out;
}

// A random mesh of one of several kinds: a holed and shuffled grid, a grid with repeats, rotated repeats and
// degenerate triangles mixed in, or a soup of triangles over few vertices (edges with many triangles).
inline std::vector<uint16_t> RandomMesh(std::mt19937& rng)
{
    int kind = int(rng() % 3);
    if (kind == 2) {
        int vertices = 4 + int(rng() % 20), triangles = 1 + int(rng() % 60);
        std::vector<uint16_t> out;
        for (int i = 0; i < 3 * triangles; ++i)
            out.push_back(uint16_t(rng() % vertices));
        return out;
    }
    std::vector<uint16_t> grid = GridMesh(1 + int(rng() % 12), 1 + int(rng() % 12));
    std::vector<uint16_t> out;
    for (size_t t = 0; t + 2 < grid.size(); t += 3) {
        if (rng() % 8 == 0)
            continue;
        out.insert(out.end(), grid.begin() + t, grid.begin() + t + 3);
        if (kind == 1 && rng() % 6 == 0)
            out.insert(out.end(), grid.begin() + t, grid.begin() + t + 3);
        if (kind == 1 && rng() % 10 == 0)
            out.insert(out.end(), {grid[t + 1], grid[t + 2], grid[t]});
        if (kind == 1 && rng() % 10 == 0)
            out.insert(out.end(), {grid[t], grid[t], grid[t + 1]});
    }
    ShuffleTriangles(out, rng);
    return out;
}
