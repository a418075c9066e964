#include "Culling.h"

#include <algorithm>
#include <cmath>

namespace {

// The shaders compute positions and distances in single precision; a relative margin well above its rounding
// keeps every test on the side of drawing.
constexpr double kRelativeMargin = 1e-3;
constexpr double kAbsoluteMargin = 1e-3;

double ReachRadius(double radius) { return radius * (1.0 + kRelativeMargin) + kAbsoluteMargin; }

// Widening of a light's screen rectangle for fragments whose centre lies on its edge (lines, polygon edges).
constexpr int kRectMarginPixels = 2;

}  // namespace

Frustum FrustumFromClipMatrix(const double clip[16])
{
    // Row r of the matrix is (clip[r], clip[4 + r], clip[8 + r], clip[12 + r]); a point is inside when
    // -w <= x, y, z <= w, that is row3 +- row0, row1, row2 >= 0.
    Frustum frustum;
    for (int plane = 0; plane < 6; ++plane) {
        const int row = plane / 2;
        const double sign = plane % 2 == 0 ? 1.0 : -1.0;
        for (int k = 0; k < 4; ++k)
            frustum.planes[plane][k] = clip[k * 4 + 3] + sign * clip[k * 4 + row];
    }
    return frustum;
}

bool BoxOutsideFrustum(const ClusterBox& box, const Frustum& frustum)
{
    for (const auto& plane : frustum.planes) {
        double best = plane[3];
        double scale = std::fabs(plane[3]);
        for (int k = 0; k < 3; ++k) {
            const double corner = plane[k] >= 0.0 ? box.max[k] : box.min[k];
            best += plane[k] * corner;
            scale += std::fabs(plane[k]) * std::max(std::fabs(box.min[k]), std::fabs(box.max[k]));
        }
        if (best < -kRelativeMargin * scale)
            return true;
    }
    return false;
}

bool SphereOutsideFrustum(const Vec3& centre, double radius, const Frustum& frustum)
{
    const double reach = ReachRadius(radius);
    for (const auto& plane : frustum.planes) {
        const double length = std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
        if (length == 0.0)
            continue;
        const double distance = (plane[0] * centre.x + plane[1] * centre.y + plane[2] * centre.z + plane[3]) / length;
        if (distance < -reach)
            return true;
    }
    return false;
}

bool BoxOutsideSphere(const ClusterBox& box, const Vec3& centre, double radius)
{
    const double c[3] = {centre.x, centre.y, centre.z};
    double squared = 0.0;
    for (int k = 0; k < 3; ++k) {
        const double d = std::max({box.min[k] - c[k], 0.0, c[k] - box.max[k]});
        squared += d * d;
    }
    const double reach = ReachRadius(radius);
    return squared >= reach * reach;
}

ScreenRect SphereScreenRect(const Vec3& centre, double radius, const float modelview[16], const float projection[16],
                            int windowWidth, int windowHeight)
{
    const ScreenRect window{0, 0, windowWidth, windowHeight};
    const double p[3] = {centre.x, centre.y, centre.z};
    double eye[3];
    for (int row = 0; row < 3; ++row)
        eye[row] = modelview[row] * p[0] + modelview[4 + row] * p[1] + modelview[8 + row] * p[2] + modelview[12 + row];
    // Near plane distance of the projection: for gluPerspective, P22 = (f + n) / (n - f), P32 = 2 f n / (n - f).
    const double near = projection[14] / (projection[10] - 1.0);
    const double reach = ReachRadius(radius);
    const double depth = -eye[2];
    if (!(depth - reach > near))
        return window;

    // Per window axis, the two planes through the eye and that axis which touch the sphere bound its image.
    const double scale[2] = {projection[0], projection[5]};
    const int size[2] = {windowWidth, windowHeight};
    int low[2];
    int high[2];
    for (int axis = 0; axis < 2; ++axis) {
        const double offset = eye[axis];
        const double distance = std::sqrt(offset * offset + depth * depth);
        const double centreAngle = std::atan2(offset, depth);
        const double halfAngle = std::asin(std::min(reach / distance, 1.0));
        const double ndcLow = scale[axis] * std::tan(centreAngle - halfAngle);
        const double ndcHigh = scale[axis] * std::tan(centreAngle + halfAngle);
        const double pixelLow = (ndcLow + 1.0) * 0.5 * size[axis];
        const double pixelHigh = (ndcHigh + 1.0) * 0.5 * size[axis];
        low[axis] = static_cast<int>(std::max(std::floor(std::max(pixelLow, -1.0)) - kRectMarginPixels, 0.0));
        high[axis] = static_cast<int>(
            std::min(std::ceil(std::min(pixelHigh, size[axis] + 1.0)) + kRectMarginPixels, double(size[axis])));
    }
    ScreenRect rect;
    rect.x = low[0];
    rect.y = low[1];
    rect.width = std::max(high[0] - low[0], 0);
    rect.height = std::max(high[1] - low[1], 0);
    return rect;
}
