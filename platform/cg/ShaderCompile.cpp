// Shader files are user input, and the compilers behind them (glslang, SPIRV-Cross, the GL driver) recurse, expand
// macros and allocate without bounds. So compiles run in a process of their own (a WorkerProcess, sandboxed to read
// files and nothing else), forked on first use and kept for the next ones, each on a thread with a large stack,
// while this process waits at most kShaderCompileMilliseconds for the answer (less when a ShaderCompileBudget has
// less left) and watches the compiler's memory. A compiler that crashes, stalls, grows or throws is killed (or ends
// itself), as is one that something outside kills or stops, and the next compile forks a new one. The compilers'
// built-in tables are built here once before the first fork, so every compiler process starts with them.

#include "ShaderCompile.h"

#include "Diagnostics.h"
#include "GlslCheck.h"
#include "SourceText.h"

#include "WorkerProcess.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
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

// "#define NAME VALUE" lines for "NAME=VALUE" and "NAME" (whose value is 1).
std::string DefineLines(const std::vector<std::string>& defines)
{
    std::string lines;
    for (const std::string& define : defines) {
        std::size_t equals = define.find('=');
        std::string value = equals == std::string::npos ? "1" : define.substr(equals + 1);
        lines += "#define " + define.substr(0, equals) + " " + value.substr(0, value.find('\n')) + "\n";
    }
    return lines;
}

// The GLSL file with the stage macro, the defines and the entry point renamed to main, inserted after the
// #version line at offset version; a #line keeps the driver's messages on the file's own line numbers.
std::string WithPrologue(const std::string& source, std::size_t version, bool vertexStage, const std::string& entry,
                         const std::string& defineLines)
{
    std::string prologue = vertexStage ? "#define CG_VERTEX_PROGRAM 1\n" : "#define CG_FRAGMENT_PROGRAM 1\n";
    prologue += defineLines;
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
                       const std::string& entry, const ShaderCompileOptions& options)
{
    ShaderText text;
    std::size_t version = VersionDirective(source);
    text.isCg = version == std::string::npos;
    if (!text.isCg) {
        text.glsl = WithPrologue(source, version, vertexStage, entry, DefineLines(options.defines));
        std::string log;
        text.compiled = CheckGlsl(text.glsl, fileName, vertexStage, options.driverExtensions, options.parseGlsl, log);
        text.listing = CompilerDiagnostics(log, fileName, source);
        return text;
    }
    CgTranslation translation =
        TranslateCg(source, fileName, vertexStage, entry, options.includeDirectories, DefineLines(options.defines));
    text.compiled = translation.compiled;
    text.glsl = std::move(translation.glsl);
    text.listing = CompilerDiagnostics(translation.listing, fileName, source);
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

}  // namespace

std::string EncodeShaderText(const ShaderText& text)
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
        PutString(wire, parameter.vertexInput ? "input" : "");
    }
    return wire;
}

bool DecodeShaderText(const std::string& wire, ShaderText& text)
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
        std::string input;
        if (!GetString(wire, at, parameter.name) || !GetString(wire, at, parameter.glslName) ||
            !GetString(wire, at, input))
            return false;
        parameter.vertexInput = !input.empty();
        text.parameters.push_back(std::move(parameter));
    }
    return at == wire.size();
}

namespace {

struct Request {
    std::string source;
    std::string fileName;
    std::string entry;
    bool vertexStage = false;
    ShaderCompileOptions options;
    std::string reply;  // a health byte, then the encoded ShaderText
};

void PutStrings(std::string& wire, const std::vector<std::string>& strings)
{
    PutString(wire, std::to_string(strings.size()));
    for (const std::string& text : strings)
        PutString(wire, text);
}

bool GetStrings(const std::string& wire, std::size_t& at, std::vector<std::string>& strings)
{
    std::string count;
    if (!GetString(wire, at, count))
        return false;
    char* end = nullptr;
    unsigned long long size = std::strtoull(count.c_str(), &end, 10);
    if (end == count.c_str() || *end != '\0' || size > wire.size())
        return false;
    strings.resize(static_cast<std::size_t>(size));
    for (std::string& text : strings)
        if (!GetString(wire, at, text))
            return false;
    return true;
}

}  // namespace

std::string EncodeShaderRequest(const std::string& source, const std::string& fileName, bool vertexStage,
                                const std::string& entry, const ShaderCompileOptions& options)
{
    const Request request{source, fileName, entry, vertexStage, options, std::string()};
    std::string frame;
    PutString(frame, request.source);
    PutString(frame, request.fileName);
    PutString(frame, request.entry);
    PutString(frame, request.vertexStage ? "vertex" : "fragment");
    PutStrings(frame, request.options.includeDirectories);
    PutStrings(frame, request.options.defines);
    PutStrings(frame, request.options.driverExtensions);
    PutString(frame, request.options.parseGlsl ? "parse" : "");
    return frame;
}

namespace {

bool DecodeRequest(const std::string& frame, Request& request)
{
    std::size_t at = 0;
    std::string stage;
    std::string parse;
    if (!GetString(frame, at, request.source) || !GetString(frame, at, request.fileName) ||
        !GetString(frame, at, request.entry) || !GetString(frame, at, stage) ||
        !GetStrings(frame, at, request.options.includeDirectories) || !GetStrings(frame, at, request.options.defines) ||
        !GetStrings(frame, at, request.options.driverExtensions) || !GetString(frame, at, parse))
        return false;
    request.vertexStage = stage == "vertex";
    request.options.parseGlsl = !parse.empty();
    return at == frame.size();
}

// [SECTION] The compiler process

// What the compile process runs for each request.
ShaderCompileBody compileBody = CompileHere;

void* RunRequest(void* argument)
{
    Request& request = *static_cast<Request*>(argument);
    ShaderText text;
    bool healthy = true;
    try {
        text = compileBody(request.source, request.fileName, request.vertexStage, request.entry, request.options);
    } catch (const std::bad_alloc&) {
        text = ShaderText();
        text.listing = request.fileName + ": the compile ran out of memory\n";
        healthy = false;
    } catch (...) {
        text = ShaderText();
        text.listing = request.fileName + ": the compiler failed on this file\n";
        healthy = false;
    }
    request.reply = std::string(1, static_cast<char>(healthy)) + EncodeShaderText(text);
    return nullptr;
}

bool WriteFrame(int fd, const std::string& frame)
{
    std::uint64_t size = frame.size();
    return WriteFully(fd, &size, sizeof size) && WriteFully(fd, frame.data(), frame.size());
}

// Deep but legal nesting must not overflow the compilers' recursion; NestingProblem's bounds keep it far below.
constexpr std::size_t kCompileStackBytes = std::size_t(512) << 20;

// The compiler process, in its sandbox: one request, one reply, until the viewer closes its end or a compile leaves
// the compilers in doubt (an exception inside them).
void ServeCompiles(int channel)
{
    for (;;) {
        std::uint64_t size = 0;
        if (!ReadFully(channel, &size, sizeof size) || size > static_cast<std::uint64_t>(2 * kShaderFileBytes))
            return;
        std::string frame(size, '\0');
        Request request;
        if (!ReadFully(channel, frame.data(), frame.size()) || !DecodeRequest(frame, request))
            return;
        pthread_attr_t attributes;
        pthread_t thread;
        if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, kCompileStackBytes) != 0 ||
            pthread_create(&thread, &attributes, RunRequest, &request) != 0 || pthread_join(thread, nullptr) != 0)
            return;
        pthread_attr_destroy(&attributes);
        if (!WriteFrame(channel, request.reply) || request.reply[0] == 0)
            return;
    }
}

// [SECTION] The viewer's side

using Clock = std::chrono::steady_clock;

// The compiler process, forked on first use and kept for the next compiles; replaced after any failure of its
// own. Its memory is counted from what it shares with this process when it starts. It may read files (includes)
// and start threads, nothing else.
struct CompilerProcess {
    WorkerProcess process;
    uint64_t startResident = 0;
};

CompilerProcess compiler;

// The deadline that a ShaderCompileBudget sets for every compile while it lives.
struct Batch {
    bool active = false;
    Clock::time_point deadline;
    int milliseconds = 0;
};

// Per thread: a start-up may compile on a thread of its own while the GL thread sets up its budget.
thread_local Batch batch;

void StopCompiler() { compiler.process.Stop(); }

WorkerError StartCompiler()
{
    WorkerError error = compiler.process.Start("velmora-compile", WorkerSandbox{-1, true, true}, ServeCompiles);
    compiler.startResident = compiler.process.ResidentBytes();
    return error;
}

// What the listing says when the compile process failed a compile. A crash or a forbidden call happened while the
// compiler worked on this file; a kill or a stop came from outside and says nothing of the file.
std::string Explain(const WorkerError& error)
{
    switch (error.reason) {
    case WorkerFailure::Crashed:
    case WorkerFailure::SandboxViolation:
        return "the compiler " + error.message + " on this file";
    case WorkerFailure::Killed:
    case WorkerFailure::Stopped:
        return "not compiled: the compile process " + error.message + " and was replaced";
    case WorkerFailure::NotStarted:
        return "the compiler could not be started (" + error.message + ")";
    default:
        return "the compiler " + error.message;
    }
}

// Reads one reply frame by the deadline; empty reason when it came, else why the wait ended (the compiler is then
// stopped). timedOut is the reason when the deadline passes.
std::string ReadReply(std::string& reply, Clock::time_point deadline, const std::string& timedOut)
{
    bool grew = false;
    const auto memoryWatch = [&grew] {
        grew = compiler.process.ResidentBytes() > compiler.startResident + kShaderCompileMemoryBytes;
        return grew ? WorkerError{WorkerFailure::Crashed, "grew"} : WorkerError{};
    };
    std::uint64_t size = 0;
    WorkerError error = compiler.process.AwaitAnswer(deadline, memoryWatch);
    if (!error)
        error = compiler.process.Receive(&size, sizeof size, deadline);
    if (!error && size > static_cast<std::uint64_t>(16 * kShaderFileBytes)) {
        StopCompiler();
        return "the compiler's answer is too long";
    }
    if (!error) {
        reply.assign(size, '\0');
        error = compiler.process.Receive(reply.data(), reply.size(), deadline);
    }
    if (grew)
        return "the compile used more than " + std::to_string(kShaderCompileMemoryBytes >> 30) +
               " GiB of memory and was abandoned";
    if (error.reason == WorkerFailure::TimedOut)
        return timedOut;
    return error ? Explain(error) : std::string();
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

std::string Seconds(int milliseconds)
{
    return milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " s" : std::to_string(milliseconds) + " ms";
}

}  // namespace

void UseShaderCompileBody(ShaderCompileBody body)
{
    StopCompiler();
    compileBody = body != nullptr ? body : CompileHere;
}

int ShaderCompileProcessId() { return compiler.process.Running() ? compiler.process.Pid() : -1; }

ShaderCompileBudget::ShaderCompileBudget(int milliseconds)
    : outerActive_(batch.active), outerDeadline_(batch.deadline), outerMilliseconds_(batch.milliseconds)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    if (!batch.active || deadline < batch.deadline)
        batch = Batch{true, deadline, milliseconds};
}

ShaderCompileBudget::~ShaderCompileBudget() { batch = Batch{outerActive_, outerDeadline_, outerMilliseconds_}; }

bool ReadShaderFile(const std::string& path, std::string& text, std::string& problem)
{
    // Without blocking, so that opening a FIFO or a device returns at once and fstat can refuse it.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        problem = "cannot read file " + path + ": " + std::strerror(errno);
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
                             const std::string& entry, const ShaderCompileOptions& options)
{
    WarmUp();
    const std::string frame = EncodeShaderRequest(source, fileName, vertexStage, entry, options);
    ShaderText text;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kShaderCompileMilliseconds);
    std::string timedOut = "the compile took longer than " + Seconds(kShaderCompileMilliseconds) + " and was abandoned";
    if (batch.active && batch.deadline < deadline) {
        deadline = batch.deadline;
        timedOut = "the compiles took longer than " + Seconds(batch.milliseconds) + " in all";
    }
    std::string stopped;
    if (Clock::now() >= deadline)
        stopped = "not compiled: " + timedOut;
    // A compiler process that ended since the last compile is replaced once.
    std::string sizedFrame(sizeof(std::uint64_t), '\0');
    const std::uint64_t frameBytes = frame.size();
    std::memcpy(sizedFrame.data(), &frameBytes, sizeof frameBytes);
    sizedFrame += frame;
    WorkerError sent;
    for (int attempt = 0; attempt < 2 && (attempt == 0 || sent) && stopped.empty(); ++attempt) {
        sent = compiler.process.Running() ? WorkerError() : StartCompiler();
        if (sent)
            break;
        sent = compiler.process.Send(sizedFrame.data(), sizedFrame.size(), deadline);
    }
    std::string reply;
    if (stopped.empty())
        stopped = sent.reason == WorkerFailure::TimedOut ? timedOut
                  : sent                                 ? Explain(sent)
                                                         : ReadReply(reply, deadline, timedOut);
    if (stopped.empty() && (reply.empty() || !DecodeShaderText(reply.substr(1), text))) {
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
