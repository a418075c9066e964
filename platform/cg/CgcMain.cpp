// velmora-cgc: compiles one program of a shader file as the viewer would and prints the GLSL that GL would get.
//
// Usage: velmora-cgc [--entry NAME] --profile vertex|fragment FILE

#include "ShaderCompile.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const usage = "usage: velmora-cgc [--entry NAME] --profile vertex|fragment FILE\n";

int BadUsage(const std::string& problem)
{
    std::fprintf(stderr, "velmora-cgc: %s\n%s", problem.c_str(), usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string entry = "main";
    std::string profile;
    std::string file;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const bool hasValue = k + 1 < argc;
        if (arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if ((arg == "--entry" || arg == "--profile") && !hasValue)
            return BadUsage(arg + " needs a value");
        if (arg == "--entry")
            entry = argv[++k];
        else if (arg == "--profile")
            profile = argv[++k];
        else if (arg.compare(0, 1, "-") == 0 || !file.empty())
            return BadUsage("unexpected argument " + arg);
        else
            file = arg;
    }
    if (profile != "vertex" && profile != "fragment")
        return BadUsage("--profile must be vertex or fragment");
    if (file.empty())
        return BadUsage("no shader file given");

    std::string source;
    std::string problem;
    if (!ReadShaderFile(file, source, problem)) {
        std::fprintf(stderr, "velmora-cgc: %s\n", problem.c_str());
        return 1;
    }
    ShaderText text = CompileShaderText(source, file, profile == "vertex", entry);
    std::fputs(text.listing.c_str(), stderr);
    if (!text.compiled)
        return 1;
    std::fputs(text.glsl.c_str(), stdout);
    return 0;
}
