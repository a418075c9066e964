// The guarded load: files judged here, decoded in a sandboxed process of their own.
#include "ImageDecoder.h"

#include "RegularFile.h"

#include <IL/il.h>
#include <seccomp.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
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

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, 1 << 30)) + 1;
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
        if (moved < 0 && (errno == EAGAIN || errno == EINTR))
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

void DecodeOne(DecodeFunction decode, const DecodeRequest& request, int replies, int shared)
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
    reply.decoded = decode(static_cast<ImageFormat>(request.format), mapped, request.fileBytes, reply.image, pixels,
                           palette);
    const DecodedImage& image = reply.image;
    if (reply.decoded && image.dataBytes <= request.capacity &&
        image.paletteBytes <= request.capacity - image.dataBytes) {
        std::memcpy(mapped + offset, pixels, image.dataBytes);
        if (image.paletteBytes != 0)
            std::memcpy(mapped + offset + image.dataBytes, palette, image.paletteBytes);
    }
    ilDeleteImages(1, &name);
    munmap(mapped, offset + request.capacity);
    if (!Send(replies, &reply, sizeof reply) || !reply.decoded)
        _exit(0);
}

// In the decoder: closes every inherited descriptor but the standard streams and its own three, and ends the
// decoder with the viewer. An inherited display connection would otherwise keep the viewer's window on screen for
// as long as the decoder outlives the viewer.
void KeepOnlyDecoderDescriptors(std::array<int, 3> keep)
{
    std::sort(keep.begin(), keep.end());
    unsigned first = 3;
    for (const int fd : keep) {
        if (static_cast<unsigned>(fd) > first)
            close_range(first, static_cast<unsigned>(fd) - 1, 0);
        first = std::max(first, static_cast<unsigned>(fd) + 1);
    }
    close_range(first, ~0u, 0);
}

// The decoder's seccomp filter: reads on its request socket, writes on its reply socket (writes elsewhere, such as
// a library's warning on standard error, fail quietly), memory management without executable pages that maps no
// file but the memory file, its own abort and signal stack (which sanitizer runtimes touch on the way out), and
// exit. Anything else (open, exec, sockets, ...) stops the process with SIGSYS.
bool EnterSandbox(int requests, int replies, int shared)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr)
        return false;
    const auto on = [](int fd) { return scmp_arg_cmp{0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd), 0}; };
    const auto notOn = [](int fd) { return scmp_arg_cmp{0, SCMP_CMP_NE, static_cast<scmp_datum_t>(fd), 0}; };
    const scmp_arg_cmp self{0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(getpid()), 0};
    const scmp_arg_cmp noExec{2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0};
    // The low 32 bits of mmap's descriptor: -1 for anonymous memory, or the memory file.
    const auto mapsFrom = [](int fd) {
        return scmp_arg_cmp{4, SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, static_cast<uint32_t>(fd)};
    };
    bool built = true;
    for (const int call : {SCMP_SYS(read), SCMP_SYS(recvfrom), SCMP_SYS(recvmsg)})
        built = built && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, on(requests)) == 0;
    for (const int call : {SCMP_SYS(write), SCMP_SYS(sendto), SCMP_SYS(sendmsg)})
        built = built && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, on(replies)) == 0;
    for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)})
        built = built && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EBADF), call, 1, notOn(replies)) == 0;
    for (const int fd : {-1, shared})
        built = built && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mmap), 2, noExec, mapsFrom(fd)) == 0;
    built = built && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mprotect), 1, noExec) == 0 &&
            seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1, self) == 0;
    for (const int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(futex),
                           SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack), SCMP_SYS(getpid),
                           SCMP_SYS(gettid), SCMP_SYS(clock_gettime), SCMP_SYS(exit), SCMP_SYS(exit_group)})
        built = built && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
    built = built && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return built;
}

// The decoder's life: one request, one reply, until this process closes its end or a decode fails.
[[noreturn]] void RunDecoder(DecodeFunction decode, pid_t viewer, int requests, int replies, int shared)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != viewer)
        _exit(0);
    prctl(PR_SET_NAME, "velmora-decode");
    KeepOnlyDecoderDescriptors({requests, replies, shared});
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (!EnterSandbox(requests, replies, shared))
        _exit(0);
    for (;;) {
        DecodeRequest request;
        if (!Transfer(requests, false, &request, sizeof request))
            _exit(0);
        DecodeOne(decode, request, replies, shared);
    }
}

// [SECTION] The viewer's side

struct Decoder {
    DecodeFunction decode = nullptr;  // set from StartImageDecoder to StopImageDecoder
    pid_t pid = -1;
    int requests = -1;  // written by this process
    int replies = -1;   // read by this process
    int shared = -1;    // the memory file
};

Decoder decoder;

// Kills the decoder process and reaps it; its wait status, or 0 when none ran.
int EndProcess()
{
    if (decoder.pid <= 0)
        return 0;
    close(decoder.requests);
    close(decoder.replies);
    close(decoder.shared);
    kill(decoder.pid, SIGKILL);
    int status = 0;
    while (waitpid(decoder.pid, &status, 0) < 0 && errno == EINTR) {
    }
    decoder.pid = decoder.requests = decoder.replies = decoder.shared = -1;
    return status;
}

bool StartProcess()
{
    // Sockets rather than pipes: a send to a dead decoder fails without raising SIGPIPE here.
    int requests[2], replies[2];
    const int shared = memfd_create("velmora-decoded-image", MFD_CLOEXEC);
    if (shared < 0)
        return false;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requests) != 0) {
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
    const pid_t viewer = getpid();
    const pid_t child = fork();
    if (child == 0)
        RunDecoder(decoder.decode, viewer, requests[0], replies[1], shared);
    close(requests[0]);
    close(replies[1]);
    if (child < 0) {
        close(requests[1]);
        close(replies[0]);
        close(shared);
        return false;
    }
    decoder.pid = child;
    decoder.requests = requests[1];
    decoder.replies = replies[0];
    decoder.shared = shared;
    return true;
}

// Why the decoder ended, from its wait status.
ImageFailure EndReason(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS ? ImageFailure::SandboxViolation
                                                              : ImageFailure::DecoderCrashed;
}

int64_t CpuNanoseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The decoder's address space now, from /proc; 0 when unknown.
uint64_t AddressSpaceBytes(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
    std::FILE* statm = std::fopen(path, "re");
    unsigned long long pages = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// Bounds what the next decode may take: its CPU time from now, and the address space it may add.
void LimitDecode(int64_t cpuUsed, int64_t cpuBudget, uint64_t addressSpace)
{
    const rlimit cpu{static_cast<rlim_t>((cpuUsed + cpuBudget) / 1'000'000'000 + 2), RLIM_INFINITY};
    prlimit(decoder.pid, RLIMIT_CPU, &cpu, nullptr);
    const uint64_t now = AddressSpaceBytes(decoder.pid);
    if (now != 0) {
        const rlimit memory{static_cast<rlim_t>(now + addressSpace), RLIM_INFINITY};
        prlimit(decoder.pid, RLIMIT_AS, &memory, nullptr);
    }
}

// Waits for the decoder's answer until its CPU time passes the budget or the wall clock the deadline.
ImageFailure AwaitReply(DecodeReply& reply, clockid_t cpu, int64_t cpuLimit, Clock::time_point deadline)
{
    for (;;) {
        // A single-threaded decoder spends no more CPU time than wall time, so waiting for the CPU time left
        // cannot overshoot the budget.
        const int64_t cpuLeft = cpuLimit - CpuNanoseconds(cpu);
        const int wallLeft = MillisecondsLeft(deadline);
        if (cpuLeft <= 0 || wallLeft == 0)
            return ImageFailure::TimedOut;
        pollfd ready{decoder.replies, POLLIN, 0};
        const int waited = poll(&ready, 1, std::min<int64_t>(wallLeft, cpuLeft / 1'000'000 + 1));
        if (waited < 0 && errno != EINTR)
            return ImageFailure::DecoderCrashed;
        if (waited > 0)
            break;
    }
    if (!Transfer(decoder.replies, false, &reply, sizeof reply, &deadline))
        return ImageFailure::DecoderCrashed;
    return ImageFailure::None;
}

// Reads the file's head until its header can be judged.
ImageVerdict JudgeHead(int fd, uint64_t fileBytes, ImageFormat format, std::vector<uint8_t>& head,
                       ImageHeader& header)
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
    uint8_t* mapped =
        ftruncate(decoder.shared, static_cast<off_t>(sharedBytes)) == 0 ? MapShared(decoder.shared, sharedBytes) : nullptr;
    if (mapped == nullptr) {
        ftruncate(decoder.shared, 0);
        return ImageFailure::NoDecoder;
    }
    std::memcpy(mapped, head.data(), head.size());
    ImageFailure failure = ReadInto(fd, mapped + head.size(), fileBytes - head.size()) ? ImageFailure::None
                                                                                         : ImageFailure::Missing;

    const int64_t cpuBudget =
        kBaseCpuNanoseconds + static_cast<int64_t>(std::min<uint64_t>(header.texels, uint64_t(1) << 40)) *
                                  kCpuNanosecondsPerTexel;
    const Clock::time_point deadline = start + std::chrono::nanoseconds(cpuBudget * kWallTimesCpu +
                                                                        kWallExtraNanoseconds);
    // The decoder's CPU clock exists for as long as the process does.
    clockid_t cpu = CLOCK_MONOTONIC;
    if (failure == ImageFailure::None && clock_getcpuclockid(decoder.pid, &cpu) != 0)
        failure = ImageFailure::DecoderCrashed;
    const DecodeRequest request{static_cast<uint32_t>(format), 0, fileBytes, header.decodedBytes};
    DecodeReply reply{};
    if (failure == ImageFailure::None) {
        const int64_t cpuStart = CpuNanoseconds(cpu);
        LimitDecode(cpuStart, cpuBudget, kBaseDecodeBytes + 2 * sharedBytes + header.texels * kDecodeBytesPerTexel);
        failure = Send(decoder.requests, &request, sizeof request, &deadline)
                      ? AwaitReply(reply, cpu, cpuStart + cpuBudget, deadline)
                      : ImageFailure::DecoderCrashed;
    }
    if (failure == ImageFailure::None && !reply.decoded)
        failure = ImageFailure::DecodeFailed;
    if (failure == ImageFailure::None) {
        const uint8_t* pixels = mapped + offset;
        const uint8_t* palette = reply.image.dataBytes <= header.decodedBytes ? pixels + reply.image.dataBytes : nullptr;
        failure = AcceptDecodedImage(header, reply.image, pixels, palette, maxTextureSize);
    }
    munmap(mapped, sharedBytes);
    if (failure == ImageFailure::DecoderCrashed)
        failure = EndReason(EndProcess());
    else if (failure != ImageFailure::None && failure != ImageFailure::Missing)
        EndProcess();
    if (decoder.shared >= 0 && sharedBytes > kKeptSharedBytes)
        ftruncate(decoder.shared, 0);
    return failure;
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

int ImageDecoderProcessId() { return decoder.pid; }

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
    else if (decoder.decode == nullptr || (decoder.pid <= 0 && !StartProcess()))
        failure = ImageFailure::NoDecoder;
    else
        failure = DecodeInDecoder(fd, fileBytes, format, head, header, maxTextureSize, start);
    close(fd);
    return failure;
}

ImageFailure AcceptDecodedImage(const ImageHeader& header, const DecodedImage& image, const uint8_t* pixels,
                                const uint8_t* palette, uint32_t maxTextureSize)
{
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
