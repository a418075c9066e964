// One vertex program and one fragment program compiled from one shader file, with the parameter handles that
// the renderer registered by name. All pairs share one runtime context and the two profiles.
#pragma once

#include <Cg/cgGL.h>

#include <map>
#include <string>

class CGShader {
public:
    static CGcontext cgContext;       // created by the first constructor, never released
    static CGprofile vertexProfile;   // latest vertex profile, chosen with the context
    static CGprofile fragmentProfile; // latest fragment profile, chosen with the context

    CGprogram vertexProgram = nullptr;
    CGprogram fragmentProgram = nullptr;
    std::map<std::string, CGparameter> vertexParameters;
    std::map<std::string, CGparameter> fragmentParameters;
    std::string shaderFile;

    // Empty pair; creates the shared context and profiles on first use (needs a current GL context).
    CGShader();
    // Destroys the programs that exist; the context stays.
    virtual ~CGShader();
    CGShader(const CGShader&) = delete;
    CGShader& operator=(const CGShader&) = delete;

    // Destroys the held programs and empties both parameter maps, then compiles the requested programs from
    // file (a null entry point means no program of that kind). On failure prints the two-part report, leaves
    // the pair empty and returns false.
    bool LoadShader(const std::string& file, const char* vertexEntry, const char* fragmentEntry);
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
