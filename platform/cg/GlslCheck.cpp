#include "GlslCheck.h"

#include "CompileLimits.h"

#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>

#include <algorithm>

namespace {

// The text with every #extension line left empty: the driver knows extensions that glslang does not, and glslang's
// preprocessor stops at one it is required to have, so the bounds are measured without them.
std::string WithoutExtensionLines(const std::string& text)
{
    std::string result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::size_t at = text.find_first_not_of(" \t", start);
        bool extension = false;
        if (at < end && text[at] == '#') {
            at = text.find_first_not_of(" \t", at + 1);
            extension = at < end && text.compare(at, 9, "extension") == 0;
        }
        result += extension ? std::string() : text.substr(start, end - start);
        if (end < text.size())
            result += '\n';
        start = end + 1;
    }
    return result;
}

}  // namespace

std::string CheckGlsl(const std::string& text, const std::string& fileName, bool vertexStage)
{
    static const bool initialised = glslang::InitializeProcess();
    (void)initialised;
    EShLanguage stage = vertexStage ? EShLangVertex : EShLangFragment;
    // The GL driver, not glslang, decides what is valid GLSL: glslang's preprocessor and parser only measure the
    // text against the bounds (its expansion against the time limit), and where the parse fails the array sizes
    // are read from the preprocessed text instead.
    const std::string checked = WithoutExtensionLines(text);
    const char* strings[1] = {checked.c_str()};
    const int lengths[1] = {static_cast<int>(checked.size())};
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

    glslang::TShader shader(stage);
    shader.setStringsWithLengthsAndNames(strings, lengths, names, 1);
    bool parsed = shader.parse(GetDefaultResources(), 110, ECompatibilityProfile, false, false, EShMsgDefault);
    problem = parsed ? UniformSizeProblem(*shader.getIntermediate()) : ArraySizeProblem(preprocessed);
    return problem.empty() ? std::string() : fileName + ": " + problem + "\n";
}
