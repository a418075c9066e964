#include "LevelTestSupport.h"
#include "Triangle.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Triangle Corners(const Vec3& a, const Vec3& b, const Vec3& c)
{
    Triangle triangle;
    triangle.corners[0].position = a;
    triangle.corners[1].position = b;
    triangle.corners[2].position = c;
    return triangle;
}

void SetUv(Triangle& triangle, float uA, float vA, float uB, float vB, float uC, float vC)
{
    triangle.corners[0].u = uA;
    triangle.corners[0].v = vA;
    triangle.corners[1].u = uB;
    triangle.corners[1].v = vB;
    triangle.corners[2].u = uC;
    triangle.corners[2].v = vC;
}

void ExpectVec(const Vec3& actual, double x, double y, double z)
{
    EXPECT_DOUBLE_EQ(actual.x, x);
    EXPECT_DOUBLE_EQ(actual.y, y);
    EXPECT_DOUBLE_EQ(actual.z, z);
}

TEST(CompleteTriangleShape, UnitTriangleGetsPlaneCentroidAndFlippedFrame)
{
    Triangle triangle = Corners(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0));
    SetUv(triangle, 0, 0, 1, 0, 0, 1);
    CompleteTriangleShape(triangle);

    ExpectVec(triangle.plane.normal, 0, 0, 1);
    EXPECT_EQ(triangle.plane.distance, 0.0);
    ExpectVec(triangle.centroid, 1.0 / 3, 1.0 / 3, 0);
    // Unflipped the frame would be (-1, 0, 0) and (0, 1, 0), whose cross product points against the normal.
    ExpectVec(triangle.tangent, 1, 0, 0);
    ExpectVec(triangle.bitangent, 0, -1, 0);
}

TEST(CompleteTriangleShape, FrameAlongTheNormalStaysAsComputed)
{
    Triangle triangle = Corners(Vec3(0, 0, 5), Vec3(2, 0, 5), Vec3(0, 2, 5));
    SetUv(triangle, 0, 0, 1, 0, 0, -1);
    CompleteTriangleShape(triangle);

    ExpectVec(triangle.plane.normal, 0, 0, 1);
    EXPECT_DOUBLE_EQ(triangle.plane.distance, 5.0);
    ExpectVec(triangle.tangent, 1, 0, 0);
    ExpectVec(triangle.bitangent, 0, 1, 0);
    EXPECT_GT(triangle.plane.normal * Cross(triangle.tangent, triangle.bitangent), 0.0);
}

TEST(CompleteTriangleShape, DegenerateInputLeavesZeroVectors)
{
    Triangle collinear = Corners(Vec3(0, 0, 0), Vec3(1, 1, 1), Vec3(2, 2, 2));
    SetUv(collinear, 0, 0, 1, 0, 0, 1);
    CompleteTriangleShape(collinear);
    ExpectVec(collinear.plane.normal, 0, 0, 0);
    EXPECT_EQ(collinear.plane.distance, 0.0);
    // With a zero normal the orientation test sees 0 and keeps the frame as computed.
    const double third = 1 / std::sqrt(3.0);
    ExpectVec(collinear.tangent, -third, -third, -third);
    ExpectVec(collinear.bitangent, third, third, third);

    Triangle flat = Corners(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0));
    SetUv(flat, 0.5f, 0.25f, 0.5f, 0.25f, 0.5f, 0.25f);
    CompleteTriangleShape(flat);
    ExpectVec(flat.plane.normal, 0, 0, 1);
    ExpectVec(flat.tangent, 0, 0, 0);
    ExpectVec(flat.bitangent, 0, 0, 0);
}

TEST(LoadTriangleTextures, RequestsTexturesInOrderAndFallsBackToNoNormal)
{
    TextureTable table;
    table.known = {{"rock", 7}, {"rock_normal", 8}, {"sand", 3}, {"nonormal", 4}};

    TriangleTextures loaded = LoadTriangleTextures("rock", table.Source());
    EXPECT_EQ(loaded.diffuse, 7u);
    EXPECT_EQ(loaded.normalMap, 8u);

    loaded = LoadTriangleTextures("sand", table.Source());
    EXPECT_EQ(loaded.diffuse, 3u);
    EXPECT_EQ(loaded.normalMap, 4u);

    table.known.erase("nonormal");
    loaded = LoadTriangleTextures("missing", table.Source());
    EXPECT_EQ(loaded.diffuse, 1u);
    EXPECT_EQ(loaded.normalMap, 1u);

    EXPECT_EQ(table.requests, (std::vector<std::string>{"rock", "rock_normal", "sand", "sand_normal", "nonormal",
                                                        "missing", "missing_normal", "nonormal"}));

    loaded = LoadTriangleTextures("rock", TextureSource{});
    EXPECT_EQ(loaded.diffuse, 0u);
    EXPECT_EQ(loaded.normalMap, 0u);
}

}  // namespace
