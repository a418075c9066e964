#include "Triangle.h"

namespace {

Vec3 Scale(const Vec3& v, double s) { return Vec3(v.x * s, v.y * s, v.z * s); }

uint32_t Load(const TextureSource& textures, const std::string& name)
{
    return textures.loadTexture ? textures.loadTexture(name) : textures.fallbackTexture;
}

}  // namespace

TriangleTextures LoadTriangleTextures(const std::string& textureName, const TextureSource& textures)
{
    if (textures.loadMaterial)
        return textures.loadMaterial(textureName);
    // The diffuse name goes first so the cache sees names in the order the viewer has always requested them.
    TriangleTextures loaded;
    loaded.diffuse = Load(textures, textureName);
    loaded.normalMap = Load(textures, textureName + "_normal");
    if (loaded.normalMap == textures.fallbackTexture) {
        loaded.normalMap = Load(textures, "nonormal");
    }
    return loaded;
}

void CompleteTriangleShape(Triangle& triangle)
{
    const TriangleCorner& a = triangle.corners[0];
    const TriangleCorner& b = triangle.corners[1];
    const TriangleCorner& c = triangle.corners[2];

    triangle.centroid = ((a.position + b.position) + c.position) / 3.0;

    Vec3 normal = Cross(b.position - a.position, c.position - a.position);
    normal.Normalize();
    triangle.plane.normal = normal;
    triangle.plane.distance = normal * b.position;

    // Texture coordinate differences come from the float fields; the arithmetic is done in double.
    const Vec3 ab = a.position - b.position;
    const Vec3 cb = c.position - b.position;
    const double vAB = double(a.v) - double(b.v);
    const double vCB = double(c.v) - double(b.v);
    const double uAB = double(a.u) - double(b.u);
    const double uCB = double(c.u) - double(b.u);
    Vec3 tangent = Scale(ab, vCB) - Scale(cb, vAB);
    Vec3 bitangent = Scale(ab, uCB) - Scale(cb, uAB);
    tangent.Normalize();
    bitangent.Normalize();

    // Flipping both keeps tangent × bitangent as it was; only the signs of the stored pair follow the normal.
    if (normal * Cross(tangent, bitangent) < 0.0) {
        tangent = Scale(tangent, -1.0);
        bitangent = Scale(bitangent, -1.0);
    }
    triangle.tangent = tangent;
    triangle.bitangent = bitangent;
}

Triangle CompletedTriangle(const LeafTriangle& stored)
{
    Triangle triangle;
    for (int i = 0; i < 3; ++i)
        triangle.corners[i] = stored.corners[i];
    triangle.diffuseTexture = stored.diffuseTexture;
    triangle.normalMap = stored.normalMap;
    CompleteTriangleShape(triangle);
    return triangle;
}
