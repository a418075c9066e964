#include "ImageCheck.h"

#include <IL/il.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// [SECTION] DDS
// Accepted: plain two-dimensional images of DXT1, DXT3 or DXT5 blocks with an exact linear size, or of 24- or 32-bit
// texels with colour masks, optionally with mipmap levels of power-of-two sizes. The decoder misreads everything
// else: DXT2 and DXT4 crash it, a linear size that disagrees with the image makes it read past its buffer or divide
// by zero, a pitch-sized compressed image makes it allocate by a meaningless bit count, a zero mask never ends its
// shift loop, and cube maps and volumes take paths with checks of their own missing. The viewer builds its own
// mipmaps, so nothing is lost by refusing the rest.

constexpr size_t kDdsHeaderSize = 128;  // "DDS " and the 124-byte header
constexpr uint32_t kPitchFlag = 0x8;
constexpr uint32_t kMipMapCountFlag = 0x20000;
constexpr uint32_t kLinearSizeFlag = 0x80000;
constexpr uint32_t kFourCcFlag = 0x4;
constexpr uint32_t kCubeMap = 0x200;
constexpr uint32_t kVolume = 0x200000;

uint32_t Read32(const uint8_t* bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint32_t Read16(const uint8_t* bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8;
}

uint32_t FourCc(const char* code) { return Read32(reinterpret_cast<const uint8_t*>(code), 0); }

bool SaneSize(uint32_t width, uint32_t height)
{
    return width != 0 && height != 0 && width <= kMaxImageDimension && height <= kMaxImageDimension;
}

bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Bytes of one level: blockBytes per 4x4 block when compressed, else texelBytes per texel.
uint64_t LevelBytes(uint32_t width, uint32_t height, uint32_t blockBytes, uint32_t texelBytes)
{
    if (blockBytes != 0)
        return static_cast<uint64_t>((width + 3) / 4) * ((height + 3) / 4) * blockBytes;
    return static_cast<uint64_t>(width) * height * texelBytes;
}

bool DdsIsSound(const uint8_t* bytes, size_t size)
{
    if (size < kDdsHeaderSize || std::memcmp(bytes, "DDS ", 4) != 0 || Read32(bytes, 4) != 124 ||
        Read32(bytes, 76) != 32)
        return false;
    const uint32_t flags = Read32(bytes, 8);
    const uint32_t height = Read32(bytes, 12);
    const uint32_t width = Read32(bytes, 16);
    const uint32_t linearSize = Read32(bytes, 20);
    const uint32_t depth = Read32(bytes, 24);
    const uint32_t caps2 = Read32(bytes, 112);
    if (!SaneSize(width, height) || depth > 1 || (caps2 & (kCubeMap | kVolume)))
        return false;

    uint32_t blockBytes = 0, texelBytes = 0;
    if (Read32(bytes, 80) & kFourCcFlag) {
        const uint32_t code = Read32(bytes, 84);
        if (code == FourCc("DXT1"))
            blockBytes = 8;
        else if (code == FourCc("DXT3") || code == FourCc("DXT5"))
            blockBytes = 16;
        else
            return false;
        if (!(flags & kLinearSizeFlag) || (flags & kPitchFlag) || linearSize != LevelBytes(width, height, blockBytes, 0))
            return false;
    } else {
        const uint32_t bits = Read32(bytes, 88);
        if ((bits != 24 && bits != 32) || (flags & kLinearSizeFlag) || Read32(bytes, 92) == 0 ||
            Read32(bytes, 96) == 0 || Read32(bytes, 100) == 0)
            return false;
        texelBytes = bits / 8;
    }

    uint32_t levels = 1;
    if ((flags & kMipMapCountFlag) && Read32(bytes, 28) > 1) {
        levels = Read32(bytes, 28);
        uint32_t possibleLevels = 1;
        while ((std::max(width, height) >> possibleLevels) != 0)
            ++possibleLevels;
        if (depth != 1 || !PowerOfTwo(width) || !PowerOfTwo(height) || levels > possibleLevels)
            return false;
    }

    uint64_t needed = kDdsHeaderSize;
    for (uint32_t level = 0; level < levels; ++level)
        needed += LevelBytes(std::max(width >> level, 1u), std::max(height >> level, 1u), blockBytes, texelBytes);
    return size >= needed;
}

// [SECTION] TGA
// Colour-mapped, true-colour and grey images, plain or run-length encoded. Plain images must hold every pixel.

bool TgaIsSound(const uint8_t* bytes, size_t size)
{
    constexpr size_t kHeader = 18;
    if (size < kHeader)
        return false;
    const uint32_t idLength = bytes[0];
    const uint32_t colourMapType = bytes[1];
    const uint32_t imageType = bytes[2];
    const uint32_t mapLength = Read16(bytes, 5);
    const uint32_t mapEntryBits = bytes[7];
    const uint32_t width = Read16(bytes, 12);
    const uint32_t height = Read16(bytes, 14);
    const uint32_t bits = bytes[16];
    const bool mapped = imageType == 1 || imageType == 9;
    const bool encoded = imageType >= 9;
    if (imageType != 1 && imageType != 2 && imageType != 3 && imageType != 9 && imageType != 10 && imageType != 11)
        return false;
    if (!SaneSize(width, height) || (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32))
        return false;
    if (colourMapType > 1 || (mapped && (colourMapType != 1 || mapLength == 0 || bits != 8)))
        return false;
    uint64_t mapBytes = 0;
    if (colourMapType == 1) {
        if (mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32)
            return false;
        mapBytes = static_cast<uint64_t>(mapLength) * ((mapEntryBits + 7) / 8);
    }
    const uint64_t start = kHeader + idLength + mapBytes;
    if (encoded)
        return size > start;
    return size >= start + static_cast<uint64_t>(width) * height * ((bits + 7) / 8);
}

// [SECTION] JPEG
// The marker segments are walked from the start of image to the start of scan: every length must lie inside the
// file, a frame header with a sane size must come first, and the file must end its scan with an end-of-image marker.

bool JpegIsSound(const uint8_t* bytes, size_t size)
{
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return false;
    size_t at = 2;
    bool frame = false;
    for (;;) {
        if (at + 4 > size || bytes[at] != 0xFF)
            return false;
        const uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const uint32_t length = (static_cast<uint32_t>(bytes[at + 2]) << 8) | bytes[at + 3];
        if (length < 2 || at + 2 + length > size)
            return false;
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (length < 8)
                return false;
            const uint32_t height = (static_cast<uint32_t>(bytes[at + 5]) << 8) | bytes[at + 6];
            const uint32_t width = (static_cast<uint32_t>(bytes[at + 7]) << 8) | bytes[at + 8];
            if (!SaneSize(width, height))
                return false;
            frame = true;
        }
        at += 2 + length;
        if (marker == 0xDA)  // start of scan: the entropy-coded data follows
            break;
    }
    if (!frame)
        return false;
    for (size_t i = at; i + 1 < size; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9)
            return true;
    return false;
}

}  // namespace

bool ImageIsSound(ImageFormat format, const uint8_t* bytes, size_t size)
{
    switch (format) {
    case ImageFormat::Dds:
        return DdsIsSound(bytes, size);
    case ImageFormat::Tga:
        return TgaIsSound(bytes, size);
    case ImageFormat::Jpeg:
        return JpegIsSound(bytes, size);
    }
    return false;
}

bool ImageFileIsSound(ImageFormat format, const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ImageIsSound(format, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool ImageDecodesInChild(const std::string& path, int timeoutMs)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return true;
    if (child == 0) {
        ILuint image = 0;
        ilGenImages(1, &image);
        ilBindImage(image);
        _exit(ilLoadImage(path.c_str()) ? 0 : 1);
    }
    int status = 0;
    const timespec pause{0, 1000000};
    for (int waited = 0; waited < timeoutMs; ++waited) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0)
            return false;
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
}
