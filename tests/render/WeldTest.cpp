#include "GeometryBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>

namespace {

LeafTriangle MakeTriangle(Vec3 a, Vec3 b, Vec3 c, uint32_t diffuse = 1, uint32_t normalMap = 2)
{
    LeafTriangle t;
    t.corners[0].position = a;
    t.corners[1].position = b;
    t.corners[2].position = c;
    t.corners[1].u = 1;
    t.corners[2].v = 1;
    t.diffuseTexture = diffuse;
    t.normalMap = normalMap;
    return t;
}

// The vertices of every triangle drawn by a batch, as positions, in draw order.
std::vector<std::array<float, 3>> DrawnCorners(const BuiltGeometry& g, const MaterialBatch& batch)
{
    std::vector<std::array<float, 3>> corners;
    for (uint32_t index : batch.indices) {
        const RenderVertex& v = g.vertices.at(index);
        corners.push_back({v.position[0], v.position[1], v.position[2]});
    }
    return corners;
}

// Welding by linear search from the first vertex, compared as floats.
std::vector<uint32_t> LinearWeld(const std::vector<RenderVertex>& corners)
{
    std::vector<RenderVertex> stored;
    std::vector<uint32_t> indices;
    for (const RenderVertex& c : corners) {
        const float* a = c.position;
        size_t found = stored.size();
        for (size_t i = 0; i < stored.size() && found == stored.size(); ++i) {
            const float* b = stored[i].position;
            bool equal = true;
            for (int k = 0; k < 14; ++k)
                equal = equal && a[k] == b[k];
            if (equal)
                found = i;
        }
        if (found == stored.size())
            stored.push_back(c);
        indices.push_back(static_cast<uint32_t>(found));
    }
    return indices;
}

TriangleRefs Refs(const std::vector<LeafTriangle>& triangles)
{
    TriangleRefs refs;
    for (const LeafTriangle& triangle : triangles)
        refs.push_back(&triangle);
    return refs;
}

}  // namespace

TEST(Weld, SharedCornersShareVerticesOnlyWithTheSameFrame)
{
    // The second triangle lies beside the first, in its plane and texture mapping (u = x, v = y), and shares its
    // corners (1, 0, 0) and (0, 1, 0).
    const LeafTriangle first = MakeTriangle(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0));
    LeafTriangle second = MakeTriangle(Vec3(1, 1, 0), Vec3(0, 1, 0), Vec3(1, 0, 0));
    second.corners[0].u = 1;
    second.corners[0].v = 1;
    second.corners[1] = first.corners[2];
    second.corners[2] = first.corners[1];
    EXPECT_EQ(BuildGeometry({&first, &second}).Value().vertices.size(), 4u);

    // Another mapping turns the second triangle's tangent frame, so its shared corners are vertices of their own.
    second.corners[0].u = 0;
    EXPECT_EQ(BuildGeometry({&first, &second}).Value().vertices.size(), 6u);
}

TEST(Weld, SignedZerosWeldAndNaNsNever)
{
    const LeafTriangle positive = MakeTriangle(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0));
    LeafTriangle negative = positive;
    negative.corners[0].position = Vec3(-0.0, -0.0, -0.0);
    negative.diffuseTexture = 9;
    EXPECT_EQ(BuildGeometry({&positive, &negative}).Value().vertices.size(), 3u);

    // A NaN in a position reaches the triangle's plane and tangent frame, so every corner of it holds one: the
    // triangle drawn twice keeps six vertices.
    LeafTriangle withNaN = positive;
    withNaN.corners[0].position.x = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(BuildGeometry({&withNaN, &withNaN}).Value().vertices.size(), 6u);
}

TEST(Weld, HashedWeldingGivesTheIndicesOfALinearSearch)
{
    std::mt19937 random(7);
    const double values[] = {0.0, -0.0, 1.0, 0.5, std::numeric_limits<double>::quiet_NaN()};
    std::vector<LeafTriangle> triangles;
    std::vector<RenderVertex> corners;
    for (int t = 0; t < 400; ++t) {
        LeafTriangle tri = MakeTriangle(Vec3(), Vec3(), Vec3());
        for (TriangleCorner& c : tri.corners) {
            c.position = Vec3(values[random() % 5], values[random() % 4], values[random() % 4]);
            c.u = static_cast<float>(values[random() % 5]);
            c.v = static_cast<float>(values[random() % 4]);
        }
        triangles.push_back(tri);
        const Triangle completed = CompletedTriangle(tri);
        for (const TriangleCorner& c : completed.corners)
            corners.push_back(MakeRenderVertex(completed, c));
    }
    const WeldedCorners welded = WeldCorners(Refs(triangles));
    EXPECT_EQ(std::vector<uint32_t>(welded.corners.begin(), welded.corners.end()), LinearWeld(corners));
    EXPECT_EQ(welded.vertices.size(), 1 + *std::max_element(welded.corners.begin(), welded.corners.end()));
}

TEST(Weld, BatchesFollowFirstOccurrenceAndKeepTheFirstNormalMap)
{
    std::vector<LeafTriangle> triangles;
    const uint32_t textures[] = {7, 3, 7, 5};
    for (int i = 0; i < 4; ++i)
        triangles.push_back(
            MakeTriangle(Vec3(i, 0, 0), Vec3(i + 1, 0, 0), Vec3(i, 1, 0), textures[i], 100 + static_cast<uint32_t>(i)));
    const BuiltGeometry g = BuildGeometry(Refs(triangles)).Value();
    ASSERT_EQ(g.batches.size(), 3u);
    EXPECT_EQ(g.batches[0].diffuseTexture, 7u);
    EXPECT_EQ(g.batches[0].normalMap, 100u);
    EXPECT_EQ(g.batches[1].diffuseTexture, 3u);
    EXPECT_EQ(g.batches[2].diffuseTexture, 5u);
    EXPECT_EQ(g.batches[0].indices.size(), 6u);
}

TEST(Weld, RepeatedTrianglesAreDrawnOnce)
{
    const LeafTriangle t = MakeTriangle(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0));
    const LeafTriangle other = MakeTriangle(Vec3(5, 0, 0), Vec3(6, 0, 0), Vec3(5, 1, 0));
    const BuiltGeometry g = BuildGeometry({&t, &other, &t}).Value();
    ASSERT_EQ(g.batches.size(), 1u);
    EXPECT_EQ(g.batches[0].indices.size(), 6u);
}

TEST(Weld, LevelsBeyondTheLimitsKeepEveryTriangle)
{
    // 40 materials and 70,000 distinct vertices: the table grows past 32 entries and no index wraps.
    std::vector<LeafTriangle> triangles;
    for (int i = 0; i < 24000; ++i) {
        const double x = i * 2.0;
        triangles.push_back(MakeTriangle(Vec3(x, 0, 0), Vec3(x + 1, 0, 0), Vec3(x, 1, 0), 1 + i % 40));
    }
    const BuiltGeometry g = BuildGeometry(Refs(triangles)).Value();
    EXPECT_EQ(g.vertices.size(), 72000u);
    ASSERT_EQ(g.batches.size(), 40u);

    std::multiset<std::array<float, 3>> drawn;
    for (const MaterialBatch& batch : g.batches) {
        for (const auto& corner : DrawnCorners(g, batch))
            drawn.insert(corner);
    }
    std::multiset<std::array<float, 3>> expected;
    for (const LeafTriangle& t : triangles)
        for (const TriangleCorner& c : t.corners)
            expected.insert(
                {static_cast<float>(c.position.x), static_cast<float>(c.position.y), static_cast<float>(c.position.z)});
    EXPECT_TRUE(drawn == expected);
}

namespace {

// Meshes past the size where the weld and the batches split across threads, and past one piece of triangles for
// the batches.
std::vector<LeafTriangle> QuadGrid(int side)
{
    std::vector<LeafTriangle> triangles;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double left = x == 0 && y % 2 == 1 ? -0.0 : x;
            Vec3 a(left, y, 0), b(x + 1, y, 0), c(left, y + 1, 0), d(x + 1, y + 1, 0);
            if ((x * 7 + y) % 97 == 0)
                a.z = std::numeric_limits<double>::quiet_NaN();
            const uint32_t material = y > side - 3 ? 9 : 1 + (x / 10 + y / 10) % 5;
            for (LeafTriangle t :
                 {MakeTriangle(a, b, c, material, material), MakeTriangle(c, b, d, material, 20 + y)}) {
                for (TriangleCorner& corner : t.corners) {
                    corner.u = static_cast<float>(corner.position.x);
                    corner.v = static_cast<float>(corner.position.y);
                }
                triangles.push_back(t);
            }
        }
    return triangles;
}

// Corners drawn from `pool` positions anywhere in the list, so that every run of corners repeats vertices of the
// others; -0 in place of +0 and NaN now and then.
std::vector<LeafTriangle> PooledCorners(int count, int pool)
{
    std::mt19937 random(11);
    std::vector<LeafTriangle> triangles;
    for (int i = 0; i < count; ++i) {
        Vec3 corners[3];
        for (Vec3& corner : corners) {
            const int p = static_cast<int>(random() % pool);
            corner = Vec3(p % 64, p / 64 % 2 ? -0.0 : 0.0, p / 128);
            if (random() % 5000 == 0)
                corner.y = std::numeric_limits<double>::quiet_NaN();
        }
        triangles.push_back(MakeTriangle(corners[0], corners[1], corners[2], 1 + static_cast<uint32_t>(random() % 3)));
    }
    return triangles;
}

}  // namespace

TEST(Weld, EveryThreadCountGivesTheSameGeometry)
{
    const struct {
        const char* mesh;
        std::vector<LeafTriangle> triangles;
    } cases[] = {
        {"grid of quads welding across neighbours, a texture first used at the end", QuadGrid(200)},
        {"every vertex repeated across the list", PooledCorners(70000, 3000)},
        {"most vertices new, some repeated far apart", PooledCorners(70000, 150000)},
    };
    for (const auto& c : cases) {
        const TriangleRefs refs = Refs(c.triangles);
        const BuiltGeometry one = WeldGeometry(refs, 1);
        for (unsigned threads : {2u, 3u, 8u}) {
            SCOPED_TRACE(std::string(c.mesh) + ", threads " + std::to_string(threads));
            const BuiltGeometry more = WeldGeometry(refs, threads);
            ASSERT_EQ(more.vertices.size(), one.vertices.size());
            EXPECT_EQ(
                std::memcmp(more.vertices.data(), one.vertices.data(), one.vertices.size() * sizeof(RenderVertex)), 0);
            ASSERT_EQ(more.batches.size(), one.batches.size());
            for (size_t b = 0; b < one.batches.size(); ++b) {
                EXPECT_EQ(more.batches[b].diffuseTexture, one.batches[b].diffuseTexture);
                EXPECT_EQ(more.batches[b].normalMap, one.batches[b].normalMap);
                EXPECT_EQ(more.batches[b].indices, one.batches[b].indices) << b;
            }
        }
    }
}

// Clusters are cut on several threads too.
TEST(Weld, ClustersAreTheSameOnEveryThreadCount)
{
    const std::vector<LeafTriangle> triangles = QuadGrid(150);
    const BuiltGeometry one = BuildGeometry(Refs(triangles), 1).Value();
    const BuiltGeometry two = BuildGeometry(Refs(triangles), 3).Value();
    EXPECT_EQ(two.batchClusters, one.batchClusters);
    ASSERT_EQ(two.clusters.size(), one.clusters.size());
    EXPECT_EQ(std::memcmp(two.clusters.data(), one.clusters.data(), one.clusters.size() * sizeof(IndexCluster)), 0);
}
