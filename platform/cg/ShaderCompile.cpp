// Shader files are user input, and the compilers behind them (glslang, SPIRV-Cross, the GL driver) recurse, expand
// macros and allocate without bounds. So compiles run in a process of their own, forked on first use and kept for
// the next ones, each on a thread with a large stack, while this process waits at most kShaderCompileMilliseconds
// for the answer and watches the compiler's memory. A compiler that crashes, stalls, grows or throws is killed (or
// ends itself) and the next compile forks a new one. The compilers' built-in tables are built here once before the
// first fork, so every compiler process starts with them.

#include "ShaderCompile.h"

#include "GlslCheck.h"
#include "SourceText.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// [SECTION] The GLSL prologue

// Offset of "#version" when it is the first thing in the file after white space and comments, else npos.
std::size_t VersionDirective(const std::string& source)
{
    std::size_t at = SkipBlankAndComments(source, 0);
    return at < source.size() && source.compare(at, 8, "#version") == 0 ? at : std::string::npos;
}

// The #line that makes the next line count as line: before GLSL 3.30 the directive names the line before it.
std::string LineDirective(const char* versionDirective, int line)
{
    int version = 110;
    std::sscanf(versionDirective, "#version %d", &version);
    return "#line " + std::to_string(version >= 330 ? line : line - 1) + "\n";
}

// The GLSL file with the stage macro and the entry point renamed to main, inserted after the #version line at
// offset version; a #line keeps the driver's messages on the file's own line numbers.
std::string WithPrologue(const std::string& source, std::size_t version, bool vertexStage, const std::string& entry)
{
    std::string prologue = vertexStage ? "#define CG_VERTEX_PROGRAM 1\n" : "#define CG_FRAGMENT_PROGRAM 1\n";
    if (entry != "main")
        prologue += "#define " + entry + " main\n";

    std::size_t lineEnd = source.find('\n', version);
    if (lineEnd == std::string::npos)
        return source + "\n" + prologue;
    std::size_t split = lineEnd + 1;
    int linesBefore = 0;
    for (std::size_t i = 0; i < split; ++i)
        linesBefore += source[i] == '\n';
    return source.substr(0, split) + prologue + LineDirective(source.c_str() + version, linesBefore + 1) +
           source.substr(split);
}

// The compile itself, as the child runs it.
ShaderText CompileHere(const std::string& source, const std::string& fileName, bool vertexStage,
                       const std::string& entry)
{
    ShaderText text;
    std::size_t version = VersionDirective(source);
    text.isCg = version == std::string::npos;
    if (!text.isCg) {
        text.glsl = WithPrologue(source, version, vertexStage, entry);
        text.listing = CheckGlsl(text.glsl, fileName, vertexStage);
        text.compiled = text.listing.empty();
        return text;
    }
    CgTranslation translation = TranslateCg(source, fileName, vertexStage, entry);
    text.compiled = translation.compiled;
    text.glsl = std::move(translation.glsl);
    text.listing = std::move(translation.listing);
    text.parameters = std::move(translation.parameters);
    text.matricesByRows = translation.matricesByRows;
    return text;
}

// [SECTION] The result on the wire: flags, then strings as a 64-bit length and the bytes.

void PutString(std::string& wire, const std::string& text)
{
    std::uint64_t size = text.size();
    wire.append(reinterpret_cast<const char*>(&size), sizeof size);
    wire += text;
}

std::string Encode(const ShaderText& text)
{
    std::string wire;
    wire += static_cast<char>(text.compiled);
    wire += static_cast<char>(text.isCg);
    wire += static_cast<char>(text.matricesByRows);
    PutString(wire, text.glsl);
    PutString(wire, text.listing);
    PutString(wire, std::to_string(text.parameters.size()));
    for (const CgDeclaredParameter& parameter : text.parameters) {
        PutString(wire, parameter.name);
        PutString(wire, parameter.glslName);
    }
    return wire;
}

bool GetString(const std::string& wire, std::size_t& at, std::string& text)
{
    std::uint64_t size = 0;
    if (wire.size() - at < sizeof size)
        return false;
    std::memcpy(&size, wire.data() + at, sizeof size);
    at += sizeof size;
    if (wire.size() - at < size)
        return false;
    text = wire.substr(at, size);
    at += size;
    return true;
}

bool Decode(const std::string& wire, ShaderText& text)
{
    if (wire.size() < 3)
        return false;
    text.compiled = wire[0] != 0;
    text.isCg = wire[1] != 0;
    text.matricesByRows = wire[2] != 0;
    std::size_t at = 3;
    std::string count;
    if (!GetString(wire, at, text.glsl) || !GetString(wire, at, text.listing) || !GetString(wire, at, count))
        return false;
    char* end = nullptr;
    unsigned long long parameters = std::strtoull(count.c_str(), &end, 10);
    if (end == count.c_str() || *end != '\0' || parameters > wire.size())
        return false;
    for (unsigned long long i = 0; i < parameters; ++i) {
        CgDeclaredParameter parameter;
        if (!GetString(wire, at, parameter.name) || !GetString(wire, at, parameter.glslName))
            return false;
        text.parameters.push_back(std::move(parameter));
    }
    return at == wire.size();
}

// [SECTION] The compiler process

struct Request {
    std::string source;
    std::string fileName;
    std::string entry;
    bool vertexStage = false;
    std::string reply;  // a health byte, then the encoded ShaderText
};

void* RunRequest(void* argument)
{
    Request& request = *static_cast<Request*>(argument);
    ShaderText text;
    bool healthy = true;
    try {
        text = CompileHere(request.source, request.fileName, request.vertexStage, request.entry);
    } catch (const std::bad_alloc&) {
        text = ShaderText();
        text.listing = request.fileName + ": the compile ran out of memory\n";
        healthy = false;
    } catch (...) {
        text = ShaderText();
        text.listing = request.fileName + ": the compiler failed on this file\n";
        healthy = false;
    }
    request.reply = std::string(1, static_cast<char>(healthy)) + Encode(text);
    return nullptr;
}

bool ReadAll(int fd, void* data, std::size_t size)
{
    char* at = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = read(fd, at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        at += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool WriteFrame(int fd, const std::string& frame)
{
    std::uint64_t size = frame.size();
    return WriteAll(fd, &size, sizeof size) && WriteAll(fd, frame.data(), frame.size());
}

// Deep but legal nesting must not overflow the compilers' recursion; NestingProblem's bounds keep it far below.
constexpr std::size_t kCompileStackBytes = std::size_t(512) << 20;

// The compiler process: one request, one reply, until the viewer closes its end or a compile leaves the
// compilers in doubt (an exception inside them).
[[noreturn]] void ServeCompiles(int channel)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_NAME, "velmora-compile");
    // The viewer's display connection and files stay the viewer's.
    if (channel > 3)
        close_range(3, static_cast<unsigned>(channel) - 1, 0);
    close_range(static_cast<unsigned>(channel) + 1, ~0u, 0);
    for (;;) {
        std::uint64_t size = 0;
        if (!ReadAll(channel, &size, sizeof size) || size > static_cast<std::uint64_t>(2 * kShaderFileBytes))
            _exit(0);
        std::string frame(size, '\0');
        Request request;
        std::size_t at = 0;
        std::string stage;
        if (!ReadAll(channel, frame.data(), frame.size()) || !GetString(frame, at, request.source) ||
            !GetString(frame, at, request.fileName) || !GetString(frame, at, request.entry) ||
            !GetString(frame, at, stage))
            _exit(0);
        request.vertexStage = stage == "vertex";
        pthread_attr_t attributes;
        pthread_t thread;
        if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, kCompileStackBytes) != 0 ||
            pthread_create(&thread, &attributes, RunRequest, &request) != 0 || pthread_join(thread, nullptr) != 0)
            _exit(1);
        pthread_attr_destroy(&attributes);
        if (!WriteFrame(channel, request.reply) || request.reply[0] == 0)
            _exit(0);
    }
}

// [SECTION] The viewer's side

using Clock = std::chrono::steady_clock;

long long ResidentBytes(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
    std::FILE* statm = std::fopen(path, "r");
    if (statm == nullptr)
        return 0;
    long long size = 0;
    long long resident = 0;
    int read = std::fscanf(statm, "%lld %lld", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * sysconf(_SC_PAGESIZE) : 0;
}

// The compiler process, forked on first use and kept for the next compiles; replaced after any failure of its
// own. Its memory is counted from what it shares with this process when it starts.
struct CompilerProcess {
    pid_t pid = -1;
    int channel = -1;
    long long startResident = 0;
};

CompilerProcess compiler;

// Ends the compiler process; its wait status, or 0 when there was none.
int StopCompiler()
{
    if (compiler.pid <= 0)
        return 0;
    close(compiler.channel);
    kill(compiler.pid, SIGKILL);
    int status = 0;
    while (waitpid(compiler.pid, &status, 0) < 0 && errno == EINTR) {
    }
    compiler = CompilerProcess();
    return status;
}

bool StartCompiler()
{
    // A socket rather than a pipe: a send to a dead compiler fails without raising SIGPIPE here.
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
        return false;
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        ServeCompiles(channel[1]);
    }
    close(channel[1]);
    if (child < 0) {
        close(channel[0]);
        return false;
    }
    compiler = CompilerProcess{child, channel[0], ResidentBytes(child)};
    return true;
}

// Reads one reply frame; empty reason when it came, else why the wait ended (the compiler is then stopped).
std::string ReadReply(std::string& reply)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kShaderCompileMilliseconds);
    std::string received;
    std::uint64_t size = 0;
    char buffer[65536];
    for (;;) {
        if (received.size() >= sizeof size) {
            std::memcpy(&size, received.data(), sizeof size);
            if (size > static_cast<std::uint64_t>(16 * kShaderFileBytes)) {
                StopCompiler();
                return "the compiler's answer is too long";
            }
            if (received.size() - sizeof size >= size) {
                reply = received.substr(sizeof size, size);
                return std::string();
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            StopCompiler();
            return "the compile took longer than " + std::to_string(kShaderCompileMilliseconds / 1000) +
                   " s and was abandoned";
        }
        pollfd ready{compiler.channel, POLLIN, 0};
        // Short waits, so that a compiler growing without bound is seen before it takes the machine's memory.
        int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, 20)));
        if (polled > 0) {
            ssize_t got = recv(compiler.channel, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                int status = StopCompiler();
                return WIFSIGNALED(status) ? "the compiler crashed on this file (signal " +
                                                 std::to_string(WTERMSIG(status)) + ")"
                                           : "the compiler ended without an answer";
            }
            if (got > 0)
                received.append(buffer, static_cast<std::size_t>(got));
        }
        if (ResidentBytes(compiler.pid) - compiler.startResident > kShaderCompileMemoryBytes) {
            StopCompiler();
            return "the compile used more than " + std::to_string(kShaderCompileMemoryBytes >> 30) +
                   " GiB of memory and was abandoned";
        }
    }
}

// The built-in tables of both stages, built here once so that every compiler process inherits them.
void WarmUp()
{
    static const bool warm = [] {
        TranslateCg("float4 main() : COLOR { return 0; }", "warm-up", false, "main");
        TranslateCg("float4 main() : POSITION { return 0; }", "warm-up", true, "main");
        return true;
    }();
    (void)warm;
}

}  // namespace

bool ReadShaderFile(const std::string& path, std::string& text, std::string& problem)
{
    // Without blocking, so that opening a FIFO or a device returns at once and fstat can refuse it.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        problem = "cannot read file " + path;
        return false;
    }
    struct stat file;
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) {
        close(fd);
        problem = path + " is not a regular file";
        return false;
    }
    if (file.st_size > kShaderFileBytes) {
        close(fd);
        problem = path + " is larger than " + std::to_string(kShaderFileBytes >> 20) + " MiB";
        return false;
    }
    text.assign(static_cast<std::size_t>(file.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        ssize_t n = read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    text.resize(got);
    return true;
}

ShaderText CompileShaderText(const std::string& source, const std::string& fileName, bool vertexStage,
                             const std::string& entry, const ShaderCompileOptions& /*options*/)
{
    WarmUp();
    std::string frame;
    PutString(frame, source);
    PutString(frame, fileName);
    PutString(frame, entry);
    PutString(frame, vertexStage ? "vertex" : "fragment");
    ShaderText text;
    // A compiler process that ended since the last compile is replaced once.
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (compiler.pid <= 0 && !StartCompiler())
            break;
        sent = WriteFrame(compiler.channel, frame);
        if (!sent)
            StopCompiler();
    }
    std::string reply;
    std::string stopped = sent ? ReadReply(reply) : "the compiler could not be started";
    if (stopped.empty() && (reply.empty() || !Decode(reply.substr(1), text))) {
        StopCompiler();
        stopped = "the compiler sent an answer that does not parse";
    }
    if (stopped.empty() && reply[0] == 0)
        StopCompiler();
    if (!stopped.empty()) {
        text = ShaderText();
        text.listing = fileName + ": " + stopped + "\n";
    }
    return text;
}
