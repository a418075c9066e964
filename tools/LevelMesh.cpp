#include "LevelMesh.h"

#include <algorithm>
#include <cmath>

namespace {

double Length(const Vec3& v) { return std::sqrt(v * v); }

uint32_t Cells(double length, double cellSize)
{
    const double cells = std::ceil(length / cellSize - 1e-9);
    return static_cast<uint32_t>(std::max(1.0, std::min(cells, 4.0e9)));
}

// Measured from the low end of the extent, so that two faces which share an edge but run along it in opposite
// directions compute bit-identical points on it.
double Along(double start, double extent, uint32_t k, uint32_t cells)
{
    if (extent < 0) {
        start += extent;
        extent = -extent;
        k = cells - k;
    }
    return start + extent * k / cells;
}

double GridCoordinate(double origin, double edgeU, double edgeV, uint32_t i, uint32_t j, const FaceGrid& grid)
{
    if (edgeU != 0.0)
        return Along(origin, edgeU, i, grid.cellsU);
    if (edgeV != 0.0)
        return Along(origin, edgeV, j, grid.cellsV);
    return origin;
}

// Faces are axis-aligned: each axis follows edgeU, edgeV or neither.
Vec3 GridPoint(const Face& face, const FaceGrid& grid, uint32_t i, uint32_t j)
{
    return {GridCoordinate(face.origin.x, face.edgeU.x, face.edgeV.x, i, j, grid),
            GridCoordinate(face.origin.y, face.edgeU.y, face.edgeV.y, i, j, grid),
            GridCoordinate(face.origin.z, face.edgeU.z, face.edgeV.z, i, j, grid)};
}

}  // namespace

uint64_t CountTriangles(const std::vector<Face>& faces, double cellSize)
{
    uint64_t count = 0;
    for (const Face& face : faces)
        count += 2ull * Cells(Length(face.edgeU), cellSize) * Cells(Length(face.edgeV), cellSize);
    return count;
}

double ChooseCellSize(const std::vector<Face>& faces, uint64_t target)
{
    // The count falls as the cells grow: bisect on the logarithm of the size.
    double small = std::log(0.05);
    double large = std::log(65536.0);
    double best = std::exp(large);
    uint64_t bestMiss = UINT64_MAX;
    for (int step = 0; step < 64; ++step) {
        const double middle = 0.5 * (small + large);
        const uint64_t count = CountTriangles(faces, std::exp(middle));
        const uint64_t miss = count > target ? count - target : target - count;
        if (miss < bestMiss) {
            bestMiss = miss;
            best = std::exp(middle);
        }
        if (count > target)
            small = middle;
        else
            large = middle;
    }
    return best;
}

LevelMesh TriangulateFaces(const std::vector<Face>& faces, double cellSize)
{
    LevelMesh mesh;
    mesh.grids.reserve(faces.size());
    for (const Face& face : faces) {
        FaceGrid grid;
        grid.cellsU = Cells(Length(face.edgeU), cellSize);
        grid.cellsV = Cells(Length(face.edgeV), cellSize);
        grid.firstTriangle = mesh.triangleCount;
        mesh.triangleCount += 2ull * grid.cellsU * grid.cellsV;
        mesh.grids.push_back(grid);
    }
    return mesh;
}

uint32_t FaceOfTriangle(const LevelMesh& mesh, uint64_t triangle)
{
    const auto after = std::upper_bound(mesh.grids.begin(), mesh.grids.end(), triangle,
                                        [](uint64_t t, const FaceGrid& grid) { return t < grid.firstTriangle; });
    return static_cast<uint32_t>(after - mesh.grids.begin() - 1);
}

void TriangleCorners(const std::vector<Face>& faces, const LevelMesh& mesh, uint64_t triangle, MeshCorner out[3])
{
    const uint32_t f = FaceOfTriangle(mesh, triangle);
    const Face& face = faces[f];
    const FaceGrid& grid = mesh.grids[f];
    const uint64_t local = triangle - grid.firstTriangle;
    const uint64_t cell = local / 2;
    const uint32_t i = static_cast<uint32_t>(cell % grid.cellsU);
    const uint32_t j = static_cast<uint32_t>(cell / grid.cellsU);
    // Both halves run counter-clockwise like the face: (0,0) (1,0) (1,1) and (0,0) (1,1) (0,1).
    const uint32_t ci[2][3] = {{i, i + 1, i + 1}, {i, i + 1, i}};
    const uint32_t cj[2][3] = {{j, j, j + 1}, {j, j + 1, j + 1}};
    const Vec3 tangent = FacingTangent(face.facing);
    const Vec3 bitangent = FacingBitangent(face.facing);
    const int half = static_cast<int>(local % 2);
    for (int k = 0; k < 3; ++k) {
        out[k].position = GridPoint(face, grid, ci[half][k], cj[half][k]);
        out[k].u = (out[k].position * tangent) / kUnitsPerTextureRepeat;
        out[k].v = (out[k].position * bitangent) / kUnitsPerTextureRepeat;
    }
}

std::vector<float> TriangleCentroids(const std::vector<Face>& faces, const LevelMesh& mesh)
{
    std::vector<float> centroids;
    centroids.reserve(mesh.triangleCount * 3);
    for (size_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        const FaceGrid& grid = mesh.grids[f];
        for (uint32_t j = 0; j < grid.cellsV; ++j) {
            for (uint32_t i = 0; i < grid.cellsU; ++i) {
                // A cell's halves have their centroids a third of the way from the diagonal's ends.
                for (const double a : {2.0 / 3.0, 1.0 / 3.0}) {
                    const double b = 1.0 - a;
                    const double fu = (i + a) / grid.cellsU;
                    const double fv = (j + b) / grid.cellsV;
                    centroids.push_back(static_cast<float>(face.origin.x + face.edgeU.x * fu + face.edgeV.x * fv));
                    centroids.push_back(static_cast<float>(face.origin.y + face.edgeU.y * fu + face.edgeV.y * fv));
                    centroids.push_back(static_cast<float>(face.origin.z + face.edgeU.z * fu + face.edgeV.z * fv));
                }
            }
        }
    }
    return centroids;
}
