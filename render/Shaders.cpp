#include "Shaders.h"

#include "CgPrefetch.h"
#include "ShaderCompile.h"

bool PairLoaded(const CGShader& pair) { return pair.vertexProgram != nullptr && pair.fragmentProgram != nullptr; }

std::unique_ptr<ShaderPairs> CreateShaderPairs() { return std::make_unique<ShaderPairs>(); }

namespace {

// A pair's shader file with its entry points (null: the pair has no program of that kind).
struct PairSource {
    CGShader ShaderPairs::*pair;
    const char* file;
    const char* vertexEntry;
    const char* fragmentEntry;
};

const PairSource kPairSources[4] = {{&ShaderPairs::lightShader, "shader.cg", "vertexmain", "fragmain"},
                                    {&ShaderPairs::ambientShader, "ambient.cg", "vertexmain", "fragmain"},
                                    {&ShaderPairs::shadowShader, "shadow.cg", "vertexmain", "fragmain"},
                                    {&ShaderPairs::postShader, "post.cg", nullptr, "fragmain"}};

enum class Stage { Vertex, Fragment };

struct ParameterEntry {
    int pair;  // into kPairSources
    const char* name;
    Stage stage;
    CGparameter ShaderParameters::*slot;
};

// In registration order, pair after pair: the order of the console lines for missing parameters.
const ParameterEntry kParameters[] = {
    {0, "ModelViewProj", Stage::Vertex, &ShaderParameters::lightModelViewProj},
    {0, "LightVector", Stage::Vertex, &ShaderParameters::lightVector},
    {0, "EyeVector", Stage::Vertex, &ShaderParameters::eyeVector},
    {0, "LightColor", Stage::Vertex, &ShaderParameters::lightColor},
    {0, "diffuseSpecTex", Stage::Fragment, &ShaderParameters::diffuseSpecTex},
    {0, "normalTex", Stage::Fragment, &ShaderParameters::normalTex},
    {0, "shadowMap", Stage::Fragment, &ShaderParameters::shadowMap},
    {0, "attenuationTex", Stage::Fragment, &ShaderParameters::attenuationTex},
    {1, "ModelViewProj", Stage::Vertex, &ShaderParameters::ambientModelViewProj},
    {2, "ModelViewProj", Stage::Vertex, &ShaderParameters::shadowModelViewProj},
    {2, "light", Stage::Vertex, &ShaderParameters::shadowLight},
    {3, "framebuffer", Stage::Fragment, &ShaderParameters::postFramebuffer},
    {3, "time", Stage::Fragment, &ShaderParameters::postTime},
    {3, "warpTex", Stage::Fragment, &ShaderParameters::postWarpTex},
    {3, "rampTex", Stage::Fragment, &ShaderParameters::postRampTex},
    {3, "warpTexCoords", Stage::Fragment, &ShaderParameters::postWarpTexCoords},
};

}  // namespace

std::vector<std::string> ShaderFileNames()
{
    std::vector<std::string> names;
    for (const PairSource& source : kPairSources)
        names.push_back(source.file);
    return names;
}

void StartShaderCompiles(const ShaderPairs& pairs)
{
    std::vector<CgPrefetchRequest> requests;
    for (const PairSource& source : kPairSources) {
        if (source.vertexEntry != nullptr)
            requests.push_back({source.file, pairs.runtime.vertexProfile, source.vertexEntry});
        requests.push_back({source.file, pairs.runtime.fragmentProfile, source.fragmentEntry});
    }
    CgPrefetchPrograms(requests);
}

void FinishShaderCompiles() { CgFinishPrefetch(); }

void LoadShaders(ShaderPairs& pairs)
{
    // However many programs stall, a reload keeps the window frozen no longer than one compile may take.
    const ShaderCompileBudget budget(kShaderCompileMilliseconds);
    // Each pair is compiled just before its first parameter is registered.
    int loaded = -1;
    for (const ParameterEntry& entry : kParameters) {
        const PairSource& source = kPairSources[entry.pair];
        CGShader& pair = pairs.*source.pair;
        if (entry.pair != loaded) {
            pair.LoadShader(source.file, source.vertexEntry, source.fragmentEntry);
            loaded = entry.pair;
        }
        pairs.parameters.*entry.slot = entry.stage == Stage::Vertex ? pair.LoadVertexParameter(entry.name)
                                                                    : pair.LoadFragmentParameter(entry.name);
    }

    pairs.lightShader.DumpFragmentProgram("shaderFP.txt");
    pairs.lightShader.DumpVertexProgram("shaderVP.txt");
    pairs.shadowShader.DumpFragmentProgram("shadowFP.txt");
    pairs.shadowShader.DumpVertexProgram("shadowVP.txt");
    pairs.postShader.DumpFragmentProgram("postFP.txt");
    pairs.postShader.DumpVertexProgram("postVP.txt");
}
