// A shader file made ready for GL, whatever it holds: read only when it is a regular file, then checked (GLSL) or
// translated (Cg) in a process of its own with a time and a memory limit, so that no file can crash, stall or
// exhaust the caller. Every failure ends in a listing that says what went wrong.
#pragma once

#include "CgTranslator.h"

#include <chrono>
#include <string>
#include <vector>

// Longest a compile may take before it is abandoned, and most memory it may use.
constexpr int kShaderCompileMilliseconds = 5000;
constexpr long long kShaderCompileMemoryBytes = 2LL << 30;
// Largest shader file read, and largest text a compile may hand back.
constexpr long long kShaderFileBytes = 4LL << 20;

// Reads the file at path: regular files only, opened without blocking, at most kShaderFileBytes. False with the
// reason in problem.
bool ReadShaderFile(const std::string& path, std::string& text, std::string& problem);

struct ShaderText {
    bool compiled = false;
    bool isCg = false;    // a file whose first directive is #version is GLSL; any other is Cg
    std::string glsl;     // the text GL compiles: the Cg translation, or the GLSL file with its stage prologue
    std::string listing;  // compiler messages naming the file and line, or what stopped the compile
    std::vector<CgDeclaredParameter> parameters;  // Cg only: every parameter the source declares
    bool matricesByRows = false;                  // Cg only: as CgTranslation has it
};

// What a compiler command line adds to a compile: directories searched for includes after the including file's
// own directory, in order, and macros defined before the first line ("NAME" or "NAME=VALUE", NAME an identifier
// and VALUE on one line). And what the caller knows of the GL driver that will compile a GLSL file.
struct ShaderCompileOptions {
    std::vector<std::string> includeDirectories;
    std::vector<std::string> defines;
    std::vector<std::string> driverExtensions;  // the driver defines a macro of each name in a GLSL file
    bool parseGlsl = false;                     // a GLSL file is judged by glslang too, as no driver will see it
};

// The GL text of source (read from fileName) for one stage and entry point. A GLSL file gets, after its #version
// line, the stage's macro (CG_VERTEX_PROGRAM or CG_FRAGMENT_PROGRAM), the defines and entry renamed to main. The
// listing is in the form of Diagnostics.h.
ShaderText CompileShaderText(const std::string& source, const std::string& fileName, bool vertexStage,
                             const std::string& entry, const ShaderCompileOptions& options = {});

// A ShaderText as bytes and back; decoding checks every size against the bytes it has, whatever they hold.
std::string EncodeShaderText(const ShaderText& text);
bool DecodeShaderText(const std::string& wire, ShaderText& text);

// Everything a compile's result depends on besides the compilers themselves, as one string.
std::string EncodeShaderRequest(const std::string& source, const std::string& fileName, bool vertexStage,
                                const std::string& entry, const ShaderCompileOptions& options);

// While one lives, the compiles made on this thread share milliseconds in all: each waits at most what is left (and
// never more than kShaderCompileMilliseconds), and once it is spent a compile fails at once with a listing that says
// the time ran out, which blames no file. So a batch of compiles (a reload) cannot stall its caller for longer,
// whatever the number of programs. Budgets nest; an inner one never outlasts the outer.
class ShaderCompileBudget {
public:
    explicit ShaderCompileBudget(int milliseconds);
    ~ShaderCompileBudget();
    ShaderCompileBudget(const ShaderCompileBudget&) = delete;
    ShaderCompileBudget& operator=(const ShaderCompileBudget&) = delete;

private:
    bool outerActive_;
    std::chrono::steady_clock::time_point outerDeadline_;
    int outerMilliseconds_;
};

// What the compile process runs for each request: the compile itself, unless a test puts a body of its own in to see
// what the process may do. Stops the running compile process; the next compile forks one that runs body. Null
// restores the compile.
using ShaderCompileBody = ShaderText (*)(const std::string& source, const std::string& fileName, bool vertexStage,
                                         const std::string& entry, const ShaderCompileOptions& options);
void UseShaderCompileBody(ShaderCompileBody body);
// The running compile process's id, or -1.
int ShaderCompileProcessId();
