// A shader pair: the vertex program and the fragment program compiled from one shader file, with the parameter
// handles that the renderer registered by name. Either program may be missing (a file with only a fragment entry,
// or one that failed to compile); a pass binds whatever the pair holds and GL's fixed function does the rest.
#pragma once

#include "Result.h"

#include <Cg/cgGL.h>

#include <map>
#include <string>

// A runtime context and the latest profiles, in which pairs are compiled; needs a current GL context. The pairs
// made with it must not outlive it. The runtime keeps its contexts until the process ends.
struct ShaderRuntime {
    CGcontext context = nullptr;
    CGprofile vertexProfile = CG_PROFILE_UNKNOWN;
    CGprofile fragmentProfile = CG_PROFILE_UNKNOWN;

    ShaderRuntime();
    ShaderRuntime(const ShaderRuntime&) = delete;
    ShaderRuntime& operator=(const ShaderRuntime&) = delete;
};

class CGShader {
public:
    const ShaderRuntime* runtime;
    CGprogram vertexProgram = nullptr;
    CGprogram fragmentProgram = nullptr;
    std::map<std::string, CGparameter> vertexParameters;
    std::map<std::string, CGparameter> fragmentParameters;
    std::string shaderFile;

    // Empty pair of the runtime.
    explicit CGShader(const ShaderRuntime& runtime);
    // Destroys the programs that exist.
    virtual ~CGShader();
    CGShader(const CGShader&) = delete;
    CGShader& operator=(const CGShader&) = delete;

    // Destroys the held programs and empties both parameter maps, then compiles the requested programs from
    // file (a null entry point means no program of that kind). On failure prints the two-part report, leaves
    // the pair empty and fails with CompileFailed and that report.
    Outcome LoadShader(const std::string& file, const char* vertexEntry, const char* fragmentEntry);
    // Looks name up in the vertex program, registers it and returns its handle; prints "Could not load parameter
    // ..." and returns null if absent.
    CGparameter LoadVertexParameter(const std::string& name);
    // The same for the fragment program.
    CGparameter LoadFragmentParameter(const std::string& name);
    // Registered vertex parameter handle, or null (silently) for a name never registered.
    CGparameter GetVertexParameter(const std::string& name) const;
    // Registered fragment parameter handle, or null (silently) for a name never registered.
    CGparameter GetFragmentParameter(const std::string& name) const;
    // Enables the profiles of, and binds, the programs that exist (fragment first).
    void Bind();
    // Disables both profiles, whether or not the pair has programs.
    void Unbind();
    // Writes the compiled vertex program text to file; does nothing without a vertex program.
    void DumpVertexProgram(const std::string& file) const;
    // Writes the compiled fragment program text to file; does nothing without a fragment program.
    void DumpFragmentProgram(const std::string& file) const;
};

// Setters for handles looked up once after loading; a null handle changes nothing. The matrix is the current GL
// projection x modelview; the texture is recorded for the sampler and bound for the following draws.
void SetModelViewProjParameter(CGparameter handle);
void SetTextureParameter(CGparameter handle, unsigned int texture);
