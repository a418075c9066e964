#include "ProceduralTextures.h"

#include "GenRandom.h"

#include <IL/il.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSize = kMaterialImageSize;
constexpr double kPi = 3.14159265358979323846;

// Per-pixel surface description from which both images of a material are made.
struct Surface {
    std::vector<float> height = std::vector<float>(kSize * kSize, 0.0f);
    std::vector<float> colour = std::vector<float>(kSize * kSize * 3, 0.0f);
    std::vector<float> specular = std::vector<float>(kSize * kSize, 0.0f);
    float normalStrength = 3.0f;

    void Set(int x, int y, float h, float r, float g, float b, float s)
    {
        const int i = y * kSize + x;
        height[i] = h;
        colour[i * 3] = r;
        colour[i * 3 + 1] = g;
        colour[i * 3 + 2] = b;
        specular[i] = s;
    }
};

uint32_t Hash(uint32_t x, uint32_t y, uint64_t seed)
{
    uint64_t h = seed ^ (uint64_t{x} * 0x9E3779B1u) ^ (uint64_t{y} * 0x85EBCA77u << 20);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

float Hash01(uint32_t x, uint32_t y, uint64_t seed) { return (Hash(x, y, seed) >> 8) * (1.0f / 16777216.0f); }

double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }

double SmoothStep(double edge0, double edge1, double x)
{
    return Smooth(std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0));
}

double Mix(double a, double b, double t) { return a + (b - a) * t; }

// Value noise on a lattice of `period` by `period` cells stretched over the image, wrapping at its edges.
double ValueNoise(double px, double py, int periodX, int periodY, uint64_t seed)
{
    const double x = px * periodX / kSize;
    const double y = py * periodY / kSize;
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const double fx = Smooth(x - ix);
    const double fy = Smooth(y - iy);
    const auto at = [&](int cx, int cy) {
        return Hash01(static_cast<uint32_t>(((cx % periodX) + periodX) % periodX),
                      static_cast<uint32_t>(((cy % periodY) + periodY) % periodY), seed);
    };
    return Mix(Mix(at(ix, iy), at(ix + 1, iy), fx), Mix(at(ix, iy + 1), at(ix + 1, iy + 1), fx), fy);
}

// Fractal sum of wrapping value noise, in [0, 1).
double Fbm(double px, double py, int period, int octaves, uint64_t seed)
{
    double sum = 0.0, amplitude = 0.5, total = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * ValueNoise(px, py, period << o, period << o, seed + o);
        total += amplitude;
        amplitude *= 0.5;
    }
    return sum / total;
}

// Distance from a point inside a cell of w by h to the cell's nearest edge.
double EdgeDistance(double lx, double ly, double w, double h) { return std::min({lx, w - lx, ly, h - ly}); }

Vec3 Tint(uint64_t seed, double spread)
{
    GenRandom random(seed);
    return {1.0 + random.Range(-spread, spread), 1.0 + random.Range(-spread, spread),
            1.0 + random.Range(-spread, spread)};
}

void PaintBrick(Surface& s, uint64_t seed, int variant)
{
    static const Vec3 kBases[] = {{0.56, 0.26, 0.18}, {0.62, 0.50, 0.34}, {0.45, 0.42, 0.40}};
    const Vec3 base = kBases[variant % 3];
    constexpr double w = 64, h = 32;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const int row = y / static_cast<int>(h);
            const double shifted = x + (row % 2) * w / 2;
            const int brick = static_cast<int>(shifted / w) % (kSize / static_cast<int>(w));
            const double d = EdgeDistance(std::fmod(shifted, w), y - row * h, w, h);
            const double grain = Fbm(x, y, 16, 3, seed);
            const double bevel = SmoothStep(1.5, 4.5, d + (grain - 0.5) * 2.0);
            const double shade = 0.78 + 0.3 * Hash01(brick, row, seed) + 0.25 * (grain - 0.5);
            const double mortar = 0.55 + 0.2 * Fbm(x, y, 32, 2, seed + 7);
            const double r = Mix(mortar, base.x * shade, bevel);
            const double g = Mix(mortar * 0.97, base.y * shade, bevel);
            const double b = Mix(mortar * 0.92, base.z * shade, bevel);
            s.Set(x, y, static_cast<float>(0.15 + 0.85 * bevel * (0.9 + 0.1 * grain)), r, g, b, 0.12 + 0.1 * bevel);
        }
    }
}

// Flagstones: a wrapping cellular pattern, cracks where two cells meet.
void PaintStone(Surface& s, uint64_t seed)
{
    constexpr int kCells = 5;
    double pointX[kCells][kCells], pointY[kCells][kCells];
    for (int j = 0; j < kCells; ++j)
        for (int i = 0; i < kCells; ++i) {
            pointX[j][i] = (i + 0.2 + 0.6 * Hash01(i, j, seed)) * kSize / kCells;
            pointY[j][i] = (j + 0.2 + 0.6 * Hash01(i, j, seed + 1)) * kSize / kCells;
        }
    const Vec3 tint = Tint(seed, 0.06);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double wobbleX = x + 10.0 * (Fbm(x, y, 4, 3, seed + 3) - 0.5);
            const double wobbleY = y + 10.0 * (Fbm(x, y, 4, 3, seed + 4) - 0.5);
            const int ci = static_cast<int>(x * kCells / kSize);
            const int cj = static_cast<int>(y * kCells / kSize);
            double first = 1e9, second = 1e9;
            int nearest = 0;
            for (int dj = -2; dj <= 2; ++dj)
                for (int di = -2; di <= 2; ++di) {
                    const int i = ci + di, j = cj + dj;
                    const int wi = (i + kCells) % kCells, wj = (j + kCells) % kCells;
                    const double px = pointX[wj][wi] + (i - wi) * static_cast<double>(kSize) / kCells;
                    const double py = pointY[wj][wi] + (j - wj) * static_cast<double>(kSize) / kCells;
                    const double dist = std::hypot(wobbleX - px, wobbleY - py);
                    if (dist < first) {
                        second = first;
                        first = dist;
                        nearest = wj * kCells + wi;
                    } else if (dist < second) {
                        second = dist;
                    }
                }
            const double gap = second - first;  // twice the distance to the cell border, roughly
            const double bevel = SmoothStep(1.5, 9.0, gap);
            const double grain = Fbm(x, y, 8, 5, seed + 5);
            const double shade = (0.8 + 0.3 * Hash01(nearest, 0, seed + 2)) * (0.75 + 0.5 * grain);
            const double crack = 0.18;
            const double grey = Mix(crack, 0.5 * shade, bevel);
            s.Set(x, y, static_cast<float>(bevel * (0.75 + 0.25 * grain)), grey * tint.x, grey * 0.98 * tint.y,
                  grey * 0.94 * tint.z, 0.1 + 0.15 * grain * bevel);
        }
    }
}

void PaintTiles(Surface& s, uint64_t seed, int variant)
{
    static const Vec3 kGlazes[] = {{0.82, 0.78, 0.68}, {0.30, 0.42, 0.55}, {0.66, 0.34, 0.22}, {0.35, 0.50, 0.36}};
    const Vec3 glaze = kGlazes[variant % 4];
    constexpr double w = 64;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const int tx = x / static_cast<int>(w), ty = y / static_cast<int>(w);
            const double d = EdgeDistance(x - tx * w, y - ty * w, w, w);
            const double bevel = SmoothStep(2.0, 5.0, d);
            const double checker = (tx + ty) % 2 == 0 ? 1.0 : 0.86;
            const double speck = Fbm(x, y, 32, 3, seed);
            const double shade = checker * (0.92 + 0.12 * speck) * (0.95 + 0.1 * Hash01(tx, ty, seed));
            const double grout = 0.42 + 0.1 * speck;
            s.Set(x, y, static_cast<float>(0.1 + 0.9 * bevel), Mix(grout, glaze.x * shade, bevel),
                  Mix(grout, glaze.y * shade, bevel), Mix(grout * 0.95, glaze.z * shade, bevel),
                  Mix(0.08, 0.75, bevel));
        }
    }
}

void PaintWood(Surface& s, uint64_t seed)
{
    const Vec3 light = {0.64, 0.45, 0.27};
    const Vec3 dark = {0.40, 0.25, 0.13};
    const Vec3 tint = Tint(seed, 0.08);
    constexpr double plank = 32;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const int p = static_cast<int>(y / plank);
            // Planks are staggered: each has its own seam along u.
            const double offset = std::floor(Hash01(p, 1, seed) * 4) * 64;
            const double lx = std::fmod(x + offset, 256.0);
            const double d = EdgeDistance(std::fmod(lx, 128.0), y - p * plank, 128.0, plank);
            const double bevel = SmoothStep(0.5, 2.5, d);
            const double warp = Fbm(x, y, 4, 3, seed + p);
            const double rings =
                0.5 + 0.5 * std::sin((y - p * plank + 14.0 * warp) * 0.9 + 4.0 * std::sin(2 * kPi * lx / 256.0) + p);
            const double fibre = ValueNoise(x, y, 4, 64, seed + 11);
            const double t = std::clamp(0.55 * rings + 0.45 * fibre, 0.0, 1.0);
            const double shade = (0.85 + 0.3 * Hash01(p, 2, seed)) * Mix(0.35, 1.0, bevel);
            s.Set(x, y, static_cast<float>(0.2 + 0.75 * bevel + 0.05 * rings), Mix(light.x, dark.x, t) * shade * tint.x,
                  Mix(light.y, dark.y, t) * shade * tint.y, Mix(light.z, dark.z, t) * shade * tint.z,
                  0.25 + 0.1 * (1.0 - t));
        }
    }
    s.normalStrength = 2.0f;
}

// Riveted plates of brushed metal.
void PaintMetal(Surface& s, uint64_t seed)
{
    const Vec3 tint = Tint(seed, 0.05);
    constexpr double w = 128;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double lx = std::fmod(x, w), ly = std::fmod(y, w);
            const double d = EdgeDistance(lx, ly, w, w);
            const double seam = SmoothStep(0.5, 2.0, d);
            double rivet = 0.0;
            for (double cx : {10.0, w - 10.0})
                for (double cy : {10.0, w / 2, w - 10.0}) {
                    const double r = std::hypot(lx - cx, ly - cy) / 4.5;
                    if (r < 1.0)
                        rivet = std::max(rivet, std::sqrt(1.0 - r * r));
                }
            const double brushed = ValueNoise(x, y, 2, 128, seed) * 0.6 + ValueNoise(x, y, 8, 256, seed + 1) * 0.4;
            const double stain = Fbm(x, y, 4, 4, seed + 2);
            const double grey = (0.42 + 0.16 * brushed) * (0.8 + 0.35 * stain) * Mix(0.4, 1.0, seam) + 0.1 * rivet;
            s.Set(x, y, static_cast<float>(0.4 * seam + 0.02 * brushed + 0.35 * rivet), grey * tint.x,
                  grey * 1.02 * tint.y, grey * 1.06 * tint.z, Mix(0.2, 0.9 - 0.3 * stain, seam));
        }
    }
    s.normalStrength = 2.5f;
}

Surface MakeSurface(const Material& material)
{
    Surface surface;
    switch (material.kind) {
    case TextureKind::Brick:
        PaintBrick(surface, material.seed, material.variant);
        break;
    case TextureKind::Stone:
        PaintStone(surface, material.seed);
        break;
    case TextureKind::Tiles:
        PaintTiles(surface, material.seed, material.variant);
        break;
    case TextureKind::Wood:
        PaintWood(surface, material.seed);
        break;
    case TextureKind::Metal:
        PaintMetal(surface, material.seed);
        break;
    }
    return surface;
}

uint8_t ToByte(double value) { return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0)); }

GenImage NewImage(int width, int height, int channels)
{
    GenImage image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.pixels.assign(static_cast<size_t>(width) * height * channels, 0);
    return image;
}

void PrepareImageLibrary()
{
    static bool ready = false;
    if (ready)
        return;
    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
    ilEnable(IL_FILE_OVERWRITE);
    // This image library writes DDS only block-compressed; DXT5 keeps a full alpha channel for the specular.
    ilSetInteger(IL_DXTC_FORMAT, IL_DXT5);
    ilSetInteger(IL_JPG_QUALITY, 95);
    ready = true;
}

void DrainImageErrors()
{
    while (ilGetError() != IL_NO_ERROR) {
    }
}

// TGA keeps every byte. JPEG and block-compressed DDS are lossy: the reloaded image may differ a little, but not
// like a flipped or garbled one.
bool SameImage(const GenImage& written, const GenImage& read, ImageFormat format)
{
    if (written.width != read.width || written.height != read.height || written.pixels.size() != read.pixels.size())
        return false;
    if (format == ImageFormat::Tga)
        return written.pixels == read.pixels;
    double difference = 0.0;
    for (size_t k = 0; k < written.pixels.size(); ++k)
        difference += std::abs(static_cast<int>(written.pixels[k]) - static_cast<int>(read.pixels[k]));
    return difference / static_cast<double>(written.pixels.size()) < 6.0;
}

}  // namespace

GenImage NormalMapFromHeight(const std::vector<float>& heights, int width, int height, float strength)
{
    GenImage image = NewImage(width, height, 3);
    const auto at = [&](int x, int y) { return heights[((y + height) % height) * width + (x + width) % width]; };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = 0.5 * (at(x + 1, y) - at(x - 1, y)) * strength;
            const double dy = 0.5 * (at(x, y + 1) - at(x, y - 1)) * strength;
            const double length = std::sqrt(dx * dx + dy * dy + 1.0);
            uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = ToByte(0.5 - 0.5 * dx / length);
            p[1] = ToByte(0.5 - 0.5 * dy / length);
            p[2] = ToByte(0.5 + 0.5 / length);
        }
    }
    return image;
}

MaterialImages MakeMaterialImages(const Material& material)
{
    const Surface surface = MakeSurface(material);
    MaterialImages images;
    images.diffuse = NewImage(kSize, kSize, 4);
    for (int i = 0; i < kSize * kSize; ++i) {
        for (int c = 0; c < 3; ++c)
            images.diffuse.pixels[i * 4 + c] = ToByte(surface.colour[i * 3 + c]);
        images.diffuse.pixels[i * 4 + 3] = ToByte(surface.specular[i]);
    }
    images.normal = NormalMapFromHeight(surface.height, kSize, kSize, surface.normalStrength);
    return images;
}

GenImage MakeFlatNormalImage()
{
    GenImage image = NewImage(16, 16, 3);
    for (size_t k = 0; k < image.pixels.size(); k += 3) {
        image.pixels[k] = 128;
        image.pixels[k + 1] = 128;
        image.pixels[k + 2] = 255;
    }
    return image;
}

GenImage MakeWarpImage()
{
    GenImage image = NewImage(kSize, kSize, 3);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double u = 2 * kPi * x / kSize, v = 2 * kPi * y / kSize;
            uint8_t* p = &image.pixels[(static_cast<size_t>(y) * kSize + x) * 3];
            p[0] = ToByte((128.0 + 6.0 * std::sin(2 * u + std::sin(v)) + 3.0 * std::sin(3 * v)) / 255.0);
            p[1] = ToByte((128.0 + 6.0 * std::cos(2 * v + std::sin(u)) + 3.0 * std::cos(3 * u)) / 255.0);
            p[2] = 128;
        }
    }
    return image;
}

GenImage MakeRampImage()
{
    GenImage image = NewImage(256, 4, 3);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 256; ++x) {
            const double t = x / 255.0;
            // A gentle lift of the mid-tones in red, a small cut in blue.
            const double warm = 0.04 * std::sin(kPi * t);
            uint8_t* p = &image.pixels[(static_cast<size_t>(y) * 256 + x) * 3];
            p[0] = ToByte(t + warm);
            p[1] = ToByte(t + 0.3 * warm);
            p[2] = ToByte(t * 0.96 - 0.5 * warm);
        }
    }
    return image;
}

const char* ImageExtension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Dds:
        return ".dds";
    case ImageFormat::Tga:
        return ".tga";
    case ImageFormat::Jpg:
        return ".jpg";
    }
    return "";
}

bool LoadImageFile(const std::string& path, int channels, GenImage& image)
{
    PrepareImageLibrary();
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    bool loaded = ilLoadImage(path.c_str()) && ilConvertImage(channels == 4 ? IL_RGBA : IL_RGB, IL_UNSIGNED_BYTE);
    if (loaded) {
        image = NewImage(ilGetInteger(IL_IMAGE_WIDTH), ilGetInteger(IL_IMAGE_HEIGHT), channels);
        loaded = ilCopyPixels(0, 0, 0, image.width, image.height, 1, channels == 4 ? IL_RGBA : IL_RGB, IL_UNSIGNED_BYTE,
                              image.pixels.data()) != 0;
    }
    ilDeleteImages(1, &name);
    DrainImageErrors();
    return loaded;
}

bool SaveImage(const GenImage& image, const std::string& basePath, ImageFormat format)
{
    PrepareImageLibrary();
    for (const ImageFormat other : {ImageFormat::Dds, ImageFormat::Tga, ImageFormat::Jpg})
        std::remove((basePath + ImageExtension(other)).c_str());

    const std::string path = basePath + ImageExtension(format);
    static const ILenum kTypes[] = {IL_DDS, IL_TGA, IL_JPG};
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    std::vector<uint8_t> pixels = image.pixels;  // the library takes a non-const pointer
    bool saved = ilTexImage(image.width, image.height, 1, static_cast<ILubyte>(image.channels),
                            image.channels == 4 ? IL_RGBA : IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
    int saveError = 0;
    if (saved) {
        ilRegisterOrigin(IL_ORIGIN_LOWER_LEFT);
        errno = 0;
        saved = ilSave(kTypes[static_cast<int>(format)], path.c_str());
        saveError = errno;
    }
    ilDeleteImages(1, &name);
    DrainImageErrors();
    if (!saved) {
        // The image library reports no reason of its own; the system's, when a file operation failed, says it.
        std::fprintf(stderr, "velmora-levelgen: cannot save image '%s': %s\n", path.c_str(),
                     saveError != 0 ? std::strerror(saveError) : "the image library refused it");
        return false;
    }
    GenImage reloaded;
    if (!LoadImageFile(path, image.channels, reloaded) || !SameImage(image, reloaded, format)) {
        std::fprintf(stderr, "velmora-levelgen: image '%s' does not read back as written\n", path.c_str());
        return false;
    }
    return true;
}

bool WriteLevelImages(const std::string& directory, const std::vector<Material>& materials)
{
    const std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    for (const Material& material : materials) {
        const MaterialImages images = MakeMaterialImages(material);
        if (!SaveImage(images.diffuse, prefix + material.name, material.diffuseFormat))
            return false;
        if (material.hasNormalMap &&
            !SaveImage(images.normal, prefix + material.name + "_normal", material.normalFormat))
            return false;
        if (!material.hasNormalMap)
            for (const ImageFormat format : {ImageFormat::Dds, ImageFormat::Tga, ImageFormat::Jpg})
                std::remove((prefix + material.name + "_normal" + ImageExtension(format)).c_str());
    }
    return SaveImage(MakeFlatNormalImage(), prefix + "nonormal", ImageFormat::Tga) &&
           SaveImage(MakeWarpImage(), prefix + "postprocess", ImageFormat::Jpg) &&
           SaveImage(MakeRampImage(), prefix + "ramp", ImageFormat::Tga);
}
