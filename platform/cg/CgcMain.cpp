// velmora-cgc: compiles one program of a shader file as the viewer would and prints the GLSL that GL would get.
//
// Usage: velmora-cgc [--entry NAME] --profile vertex|fragment FILE

#include "CommandLine.h"
#include "ShaderCompile.h"

#include <cstdio>
#include <string>

namespace {

const char kProgram[] = "velmora-cgc";
const char kUsage[] = "usage: velmora-cgc [--entry NAME] --profile vertex|fragment FILE\n";

const std::vector<OptionSpec> kOptions = {
    {"entry", 0, true},
    {"profile", 0, true},
    {"help", 0, false},
    {"version", 0, false},
};

}  // namespace

int main(int argc, char** argv)
{
    CommandLine line = ParseCommandLine(argc, argv, kOptions);
    if (!line.problem.empty())
        return ReportUsageError(kProgram, line.problem);
    std::string entry = "main";
    std::string profile;
    for (const ParsedOption& option : line.options) {
        if (IsOption(option, "help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (IsOption(option, "version"))
            return PrintVersion(kProgram);
        if (IsOption(option, "entry"))
            entry = option.value;
        else if (IsOption(option, "profile"))
            profile = option.value;
    }
    if (profile != "vertex" && profile != "fragment")
        return ReportUsageError(kProgram, "--profile must be vertex or fragment");
    if (line.operands.empty())
        return ReportUsageError(kProgram, "no shader file given");
    if (line.operands.size() > 1)
        return ReportUsageError(kProgram, "more than one shader file given");
    const std::string& file = line.operands[0];

    std::string source;
    std::string problem;
    if (!ReadShaderFile(file, source, problem)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
        return 1;
    }
    ShaderText text = CompileShaderText(source, file, profile == "vertex", entry);
    std::fputs(text.listing.c_str(), stderr);
    if (!text.compiled)
        return 1;
    std::fputs(text.glsl.c_str(), stdout);
    return 0;
}
