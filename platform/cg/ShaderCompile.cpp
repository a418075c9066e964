// Shader files are user input, and the compilers behind them (glslang, SPIRV-Cross, the GL driver) recurse, expand
// macros and allocate without bounds. So each compile runs in a child process forked for it, on a thread with a
// large stack, while this process waits at most kShaderCompileMilliseconds and watches the child's memory. The
// child hands back its result through a pipe; a child that crashes, stalls or grows is killed and its compile
// reported as failed. Forking keeps the compilers' built-in tables, which this process builds once, so a compile
// costs a fork and the compile itself.

#include "ShaderCompile.h"

#include "GlslCheck.h"
#include "SourceText.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    if (wire.size() < 2)
        return false;
    text.compiled = wire[0] != 0;
    text.isCg = wire[1] != 0;
    std::size_t at = 2;
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

// [SECTION] The child

struct Job {
    const std::string* source;
    const std::string* fileName;
    bool vertexStage;
    const std::string* entry;
    std::string wire;
};

void* RunJob(void* argument)
{
    Job& job = *static_cast<Job*>(argument);
    ShaderText text;
    try {
        text = CompileHere(*job.source, *job.fileName, job.vertexStage, *job.entry);
    } catch (const std::bad_alloc&) {
        text = ShaderText();
        text.listing = *job.fileName + ": the compile ran out of memory\n";
    } catch (...) {
        text = ShaderText();
        text.listing = *job.fileName + ": the compiler failed on this file\n";
    }
    job.wire = Encode(text);
    return nullptr;
}

// Deep but legal nesting must not overflow the compilers' recursion; the limits of CheckNesting keep it far below.
constexpr std::size_t kChildStackBytes = std::size_t(512) << 20;

[[noreturn]] void ServeInChild(Job& job, int out)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The viewer's display connection and files stay the viewer's.
    if (out > 3)
        close_range(3, static_cast<unsigned>(out) - 1, 0);
    close_range(static_cast<unsigned>(out) + 1, ~0u, 0);
    pthread_attr_t attributes;
    pthread_t thread;
    if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, kChildStackBytes) != 0 ||
        pthread_create(&thread, &attributes, RunJob, &job) != 0 || pthread_join(thread, nullptr) != 0)
        _exit(1);
    const char* at = job.wire.data();
    std::size_t left = job.wire.size();
    while (left > 0) {
        ssize_t written = write(out, at, left);
        if (written <= 0)
            _exit(1);
        at += written;
        left -= static_cast<std::size_t>(written);
    }
    _exit(0);
}

// [SECTION] Waiting for the child

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

// Reads the child's answer until it closes the pipe; empty reason when it did, else why the wait ended.
std::string Collect(pid_t child, int in, std::string& wire)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kShaderCompileMilliseconds);
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return "the compile took longer than " + std::to_string(kShaderCompileMilliseconds / 1000) +
                   " s and was abandoned";
        pollfd ready{in, POLLIN, 0};
        // Short waits, so that a child growing without bound is seen before it takes the machine's memory.
        int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, 20)));
        if (polled < 0 && errno != EINTR)
            return "the compiler could not be waited for";
        if (polled > 0) {
            ssize_t got = read(in, buffer, sizeof buffer);
            if (got == 0)
                return std::string();
            if (got < 0 && errno != EINTR && errno != EAGAIN)
                return "the compiler's answer could not be read";
            if (got > 0)
                wire.append(buffer, static_cast<std::size_t>(got));
            if (wire.size() > static_cast<std::size_t>(4 * kShaderFileBytes + (64 << 20)))
                return "the compiler's answer is too long";
        }
        if (ResidentBytes(child) > kShaderCompileMemoryBytes)
            return "the compile used more than " + std::to_string(kShaderCompileMemoryBytes >> 30) +
                   " GiB of memory and was abandoned";
    }
}

// The built-in tables of both stages, built here once so that every child inherits them.
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
                             const std::string& entry)
{
    WarmUp();
    ShaderText text;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        text.listing = fileName + ": the compiler could not be started\n";
        return text;
    }
    Job job{&source, &fileName, vertexStage, &entry, std::string()};
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        ServeInChild(job, pipeEnds[1]);
    }
    close(pipeEnds[1]);
    if (child < 0) {
        close(pipeEnds[0]);
        text.listing = fileName + ": the compiler could not be started\n";
        return text;
    }
    std::string wire;
    std::string stopped = Collect(child, pipeEnds[0], wire);
    close(pipeEnds[0]);
    if (!stopped.empty())
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (stopped.empty() && WIFSIGNALED(status))
        stopped = "the compiler crashed on this file (signal " + std::to_string(WTERMSIG(status)) + ")";
    else if (stopped.empty() && (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !Decode(wire, text)))
        stopped = "the compiler ended without an answer";
    if (!stopped.empty()) {
        text = ShaderText();
        text.listing = fileName + ": " + stopped + "\n";
    }
    return text;
}
