// Images in the layouts that other tools write, loaded through the texture cache: each shows its four quadrant
// colours and uploads exactly what the image library alone uploads. Damaged files fail like missing ones.
#include "TextureTestFixture.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Colour {
    int r, g, b;
};

// Quadrants top-left, top-right, bottom-left, bottom-right as the image shows them.
struct Quadrants {
    Colour colours[4];
    const char* names[4];
    bool grey;
};
const Quadrants kColour{
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}, {"red", "lime", "blue", "white"}, false};
const Quadrants kGrey{{{40, 40, 40}, {100, 100, 100}, {160, 160, 160}, {220, 220, 220}},
                      {"rgb(40,40,40)", "rgb(100,100,100)", "rgb(160,160,160)", "rgb(220,220,220)"},
                      true};
// ImageMagick 6 stores a TGA's top row first while the header says the rows start at the bottom (unless told the
// top-left orientation), so by the format's rules, which the image library follows, its images are upside down.
const Quadrants kColourFlipped{{{0, 0, 255}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}}, {}, false};
const Quadrants kGreyFlipped{{{160, 160, 160}, {220, 220, 220}, {40, 40, 40}, {100, 100, 100}}, {}, true};
// Images of one or two channels hold the colour image's red (and green): only red is checked.
const Quadrants kRedOf{{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}, {}, true};

Bytes ReadBytes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& file, const Bytes& bytes)
{
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Put32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        bytes[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

// [SECTION] Writers

// ImageMagick writes a width x height quadrant image with the given options.
void Convert(const std::string& file, int width, int height, const std::string& options, const Quadrants& q = kColour)
{
    const std::string half = "-size " + std::to_string(width / 2) + "x" + std::to_string(height / 2);
    const std::string halfRight = "-size " + std::to_string(width - width / 2) + "x" + std::to_string(height / 2);
    const std::string lowHalf = "-size " + std::to_string(width / 2) + "x" + std::to_string(height - height / 2);
    const std::string lowRight =
        "-size " + std::to_string(width - width / 2) + "x" + std::to_string(height - height / 2);
    const std::string command = "convert " + half + " 'xc:" + q.names[0] + "' " + halfRight + " 'xc:" + q.names[1] +
                                "' +append '(' " + lowHalf + " 'xc:" + q.names[2] + "' " + lowRight +
                                " 'xc:" + q.names[3] + "' +append ')' -append " + options + " " + file;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The quadrant image as RGB rows from the top.
Bytes QuadrantPixels(int width, int height, const Quadrants& q)
{
    Bytes pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Colour& c = q.colours[(y >= height / 2) * 2 + (x >= width / 2)];
            pixels.insert(pixels.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
        }
    return pixels;
}

// DevIL writes the quadrant image; for DDS, with the given block coding.
void DevilSave(const std::string& file, ILenum type, ILenum dxtc = IL_DXT5)
{
    Bytes pixels = QuadrantPixels(64, 64, kColour);
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilTexImage(64, 64, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
    ilRegisterOrigin(IL_ORIGIN_UPPER_LEFT);
    ilSetInteger(IL_DXTC_FORMAT, dxtc);
    EXPECT_TRUE(ilSave(type, file.c_str())) << file;
    ilSetInteger(IL_DXTC_FORMAT, IL_DXT5);
    ilDeleteImages(1, &image);
}

// A DDS header of the given pixel layout: plain texels when fourCc is 0.
Bytes DdsHeader(int width, int height, uint32_t flags, uint32_t linearSize, uint32_t pixelFlags, uint32_t fourCc,
                uint32_t bits, std::initializer_list<uint32_t> masks)
{
    Bytes header(128, 0);
    std::copy_n("DDS ", 4, header.begin());
    Put32(header, 4, 124);
    Put32(header, 8, flags);
    Put32(header, 12, height);
    Put32(header, 16, width);
    Put32(header, 20, linearSize);
    Put32(header, 76, 32);
    Put32(header, 80, pixelFlags);
    Put32(header, 84, fourCc);
    Put32(header, 88, bits);
    size_t at = 92;
    for (uint32_t mask : masks)
        Put32(header, (at += 4) - 4, mask);
    Put32(header, 108, 0x1000);
    return header;
}

// Texels of `bits` bits packed by the masks (red, green, blue, alpha), from 8-bit RGB with opaque alpha.
void WritePackedDds(const std::string& file, uint32_t pixelFlags, uint32_t bits, std::initializer_list<uint32_t> masks,
                    const Quadrants& q = kColour)
{
    const int width = 48, height = 32;
    Bytes dds = DdsHeader(width, height, 0x100F, width * bits / 8, pixelFlags, 0, bits, masks);
    const Bytes pixels = QuadrantPixels(width, height, q);
    const std::vector<uint32_t> m(masks);
    const auto pack = [](uint32_t value, uint32_t mask) -> uint32_t {
        if (mask == 0)
            return 0;
        const int shift = __builtin_ctz(mask);
        const uint32_t top = mask >> shift;
        return ((value * top + 127) / 255) << shift;
    };
    for (size_t p = 0; p < pixels.size(); p += 3) {
        const uint32_t texel =
            pack(pixels[p], m[0]) | pack(pixels[p + 1], m[1]) | pack(pixels[p + 2], m[2]) | (m.size() > 3 ? m[3] : 0);
        for (uint32_t k = 0; k < bits / 8; ++k)
            dds.push_back(static_cast<uint8_t>(texel >> (8 * k)));
    }
    WriteBytes(file, dds);
}

enum class Channel { Unorm16, Half, Float };

// Texels of wide channels (16-bit integers, half or full floats) under a DDS code: the first `channels` of red,
// green, blue and an opaque alpha. DevIL decodes them to 16-bit or float channels.
void WriteWideDds(const std::string& file, uint32_t fourCc, int channels, Channel kind)
{
    const int width = 48, height = 32;
    Bytes dds = DdsHeader(width, height, 0x1007, 0, 0x4, fourCc, 0, {});
    const Bytes pixels = QuadrantPixels(width, height, kColour);
    for (size_t p = 0; p < pixels.size(); p += 3) {
        const uint8_t rgba[4] = {pixels[p], pixels[p + 1], pixels[p + 2], 255};
        for (int c = 0; c < channels; ++c) {
            const float value = rgba[c] / 255.0f;
            // The quadrants' channels are 0 or 1, which a half float holds exactly.
            const uint16_t wide = kind == Channel::Unorm16 ? uint16_t(rgba[c] * 257) : value != 0 ? 0x3C00 : 0;
            const size_t size = kind == Channel::Float ? sizeof value : sizeof wide;
            const uint8_t* bytes = kind == Channel::Float ? reinterpret_cast<const uint8_t*>(&value)
                                                          : reinterpret_cast<const uint8_t*>(&wide);
            dds.insert(dds.end(), bytes, bytes + size);
        }
    }
    WriteBytes(file, dds);
}

// PIL (Debian's python3-pil) writes a width x height quadrant image in the given mode (with half-transparent alpha
// where the mode has alpha) and with the given arguments to save.
void Pil(const std::string& file, int width, int height, const std::string& mode, const std::string& arguments,
         const Quadrants& q)
{
    std::string colours;
    for (const Colour& c : q.colours)
        colours += "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "),";
    const std::string script =
        "from PIL import Image\n"
        "w, h = " +
        std::to_string(width) + ", " + std::to_string(height) +
        "\n"
        "image = Image.new('RGB', (w, h))\n"
        "for i, c in enumerate([" +
        colours +
        "]):\n"
        "    x, y = i % 2 * (w // 2), i // 2 * (h // 2)\n"
        "    image.paste(c, (x, y, w if i % 2 else w // 2, h if i // 2 else h // 2))\n"
        "image = image.convert('" +
        mode +
        "')\n"
        "if image.mode.endswith('A'):\n"
        "    image.putalpha(128)\n"
        "image.save('" +
        file + "'" + arguments + ")\n";
    WriteBytes("pil.py", Bytes(script.begin(), script.end()));
    ASSERT_EQ(std::system("/usr/bin/python3 pil.py"), 0) << file;
}

// A DXT1 chain of non-power-of-two levels down to 1x1: every level written by ImageMagick, joined under one header.
void WriteDxt1Chain(const std::string& file, int width, int height)
{
    Convert(file, width, height, "-define dds:compression=dxt1 -define dds:mipmaps=0");
    Bytes chain = ReadBytes(file);
    int levels = 1;
    for (int w = width, h = height; w > 1 || h > 1; ++levels) {
        w = std::max(w / 2, 1);
        h = std::max(h / 2, 1);
        const std::string level = file + ".level.dds";
        Convert(level, width, height,
                "-resize " + std::to_string(w) + "x" + std::to_string(h) +
                    "! -define dds:compression=dxt1 -define "
                    "dds:mipmaps=0");
        const Bytes bytes = ReadBytes(level);
        chain.insert(chain.end(), bytes.begin() + 128, bytes.end());
        fs::remove(level);
    }
    Put32(chain, 8, 0x81007 | 0x20000);
    Put32(chain, 28, levels);
    Put32(chain, 108, 0x401008);
    WriteBytes(file, chain);
}

// Patches an ImageMagick DXT1 file so that it names a pitch instead of its linear size.
void WriteDxt1WithPitch(const std::string& file, uint32_t pitchField, uint32_t bits)
{
    Convert(file, 100, 60, "-define dds:compression=dxt1 -define dds:mipmaps=0");
    Bytes dds = ReadBytes(file);
    Put32(dds, 8, (0x81007 & ~0x80000u) | 0x8);
    Put32(dds, 20, pitchField);
    Put32(dds, 88, bits);
    WriteBytes(file, dds);
}

// Re-encodes an ImageMagick true-colour TGA with run-length packets that run across scan lines, and an ID field.
void WriteTgaRunsAcrossLines(const std::string& file)
{
    Convert(file, 50, 40, "-compress None");
    const Bytes plain = ReadBytes(file);
    Bytes tga(plain.begin(), plain.begin() + 18);
    tga[2] = 10;
    const std::string id = "layout with an ID field";
    tga[0] = static_cast<uint8_t>(id.size());
    tga.insert(tga.end(), id.begin(), id.end());
    const size_t pixels = 50 * 40;
    for (size_t p = 0; p < pixels;) {
        size_t run = 1;
        while (p + run < pixels && run < 128 &&
               std::equal(&plain[18 + p * 3], &plain[18 + p * 3 + 3], &plain[18 + (p + run) * 3]))
            ++run;
        tga.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
        tga.insert(tga.end(), &plain[18 + p * 3], &plain[18 + p * 3 + 3]);
        p += run;
    }
    WriteBytes(file, tga);
}

// Inserts APP1, APP13 and comment segments right after the start-of-image marker of an ImageMagick JPEG.
void WriteJpegWithMetadata(const std::string& file)
{
    Convert(file, 64, 48, "-quality 95");
    Bytes jpeg = ReadBytes(file);
    const Bytes segments = {0xFF, 0xE1, 0x00, 0x0A, 'E', 'x',  'i',  'f',  0,    0,   'M', 'M', 0xFF, 0xED, 0x00,
                            0x06, 'P',  'S',  '3',  '0', 0xFF, 0xFE, 0x00, 0x07, 'n', 'o', 't', 'e',  '!'};
    jpeg.insert(jpeg.begin() + 2, segments.begin(), segments.end());
    WriteBytes(file, jpeg);
}

// A greyscale baseline JPEG with a restart marker after every 8x8 block: each block holds only its DC value, coded
// with the usual luminance DC table and an AC table whose one code (0) ends the block.
void WriteJpegWithRestarts(const std::string& file)
{
    const int width = 64, height = 48;
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    jpeg.insert(jpeg.end(), 64, 1);
    jpeg.insert(jpeg.end(),
                {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, uint8_t(height), 0x00, uint8_t(width), 0x01, 0x01, 0x11, 0x00});
    jpeg.insert(jpeg.end(), {0xFF, 0xC4, 0x00, 0x1F, 0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    for (int v = 0; v < 12; ++v)
        jpeg.push_back(static_cast<uint8_t>(v));
    jpeg.insert(jpeg.end(), {0xFF, 0xC4, 0x00, 0x14, 0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00});
    jpeg.insert(jpeg.end(), {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x01});
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    // Codes of the DC categories 0 to 11 (length, bits).
    const std::pair<int, uint32_t> dcCodes[] = {{2, 0x0}, {3, 0x2},  {3, 0x3},  {3, 0x4},  {3, 0x5},  {3, 0x6},
                                                {4, 0xE}, {5, 0x1E}, {6, 0x3E}, {7, 0x7E}, {8, 0xFE}, {9, 0x1FE}};
    const int blocksAcross = width / 8, blocksDown = height / 8;
    for (int block = 0; block < blocksAcross * blocksDown; ++block) {
        const int bx = block % blocksAcross, by = block / blocksAcross;
        const int grey = kGrey.colours[(by >= blocksDown / 2) * 2 + (bx >= blocksAcross / 2)].r;
        const int dc = (grey - 128) * 8;  // the predictor restarts at 0 in every interval
        int category = 0;
        while ((std::abs(dc) >> category) != 0)
            ++category;
        uint64_t bits = 0;
        int count = 0;
        const auto emit = [&](uint32_t value, int length) {
            bits = bits << length | (value & ((1u << length) - 1));
            count += length;
        };
        emit(dcCodes[category].second, dcCodes[category].first);
        emit(static_cast<uint32_t>(dc < 0 ? dc - 1 : dc), category);
        emit(0, 1);                       // end of block
        emit(0xFF, (8 - count % 8) % 8);  // pad with ones to the byte
        for (int shift = count - 8; shift >= 0; shift -= 8) {
            const uint8_t byte = static_cast<uint8_t>(bits >> shift);
            jpeg.push_back(byte);
            if (byte == 0xFF)
                jpeg.push_back(0x00);
        }
        if (block + 1 < blocksAcross * blocksDown)
            jpeg.insert(jpeg.end(), {0xFF, static_cast<uint8_t>(0xD0 + block % 8)});
    }
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    WriteBytes(file, jpeg);
}

// [SECTION] Reading textures back

struct MipLevel {
    int width = 0, height = 0;
    Bytes rgba;
};

std::vector<MipLevel> TextureLevels(GLuint texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<MipLevel> levels;
    for (int k = 0;; ++k) {
        MipLevel level;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, k, GL_TEXTURE_WIDTH, &level.width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, k, GL_TEXTURE_HEIGHT, &level.height);
        if (level.width == 0 || level.height == 0)
            return levels;
        level.rgba.resize(size_t(level.width) * level.height * 4);
        glGetTexImage(GL_TEXTURE_2D, k, GL_RGBA, GL_UNSIGNED_BYTE, level.rgba.data());
        levels.push_back(std::move(level));
    }
}

// What the image library alone makes of the file, uploaded as the texture cache uploads.
GLuint ReferenceTexture(const std::string& file)
{
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    EXPECT_TRUE(ilLoadImage(file.c_str())) << file;
    const GLuint texture = ilutGLBindTexImage();
    ilutGLBuildMipmaps();
    ilDeleteImages(1, &image);
    return texture;
}

struct Layout {
    const char* name;
    const char* extension;
    std::function<void(const std::string&)> write;
    const Quadrants& quadrants;
    int tolerance;
    // The image library alone misreads the layout: the texture is checked against its colours and half-transparent
    // alpha instead.
    bool libraryMisreads = false;
};

class ImageCorpusTest : public TextureDirectoryTest {};

}  // namespace

TEST_F(ImageCorpusTest, EveryLayoutLoadsWithItsColoursExactlyAsTheLibraryAloneLoadsIt)
{
    const int kLossless = 0, kBlocks = 8, kJpeg = 40;
    const auto convert = [](int w, int h, std::string options, const Quadrants& q = kColour) {
        return [=, &q](const std::string& file) { Convert(file, w, h, options, q); };
    };
    const auto pil = [](std::string mode, std::string arguments = "", const Quadrants& q = kColour) {
        return [=, &q](const std::string& file) { Pil(file, 50, 40, mode, arguments, q); };
    };
    const auto wide = [](uint32_t fourCc, int channels, Channel kind) {
        return [=](const std::string& file) { WriteWideDds(file, fourCc, channels, kind); };
    };
    const std::string halfAlpha = " -alpha on -channel A -evaluate set 50% +channel";
    const std::string rle = ", compression='tga_rle'";
    const Layout layouts[] = {
        // DDS: chains of any size with depth 0, either size field, block and packed layouts.
        {"dxt1-chain", ".dds", convert(64, 64, "-define dds:compression=dxt1"), kColour, kBlocks},
        {"dxt5-chain", ".dds", convert(64, 32, "-alpha on -define dds:compression=dxt5"), kColour, kBlocks},
        {"dxt1-100x60-chain", ".dds", [](const std::string& f) { WriteDxt1Chain(f, 100, 60); }, kColour, kBlocks},
        {"dxt1-90x50-chain", ".dds", [](const std::string& f) { WriteDxt1Chain(f, 90, 50); }, kColour, kBlocks},
        {"dxt1-pitch-flag", ".dds", [](const std::string& f) { WriteDxt1WithPitch(f, 0, 0); }, kColour, kBlocks},
        {"dxt1-pitch-bits", ".dds", [](const std::string& f) { WriteDxt1WithPitch(f, 200, 4); }, kColour, kBlocks},
        {"devil-dxt3", ".dds", [](const std::string& f) { DevilSave(f, IL_DDS, IL_DXT3); }, kColour, kBlocks},
        {"devil-dxt5", ".dds", [](const std::string& f) { DevilSave(f, IL_DDS); }, kColour, kBlocks},
        {"argb32", ".dds", convert(64, 64, "-alpha on -define dds:compression=none"), kColour, kLossless},
        {"rgb24", ".dds", convert(40, 30, "-define dds:compression=none -define dds:mipmaps=0"), kColour, kLossless},
        {"r5g6b5", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x40, 16, {0xF800, 0x07E0, 0x001F});
         },
         kColour, 8},
        {"a1r5g5b5", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x41, 16, {0x7C00, 0x03E0, 0x001F, 0x8000});
         },
         kColour, 8},
        {"a4r4g4b4", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x41, 16, {0x0F00, 0x00F0, 0x000F, 0xF000});
         },
         kColour, 16},
        {"x8b8g8r8", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x40, 32, {0x0000FF, 0x00FF00, 0xFF0000});
         },
         kColour, 0},
        {"l8", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x20000, 8, {0xFF, 0, 0}, kGrey);
         },
         kGrey, 0},
        // Wide channels: 16-bit integers, half and full floats, one to four channels.
        {"a16b16g16r16", ".dds", wide(36, 4, Channel::Unorm16), kColour, kLossless},
        {"r16f", ".dds", wide(111, 1, Channel::Half), kRedOf, kLossless},
        {"g16r16f", ".dds", wide(112, 2, Channel::Half), kRedOf, kLossless},
        {"a16b16g16r16f", ".dds", wide(113, 4, Channel::Half), kColour, kLossless},
        {"r32f", ".dds", wide(114, 1, Channel::Float), kRedOf, kLossless},
        {"g32r32f", ".dds", wide(115, 2, Channel::Float), kRedOf, kLossless},
        {"a32b32g32r32f", ".dds", wide(116, 4, Channel::Float), kColour, kLossless},
        {"l16", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x20000, 16, {0xFFFF, 0, 0}, kGrey);
         },
         kGrey, 0},
        {"a8l8", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x20001, 16, {0xFF, 0, 0, 0xFF00}, kGrey);
         },
         kGrey, 0},
        {"g16r16", ".dds",
         [](const std::string& f) {
             WritePackedDds(f, 0x40, 32, {0xFFFF, 0xFFFF0000, 0});
         },
         kRedOf, 0},
        {"pil-dds-rgb", ".dds", pil("RGB"), kColour, kLossless},
        {"pil-dds-rgba", ".dds", pil("RGBA"), kColour, kLossless},
        // TGA: every image type, both origins, runs across scan lines, ID fields, colour maps.
        {"tga-plain", ".tga", convert(50, 40, "-compress None"), kColourFlipped, kLossless},
        {"tga-top-left", ".tga", convert(50, 40, "-compress None -orient TopLeft"), kColour, kLossless},
        {"tga-rle", ".tga", convert(50, 40, "-compress RLE"), kColourFlipped, kLossless},
        {"tga-rle-across-lines", ".tga", WriteTgaRunsAcrossLines, kColourFlipped, kLossless},
        {"tga-colour-map", ".tga", convert(50, 40, "-type Palette -compress None"), kColourFlipped, kLossless},
        {"tga-colour-map-rle", ".tga", convert(50, 40, "-type Palette -compress RLE"), kColourFlipped, kLossless},
        {"tga-grey", ".tga", convert(50, 40, "-colorspace Gray -compress None", kGrey), kGreyFlipped, kLossless},
        {"tga-grey-rle", ".tga", convert(50, 40, "-colorspace Gray -compress RLE", kGrey), kGreyFlipped, kLossless},
        {"devil-tga", ".tga", [](const std::string& f) { DevilSave(f, IL_TGA); }, kColour, kLossless},
        {"tga-grey-alpha", ".tga", convert(50, 40, "-colorspace Gray" + halfAlpha + " -compress None", kGrey),
         kGreyFlipped, kLossless},
        {"tga-colour-map-alpha", ".tga", convert(50, 40, halfAlpha + " -type PaletteAlpha -compress None"),
         kColourFlipped, kLossless},
        {"pil-tga-grey", ".tga", pil("L", "", kGrey), kGrey, kLossless},
        // Type 3 at 16 bits with 8 alpha bits: DevIL describes it as luminance at two bytes per pixel and uploads
        // every other byte as a texel.
        {"pil-tga-grey-alpha", ".tga", pil("LA", "", kGrey), kGrey, kLossless, true},
        {"pil-tga-grey-alpha-rle", ".tga", pil("LA", rle, kGrey), kGrey, kLossless, true},
        {"pil-tga-palette", ".tga", pil("P"), kColour, kLossless},
        {"pil-tga-palette-rle", ".tga", pil("P", rle), kColour, kLossless},
        {"pil-tga-rgba-rle", ".tga", pil("RGBA", rle), kColour, kLossless},
        // JPEG: every common subsampling, progressive, greyscale, restart markers, metadata segments.
        {"jpeg-420", ".jpg", convert(64, 48, "-sampling-factor 2x2"), kColour, kJpeg},
        {"jpeg-422", ".jpg", convert(64, 48, "-sampling-factor 2x1"), kColour, kJpeg},
        {"jpeg-444", ".jpg", convert(64, 48, "-sampling-factor 1x1"), kColour, kJpeg},
        {"jpeg-progressive", ".jpg", convert(64, 48, "-interlace JPEG"), kColour, kJpeg},
        {"jpeg-grey", ".jpg", convert(64, 48, "-colorspace Gray", kGrey), kGrey, kJpeg},
        {"jpeg-metadata", ".jpg", WriteJpegWithMetadata, kColour, kJpeg},
        {"jpeg-restarts", ".jpg", WriteJpegWithRestarts, kGrey, 2},
        {"devil-jpeg", ".jpg", [](const std::string& f) { DevilSave(f, IL_JPG); }, kColour, kJpeg},
        {"pil-jpeg", ".jpg", pil("RGB"), kColour, kJpeg},
        {"pil-jpeg-grey", ".jpg", pil("L", "", kGrey), kGrey, kJpeg},
        {"pil-jpeg-cmyk", ".jpg", pil("CMYK"), kColour, kJpeg},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const std::string file = std::string(layout.name) + layout.extension;
        layout.write(file);
        testing::internal::CaptureStdout();
        const GLuint texture = LoadTexture(textureCache, layout.name);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_NE(texture, textureCache.FallbackTexture);

        const std::vector<MipLevel> loaded = TextureLevels(texture);
        ASSERT_FALSE(loaded.empty());
        // The texture's rows run from the bottom of the image.
        const MipLevel& base = loaded[0];
        const int xs[] = {base.width / 4, base.width * 3 / 4}, ys[] = {base.height * 3 / 4, base.height / 4};
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            const uint8_t* texel = &base.rgba[(size_t(ys[quadrant / 2]) * base.width + xs[quadrant % 2]) * 4];
            const Colour& want = layout.quadrants.colours[quadrant];
            EXPECT_NEAR(texel[0], want.r, layout.tolerance) << "quadrant " << quadrant;
            // Grey images may upload as luminance, which reads back in red alone.
            if (!layout.quadrants.grey) {
                EXPECT_NEAR(texel[1], want.g, layout.tolerance) << "quadrant " << quadrant;
                EXPECT_NEAR(texel[2], want.b, layout.tolerance) << "quadrant " << quadrant;
            }
            if (layout.libraryMisreads) {
                EXPECT_EQ(texel[3], 128) << "quadrant " << quadrant;
            }
        }
        if (layout.libraryMisreads)
            continue;

        const std::vector<MipLevel> reference = TextureLevels(ReferenceTexture(file));
        ASSERT_EQ(loaded.size(), reference.size());
        for (size_t k = 0; k < loaded.size(); ++k) {
            EXPECT_EQ(loaded[k].width, reference[k].width) << "level " << k;
            EXPECT_EQ(loaded[k].height, reference[k].height) << "level " << k;
            EXPECT_TRUE(loaded[k].rgba == reference[k].rgba) << "level " << k;
        }
    }
}

TEST_F(ImageCorpusTest, DamagedImagesFailAndNothingIsDecodedBeyondWhatTheFileHolds)
{
    const fs::path damaged = fs::path(VELMORA_SOURCE_DIR) / "tests/render/damaged-images";
    const auto copy = [damaged](const char* name) {
        return [damaged, name](const std::string& file) { fs::copy_file(damaged / name, file); };
    };
    const auto patch = [](std::function<void(const std::string&)> write, std::function<void(Bytes&)> change) {
        return [=](const std::string& file) {
            write(file);
            Bytes bytes = ReadBytes(file);
            change(bytes);
            WriteBytes(file, bytes);
        };
    };
    const auto dxt1 = [](const std::string& file) { Convert(file, 64, 64, "-define dds:compression=dxt1"); };
    const auto jpeg = [](const std::string& file) { Convert(file, 64, 48, "-quality 90"); };
    const struct {
        const char* name;
        const char* extension;
        std::function<void(const std::string&)> write;
        ImageFailure failure;
    } cases[] = {
        {"undersized-blocks", ".dds", copy("undersized-blocks.dds"), ImageFailure::Refused},
        {"segment-past-end", ".jpg", copy("segment-past-end.jpg"), ImageFailure::Refused},
        {"endless-scan", ".jpg", copy("endless-scan.jpg"), ImageFailure::TimedOut},
        // A cube map of one face: DevIL dereferences a null image.
        {"cube-one-face", ".dds", copy("cube-one-face.dds"), ImageFailure::Refused},
        // The pitch rule gives a buffer of 0 bytes, which the decoder would decode blocks from.
        {"dxt1-pitch-without-bits", ".dds", [](const std::string& f) { WriteDxt1WithPitch(f, 200, 0); },
         ImageFailure::Refused},
        {"dds-truncated-chain", ".dds", patch(dxt1, [](Bytes& b) { b.resize(b.size() - 1); }), ImageFailure::Refused},
        {"dds-linear-size-short", ".dds", patch(dxt1, [](Bytes& b) { Put32(b, 20, 2048 - 8); }), ImageFailure::Refused},
        {"dds-huge", ".dds", patch(dxt1, [](Bytes& b) { Put32(b, 12, 0x10010); }), ImageFailure::Refused},
        {"tga-huge-rle", ".tga",
         patch([](const std::string& f) { Convert(f, 50, 40, "-compress RLE"); },
               [](Bytes& b) { b[12] = b[13] = b[14] = b[15] = 0xFF; }),
         ImageFailure::Refused},
        // No colour map for a colour-mapped image: DevIL sizes one from the other map fields.
        {"tga-colour-mapped-without-map", ".tga",
         patch([](const std::string& f) { Convert(f, 50, 40, "-type Palette -compress None"); },
               [](Bytes& b) { b[1] = 0; }),
         ImageFailure::Refused},
        {"tga-short", ".tga",
         patch([](const std::string& f) { Convert(f, 50, 40, "-compress None"); },
               [](Bytes& b) { b.resize(b.size() - 3); }),
         ImageFailure::Refused},
        {"jpeg-huge-frame", ".jpg",
         patch(jpeg,
               [](Bytes& b) {
                   for (size_t i = 2; i + 9 < b.size(); ++i)
                       if (b[i] == 0xFF && b[i + 1] == 0xC0) {
                           b[i + 5] = b[i + 6] = b[i + 7] = b[i + 8] = 0xFF;
                           return;
                       }
               }),
         ImageFailure::Refused},
    };
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    for (const auto& c : cases) {
        const std::string file = std::string(c.name) + c.extension;
        c.write(file);
        const ImageFormat format = c.extension[1] == 'd'   ? ImageFormat::Dds
                                   : c.extension[1] == 't' ? ImageFormat::Tga
                                                           : ImageFormat::Jpeg;
        EXPECT_EQ(LoadImageGuarded(file, format, 16384), c.failure) << c.name;
    }
    ilDeleteImages(1, &image);
}

TEST_F(ImageCorpusTest, ColourIndicesBeyondThePaletteAreRefusedThoughTheLibraryDecodesThem)
{
    // Two palette entries declared where four are used: the upload's palette look-ups would read past the palette.
    Convert("short-map.tga", 50, 40, "-type Palette -compress None");
    Bytes tga = ReadBytes("short-map.tga");
    ASSERT_EQ(tga[5], 4);
    tga[5] = 2;
    WriteBytes("short-map.tga", tga);
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    EXPECT_TRUE(ilLoadImage("short-map.tga"));
    EXPECT_EQ(LoadImageGuarded("short-map.tga", ImageFormat::Tga, 16384), ImageFailure::PaletteRefused);
    ilDeleteImages(1, &image);
}
