// The generator's level before triangulation: materials, axis-aligned faces of rooms, corridors, pillars and
// steps, one bounding box per room, and the lights.
#pragma once

#include "VecMath.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TextureKind { Brick, Stone, Tiles, Wood, Metal };
enum class ImageFormat { Dds, Tga, Jpg };

// One material: its base name, the look of its procedural images and the file formats they are written in.
struct Material {
    std::string name;
    TextureKind kind = TextureKind::Stone;
    bool hasNormalMap = false;
    ImageFormat diffuseFormat = ImageFormat::Dds;
    ImageFormat normalFormat = ImageFormat::Jpg;
    uint64_t seed = 0;
    int variant = 0;  // picks among the colour schemes of the kind, so materials of one kind differ
};

// The six axis directions a face can look along.
enum Facing : uint8_t { PosX, NegX, PosY, NegY, PosZ, NegZ };

// A rectangle seen from its front side: edgeU x edgeV points along the facing direction, so its corners
// origin, +edgeU, +edgeU+edgeV, +edgeV run counter-clockwise seen from the front. edgeU runs along the texture's
// u axis and edgeV along its v axis, and the origin is the corner with the smallest u and v.
struct Face {
    Vec3 origin;
    Vec3 edgeU;
    Vec3 edgeV;
    Facing facing = PosZ;
    uint16_t material = 0;
    bool shell = false;  // part of the closed hull of rooms and corridors; pillars and steps stand inside it
};

struct LevelBox {
    Vec3 lo;
    Vec3 hi;
};

struct LevelLight {
    std::string name;
    Vec3 position;
    float radius = 0.0f;
    Vec3 colour;
};

struct LevelLayout {
    std::vector<Face> faces;
    std::vector<LevelBox> boxes;
    std::vector<LevelLight> lights;
};

// Unit normal of a facing direction.
Vec3 FacingNormal(Facing facing);
// Unit texture u direction of a face: Z x normal on walls, Y x normal on floors and ceilings.
Vec3 FacingTangent(Facing facing);
// Unit texture v direction of a face: +Z on walls, +Y on floors and ceilings.
Vec3 FacingBitangent(Facing facing);

// `count` materials cycling through the texture kinds, about two in three with a normal map (every one when
// everyNormalMap is set), their images spread over DDS, TGA and JPEG. Names are the kind followed by a two-digit
// (or longer) index, e.g. "brick00".
std::vector<Material> MakeMaterials(int count, uint64_t seed, bool everyNormalMap = false);

// A level of `rooms` rooms (at least 1) on a square grid joined by corridors. Room 0 holds the origin above its
// floor, with pillars and lights ahead along +X. Every material is used when there are enough faces for it.
LevelLayout BuildLayout(int rooms, const std::vector<Material>& materials, uint64_t seed);
