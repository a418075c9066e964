// The viewer's start-up split by phase: the steps of Init in the same order, each timed, then the first frame.
// The texture phase is timed by wrapping the texture loader that level loading calls, so parse-and-load is the
// level loading time without the image loads. Run in a directory with the level, its images and the .cg files.
//
// Prints one line per phase, "phase <name> <seconds>", and "phase total <seconds>".

#include "BenchTable.h"
#include "Callbacks.h"
#include "GlTestContext.h"
#include "ShortCutCache.h"
#include "Startup.h"
#include "Viewer.h"

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<std::string, double>> phases;

// Adds the seconds since start to the named phase (phases keep their order of first use).
void Charge(const std::string& name, double seconds)
{
    for (auto& phase : phases) {
        if (phase.first == name) {
            phase.second += seconds;
            return;
        }
    }
    phases.emplace_back(name, seconds);
}

template <class Step>
void Timed(const std::string& name, Step&& step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    glFinish();
    Charge(name, SecondsSince(start));
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_startup_phases   (in a directory with the level, its images and the .cg files)",
                   argc == 1);
    CreateGlTestContext(800, 600);
    Viewer viewer;
    Renderer& renderer = viewer.renderer;
    Level& level = viewer.level;
    const auto start = std::chrono::steady_clock::now();
    Timed("checks", [] {
        CheckGLCapabilities();
        InitImageLibrary();
    });
    Timed("textures", [&] { CreateFixedTextures(renderer); });
    double levelTextureSeconds = 0.0;
    const auto timedLoader = [&](const std::string& name) {
        const auto loadStart = std::chrono::steady_clock::now();
        const GLuint texture = LoadTexture(renderer.textures, name);
        levelTextureSeconds += SecondsSince(loadStart);
        return texture;
    };
    // As the viewer does: the shader files compile while the level loads, and the shaders phase collects them.
    Timed("shaders", [&] {
        renderer.shaders = CreateShaderPairs();
        StartShaderCompiles(*renderer.shaders);
    });
    Timed("parse and load", [&] {
        LoadLevel(level, TextureSource{timedLoader, renderer.textures.FallbackTexture, {}});
    });
    Charge("parse and load", -levelTextureSeconds);
    Charge("textures", levelTextureSeconds);

    TriangleRefs triangles;
    BuiltGeometry geometry;
    Timed("collect", [&] { triangles = CollectRenderTriangles(level.root); });
    Timed("weld", [&] { geometry = WeldGeometry(triangles); });
    Timed("optimise", [&] { OrderBatches(geometry); });
    Timed("clusters", [&] { BuildClusters(geometry); });
    Timed("upload", [&] {
        UploadGeometry(renderer.geometry, std::move(geometry));
        triangles = TriangleRefs();
    });
    Timed("shaders", [&] { LoadShaders(*renderer.shaders); });
    // The frame's short cuts, kept from an earlier run or decided by the probes; the r key does the same after its
    // LoadShaders.
    const auto decide = [&] {
        renderer.frame.shortCuts =
            CachedShortCuts(*renderer.shaders, renderer.geometry, renderer.fixedTextures.attenuation);
    };
    Timed("short-cut decision", decide);
    Timed("targets and light positions", [&] {
        CreatePostTarget(renderer.postTarget, viewer.windowWidth, viewer.windowHeight);
        for (Light& light : level.lights)
            light.currentPosition = light.position;
        SetFixedRenderState();
    });
    Timed("first frame", [&] { OnDisplay(viewer); });
    const double total = SecondsSince(start);
    // The r key's compilation and decision, after start-up: not part of the total.
    Timed("shader reload (r): compilation", [&] { LoadShaders(*renderer.shaders); });
    Timed("shader reload (r): short-cut decision", decide);
    for (const auto& phase : phases)
        std::printf("phase %s %.6f\n", phase.first.c_str(), phase.second);
    std::printf("phase total %.6f\n", total);
    return 0;
}
