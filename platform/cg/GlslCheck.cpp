#include "GlslCheck.h"

#include "CompileLimits.h"

#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>

std::string CheckGlsl(const std::string& text, const std::string& fileName, bool vertexStage)
{
    static const bool initialised = glslang::InitializeProcess();
    (void)initialised;
    EShLanguage stage = vertexStage ? EShLangVertex : EShLangFragment;
    const char* strings[1] = {text.c_str()};
    const int lengths[1] = {static_cast<int>(text.size())};
    const char* names[1] = {fileName.c_str()};
    glslang::TShader preprocessor(stage);
    preprocessor.setStringsWithLengthsAndNames(strings, lengths, names, 1);
    std::string preprocessed;
    glslang::TShader::ForbidIncluder noIncludes;
    if (!preprocessor.preprocess(GetDefaultResources(), 110, ECompatibilityProfile, false, false, EShMsgDefault,
                                 &preprocessed, noIncludes))
        return preprocessor.getInfoLog();
    std::string problem = NestingProblem(preprocessed);
    if (!problem.empty())
        return fileName + ": " + problem + "\n";

    // The GL driver, not the front end, decides what is valid GLSL: the parse only measures the uniforms, and
    // where it fails the array sizes are read from the text instead.
    glslang::TShader shader(stage);
    shader.setStringsWithLengthsAndNames(strings, lengths, names, 1);
    bool parsed = shader.parse(GetDefaultResources(), 110, ECompatibilityProfile, false, false, EShMsgDefault);
    problem = parsed ? UniformSizeProblem(*shader.getIntermediate()) : ArraySizeProblem(preprocessed);
    return problem.empty() ? std::string() : fileName + ": " + problem + "\n";
}
