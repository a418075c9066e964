// Double-precision vector and matrix math shared by the level, the camera and the renderer.
#pragma once

// A point or direction in level units.
struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;

    constexpr Vec3() = default;
    constexpr Vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    // Scales to unit length and returns the former length; a vector shorter than the double epsilon stays as it is
    // and the result is 1.
    double Normalize();
};

Vec3 operator+(const Vec3& a, const Vec3& b);
Vec3 operator-(const Vec3& a, const Vec3& b);
// Multiplies every component by 1 / s, computed once.
Vec3 operator/(const Vec3& v, double s);
// Dot product.
double operator*(const Vec3& a, const Vec3& b);
// Right-handed cross product.
Vec3 Cross(const Vec3& a, const Vec3& b);

// True when |a - b| is below the double epsilon, or below 0.001f relative to the signed larger of a and b.
// NaN on either side gives false.
bool ApproxEqual(double a, double b);
// ApproxEqual on x, then y, then z.
bool ApproxEqual(const Vec3& u, const Vec3& v);

// 4 by 4 matrix of doubles, column-major (element of row i, column j at 4j + i), identity when new.
struct Mat4 {
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    // Rows as stored read Rx(a)·Ry(b)·Rz(c); TransformPoint applies the transpose, so
    // SetRotation(-a, -b, -c) turns a vector by Rz(c)·Ry(b)·Rx(a). Angles in radians.
    void SetRotation(double a, double b, double c);
    // Component i is m[i]·x + m[4+i]·y + m[8+i]·z + m[12+i].
    Vec3 TransformPoint(const Vec3& v) const;
};
