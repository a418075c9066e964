// Checks of image files by each format's own rules, before any decoder sees them.
#include "ImageCheck.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// What a file may hold beyond what its header accounts for: metadata, thumbnails, colour profiles, footers.
constexpr uint64_t kMetadataBytes = uint64_t(4) << 20;

uint32_t Read32(const uint8_t* bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint32_t Read16(const uint8_t* bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8;
}

uint32_t ReadBigEndian16(const uint8_t* bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) << 8 | bytes[offset + 1];
}

// [SECTION] DDS
// The decoder reads each level into a buffer sized from the header (the linear size; a pitch of width x bit count / 8
// times the height; or, when neither size is given, its own count of blocks or texels) and then decodes the level
// from that buffer. Later levels of a chain are sized exactly when the linear size applies, and by the pitch rule
// otherwise. A depth of 0 means 1; a depth above 1 without the volume flag is read as 1. A file is sound when every
// level's buffer holds what its decode reads and the file holds every buffer of every face.

constexpr size_t kDdsHeaderSize = 128;  // "DDS " and the 124-byte header
constexpr uint32_t kPitchFlag = 0x8;
constexpr uint32_t kMipMapCountFlag = 0x20000;
constexpr uint32_t kLinearSizeFlag = 0x80000;
constexpr uint32_t kFourCcFlag = 0x4;
constexpr uint32_t kComplex = 0x8;
constexpr uint32_t kCubeMap = 0x200;
constexpr uint32_t kCubeFaces = 0xFC00;
constexpr uint32_t kVolume = 0x200000;

constexpr uint32_t FourCc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// How the decoder reads one pixel format: bytes per 4x4 block (block formats), or bytes per texel of the first level
// and of later levels (float formats, whose later levels it sizes by its own bytes-per-pixel table).
struct DdsCoding {
    uint32_t code;
    uint32_t blockBytes;
    uint32_t texelBytes;
    uint32_t mipTexelBytes;
};

constexpr DdsCoding kDdsCodings[] = {
    {FourCc('D', 'X', 'T', '1'), 8, 0, 0},
    {FourCc('D', 'X', 'T', '2'), 16, 0, 0},
    {FourCc('D', 'X', 'T', '3'), 16, 0, 0},
    {FourCc('D', 'X', 'T', '4'), 16, 0, 0},
    {FourCc('D', 'X', 'T', '5'), 16, 0, 0},
    {FourCc('A', 'T', 'I', '1'), 8, 0, 0},
    {FourCc('A', 'T', 'I', '2'), 16, 0, 0},
    {FourCc('R', 'X', 'G', 'B'), 16, 0, 0},
    {36, 0, 8, 8},
    {111, 0, 2, 4},
    {112, 0, 4, 4},
    {113, 0, 8, 8},
    {114, 0, 4, 4},
    {115, 0, 8, 8},
    {116, 0, 16, 16},
};

struct DdsLevelSizes {
    uint32_t blockBytes = 0;     // block formats
    uint32_t texelBytes = 0;     // bytes per texel that a decode reads (float and uncompressed formats)
    uint32_t mipTexelBytes = 0;  // bytes per texel of the exactly sized later levels
    uint32_t bitCount = 0;       // the header's bit count, which the pitch rule uses for every format

    uint64_t Texels(uint64_t width, uint64_t height, uint64_t depth) const { return width * height * depth; }
    uint64_t Blocks(uint64_t width, uint64_t height, uint64_t depth) const
    {
        return ((width + 3) / 4) * ((height + 3) / 4) * depth;
    }
    uint64_t DecodeReads(uint64_t width, uint64_t height, uint64_t depth) const
    {
        return blockBytes ? Blocks(width, height, depth) * blockBytes : Texels(width, height, depth) * texelBytes;
    }
    uint64_t Exact(uint64_t width, uint64_t height, uint64_t depth, bool firstLevel) const
    {
        if (blockBytes)
            return Blocks(width, height, depth) * blockBytes;
        return Texels(width, height, depth) * (firstLevel ? texelBytes : mipTexelBytes);
    }
    uint64_t ByPitch(uint64_t width, uint64_t height, uint64_t depth) const
    {
        const uint64_t rowBits = width * bitCount;
        return rowBits >= kImageSizeLimit ? kImageSizeLimit : rowBits / 8 * height * depth;
    }
};

// Beyond any texture size that GL offers.
constexpr uint64_t kMaxDdsSide = 65536;
// Most bytes a texel of any coding decodes to (four 32-bit float channels).
constexpr uint64_t kDdsDecodedTexelBytes = 16;

ImageVerdict JudgeDds(const uint8_t* bytes, size_t available, uint64_t size, ImageHeader& header)
{
    if (size < kDdsHeaderSize)
        return ImageVerdict::Refused;
    if (available < kDdsHeaderSize)
        return ImageVerdict::NeedMore;
    if (std::memcmp(bytes, "DDS ", 4) != 0)
        return ImageVerdict::Refused;
    const uint32_t headerSize = Read32(bytes, 4);
    if ((headerSize != 124 && headerSize != FourCc('D', 'D', 'S', ' ')) || Read32(bytes, 76) != 32)
        return ImageVerdict::Refused;
    uint32_t flags = Read32(bytes, 8);
    const uint64_t height = Read32(bytes, 12);
    const uint64_t width = Read32(bytes, 16);
    const uint64_t linearSize = Read32(bytes, 20);
    const uint64_t headerDepth = std::max<uint32_t>(Read32(bytes, 24), 1);
    const uint32_t mipCount = Read32(bytes, 28);
    const uint32_t pixelFlags = Read32(bytes, 80);
    const uint32_t caps1 = Read32(bytes, 108);
    const uint32_t caps2 = Read32(bytes, 112);
    // Bounded sides keep every product of sides below in 64 bits.
    if (width == 0 || height == 0 || width > kMaxDdsSide || height > kMaxDdsSide || headerDepth > kMaxDdsSide)
        return ImageVerdict::Refused;

    DdsLevelSizes sizes;
    sizes.bitCount = Read32(bytes, 88);
    if (pixelFlags & kFourCcFlag) {
        const uint32_t code = Read32(bytes, 84);
        const auto coding = std::find_if(std::begin(kDdsCodings), std::end(kDdsCodings),
                                         [code](const DdsCoding& c) { return c.code == code; });
        if (coding == std::end(kDdsCodings))
            return ImageVerdict::Refused;
        sizes.blockBytes = coding->blockBytes;
        sizes.texelBytes = coding->texelBytes;
        sizes.mipTexelBytes = coding->mipTexelBytes;
    } else {
        // Texels are read whole bytes at a time; fewer than eight bits would read nothing per texel.
        if (sizes.bitCount < 8)
            return ImageVerdict::Refused;
        sizes.texelBytes = sizes.mipTexelBytes = sizes.bitCount / 8;
    }

    uint64_t faces = 1, depth = headerDepth, firstRead = 0;
    const bool cube = (caps1 & kComplex) && (caps2 & kCubeMap);
    if (cube) {
        // DevIL crashes on some cube maps that lack faces (a positive Z face alone, for one).
        faces = static_cast<uint64_t>(__builtin_popcount(caps2 & kCubeFaces));
        if (depth > 1 || faces != 6)
            return ImageVerdict::Refused;
    }
    if (!(flags & (kLinearSizeFlag | kPitchFlag)) || linearSize == 0) {
        flags |= kLinearSizeFlag;
        firstRead = sizes.Exact(width, height, headerDepth, true);
    } else if (flags & kLinearSizeFlag) {
        firstRead = linearSize;
    } else {
        firstRead = sizes.ByPitch(width, height, depth);
    }
    if (!cube && depth > 1) {
        if (!(caps2 & kVolume))
            depth = 1;
        flags |= kLinearSizeFlag;
        firstRead = sizes.Exact(width, height, depth, false);
    }

    const uint32_t levels = (flags & kMipMapCountFlag) && mipCount > 0 ? mipCount : 1;
    uint64_t levelWidth = width, levelHeight = height, levelDepth = depth, perFace = 0, texelsPerFace = 0;
    for (uint32_t level = 0; level < levels; ++level) {
        if (level > 0) {
            levelWidth = std::max<uint64_t>(levelWidth / 2, 1);
            levelHeight = std::max<uint64_t>(levelHeight / 2, 1);
            levelDepth = std::max<uint64_t>(levelDepth / 2, 1);
        }
        const uint64_t read = level == 0                  ? firstRead
                              : (flags & kLinearSizeFlag) ? sizes.Exact(levelWidth, levelHeight, levelDepth, false)
                                                          : sizes.ByPitch(levelWidth, levelHeight, levelDepth);
        if (read >= kImageSizeLimit || read < sizes.DecodeReads(levelWidth, levelHeight, levelDepth))
            return ImageVerdict::Refused;
        perFace += read;
        texelsPerFace += sizes.Texels(levelWidth, levelHeight, levelDepth);
        if (perFace > size)
            return ImageVerdict::Refused;
    }
    const uint64_t declared = kDdsHeaderSize + faces * perFace;
    if (declared > size || size > declared + kMetadataBytes)
        return ImageVerdict::Refused;
    header = {width, height, depth, faces * texelsPerFace, width * height * depth * kDdsDecodedTexelBytes};
    return ImageVerdict::Sound;
}

// [SECTION] TGA
// The decoder allocates the whole image before it reads a pixel, so the file must hold what the image needs: every
// pixel of a plain image, and for a run-length encoded one enough packets (each at most 128 pixels, at least a
// header byte and one pixel) to cover it.

ImageVerdict JudgeTga(const uint8_t* bytes, size_t available, uint64_t size, ImageHeader& header)
{
    constexpr size_t kHeader = 18;
    if (size < kHeader)
        return ImageVerdict::Refused;
    if (available < kHeader)
        return ImageVerdict::NeedMore;
    const uint64_t idLength = bytes[0];
    const uint32_t colourMapType = bytes[1];
    const uint32_t imageType = bytes[2];
    const uint64_t mapLength = Read16(bytes, 5);
    const uint64_t mapEntryBytes = (bytes[7] + 7u) / 8;
    const uint64_t width = Read16(bytes, 12);
    const uint64_t height = Read16(bytes, 14);
    const uint64_t pixelBytes = (bytes[16] + 7u) / 8;
    if (imageType != 1 && imageType != 2 && imageType != 3 && imageType != 9 && imageType != 10 && imageType != 11)
        return ImageVerdict::Refused;
    if (width == 0 || height == 0 || pixelBytes == 0)
        return ImageVerdict::Refused;
    // Without a colour map, DevIL sizes the map of a colour-mapped image from the other map fields and may ask
    // for gigabytes.
    if ((imageType == 1 || imageType == 9) && colourMapType != 1)
        return ImageVerdict::Refused;
    const uint64_t mapBytes = colourMapType == 1 ? mapLength * mapEntryBytes : 0;
    const uint64_t start = kHeader + idLength + mapBytes;
    if (start > size)
        return ImageVerdict::Refused;
    const uint64_t dataBytes = size - start;
    const uint64_t pixels = width * height;
    // Run-length coding at its least dense spends a header byte on every pixel.
    const uint64_t mostData = pixels * (imageType >= 9 ? 1 + pixelBytes : pixelBytes);
    const bool sound = imageType >= 9 ? pixels * (1 + pixelBytes) <= 128 * dataBytes : pixels * pixelBytes <= dataBytes;
    if (!sound || dataBytes > mostData + kMetadataBytes)
        return ImageVerdict::Refused;
    header = {width, height, 1, pixels, pixels * 4 + mapLength * 4};
    return ImageVerdict::Sound;
}

// [SECTION] JPEG
// The marker segments are walked from the start of image to the frame header; every length must lie inside the
// file. The frame's size must be justified by the file: with Huffman coding every 8x8 block of every scan costs at
// least one bit, so no image decodes from fewer than one byte per 512 pixels; twice that is allowed. At its least
// dense, Huffman coding spends about ten bytes per pixel of three full-resolution components; three times that is
// allowed.

constexpr uint64_t kJpegPixelsPerByte = 1024;
constexpr uint64_t kJpegBytesPerPixel = 32;

ImageVerdict JudgeJpeg(const uint8_t* bytes, size_t available, uint64_t size, ImageHeader& header)
{
    // The walk needs the bytes up to at: Refused past the file's end, NeedMore past what has been read.
    const auto lacking = [available, size](uint64_t at) {
        return at > size ? ImageVerdict::Refused : at > available ? ImageVerdict::NeedMore : ImageVerdict::Sound;
    };
    if (size < 4)
        return ImageVerdict::Refused;
    if (available < 4)
        return ImageVerdict::NeedMore;
    if (bytes[0] != 0xFF || bytes[1] != 0xD8)
        return ImageVerdict::Refused;
    size_t at = 2;
    for (;;) {
        if (lacking(at + 2) != ImageVerdict::Sound)
            return lacking(at + 2);
        if (bytes[at] != 0xFF)
            return ImageVerdict::Refused;
        const uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a segment
            at += 2;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return ImageVerdict::Refused;
        if (lacking(at + 4) != ImageVerdict::Sound)
            return lacking(at + 4);
        const size_t length = ReadBigEndian16(bytes, at + 2);
        if (length < 2 || at + 2 + length > size)
            return ImageVerdict::Refused;
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (length < 8)
                return ImageVerdict::Refused;
            if (lacking(at + 9) != ImageVerdict::Sound)
                return lacking(at + 9);
            const uint64_t height = ReadBigEndian16(bytes, at + 5);
            const uint64_t width = ReadBigEndian16(bytes, at + 7);
            const uint64_t pixels = width * height;
            if (pixels == 0 || pixels > kJpegPixelsPerByte * size ||
                size > pixels * kJpegBytesPerPixel + kMetadataBytes)
                return ImageVerdict::Refused;
            header = {width, height, 1, pixels, pixels * 4};
            return ImageVerdict::Sound;
        }
        at += 2 + length;
    }
}

}  // namespace

ImageVerdict JudgeImage(ImageFormat format, const uint8_t* bytes, size_t available, uint64_t fileSize,
                        ImageHeader& header)
{
    available = static_cast<size_t>(std::min<uint64_t>(available, fileSize));
    switch (format) {
    case ImageFormat::Dds:
        return JudgeDds(bytes, available, fileSize, header);
    case ImageFormat::Tga:
        return JudgeTga(bytes, available, fileSize, header);
    case ImageFormat::Jpeg:
        return JudgeJpeg(bytes, available, fileSize, header);
    }
    return ImageVerdict::Refused;
}
