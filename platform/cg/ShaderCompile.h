// A shader file made ready for GL, whatever it holds: read only when it is a regular file, then checked (GLSL) or
// translated (Cg) in a process of its own with a time and a memory limit, so that no file can crash, stall or
// exhaust the caller. Every failure ends in a listing that says what went wrong.
#pragma once

#include "CgTranslator.h"

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
// own directory, in order, and macros defined before the first line ("NAME" or "NAME=VALUE").
struct ShaderCompileOptions {
    std::vector<std::string> includeDirectories;
    std::vector<std::string> defines;
};

// The GL text of source (read from fileName) for one stage and entry point. A GLSL file gets, after its #version
// line, the stage's macro (CG_VERTEX_PROGRAM or CG_FRAGMENT_PROGRAM) and entry renamed to main.
ShaderText CompileShaderText(const std::string& source, const std::string& fileName, bool vertexStage,
                             const std::string& entry, const ShaderCompileOptions& options = {});
