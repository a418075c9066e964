// Double-precision vector and matrix math shared by the level, the camera and the renderer.
#pragma once

#include <cmath>

// A point or direction in level units.
struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;

    constexpr Vec3() = default;
    constexpr Vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    // Scales to unit length and returns the former length; a vector shorter than the double epsilon stays as it is
    // and the result is 1.
    double Normalize();
};

// The arithmetic is inline: completing millions of triangles calls it a few dozen times each, and the same
// operations in the same order give the same doubles wherever they are compiled.
inline Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// Multiplies every component by 1 / s, computed once.
inline Vec3 operator/(const Vec3& v, double s)
{
    const double r = 1.0 / s;
    return {v.x * r, v.y * r, v.z * r};
}

// Dot product.
inline double operator*(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Right-handed cross product.
inline Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// True when |a - b| is below the double epsilon, or below 0.001f relative to the signed larger of a and b.
// NaN on either side gives false.
bool ApproxEqual(double a, double b);
// ApproxEqual on x, then y, then z.
bool ApproxEqual(const Vec3& u, const Vec3& v);

inline double Vec3::Normalize()
{
    double len = std::sqrt(x * x + y * y + z * z);
    if (ApproxEqual(len, 0.0))
        len = 1.0;
    const double r = 1.0 / len;
    x *= r;
    y *= r;
    z *= r;
    return len;
}

// 4 by 4 matrix of doubles, column-major (element of row i, column j at 4j + i), identity when new.
struct Mat4 {
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    // Rows as stored read Rx(a)·Ry(b)·Rz(c); TransformPoint applies the transpose, so
    // SetRotation(-a, -b, -c) turns a vector by Rz(c)·Ry(b)·Rx(a). Angles in radians.
    void SetRotation(double a, double b, double c);
    // Component i is m[i]·x + m[4+i]·y + m[8+i]·z + m[12+i].
    Vec3 TransformPoint(const Vec3& v) const;
};
