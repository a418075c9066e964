#include "ShortCutCache.h"

#include "ResultCache.h"

#include <cstring>
#include <iterator>
#include <map>
#include <vector>

namespace {

void Append(std::string& key, const char* text)
{
    key += text != nullptr ? text : "(none)";
    key += '\n';
}

void AppendProgram(std::string& key, CGprogram program)
{
    if (program == nullptr) {
        key += "no program\n";
        return;
    }
    const char* source = cgGetProgramString(program, CG_PROGRAM_SOURCE);
    const char* compiled = cgGetProgramString(program, CG_COMPILED_PROGRAM);
    key += std::to_string(source != nullptr ? std::strlen(source) : 0) + " " +
           std::to_string(compiled != nullptr ? std::strlen(compiled) : 0) + "\n";
    Append(key, source);
    Append(key, compiled);
}

// True when the bound texture's level stores each of its channels in at most 8 unsigned normalised bits.
bool EightBitChannels(GLint level)
{
    const GLenum channels[][2] = {{GL_TEXTURE_RED_SIZE, GL_TEXTURE_RED_TYPE},
                                  {GL_TEXTURE_GREEN_SIZE, GL_TEXTURE_GREEN_TYPE},
                                  {GL_TEXTURE_BLUE_SIZE, GL_TEXTURE_BLUE_TYPE},
                                  {GL_TEXTURE_ALPHA_SIZE, GL_TEXTURE_ALPHA_TYPE},
                                  {GL_TEXTURE_LUMINANCE_SIZE, GL_TEXTURE_LUMINANCE_TYPE},
                                  {GL_TEXTURE_INTENSITY_SIZE, GL_TEXTURE_INTENSITY_TYPE}};
    for (const auto& channel : channels) {
        GLint size = 0;
        GLint type = GL_NONE;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, channel[0], &size);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, channel[1], &type);
        if (size > 8 || (size > 0 && type != GL_UNSIGNED_NORMALIZED))
            return false;
    }
    return true;
}

// A digest of the texture's every level (size, format and texels, exactly as GL holds them) and of the state
// that decides how it is sampled.
std::string TextureDigest(GLuint texture)
{
    if (texture == 0)
        return "none";
    glBindTexture(GL_TEXTURE_2D, texture);
    std::uint64_t digest = ResultDigest(nullptr, 0);
    GLint state[4] = {};
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &state[0]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &state[1]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &state[2]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &state[3]);
    digest = ResultDigest(state, sizeof state, digest);
    std::vector<unsigned char> texels;
    for (GLint level = 0; level < 32; ++level) {
        GLint shape[4] = {};
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &shape[0]);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &shape[1]);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_INTERNAL_FORMAT, &shape[2]);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED, &shape[3]);
        if (shape[0] <= 0 || shape[1] <= 0)
            break;
        digest = ResultDigest(shape, sizeof shape, digest);
        if (shape[3] == GL_TRUE) {
            GLint bytes = 0;
            glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &bytes);
            texels.assign(static_cast<std::size_t>(bytes > 0 ? bytes : 0), 0);
            glGetCompressedTexImage(GL_TEXTURE_2D, level, texels.data());
        } else {
            // Bytes when every channel is stored in at most 8 normalised bits (then they are exact and the read
            // is fast), floats otherwise, so that no two stored values read the same.
            const bool bytes = EightBitChannels(level);
            const std::size_t channelBytes = bytes ? 1 : sizeof(float);
            texels.assign(std::size_t(shape[0]) * std::size_t(shape[1]) * 4 * channelBytes, 0);
            glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, bytes ? GL_UNSIGNED_BYTE : GL_FLOAT, texels.data());
        }
        digest = ResultDigest(texels.data(), texels.size(), digest);
    }
    return std::to_string(digest);
}

std::string Encode(const ShortCuts& cuts)
{
    std::string value;
    for (bool cut : {cuts.cullPrePass, cuts.cullLightPasses, cuts.cullShadowFaces, cuts.cullLightSpheres,
                     cuts.cullFirstLight, cuts.cullShadowSpheres, cuts.skipPostColourClear})
        value += cut ? '1' : '0';
    return value;
}

bool Decode(const std::string& value, ShortCuts& cuts)
{
    bool* const fields[] = {&cuts.cullPrePass,        &cuts.cullLightPasses, &cuts.cullShadowFaces,
                            &cuts.cullLightSpheres,   &cuts.cullFirstLight,  &cuts.cullShadowSpheres,
                            &cuts.skipPostColourClear};
    if (value.size() != std::size(fields))
        return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '0' && value[i] != '1')
            return false;
        *fields[i] = value[i] == '1';
    }
    return true;
}

}  // namespace

std::string ShortCutKey(ShaderPairs& shaders, const RenderGeometry& geometry)
{
    const std::string program = ProgramIdentity();
    if (program.empty())
        return std::string();
    std::string key = "short cuts 1\n" + program + "\n";
    for (GLenum name : {GL_VENDOR, GL_RENDERER, GL_VERSION, GL_SHADING_LANGUAGE_VERSION})
        Append(key, reinterpret_cast<const char*>(glGetString(name)));
    for (const CGShader* pair :
         {&shaders.lightShader, &shaders.ambientShader, &shaders.shadowShader, &shaders.postShader}) {
        AppendProgram(key, pair->vertexProgram);
        AppendProgram(key, pair->fragmentProgram);
    }
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    std::map<GLuint, std::string> digests;
    for (const std::array<GLuint, 2>& material : LevelMaterials(geometry)) {
        for (GLuint texture : material) {
            auto found = digests.find(texture);
            if (found == digests.end())
                found = digests.emplace(texture, TextureDigest(texture)).first;
            key += found->second + " ";
        }
        key += "\n";
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return key;
}

ShortCuts CachedShortCuts(ShaderPairs& shaders, const RenderGeometry& geometry, GLuint attenuationTexture)
{
    const std::string directory = ResultCacheDirectory();
    const std::string key = directory.empty() ? std::string() : ShortCutKey(shaders, geometry);
    const std::string kept = key.empty() ? std::string() : directory;
    std::string value;
    ShortCuts cuts;
    if (LoadCachedResult(kept, "shortcuts", key, 64, value) && Decode(value, cuts))
        return cuts;
    cuts = DecideShortCuts(shaders, geometry, attenuationTexture);
    StoreCachedResult(kept, "shortcuts", key, Encode(cuts));
    return cuts;
}
