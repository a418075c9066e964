// The guarded load: files judged here, decoded in a sandboxed process of their own.
#include "ImageDecoder.h"

#include "RegularFile.h"
#include "WorkerProcess.h"

#include <IL/il.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// The decoder is forked once and kept for the next images: a fork per image would copy this process's page tables
// and make both sides copy every page they write. It finds each file's bytes in a memory file that both processes
// share, decodes them, puts the pixels and the palette behind them and answers through a socket with a description.
// This process sizes the memory file for each image from the header; the decoder cannot resize it. A decoder that
// crashes, stalls, answers wrongly or fails a decode (which may have left the library in a bad state) is killed and
// replaced for the next image.

struct DecodeRequest {
    uint32_t format;
    uint32_t unused;
    uint64_t fileBytes;  // at the start of the memory file
    uint64_t capacity;   // for the decoded image, from DecodedOffset(fileBytes) to the end of the memory file
};

struct DecodeReply {
    uint32_t decoded;
    uint32_t unused;
    DecodedImage image;
};

// Where the decoded image starts in the memory file, after the file's bytes.
uint64_t DecodedOffset(uint64_t fileBytes) { return (fileBytes + 4095) / 4096 * 4096; }

// How long a decode may take: a base for starting up, and a share per texel that the header makes the decoder
// produce, generous for DevIL's slowest path. CPU time of the decoder counts, so a loaded machine does not fail
// honest decodes; wall time is bounded too, for a decoder that waits instead of working.
constexpr int64_t kBaseCpuNanoseconds = 20'000'000;
constexpr int64_t kCpuNanosecondsPerTexel = 100;
constexpr int kWallTimesCpu = 4;
constexpr int64_t kWallExtraNanoseconds = 1'000'000'000;
// How much address space a decode may add beyond its memory file: DevIL's image with its levels, its working
// copies and the library's buffers.
constexpr uint64_t kBaseDecodeBytes = uint64_t(256) << 20;
constexpr uint64_t kDecodeBytesPerTexel = 32;
// The memory file keeps its pages between images up to this size, so that the next image's bytes need not be
// allocated afresh; a larger one is emptied after its image.
constexpr uint64_t kKeptSharedBytes = uint64_t(64) << 20;
// The first read of a file; more is read only when a JPEG's header lies further in.
constexpr size_t kHeadBytes = 64 * 1024;

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

uint32_t Channels(uint32_t format)
{
    switch (format) {
    case IL_COLOUR_INDEX:
    case IL_ALPHA:
    case IL_LUMINANCE:
        return 1;
    case IL_LUMINANCE_ALPHA:
        return 2;
    case IL_RGB:
    case IL_BGR:
        return 3;
    case IL_RGBA:
    case IL_BGRA:
        return 4;
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

using Clock = WorkerClock;

// Reads size bytes of the open file into at.
bool ReadInto(int fd, uint8_t* at, uint64_t size)
{
    while (size > 0) {
        const ssize_t got = read(fd, at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<uint64_t>(got);
    }
    return true;
}

uint8_t* MapShared(int shared, uint64_t size)
{
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, shared, 0);
    return mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
}

// [SECTION] The decoder process

void DecodeOne(DecodeFunction decode, const DecodeRequest& request, int channel, int shared)
{
    DecodeReply reply{};
    const uint64_t offset = DecodedOffset(request.fileBytes);
    uint8_t* mapped = MapShared(shared, offset + request.capacity);
    if (mapped == nullptr)
        _exit(0);
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    const uint8_t* pixels = nullptr;
    const uint8_t* palette = nullptr;
    reply.decoded =
        decode(static_cast<ImageFormat>(request.format), mapped, request.fileBytes, reply.image, pixels, palette);
    const DecodedImage& image = reply.image;
    if (reply.decoded && image.dataBytes <= request.capacity &&
        image.paletteBytes <= request.capacity - image.dataBytes) {
        std::memcpy(mapped + offset, pixels, image.dataBytes);
        if (image.paletteBytes != 0)
            std::memcpy(mapped + offset + image.dataBytes, palette, image.paletteBytes);
    }
    ilDeleteImages(1, &name);
    munmap(mapped, offset + request.capacity);
    if (!WriteFully(channel, &reply, sizeof reply) || !reply.decoded)
        _exit(0);
}

// The decoder's life: one request, one reply, until this process closes its end or a decode fails.
void ServeDecodes(DecodeFunction decode, int channel, int shared)
{
    for (;;) {
        DecodeRequest request;
        if (!ReadFully(channel, &request, sizeof request))
            return;
        DecodeOne(decode, request, channel, shared);
    }
}

// [SECTION] The viewer's side

struct Decoder {
    DecodeFunction decode = nullptr;  // set from StartImageDecoder to StopImageDecoder
    WorkerProcess process;
    int shared = -1;  // the memory file
};

Decoder decoder;

void EndProcess()
{
    decoder.process.Stop();
    if (decoder.shared >= 0)
        close(decoder.shared);
    decoder.shared = -1;
}

bool StartProcess()
{
    EndProcess();
    decoder.shared = memfd_create("velmora-decoded-image", MFD_CLOEXEC);
    if (decoder.shared < 0)
        return false;
    const DecodeFunction decode = decoder.decode;
    const int shared = decoder.shared;
    if (decoder.process.Start("velmora-decode", WorkerSandbox{shared, false, false},
                              [decode, shared](int channel) { ServeDecodes(decode, channel, shared); })) {
        EndProcess();
        return false;
    }
    return true;
}

ImageFailure FailureOf(const WorkerError& error)
{
    switch (error.reason) {
    case WorkerFailure::None:
        return ImageFailure::None;
    case WorkerFailure::NotStarted:
        return ImageFailure::NoDecoder;
    case WorkerFailure::SandboxViolation:
        return ImageFailure::SandboxViolation;
    case WorkerFailure::TimedOut:
        return ImageFailure::TimedOut;
    default:
        return ImageFailure::DecoderCrashed;
    }
}

int64_t CpuNanoseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Bounds what the next decode may take: its CPU time from now, and the address space it may add.
void LimitDecode(int64_t cpuUsed, int64_t cpuBudget, uint64_t addressSpace)
{
    decoder.process.Limit(RLIMIT_CPU, static_cast<uint64_t>((cpuUsed + cpuBudget) / 1'000'000'000 + 2));
    const uint64_t now = decoder.process.AddressSpaceBytes();
    if (now != 0)
        decoder.process.Limit(RLIMIT_AS, now + addressSpace);
}

// Waits for the decoder's answer until its CPU time passes the budget or the wall clock the deadline.
ImageFailure AwaitReply(DecodeReply& reply, clockid_t cpu, int64_t cpuLimit, Clock::time_point deadline)
{
    const auto cpuWatch = [cpu, cpuLimit] {
        return CpuNanoseconds(cpu) >= cpuLimit ? WorkerError{WorkerFailure::TimedOut, "used up its CPU time"}
                                               : WorkerError{};
    };
    WorkerError error = decoder.process.AwaitAnswer(deadline, cpuWatch);
    if (!error)
        error = decoder.process.Receive(&reply, sizeof reply, deadline);
    return FailureOf(error);
}

// Reads the file's head until its header can be judged.
ImageVerdict JudgeHead(int fd, uint64_t fileBytes, ImageFormat format, std::vector<uint8_t>& head, ImageHeader& header)
{
    ImageVerdict verdict = ImageVerdict::NeedMore;
    for (uint64_t want = kHeadBytes; verdict == ImageVerdict::NeedMore; want *= 2) {
        const size_t had = head.size();
        head.resize(static_cast<size_t>(std::min(want, fileBytes)));
        if (head.size() == had || !ReadInto(fd, head.data() + had, head.size() - had))
            return ImageVerdict::Refused;
        verdict = JudgeImage(format, head.data(), head.size(), fileBytes, header);
    }
    return verdict;
}

// Has the running decoder decode the judged file: its head is already read, the rest goes straight into the memory
// file, which is sized for this image alone.
ImageFailure DecodeInDecoder(int fd, uint64_t fileBytes, ImageFormat format, const std::vector<uint8_t>& head,
                             const ImageHeader& header, uint32_t maxTextureSize, Clock::time_point start)
{
    const uint64_t offset = DecodedOffset(fileBytes);
    const uint64_t sharedBytes = offset + header.decodedBytes;
    uint8_t* mapped = ftruncate(decoder.shared, static_cast<off_t>(sharedBytes)) == 0
                          ? MapShared(decoder.shared, sharedBytes)
                          : nullptr;
    if (mapped == nullptr) {
        ftruncate(decoder.shared, 0);
        return ImageFailure::NoDecoder;
    }
    std::memcpy(mapped, head.data(), head.size());
    ImageFailure failure =
        ReadInto(fd, mapped + head.size(), fileBytes - head.size()) ? ImageFailure::None : ImageFailure::Missing;

    const int64_t cpuBudget =
        kBaseCpuNanoseconds +
        static_cast<int64_t>(std::min<uint64_t>(header.texels, uint64_t(1) << 40)) * kCpuNanosecondsPerTexel;
    const Clock::time_point deadline =
        start + std::chrono::nanoseconds(cpuBudget * kWallTimesCpu + kWallExtraNanoseconds);
    // The decoder's CPU clock exists for as long as the process does.
    clockid_t cpu = CLOCK_MONOTONIC;
    if (failure == ImageFailure::None && clock_getcpuclockid(decoder.process.Pid(), &cpu) != 0)
        failure = ImageFailure::DecoderCrashed;
    const DecodeRequest request{static_cast<uint32_t>(format), 0, fileBytes, header.decodedBytes};
    DecodeReply reply{};
    if (failure == ImageFailure::None) {
        const int64_t cpuStart = CpuNanoseconds(cpu);
        LimitDecode(cpuStart, cpuBudget, kBaseDecodeBytes + 2 * sharedBytes + header.texels * kDecodeBytesPerTexel);
        const WorkerError sent = decoder.process.Send(&request, sizeof request, deadline);
        failure = sent ? FailureOf(sent) : AwaitReply(reply, cpu, cpuStart + cpuBudget, deadline);
    }
    if (failure == ImageFailure::None && !reply.decoded)
        failure = ImageFailure::DecodeFailed;
    if (failure == ImageFailure::None) {
        const uint8_t* pixels = mapped + offset;
        const uint8_t* palette =
            reply.image.dataBytes <= header.decodedBytes ? pixels + reply.image.dataBytes : nullptr;
        failure = AcceptDecodedImage(header, reply.image, pixels, palette, maxTextureSize);
    }
    munmap(mapped, sharedBytes);
    if (failure != ImageFailure::None && failure != ImageFailure::Missing)
        EndProcess();
    if (decoder.shared >= 0 && sharedBytes > kKeptSharedBytes)
        ftruncate(decoder.shared, 0);
    return failure;
}

// The format that the answer's pixels hold. DevIL describes a 16-bit grey TGA (type 3, 8 alpha bits) as
// IL_LUMINANCE at two bytes per pixel: its pixels hold grey and alpha, and read as luminance alone, every other
// byte would be taken for a pixel of its own (a striped image of twice the texels, half of them alpha).
uint32_t FormatOfPixels(const DecodedImage& image)
{
    const bool greyWithAlpha = image.format == IL_LUMINANCE && BytesPerChannel(image.type) != 0 &&
                               image.bytesPerPixel == 2 * BytesPerChannel(image.type);
    return greyWithAlpha ? IL_LUMINANCE_ALPHA : image.format;
}

// True when the description is that of the image the header declares, and consistent in itself.
bool AnswerIsSound(const ImageHeader& header, const DecodedImage& image, uint32_t maxTextureSize)
{
    const uint64_t bytesPerPixel = uint64_t(Channels(image.format)) * BytesPerChannel(image.type);
    if (bytesPerPixel == 0 || image.bytesPerPixel != bytesPerPixel || image.width != header.width ||
        image.height != header.height || image.depth != header.depth || image.width > maxTextureSize ||
        image.height > maxTextureSize)
        return false;
    if (image.dataBytes != uint64_t(image.width) * image.height * image.depth * bytesPerPixel ||
        image.dataBytes > header.decodedBytes || image.paletteBytes > header.decodedBytes - image.dataBytes)
        return false;
    if (image.origin != IL_ORIGIN_LOWER_LEFT && image.origin != IL_ORIGIN_UPPER_LEFT)
        return false;
    if (image.format != IL_COLOUR_INDEX)
        return image.paletteType == IL_PAL_NONE && image.paletteBytes == 0;
    // One byte per index: no palette needs more than 256 entries.
    const uint32_t entryBytes = PaletteEntryBytes(image.paletteType);
    return entryBytes != 0 && image.paletteBytes != 0 && image.paletteBytes % entryBytes == 0 &&
           image.paletteBytes <= 256u * entryBytes;
}

}  // namespace

bool DecodeWithLibrary(ImageFormat format, const uint8_t* file, uint64_t fileBytes, DecodedImage& image,
                       const uint8_t*& pixels, const uint8_t*& palette)
{
    if (!ilLoadL(LibraryType(format), file, static_cast<ILuint>(fileBytes)))
        return false;
    image.width = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_WIDTH));
    image.height = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_HEIGHT));
    image.depth = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_DEPTH));
    image.bytesPerPixel = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL));
    image.format = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_FORMAT));
    image.type = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_TYPE));
    image.origin = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_ORIGIN));
    image.dataBytes = static_cast<uint64_t>(ilGetInteger(IL_IMAGE_SIZE_OF_DATA));
    pixels = ilGetData();
    const bool indexed = image.format == IL_COLOUR_INDEX && ilGetPalette() != nullptr;
    image.paletteType = static_cast<uint32_t>(indexed ? ilGetInteger(IL_PALETTE_TYPE) : IL_PAL_NONE);
    image.paletteBytes = indexed ? static_cast<uint64_t>(ilGetInteger(IL_PALETTE_NUM_COLS)) *
                                       static_cast<uint64_t>(ilGetInteger(IL_PALETTE_BPP))
                                 : 0;
    palette = indexed ? ilGetPalette() : nullptr;
    return true;
}

bool StartImageDecoder(DecodeFunction decode)
{
    StopImageDecoder();
    decoder.decode = decode;
    return StartProcess();
}

void StopImageDecoder()
{
    EndProcess();
    decoder.decode = nullptr;
}

int ImageDecoderProcessId() { return decoder.process.Running() ? decoder.process.Pid() : -1; }

ImageFailure LoadImageGuarded(const std::string& path, ImageFormat format, uint32_t maxTextureSize)
{
    const Clock::time_point start = Clock::now();
    uint64_t fileBytes = 0;
    const int fd = OpenRegularFile(path.c_str(), &fileBytes);
    if (fd < 0)
        return ImageFailure::Missing;
    std::vector<uint8_t> head;
    ImageHeader header;
    ImageFailure failure = ImageFailure::None;
    if (fileBytes == 0 || fileBytes >= kImageSizeLimit ||
        JudgeHead(fd, fileBytes, format, head, header) != ImageVerdict::Sound || header.width > maxTextureSize ||
        header.height > maxTextureSize)
        failure = ImageFailure::Refused;
    else if (decoder.decode == nullptr || (!decoder.process.Running() && !StartProcess()))
        failure = ImageFailure::NoDecoder;
    else
        failure = DecodeInDecoder(fd, fileBytes, format, head, header, maxTextureSize, start);
    close(fd);
    return failure;
}

ImageFailure AcceptDecodedImage(const ImageHeader& header, const DecodedImage& answer, const uint8_t* pixels,
                                const uint8_t* palette, uint32_t maxTextureSize)
{
    DecodedImage image = answer;
    image.format = FormatOfPixels(answer);
    if (!AnswerIsSound(header, image, maxTextureSize))
        return ImageFailure::AnswerRefused;
    // ilTexImage takes channels, not bytes per pixel: with wider channels the bytes per pixel would read past the data.
    if (!ilTexImage(image.width, image.height, image.depth, static_cast<ILubyte>(Channels(image.format)), image.format,
                    image.type, const_cast<uint8_t*>(pixels)))
        return ImageFailure::AnswerRefused;
    ilRegisterOrigin(image.origin);
    if (image.format != IL_COLOUR_INDEX)
        return ImageFailure::None;
    ilRegisterPal(const_cast<uint8_t*>(palette), static_cast<ILuint>(image.paletteBytes), image.paletteType);
    // The GL upload looks every index up in the palette; the check runs on this process's own copy.
    const uint8_t* indices = ilGetData();
    const uint64_t entries = image.paletteBytes / PaletteEntryBytes(image.paletteType);
    return std::none_of(indices, indices + image.dataBytes, [entries](uint8_t i) { return i >= entries; })
               ? ImageFailure::None
               : ImageFailure::PaletteRefused;
}
