// Triangulation of the generator's faces: each face becomes a grid of cells, two triangles per cell, so the
// triangle count of a level can be set over a wide range with one cell size.
#pragma once

#include "LevelLayout.h"

#include <cstdint>
#include <vector>

// One face's grid: cells along u and v, and the number of its first triangle.
struct FaceGrid {
    uint32_t cellsU = 1;
    uint32_t cellsV = 1;
    uint64_t firstTriangle = 0;
};

struct LevelMesh {
    std::vector<FaceGrid> grids;  // one per face, in face order
    uint64_t triangleCount = 0;
};

// A corner as written to the level file: position and texture coordinates.
struct MeshCorner {
    Vec3 position;
    double u = 0.0;
    double v = 0.0;
};

// Texture repeats every this many level units.
constexpr double kUnitsPerTextureRepeat = 128.0;

// Triangles that the faces give with cells of at most `cellSize` units on a side.
uint64_t CountTriangles(const std::vector<Face>& faces, double cellSize);
// The cell size whose triangle count comes closest to `target`; with a target below what the faces need, the
// size that leaves every face one cell.
double ChooseCellSize(const std::vector<Face>& faces, uint64_t target);
// Grids of all faces for `cellSize`.
LevelMesh TriangulateFaces(const std::vector<Face>& faces, double cellSize);

// Face of triangle `triangle`.
uint32_t FaceOfTriangle(const LevelMesh& mesh, uint64_t triangle);
// The three corners of a triangle, counter-clockwise seen from the face's front, with texture coordinates in
// world scale along the face's u and v directions.
void TriangleCorners(const std::vector<Face>& faces, const LevelMesh& mesh, uint64_t triangle, MeshCorner out[3]);
// Centroids of all triangles, three floats each, in triangle order.
std::vector<float> TriangleCentroids(const std::vector<Face>& faces, const LevelMesh& mesh);
