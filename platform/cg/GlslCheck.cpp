#include "GlslCheck.h"

#include "CompileLimits.h"
#include "SourceText.h"

#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>

#include <algorithm>
#include <cctype>

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

// "#define NAME 1" for each extension name the driver gave: a name that is not an identifier is no macro.
std::string ExtensionMacros(const std::vector<std::string>& extensions)
{
    std::string macros;
    for (const std::string& name : extensions) {
        bool identifier = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                          std::all_of(name.begin(), name.end(), IsIdentifierChar);
        if (identifier)
            macros += "#define " + name + " 1\n";
    }
    return macros;
}

}  // namespace

bool CheckGlsl(const std::string& text, const std::string& fileName, bool vertexStage,
               const std::vector<std::string>& driverExtensions, bool parse, std::string& log)
{
    static const bool initialised = glslang::InitializeProcess();
    (void)initialised;
    EShLanguage stage = vertexStage ? EShLangVertex : EShLangFragment;
    const std::string preamble = ExtensionMacros(driverExtensions);
    // Measuring only, glslang's preprocessor and parser see the text without its #extension lines, and where the
    // parse fails the array sizes are read from the preprocessed text instead.
    const std::string checked = parse ? text : WithoutExtensionLines(text);
    const char* strings[1] = {checked.c_str()};
    const int lengths[1] = {static_cast<int>(checked.size())};
    const char* names[1] = {fileName.c_str()};
    glslang::TShader preprocessor(stage);
    preprocessor.setStringsWithLengthsAndNames(strings, lengths, names, 1);
    preprocessor.setPreamble(preamble.c_str());
    std::string preprocessed;
    glslang::TShader::ForbidIncluder noIncludes;
    if (!preprocessor.preprocess(GetDefaultResources(), 110, ECompatibilityProfile, false, false, EShMsgDefault,
                                 &preprocessed, noIncludes)) {
        log = preprocessor.getInfoLog();
        return false;
    }
    std::string problem = NestingProblem(preprocessed);
    if (!problem.empty()) {
        log = fileName + ": " + problem + "\n";
        return false;
    }

    glslang::TShader shader(stage);
    shader.setStringsWithLengthsAndNames(strings, lengths, names, 1);
    shader.setPreamble(preamble.c_str());
    bool parsed = shader.parse(GetDefaultResources(), 110, ECompatibilityProfile, false, false, EShMsgDefault);
    if (parse) {
        log = shader.getInfoLog();
        glslang::TProgram program;
        program.addShader(&shader);
        if (!parsed || !program.link(EShMsgDefault)) {
            log += program.getInfoLog();
            return false;
        }
    }
    problem = parsed ? UniformSizeProblem(*shader.getIntermediate()) : ArraySizeProblem(preprocessed);
    if (!problem.empty())
        log += fileName + ": " + problem + "\n";
    return problem.empty();
}
