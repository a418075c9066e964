#include "CGShader.h"

#include "Console.h"
#include "WholeFile.h"

#include <cstring>

#include <cstdio>

namespace {

void DestroyProgram(CGprogram& program)
{
    if (program != nullptr)
        cgDestroyProgram(program);
    program = nullptr;
}

CGparameter LoadParameter(CGprogram program, const std::string& name, const char* stageWords, const std::string& file,
                          std::map<std::string, CGparameter>& parameters)
{
    CGparameter handle = cgGetNamedParameter(program, name.c_str());
    if (handle == nullptr) {
        ConsoleLine("Could not load parameter " + name + stageWords + file);
        return nullptr;
    }
    parameters[name] = handle;
    return handle;
}

CGparameter FindParameter(const std::map<std::string, CGparameter>& parameters, const std::string& name)
{
    auto found = parameters.find(name);
    return found == parameters.end() ? nullptr : found->second;
}

void DumpProgram(CGprogram program, const std::string& file)
{
    if (program == nullptr)
        return;
    const char* text = cgGetProgramString(program, CG_COMPILED_PROGRAM);
    const std::string compiled = text != nullptr ? text : "";
    const int error = WriteWholeFile(file, compiled.data(), compiled.size(), true);
    if (error != 0)
        ReportFileNotWritten(file, std::strerror(error));
}

}  // namespace

ShaderRuntime::ShaderRuntime()
{
    context = cgCreateContext();
    vertexProfile = cgGLGetLatestProfile(CG_GL_VERTEX);
    cgGLSetOptimalOptions(vertexProfile);
    fragmentProfile = cgGLGetLatestProfile(CG_GL_FRAGMENT);
    cgGLSetOptimalOptions(fragmentProfile);
}

CGShader::CGShader(const ShaderRuntime& runtime_) : runtime(&runtime_) {}

CGShader::~CGShader()
{
    DestroyProgram(vertexProgram);
    DestroyProgram(fragmentProgram);
}

Outcome CGShader::LoadShader(const std::string& file, const char* vertexEntry, const char* fragmentEntry)
{
    shaderFile = file;
    DestroyProgram(vertexProgram);
    DestroyProgram(fragmentProgram);
    // The old handles belong to the programs just destroyed; none may survive a name the new program lacks.
    vertexParameters.clear();
    fragmentParameters.clear();

    struct Stage {
        const char* entry;
        CGprofile profile;
        CGprogram& program;
        const char* kind;
    };
    Stage stages[] = {{vertexEntry, runtime->vertexProfile, vertexProgram, "vertex"},
                      {fragmentEntry, runtime->fragmentProfile, fragmentProgram, "fragment"}};
    for (Stage& stage : stages) {
        if (stage.entry == nullptr)
            continue;
        stage.program =
            cgCreateProgramFromFile(runtime->context, CG_SOURCE, file.c_str(), stage.profile, stage.entry, nullptr);
        if (stage.program == nullptr) {
            const char* listing = cgGetLastListing(runtime->context);
            const std::string report = std::string("CGShader::LoadShader: ") + stage.kind +
                                       " program with entry point " + stage.entry + " from shader " + file +
                                       " failed to compile:\n" + (listing != nullptr ? listing : "");
            ConsoleLine(report);
            DestroyProgram(vertexProgram);
            DestroyProgram(fragmentProgram);
            return Outcome::Failure(FailureReason::CompileFailed, report);
        }
        cgGLLoadProgram(stage.program);
    }
    return Outcome();
}

CGparameter CGShader::LoadVertexParameter(const std::string& name)
{
    return LoadParameter(vertexProgram, name, " for the vertex shader of ", shaderFile, vertexParameters);
}

CGparameter CGShader::LoadFragmentParameter(const std::string& name)
{
    return LoadParameter(fragmentProgram, name, " for the fragment shader of ", shaderFile, fragmentParameters);
}

CGparameter CGShader::GetVertexParameter(const std::string& name) const
{
    return FindParameter(vertexParameters, name);
}

CGparameter CGShader::GetFragmentParameter(const std::string& name) const
{
    return FindParameter(fragmentParameters, name);
}

void SetModelViewProjParameter(CGparameter handle)
{
    cgGLSetStateMatrixParameter(handle, CG_GL_MODELVIEW_PROJECTION_MATRIX, CG_GL_MATRIX_IDENTITY);
}

void SetTextureParameter(CGparameter handle, unsigned int texture)
{
    cgGLSetTextureParameter(handle, texture);
    cgGLEnableTextureParameter(handle);
}

void CGShader::Bind()
{
    if (fragmentProgram != nullptr) {
        cgGLEnableProfile(runtime->fragmentProfile);
        cgGLBindProgram(fragmentProgram);
    }
    if (vertexProgram != nullptr) {
        cgGLEnableProfile(runtime->vertexProfile);
        cgGLBindProgram(vertexProgram);
    }
}

void CGShader::Unbind()
{
    cgGLDisableProfile(runtime->vertexProfile);
    cgGLDisableProfile(runtime->fragmentProfile);
}

void CGShader::DumpVertexProgram(const std::string& file) const { DumpProgram(vertexProgram, file); }

void CGShader::DumpFragmentProgram(const std::string& file) const { DumpProgram(fragmentProgram, file); }
