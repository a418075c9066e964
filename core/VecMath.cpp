#include "VecMath.h"

#include <cmath>

namespace {
constexpr double kDoubleEpsilon = 2.220446049250313e-16;
constexpr double kRelativeTolerance = static_cast<double>(0.001f);
}  // namespace

bool ApproxEqual(double a, double b)
{
    const double d = std::fabs(a - b);
    if (d < kDoubleEpsilon)
        return true;
    // The divisor is the signed larger of the two, taken absolute: the rule depends on argument order by sign.
    const double divisor = a > b ? std::fabs(a) : std::fabs(b);
    return d / divisor < kRelativeTolerance;
}

bool ApproxEqual(const Vec3& u, const Vec3& v)
{
    return ApproxEqual(u.x, v.x) && ApproxEqual(u.y, v.y) && ApproxEqual(u.z, v.z);
}

void Mat4::SetRotation(double a, double b, double c)
{
    const double ca = std::cos(a), sa = std::sin(a);
    const double cb = std::cos(b), sb = std::sin(b);
    const double cc = std::cos(c), sc = std::sin(c);

    m[0] = cc * cb;
    m[1] = -cb * sc;
    m[2] = sb;
    m[3] = 0;
    m[4] = cc * sa * sb + ca * sc;
    m[5] = ca * cc - sc * sa * sb;
    m[6] = -sa * cb;
    m[7] = 0;
    m[8] = sa * sc - cc * ca * sb;
    m[9] = sc * ca * sb + sa * cc;
    m[10] = ca * cb;
    m[11] = 0;
    m[12] = 0;
    m[13] = 0;
    m[14] = 0;
    m[15] = 1;
}

Vec3 Mat4::TransformPoint(const Vec3& v) const
{
    return {m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12], m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13],
            m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14]};
}
