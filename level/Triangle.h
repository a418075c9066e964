// Triangle records of the level: corner values as read, and the derived values each triangle gets once completed.
#pragma once

#include "Plane.h"
#include "VecMath.h"

#include <cstdint>
#include <functional>
#include <string>

struct TriangleCorner {
    Vec3 position;
    float u = 0.0f;
    float v = 0.0f;
    float aux1 = 0.0f;  // carried from the file, not used by the viewer
    float aux2 = 0.0f;  // carried from the file, not used by the viewer
};

// One textured triangle with the values derived from its corners; a value type.
struct Triangle {
    TriangleCorner corners[3];
    Vec3 centroid;
    uint32_t diffuseTexture = 0;
    uint32_t normalMap = 0;
    Plane plane;
    Vec3 tangent;
    Vec3 bitangent;
};

// A triangle as its leaf keeps it: the corners as read and the texture ids. The derived values are left out, since
// only the render-geometry build reads them, once per triangle: on a large level they would be about as much memory
// again as the corners.
struct LeafTriangle {
    TriangleCorner corners[3];
    uint32_t diffuseTexture = 0;
    uint32_t normalMap = 0;
};

// Where the leaves' triangles get their texture ids: the texture cache in the viewer, a table in tests. A name must
// give the same id every time it is requested, and only its first request may have an effect (load an image, print
// a line): the parser requests each name once per piece of the text, not once per triangle.
// The two texture ids of a triangle.
struct TriangleTextures {
    uint32_t diffuse = 0;
    uint32_t normalMap = 0;
};

struct TextureSource {
    std::function<uint32_t(const std::string&)> loadTexture;  // base name -> GL texture id (fallback on failure)
    uint32_t fallbackTexture = 0;
    // When set, it gives a triangle's two ids from its texture name in place of the three requests below: a level
    // read away from the GL thread numbers its materials and has their textures loaded later, in the same order.
    std::function<TriangleTextures(const std::string&)> loadMaterial;
};

// Requests textureName, then textureName + "_normal", then "nonormal" when the normal map came back as the
// fallback. Without a loadTexture function every texture is the fallback. With loadMaterial, its answer.
TriangleTextures LoadTriangleTextures(const std::string& textureName, const TextureSource& textures);

// Fills centroid, plane and tangent frame from the corners. Needs no texture, so it may run on any thread.
void CompleteTriangleShape(Triangle& triangle);
// The leaf's triangle with its corners, texture ids and derived values.
Triangle CompletedTriangle(const LeafTriangle& stored);
