#include "VecMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
const double kPi = 3.14159265358979323846;
}

TEST(ApproxEqual, RelativeToleranceUsesTheSignedLargerArgument)
{
    EXPECT_TRUE(ApproxEqual(1000.0, 1000.1));
    EXPECT_FALSE(ApproxEqual(1.0, 1.002));
    EXPECT_TRUE(ApproxEqual(0.0, 0.0));
    EXPECT_TRUE(ApproxEqual(-10.0, -10.001));
    // The larger value by sign is 0.0001, so the quotient is huge although -1000 has the larger magnitude.
    EXPECT_FALSE(ApproxEqual(0.0001, -1000.0));
    EXPECT_FALSE(ApproxEqual(-1000.0, 0.0001));
    EXPECT_TRUE(ApproxEqual(-1000.0, -1000.5));
    // A zero divisor gives an infinite quotient: zero against a small negative value is not close.
    EXPECT_FALSE(ApproxEqual(0.0, -1e-10));
    // The tolerance is 0.001 in single precision, slightly above 0.001: a quotient of exactly 0.001 is close.
    EXPECT_TRUE(ApproxEqual(1000.0, 999.0));
    EXPECT_FALSE(ApproxEqual(1000.0, 998.9));
}

TEST(ApproxEqual, NaNAndInfinityAreNeverClose)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(ApproxEqual(nan, nan));
    EXPECT_FALSE(ApproxEqual(nan, 1.0));
    EXPECT_FALSE(ApproxEqual(1.0, nan));
    EXPECT_FALSE(ApproxEqual(inf, inf));
    EXPECT_FALSE(ApproxEqual(Vec3(1, 2, nan), Vec3(1, 2, nan)));
}

TEST(ApproxEqual, VectorsCompareEveryAxis)
{
    const Vec3 v(5, -7, 100);
    EXPECT_TRUE(ApproxEqual(v, v));
    EXPECT_TRUE(ApproxEqual(v, Vec3(5, -7, 100.01)));
    EXPECT_FALSE(ApproxEqual(v, Vec3(5, -7, 101)));
    EXPECT_FALSE(ApproxEqual(v, Vec3(5.1, -7, 100)));
    EXPECT_FALSE(ApproxEqual(v, Vec3(5, -7.1, 100)));
}

TEST(Vec3, NormalizeScalesToUnitLengthAndLeavesZeroAlone)
{
    Vec3 v(3, 0, 4);
    EXPECT_DOUBLE_EQ(v.Normalize(), 5.0);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.z, 0.8);

    Vec3 zero;
    EXPECT_EQ(zero.Normalize(), 1.0);
    EXPECT_EQ(zero.x, 0.0);
    EXPECT_EQ(zero.y, 0.0);
    EXPECT_EQ(zero.z, 0.0);

    // Below the double epsilon counts as zero; just above it is scaled to unit length.
    Vec3 tiny(1e-17, 0, 0);
    EXPECT_EQ(tiny.Normalize(), 1.0);
    EXPECT_EQ(tiny.x, 1e-17);
    Vec3 small(1e-10, 0, 0);
    EXPECT_DOUBLE_EQ(small.Normalize(), 1e-10);
    EXPECT_DOUBLE_EQ(small.x, 1.0);
}

TEST(Vec3, ArithmeticAndRightHandedCross)
{
    const Vec3 a(1, 2, 3), b(4, 5, 6);
    const Vec3 sum = a + b, diff = b - a, scaled = b / 2.0;
    EXPECT_EQ(sum.x, 5);
    EXPECT_EQ(diff.z, 3);
    EXPECT_EQ(scaled.y, 2.5);
    EXPECT_EQ(a * b, 32);
    const Vec3 z = Cross(Vec3(1, 0, 0), Vec3(0, 1, 0));
    EXPECT_EQ(z.x, 0);
    EXPECT_EQ(z.y, 0);
    EXPECT_EQ(z.z, 1);
}

TEST(Mat4, NewMatrixIsIdentity)
{
    const Mat4 m;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m.m[i], (i % 5 == 0) ? 1.0 : 0.0) << i;
}

TEST(Mat4, NegatedAnglesTurnAboutXThenYThenZ)
{
    Mat4 r;
    r.SetRotation(0, 0, -kPi / 2);
    Vec3 p = r.TransformPoint(Vec3(1, 0, 0));
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
    EXPECT_NEAR(p.z, 0, 1e-12);

    r.SetRotation(0, -kPi / 2, 0);
    p = r.TransformPoint(Vec3(1, 0, 0));
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.z, -1, 1e-12);

    // Order matters: Y by 90 then Z by 90 sends +X to -Z (the Z turn leaves it there); the reverse order
    // would send +X to +Y first and keep it on +Y.
    r.SetRotation(0, -kPi / 2, -kPi / 2);
    p = r.TransformPoint(Vec3(1, 0, 0));
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 0, 1e-12);
    EXPECT_NEAR(p.z, -1, 1e-12);
    // X by 90 first turns +Y to +Z, then Y by 90 turns +Z to +X, then Z by 90 turns +X to +Y.
    r.SetRotation(-kPi / 2, -kPi / 2, -kPi / 2);
    p = r.TransformPoint(Vec3(0, 1, 0));
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
    EXPECT_NEAR(p.z, 0, 1e-12);
}

TEST(Mat4, TransformPointAddsTheTranslationColumn)
{
    Mat4 m;
    m.m[12] = 10;
    m.m[13] = 20;
    m.m[14] = 30;
    const Vec3 p = m.TransformPoint(Vec3(1, 2, 3));
    EXPECT_EQ(p.x, 11);
    EXPECT_EQ(p.y, 22);
    EXPECT_EQ(p.z, 33);
}
