// Compiling the four shader pairs as start-up does and as the reload key does (LoadShaders), for the Cg files
// against GLSL files of the same programs, measured in the same process. The first load of each kind is timed
// alone (it carries the compilers' one-time set-up), then the median of further reloads.
//
// Use: bench_shader_compile CG_DIR GLSL_DIR [reloads]   (under a display; each directory holds the four files)

#include "BenchTable.h"
#include "GlTestContext.h"
#include "Shaders.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

struct Timing {
    double first = 0;
    double reload = 0;
};

// Loads the four pairs from dir (its own working directory, so the dumps stay there) once, then reloads times.
Timing Measure(ShaderPairs& pairs, const std::string& dir, int reloads)
{
    std::filesystem::current_path(dir);
    const auto load = [&] { LoadShaders(pairs); };
    Timing timing;
    timing.first = MedianSeconds(1, load);
    timing.reload = MedianSeconds(reloads, load);
    return timing;
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_shader_compile CG_DIR GLSL_DIR [RELOADS]", argc == 3 || argc == 4);
    int reloads = argc > 3 ? std::atoi(argv[3]) : 15;
    CreateGlTestContext();
    const std::unique_ptr<ShaderPairs> pairs = CreateShaderPairs();
    const std::string cgDir = std::filesystem::absolute(argv[1]).string();
    const std::string glslDir = std::filesystem::absolute(argv[2]).string();
    Timing glsl = Measure(*pairs, glslDir, reloads);
    Timing cg = Measure(*pairs, cgDir, reloads);
    PrintRow("shader compile", "four pairs, first load (start-up), ms", Format("%.1f", cg.first * 1e3),
             Format("%.1f (GLSL files)", glsl.first * 1e3), Format("%.2f", cg.first / glsl.first));
    PrintRow("shader compile", Format("four pairs, reload (r), median of %d, ms", reloads),
             Format("%.1f", cg.reload * 1e3), Format("%.1f (GLSL files)", glsl.reload * 1e3),
             Format("%.2f", cg.reload / glsl.reload));
    return 0;
}
