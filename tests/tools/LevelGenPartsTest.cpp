// The generator's building blocks: BSP splitting, the cell size for a triangle target, normal maps, seamless
// material images and the image round trip through the image library.
#include "GenRandom.h"
#include "LevelBsp.h"
#include "LevelLayout.h"
#include "LevelMesh.h"
#include "ProceduralTextures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Each triangle number appears in exactly one reachable leaf, and the tree reaches every leaf once.
void ExpectPartition(const BspTree& tree, size_t triangles)
{
    std::vector<int> seen(triangles, 0), leafVisits(tree.leaves.size(), 0);
    std::vector<BspChild> pending{{false, 0}};
    size_t steps = 0;
    while (!pending.empty() && ++steps < 1000000) {
        const BspChild child = pending.back();
        pending.pop_back();
        if (child.isLeaf) {
            ++leafVisits.at(child.index);
            const auto [begin, end] = tree.leaves.at(child.index);
            for (size_t k = begin; k < end; ++k)
                ++seen.at(tree.triangles[k]);
        } else {
            pending.push_back(tree.nodes.at(child.index).front);
            pending.push_back(tree.nodes.at(child.index).back);
        }
    }
    for (size_t t = 0; t < triangles; ++t)
        ASSERT_EQ(seen[t], 1) << "triangle " << t;
    for (int visits : leafVisits)
        EXPECT_EQ(visits, 1);
}

TEST(LevelBsp, RandomCentroidsArePartitionedAlongThePlanes)
{
    GenRandom random(5);
    std::vector<float> centroids;
    for (int k = 0; k < 3000 * 3; ++k)
        centroids.push_back(static_cast<float>(random.Range(-500.0, 500.0)));
    BspTree tree = BuildBsp(centroids, 40);
    for (const auto& [begin, end] : tree.leaves)
        EXPECT_LE(end - begin, 40u);
    // Every triangle under a node's front child lies on or in front of its plane, and behind it under the back.
    for (const BspSplit& split : tree.nodes)
        for (const auto& [child, front] : {std::pair(split.front, true), std::pair(split.back, false)}) {
            std::vector<BspChild> pending{child};
            while (!pending.empty()) {
                const BspChild c = pending.back();
                pending.pop_back();
                if (!c.isLeaf) {
                    pending.push_back(tree.nodes[c.index].front);
                    pending.push_back(tree.nodes[c.index].back);
                    continue;
                }
                for (size_t k = tree.leaves[c.index].first; k < tree.leaves[c.index].second; ++k) {
                    const float side = centroids[tree.triangles[k] * 3 + split.axis] - split.distance;
                    EXPECT_TRUE(front ? side >= 0 : side <= 0);
                }
            }
        }
    ShuffleBsp(tree, 9);
    ExpectPartition(tree, 3000);
    bool childBeforeParent = false;
    for (size_t n = 0; n < tree.nodes.size(); ++n)
        for (const BspChild& c : {tree.nodes[n].front, tree.nodes[n].back})
            childBeforeParent |= !c.isLeaf && c.index < n;
    EXPECT_TRUE(childBeforeParent) << "shuffled records still read parents first";
}

TEST(LevelBsp, FewOrCoincidentTrianglesStillGiveARootNode)
{
    const std::vector<float> two = {0, 0, 0, 1, 0, 0};
    const BspTree pair = BuildBsp(two, 256);
    ASSERT_EQ(pair.nodes.size(), 1u);
    ExpectPartition(pair, 2);

    const std::vector<float> same(100 * 3, 7.0f);
    const BspTree stacked = BuildBsp(same, 8);
    ASSERT_GE(stacked.nodes.size(), 1u);
    ExpectPartition(stacked, 100);
}

TEST(LevelMesh, CellSizeMeetsTriangleTargets)
{
    const LevelLayout layout = BuildLayout(4, MakeMaterials(8, 2), 2);
    for (const uint64_t target : {20000ull, 200000ull, 1000000ull}) {
        const LevelMesh mesh = TriangulateFaces(layout.faces, ChooseCellSize(layout.faces, target));
        EXPECT_NEAR(static_cast<double>(mesh.triangleCount), static_cast<double>(target), target * 0.05);
    }
    const LevelMesh coarse = TriangulateFaces(layout.faces, ChooseCellSize(layout.faces, 1));
    EXPECT_EQ(coarse.triangleCount, 2 * layout.faces.size());
}

TEST(LevelMesh, CellsShareCornersExactly)
{
    std::vector<Face> faces(1);
    faces[0].origin = Vec3(0, 0, -48);
    faces[0].edgeU = Vec3(100, 0, 0);
    faces[0].edgeV = Vec3(0, 70, 0);
    const LevelMesh mesh = TriangulateFaces(faces, 30.0);
    ASSERT_EQ(mesh.triangleCount, 2u * 4 * 3);
    // The corner a cell shares with its right-hand neighbour is the same bits in both, so the viewer welds them.
    MeshCorner left[3], right[3];
    TriangleCorners(faces, mesh, 0, left);
    TriangleCorners(faces, mesh, 2, right);
    EXPECT_EQ(left[1].position.x, right[0].position.x);
    EXPECT_EQ(left[1].u, right[0].u);
    EXPECT_NEAR(left[1].position.x, 25.0, 1e-12);
}

// The hull of rooms and corridors is a closed surface without cracks: every edge, with corners as written (single
// precision), belongs to exactly one triangle in each direction, so neighbouring triangles meet corner to corner
// and wind the same way.
TEST(LevelMesh, RoomAndCorridorHullIsClosedAndConsistentlyWound)
{
    for (const int rooms : {1, 5}) {
        const LevelLayout layout = BuildLayout(rooms, MakeMaterials(8, 4), 4);
        std::vector<Face> hull;
        for (const Face& face : layout.faces)
            if (face.shell)
                hull.push_back(face);
        for (const double cellSize : {64.0, 37.3}) {
            SCOPED_TRACE(std::to_string(rooms) + " rooms, cells of " + std::to_string(cellSize));
            const LevelMesh mesh = TriangulateFaces(hull, cellSize);
            using Edge = std::array<float, 6>;
            std::map<Edge, int> edges;
            for (uint64_t t = 0; t < mesh.triangleCount; ++t) {
                MeshCorner c[3];
                TriangleCorners(hull, mesh, t, c);
                for (int k = 0; k < 3; ++k) {
                    const Vec3& a = c[k].position;
                    const Vec3& b = c[(k + 1) % 3].position;
                    ++edges[{float(a.x), float(a.y), float(a.z), float(b.x), float(b.y), float(b.z)}];
                }
            }
            size_t open = 0;
            for (const auto& [edge, count] : edges) {
                const auto reverse = edges.find({edge[3], edge[4], edge[5], edge[0], edge[1], edge[2]});
                if (count != 1 || reverse == edges.end() || reverse->second != 1)
                    ++open;
            }
            EXPECT_EQ(open, 0u);
        }
    }
}

TEST(ProceduralTextures, NormalMapsTiltAgainstTheSlope)
{
    const int n = 8;
    std::vector<float> flat(n * n, 0.4f), alongU(n * n), alongV(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            alongU[y * n + x] = std::sin(2 * 3.14159265 * x / n);
            alongV[y * n + x] = std::sin(2 * 3.14159265 * y / n);
        }
    const GenImage level = NormalMapFromHeight(flat, n, n, 3.0f);
    for (size_t k = 0; k < level.pixels.size(); k += 3)
        EXPECT_EQ((std::array<int, 3>{level.pixels[k], level.pixels[k + 1], level.pixels[k + 2]}),
                  (std::array<int, 3>{128, 128, 255}));
    // At x = 0 the height rises along u: the normal leans towards -u. At x = n/2 it falls: towards +u.
    const GenImage u = NormalMapFromHeight(alongU, n, n, 3.0f);
    EXPECT_LT(u.pixels[0], 100);
    EXPECT_EQ(u.pixels[1], 128);
    EXPECT_GT(u.pixels[(n / 2) * 3], 156);
    const GenImage v = NormalMapFromHeight(alongV, n, n, 3.0f);
    EXPECT_EQ(v.pixels[0], 128);
    EXPECT_LT(v.pixels[1], 100);
    EXPECT_EQ(MakeFlatNormalImage().pixels[2], 255);
}

TEST(LevelLayout, NormalMapsForTwoInThreeMaterialsOrForEvery)
{
    const auto withNormalMap = [](const std::vector<Material>& materials) {
        return std::count_if(materials.begin(), materials.end(), [](const Material& m) { return m.hasNormalMap; });
    };
    EXPECT_EQ(withNormalMap(MakeMaterials(9, 1)), 6);
    EXPECT_EQ(withNormalMap(MakeMaterials(9, 1, true)), 9);
}

// The wrap-around seam is no sharper than the sharpest pair of neighbouring columns (or rows) inside the image.
TEST(ProceduralTextures, MaterialImagesTileWithoutSeams)
{
    for (const Material& material : MakeMaterials(10, 3)) {
        SCOPED_TRACE(material.name);
        const GenImage image = MakeMaterialImages(material).diffuse;
        const int s = image.width, c = image.channels;
        const auto pixel = [&](int x, int y, int k) { return static_cast<double>(image.pixels[(y * s + x) * c + k]); };
        const auto step = [&](int a, int b, bool columns) {
            double sum = 0;
            for (int i = 0; i < s; ++i)
                for (int k = 0; k < 3; ++k)
                    sum += columns ? std::fabs(pixel(a, i, k) - pixel(b, i, k))
                                   : std::fabs(pixel(i, a, k) - pixel(i, b, k));
            return sum;
        };
        for (const bool columns : {true, false}) {
            double sharpest = 0;
            for (int a = 0; a + 1 < s; ++a)
                sharpest = std::max(sharpest, step(a, a + 1, columns));
            EXPECT_LE(step(s - 1, 0, columns), 1.25 * sharpest) << (columns ? "along u" : "along v");
        }
    }
}

// A saved image reads back with its bottom row first in all three formats, and saving again over it works.
TEST(ProceduralTextures, ImagesRoundTripBottomRowFirst)
{
    const fs::path dir = fs::temp_directory_path() / ("velmora-levelgen-images-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    GenImage marked;
    marked.width = 64, marked.height = 64, marked.channels = 4;
    marked.pixels.assign(64 * 64 * 4, 40);
    for (int y = 0; y < 16; ++y)  // a bright band along the bottom
        for (int x = 0; x < 64; ++x)
            for (int k = 0; k < 4; ++k)
                marked.pixels[(y * 64 + x) * 4 + k] = 230;
    for (const ImageFormat format : {ImageFormat::Dds, ImageFormat::Tga, ImageFormat::Jpg}) {
        SCOPED_TRACE(ImageExtension(format));
        GenImage image = marked;
        if (format == ImageFormat::Jpg) {
            image.channels = 3;
            image.pixels.resize(64 * 64 * 3);
            for (int p = 0; p < 64 * 64; ++p)
                for (int k = 0; k < 3; ++k)
                    image.pixels[p * 3 + k] = marked.pixels[p * 4 + k];
        }
        const std::string base = (dir / "marked").string();
        ASSERT_TRUE(SaveImage(image, base, format));
        ASSERT_TRUE(SaveImage(image, base, format));
        GenImage read;
        ASSERT_TRUE(LoadImageFile(base + ImageExtension(format), image.channels, read));
        EXPECT_GT(read.pixels[(4 * 64 + 8) * image.channels], 200);  // bottom band
        EXPECT_LT(read.pixels[(60 * 64 + 8) * image.channels], 70);  // top
    }
    fs::remove_all(dir);
}

TEST(ProceduralTextures, WarpIsGentleAndRampNearlyNeutral)
{
    const GenImage warp = MakeWarpImage();
    for (size_t k = 0; k < warp.pixels.size(); k += 3) {
        EXPECT_NEAR(warp.pixels[k], 128, 12);
        EXPECT_NEAR(warp.pixels[k + 1], 128, 12);
    }
    const GenImage ramp = MakeRampImage();
    ASSERT_EQ(ramp.width, 256);
    for (int x = 0; x < 256; ++x) {
        EXPECT_NEAR(ramp.pixels[x * 3 + 1], x, 4);
        EXPECT_GE(ramp.pixels[x * 3], ramp.pixels[x * 3 + 2]);  // warm: red at least blue
    }
}

}  // namespace
