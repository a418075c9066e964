// Procedural images for generated levels: diffuse maps with specular strength in alpha, normal maps derived from
// the same height fields, the flat "nonormal" map, the post-processing warp field and colour ramp; and their
// saving through the image library in DDS, TGA or JPEG.
#pragma once

#include "LevelLayout.h"

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit image with interleaved channels; row 0 is the bottom row (texture v = 0), as the viewer uploads it.
struct GenImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

// Side of the square material images.
constexpr int kMaterialImageSize = 256;

// A material's two images, made from one height field; both tile seamlessly.
struct MaterialImages {
    GenImage diffuse;  // RGBA: colour, specular strength in alpha
    GenImage normal;   // tangent-space normal map: RGB = 0.5 + 0.5 n, +Z out of the surface, +X along u, +Y along v
};

// The images of a material, `kMaterialImageSize` pixels square.
MaterialImages MakeMaterialImages(const Material& material);
// Normal map of a height field of `width` by `height` samples (row 0 at the bottom) that wraps at its edges;
// `strength` scales the slopes.
GenImage NormalMapFromHeight(const std::vector<float>& heights, int width, int height, float strength);
// The flat normal map: every pixel (128, 128, 255).
GenImage MakeFlatNormalImage();
// "postprocess": a smooth, gentle warp field with red and green around 128 meaning no offset.
GenImage MakeWarpImage();
// "ramp": 256 by 4, each channel's output along u for its input value; close to neutral, slightly warm.
GenImage MakeRampImage();

// File name extension of a format, with its dot.
const char* ImageExtension(ImageFormat format);
// Saves the image as `basePath` plus the format's extension, after removing any image of that base name in the
// three formats (an older file in a format the viewer tries first would hide the new one), then loads it back and
// compares. Prints one line and returns false when saving fails or the file does not read back as written.
bool SaveImage(const GenImage& image, const std::string& basePath, ImageFormat format);
// Loads an image file into `image` with `channels` channels, bottom row first. False when it cannot be read.
bool LoadImageFile(const std::string& path, int channels, GenImage& image);
// Writes every image a level with these materials names into `directory`. False after the first failure.
bool WriteLevelImages(const std::string& directory, const std::vector<Material>& materials);
