// The guarded load: checked files decoded in a process of their own.
#include "ImageCheck.h"

#include <IL/il.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// Checked files are decoded in a process of their own, forked on first use and kept for the next images: a fork
// per image would copy this process's page tables and make both sides copy every page they write. The decoder
// finds the checked file's bytes in a memory file that both processes share, decodes them, puts the pixels and the
// palette behind them and answers through a socket with a description of the decoded image. The memory file is
// sealed against shrinking, so what this process maps stays mapped. This process trusts none of it until the sizes
// agree with one another and with the file. A decoder that crashes, hangs, sends nonsense or fails a decode (which
// may have left the library in a bad state) is killed and replaced for the next image.

// Most bytes a decoded image may take per byte of its file: generous for every format's densest coding above.
constexpr uint64_t kDecodedBytesPerFileByte = 4096;

struct DecodeRequest {
    uint32_t format;
    uint32_t unused;
    uint64_t fileBytes;  // at the start of the shared memory file
};

// Where the decoded image starts in the shared memory file, after the file's bytes.
uint64_t DecodedOffset(uint64_t fileBytes) { return (fileBytes + 4095) / 4096 * 4096; }

struct DecodedImage {
    uint32_t decoded, width, height, depth, bytesPerPixel, format, type, origin, paletteType, unused;
    uint64_t dataBytes, paletteBytes;
};

ILenum LibraryType(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Dds:
        return IL_DDS;
    case ImageFormat::Tga:
        return IL_TGA;
    case ImageFormat::Jpeg:
        return IL_JPG;
    }
    return IL_TYPE_UNKNOWN;
}

uint32_t BytesPerChannel(uint32_t type)
{
    switch (type) {
    case IL_BYTE:
    case IL_UNSIGNED_BYTE:
        return 1;
    case IL_SHORT:
    case IL_UNSIGNED_SHORT:
    case IL_HALF:
        return 2;
    case IL_INT:
    case IL_UNSIGNED_INT:
    case IL_FLOAT:
        return 4;
    case IL_DOUBLE:
        return 8;
    }
    return 0;
}

uint32_t PaletteEntryBytes(uint32_t paletteType)
{
    switch (paletteType) {
    case IL_PAL_RGB24:
    case IL_PAL_BGR24:
        return 3;
    case IL_PAL_RGB32:
    case IL_PAL_RGBA32:
    case IL_PAL_BGR32:
    case IL_PAL_BGRA32:
        return 4;
    }
    return 0;
}

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

// Moves size bytes through a socket, out of or into data. With a deadline it waits for the socket before each
// step and gives up once the deadline passes; without one it blocks. False when the other side has gone.
bool Transfer(int fd, bool out, void* data, uint64_t size, const Clock::time_point* deadline = nullptr)
{
    char* at = static_cast<char*>(data);
    while (size > 0) {
        if (deadline) {
            pollfd ready{fd, static_cast<short>(out ? POLLOUT : POLLIN), 0};
            const int left = MillisecondsLeft(*deadline);
            if (left == 0 || poll(&ready, 1, left) <= 0)
                return false;
        }
        const int flags = MSG_NOSIGNAL | (deadline ? MSG_DONTWAIT : 0);
        const ssize_t moved = out ? send(fd, at, size, flags) : recv(fd, at, size, flags);
        if (moved < 0 && errno == EAGAIN)
            continue;
        if (moved <= 0)
            return false;
        at += moved;
        size -= static_cast<uint64_t>(moved);
    }
    return true;
}

bool Send(int fd, const void* data, uint64_t size, const Clock::time_point* deadline = nullptr)
{
    return Transfer(fd, true, const_cast<void*>(data), size, deadline);
}

// Maps the first size bytes of the shared memory file, growing it first when it is smaller; nullptr on failure.
uint8_t* MapShared(int shared, uint64_t size, int protection)
{
    struct stat file;
    if (size == 0 || fstat(shared, &file) != 0)
        return nullptr;
    if (static_cast<uint64_t>(file.st_size) < size && (protection & PROT_WRITE) == 0)
        return nullptr;
    if (static_cast<uint64_t>(file.st_size) < size && ftruncate(shared, static_cast<off_t>(size)) != 0)
        return nullptr;
    void* mapped = mmap(nullptr, size, protection, MAP_SHARED, shared, 0);
    return mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
}

bool DecodeOne(const DecodeRequest& request, int replies, int shared)
{
    DecodedImage decoded{};
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    const uint8_t* file = MapShared(shared, request.fileBytes, PROT_READ);
    const bool loaded = file != nullptr && ilLoadL(LibraryType(static_cast<ImageFormat>(request.format)), file,
                                                   static_cast<ILuint>(request.fileBytes));
    if (file != nullptr)
        munmap(const_cast<uint8_t*>(file), request.fileBytes);
    if (!loaded) {
        Send(replies, &decoded, sizeof decoded);
        return false;
    }
    const bool indexed = ilGetInteger(IL_PALETTE_TYPE) != IL_PAL_NONE && ilGetPalette() != nullptr;
    decoded.decoded = 1;
    decoded.width = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_WIDTH));
    decoded.height = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_HEIGHT));
    decoded.depth = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_DEPTH));
    decoded.bytesPerPixel = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL));
    decoded.format = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_FORMAT));
    decoded.type = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_TYPE));
    decoded.origin = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_ORIGIN));
    decoded.paletteType = static_cast<uint32_t>(indexed ? ilGetInteger(IL_PALETTE_TYPE) : IL_PAL_NONE);
    decoded.dataBytes = static_cast<uint64_t>(ilGetInteger(IL_IMAGE_SIZE_OF_DATA));
    decoded.paletteBytes = indexed ? static_cast<uint64_t>(ilGetInteger(IL_PALETTE_NUM_COLS)) *
                                         static_cast<uint64_t>(ilGetInteger(IL_PALETTE_BPP))
                                   : 0;
    const uint64_t offset = DecodedOffset(request.fileBytes);
    const uint64_t sharedBytes = offset + decoded.dataBytes + decoded.paletteBytes;
    uint8_t* out = MapShared(shared, sharedBytes, PROT_READ | PROT_WRITE);
    if (out == nullptr)
        return false;
    std::memcpy(out + offset, ilGetData(), decoded.dataBytes);
    if (decoded.paletteBytes != 0)
        std::memcpy(out + offset + decoded.dataBytes, ilGetPalette(), decoded.paletteBytes);
    munmap(out, sharedBytes);
    ilDeleteImages(1, &image);
    return Send(replies, &decoded, sizeof decoded);
}

// The decoder's loop: one request, one reply, until this process closes its end or a decode fails.
[[noreturn]] void ServeDecodes(int requests, int replies, int shared)
{
    for (;;) {
        DecodeRequest request;
        if (!Transfer(requests, false, &request, sizeof request) || request.fileBytes >= kImageSizeLimit ||
            !DecodeOne(request, replies, shared))
            _exit(0);
    }
}

struct DecoderProcess {
    pid_t pid = -1;
    int requests = -1;  // written by this process
    int replies = -1;   // read by this process
    int shared = -1;    // the memory file of decoded images
};

DecoderProcess decoder;

void StopDecoder()
{
    if (decoder.pid <= 0)
        return;
    close(decoder.requests);
    close(decoder.replies);
    close(decoder.shared);
    kill(decoder.pid, SIGKILL);
    waitpid(decoder.pid, nullptr, 0);
    decoder = DecoderProcess();
}

// In the decoder: closes every inherited descriptor but the standard streams and its own three, and ends the
// decoder with the viewer. An inherited display connection would otherwise keep the viewer's window on screen for
// as long as the decoder outlives the viewer.
void KeepOnlyDecoderDescriptors(std::array<int, 3> keep)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::sort(keep.begin(), keep.end());
    unsigned first = 3;
    for (const int fd : keep) {
        if (static_cast<unsigned>(fd) > first)
            close_range(first, static_cast<unsigned>(fd) - 1, 0);
        first = std::max(first, static_cast<unsigned>(fd) + 1);
    }
    close_range(first, ~0u, 0);
}

bool StartDecoder()
{
    // Sockets rather than pipes: a send to a dead decoder fails without raising SIGPIPE here.
    int requests[2], replies[2];
    const int shared = memfd_create("velmora-decoded-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (shared < 0)
        return false;
    if (fcntl(shared, F_ADD_SEALS, F_SEAL_SHRINK) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requests) != 0) {
        close(shared);
        return false;
    }
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, replies) != 0) {
        close(requests[0]);
        close(requests[1]);
        close(shared);
        return false;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        KeepOnlyDecoderDescriptors({requests[0], replies[1], shared});
        ServeDecodes(requests[0], replies[1], shared);
    }
    close(requests[0]);
    close(replies[1]);
    if (child < 0) {
        close(requests[1]);
        close(replies[0]);
        close(shared);
        return false;
    }
    decoder = DecoderProcess{child, requests[1], replies[0], shared};
    return true;
}

// True when the decoder's description is consistent with itself and with the size of the file it came from.
bool DescriptionIsSound(const DecodedImage& image, uint64_t fileSize)
{
    const uint64_t expected = uint64_t(image.width) * image.height * image.depth * image.bytesPerPixel *
                              BytesPerChannel(image.type);
    if (!image.decoded || expected == 0 || image.dataBytes != expected ||
        expected > kDecodedBytesPerFileByte * fileSize)
        return false;
    if (image.paletteType == IL_PAL_NONE)
        return image.paletteBytes == 0;
    const uint32_t entryBytes = PaletteEntryBytes(image.paletteType);
    return entryBytes != 0 && image.paletteBytes % entryBytes == 0 && image.paletteBytes <= 65536u * entryBytes;
}

// Rebuilds the decoded image in the bound image from the shared memory file. The palette look-ups of the GL
// upload must stay inside the palette, so the indices are checked on this process's own copy.
bool RebuildImage(const DecodedImage& image, uint64_t offset)
{
    const uint64_t sharedBytes = offset + image.dataBytes + image.paletteBytes;
    uint8_t* mapped = MapShared(decoder.shared, sharedBytes, PROT_READ);
    if (mapped == nullptr)
        return false;
    const uint8_t* in = mapped + offset;
    bool rebuilt = ilTexImage(image.width, image.height, image.depth, static_cast<ILubyte>(image.bytesPerPixel),
                              image.format, image.type, const_cast<uint8_t*>(in));
    if (rebuilt) {
        ilRegisterOrigin(image.origin);
        if (image.paletteType != IL_PAL_NONE)
            ilRegisterPal(const_cast<uint8_t*>(in) + image.dataBytes, static_cast<ILuint>(image.paletteBytes),
                          image.paletteType);
    }
    munmap(mapped, sharedBytes);
    if (rebuilt && image.format == IL_COLOUR_INDEX) {
        const uint8_t* indices = ilGetData();
        const uint64_t entries = image.paletteBytes / std::max<uint32_t>(PaletteEntryBytes(image.paletteType), 1);
        rebuilt = image.bytesPerPixel == 1 && BytesPerChannel(image.type) == 1 &&
                  std::none_of(indices, indices + image.dataBytes, [entries](uint8_t i) { return i >= entries; });
    }
    return rebuilt;
}

// Reads size bytes of the open file into at.
bool ReadInto(int fd, uint8_t* at, uint64_t size)
{
    while (size > 0) {
        const ssize_t got = read(fd, at, size);
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<uint64_t>(got);
    }
    return true;
}

// Reads and checks the open file, then has the decoder decode it.
bool DecodeInDecoder(int fd, uint64_t fileBytes, ImageFormat format, int timeoutMs)
{
    uint8_t* file = MapShared(decoder.shared, fileBytes, PROT_READ | PROT_WRITE);
    if (file == nullptr)
        return false;
    const bool sound = ReadInto(fd, file, fileBytes) && ImageIsSound(format, file, fileBytes);
    munmap(file, fileBytes);
    if (!sound)
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const DecodeRequest request{static_cast<uint32_t>(format), 0, fileBytes};
    DecodedImage image{};
    if (!Send(decoder.requests, &request, sizeof request, &deadline) ||
        !Transfer(decoder.replies, false, &image, sizeof image, &deadline) || !DescriptionIsSound(image, fileBytes)) {
        StopDecoder();
        return false;
    }
    return RebuildImage(image, DecodedOffset(fileBytes));
}

// Without a decoder process the checked file is decoded here, as it would be without the guard.
bool DecodeHere(int fd, uint64_t fileBytes, ImageFormat format)
{
    std::vector<uint8_t> bytes(fileBytes);
    return ReadInto(fd, bytes.data(), fileBytes) && ImageIsSound(format, bytes.data(), bytes.size()) &&
           ilLoadL(LibraryType(format), bytes.data(), static_cast<ILuint>(bytes.size()));
}

}  // namespace

bool LoadImageGuarded(const std::string& path, ImageFormat format, int timeoutMs)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat file;
    bool loaded = fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_size > 0 &&
                  static_cast<uint64_t>(file.st_size) < kImageSizeLimit;
    if (loaded) {
        const uint64_t fileBytes = static_cast<uint64_t>(file.st_size);
        loaded = decoder.pid > 0 || StartDecoder() ? DecodeInDecoder(fd, fileBytes, format, timeoutMs)
                                                   : DecodeHere(fd, fileBytes, format);
    }
    close(fd);
    return loaded;
}
