// Cg is parsed by glslang's front end for the DX9 shading language (the same grammar and intrinsics, with a short
// prelude for Cg's own words), legalised into SPIR-V and written back out as GLSL 1.20 by SPIRV-Cross. Stage
// inputs and outputs are then tied to the built-in streams and varyings by their Cg semantics, so a program of
// ours works beside a fixed-function stage.

#include "CgTranslator.h"

#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_glsl.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

namespace {

// Cg words that the DX9 language lacks. The projective lookups also take Cg's three-component form (s, t, q); the
// cube one divides by hand, as GLSL has no projective cube lookup.
const char* const cgWords = R"(#define fixed float
#define fixed1 float1
#define fixed2 float2
#define fixed3 float3
#define fixed4 float4
#define fixed2x2 float2x2
#define fixed3x3 float3x3
#define fixed4x4 float4x4
#define samplerRECT sampler2D
float4 cgTex1Dproj(sampler1D s, float2 c) { return tex1Dproj(s, float4(c.x, 0.0, 0.0, c.y)); }
float4 cgTex1Dproj(sampler1D s, float4 c) { return tex1Dproj(s, c); }
float4 cgTex2Dproj(sampler2D s, float3 c) { return tex2Dproj(s, float4(c.xy, 0.0, c.z)); }
float4 cgTex2Dproj(sampler2D s, float4 c) { return tex2Dproj(s, c); }
float4 cgTexCUBEproj(samplerCUBE s, float4 c) { return texCUBE(s, c.xyz / c.w); }
#define tex1Dproj cgTex1Dproj
#define tex2Dproj cgTex2Dproj
#define texCUBEproj cgTexCUBEproj
#define texRECT tex2D
#define texRECTproj cgTex2Dproj
)";

// Words the DX9 language reserves that are plain identifiers in Cg ("sample", "line", ...). The prelude renames
// them with a prefix, which parameter names lose again on the way out.
const char* const frontEndKeywords[] = {"sample", "line", "point", "triangle", "lineadj", "triangleadj", "linear",
                                        "centroid", "nointerpolation", "noperspective", "precise", "groupshared",
                                        "globallycoherent", "unorm", "snorm", "packoffset"};
const std::string keywordPrefix = "cgKeyword_";

const std::string& Prelude()
{
    static const std::string prelude = [] {
        std::string text = cgWords;
        for (const char* word : frontEndKeywords)
            text += std::string("#define ") + word + " " + keywordPrefix + word + "\n";
        return text;
    }();
    return prelude;
}

// The Cg name of an identifier the front end saw.
std::string CgName(const std::string& frontEndName)
{
    if (frontEndName.compare(0, keywordPrefix.size(), keywordPrefix) != 0)
        return frontEndName;
    std::string word = frontEndName.substr(keywordPrefix.size());
    for (const char* keyword : frontEndKeywords)
        if (word == keyword)
            return word;
    return frontEndName;
}

const char* const preludeName = "cg-prelude";
const char* const parameterBlockName = "cgParameters";

void InitialiseOnce()
{
    static const bool initialised = glslang::InitializeProcess();
    (void)initialised;
}

// Names declared with samplerRECT (also "samplerRECT a, b"): after the prelude they are 2D samplers, and the
// SPIR-V is retyped to rectangle samplers by name. Comments are skipped; every function is inlined before the
// retyping, so only the names of global and entry-point samplers matter, and a type name taken for a declarator
// after a comma in a parameter list does no harm.
std::set<std::string> RectangleSamplerNames(const std::string& source)
{
    std::set<std::string> names;
    bool expectName = false;
    bool afterName = false;
    std::size_t i = 0;
    while (i < source.size()) {
        if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i);
            continue;
        }
        if (source.compare(i, 2, "/*") == 0) {
            std::size_t end = source.find("*/", i + 2);
            i = end == std::string::npos ? std::string::npos : end + 2;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(source[i]);
        if (std::isalpha(c) || c == '_') {
            std::size_t start = i;
            while (i < source.size() && (std::isalnum(static_cast<unsigned char>(source[i])) || source[i] == '_'))
                ++i;
            std::string word = source.substr(start, i - start);
            if (expectName)
                names.insert(word);
            afterName = expectName;
            expectName = !expectName && word == "samplerRECT";
            continue;
        }
        if (!std::isspace(c)) {
            expectName = c == ',' && afterName;
            afterName = false;
        }
        ++i;
    }
    return names;
}

// The front end renames the entry point "@main"; when the source has no such function it quietly compiles an
// empty program instead.
bool IsEntryPoint(const TIntermNode* node)
{
    const glslang::TIntermAggregate* function = node->getAsAggregate();
    return function != nullptr && function->getOp() == glslang::EOpFunction &&
           function->getName().compare(0, 6, "@main(") == 0;
}

// The functions and the linker objects of a parsed program.
const glslang::TIntermSequence& TopLevel(glslang::TIntermediate& intermediate)
{
    static const glslang::TIntermSequence none;
    glslang::TIntermAggregate* root =
        intermediate.getTreeRoot() != nullptr ? intermediate.getTreeRoot()->getAsAggregate() : nullptr;
    return root != nullptr ? root->getSequence() : none;
}

bool HasEntryPoint(glslang::TIntermediate& intermediate)
{
    const glslang::TIntermSequence& nodes = TopLevel(intermediate);
    return std::any_of(nodes.begin(), nodes.end(), IsEntryPoint);
}

// Every uniform the source declares, globals and entry-point parameters alike. The linker objects still list the
// globals the optimiser will drop; the entry point, renamed "@main" by the front end, keeps its own parameters.
std::vector<std::string> DeclaredUniforms(glslang::TIntermediate& intermediate)
{
    std::vector<std::string> names;
    auto add = [&names](const glslang::TIntermSymbol* symbol) {
        if (symbol == nullptr || symbol->getQualifier().storage != glslang::EvqUniform)
            return;
        const glslang::TType& type = symbol->getType();
        std::vector<std::string> found;
        if (type.getBasicType() == glslang::EbtBlock) {
            for (const glslang::TTypeLoc& member : *type.getStruct())
                found.push_back(member.type->getFieldName().c_str());
        } else {
            found.push_back(symbol->getName().c_str());
        }
        for (const std::string& name : found)
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
    };
    for (TIntermNode* node : TopLevel(intermediate)) {
        glslang::TIntermAggregate* aggregate = node->getAsAggregate();
        if (aggregate == nullptr)
            continue;
        bool entryPoint = IsEntryPoint(aggregate);
        if (aggregate->getOp() != glslang::EOpLinkerObjects && !entryPoint)
            continue;
        for (TIntermNode* child : aggregate->getSequence()) {
            glslang::TIntermAggregate* parameters = child->getAsAggregate();
            if (entryPoint && parameters != nullptr && parameters->getOp() == glslang::EOpParameters) {
                for (TIntermNode* parameter : parameters->getSequence())
                    add(parameter->getAsSymbolNode());
            } else if (!entryPoint) {
                add(child->getAsSymbolNode());
            }
        }
    }
    return names;
}

// SPIR-V edits: the rectangle samplers get an image type of dimension Rect, and the loads from them its
// sampled-image type.
void RetypeRectangleSamplers(std::vector<unsigned int>& spirv, const std::set<std::string>& rectangleNames)
{
    if (rectangleNames.empty() || spirv.size() < 5)
        return;
    std::map<unsigned int, std::string> names;
    std::map<unsigned int, unsigned int> pointerOf;  // variable id -> pointer type id
    std::map<unsigned int, std::vector<unsigned int>> typeWords;
    std::vector<std::size_t> loads;
    std::size_t firstFunction = spirv.size();
    std::size_t capabilityEnd = 5;
    for (std::size_t at = 5; at < spirv.size();) {
        unsigned int count = spirv[at] >> 16;
        unsigned int opcode = spirv[at] & 0xffff;
        if (count == 0 || at + count > spirv.size())
            return;
        if (opcode == spv::OpCapability)
            capabilityEnd = at + count;
        if (opcode == spv::OpName && count >= 3) {
            const char* name = reinterpret_cast<const char*>(&spirv[at + 2]);
            names[spirv[at + 1]] = std::string(name, strnlen(name, (count - 2) * sizeof(unsigned int)));
        }
        if (opcode == spv::OpTypeImage || opcode == spv::OpTypeSampledImage || opcode == spv::OpTypePointer)
            typeWords[spirv[at + 1]] = std::vector<unsigned int>(spirv.begin() + at, spirv.begin() + at + count);
        if (opcode == spv::OpVariable && count >= 4)
            pointerOf[spirv[at + 2]] = spirv[at + 1];
        if (opcode == spv::OpLoad && count >= 4)
            loads.push_back(at);
        if (opcode == spv::OpFunction && firstFunction == spirv.size())
            firstFunction = at;
        at += count;
    }

    std::vector<unsigned int> newTypes;
    std::map<unsigned int, std::pair<unsigned int, unsigned int>> rectangleTypes;  // 2D pointer -> (pointer, sampled)
    std::map<unsigned int, std::pair<unsigned int, unsigned int>> retyped;         // variable -> (pointer, sampled)
    for (const auto& [variable, pointer] : pointerOf) {
        auto name = names.find(variable);
        if (name == names.end() || rectangleNames.count(CgName(name->second)) == 0)
            continue;
        auto known = rectangleTypes.find(pointer);
        if (known != rectangleTypes.end()) {
            retyped[variable] = known->second;
            continue;
        }
        const std::vector<unsigned int>& pointerType = typeWords[pointer];
        if (pointerType.size() < 4 || pointerType[2] != spv::StorageClassUniformConstant)
            continue;
        const std::vector<unsigned int>& sampledType = typeWords[pointerType[3]];
        if (sampledType.size() < 3 || (sampledType[0] & 0xffff) != spv::OpTypeSampledImage)
            continue;
        std::vector<unsigned int> image = typeWords[sampledType[2]];
        if (image.size() < 4 || image[3] != spv::Dim2D)
            continue;
        unsigned int imageId = spirv[3]++;
        unsigned int sampledId = spirv[3]++;
        unsigned int pointerId = spirv[3]++;
        image[1] = imageId;
        image[3] = spv::DimRect;
        newTypes.insert(newTypes.end(), image.begin(), image.end());
        newTypes.insert(newTypes.end(), {(3u << 16) | spv::OpTypeSampledImage, sampledId, imageId});
        newTypes.insert(newTypes.end(),
                        {(4u << 16) | spv::OpTypePointer, pointerId, spv::StorageClassUniformConstant, sampledId});
        rectangleTypes[pointer] = retyped[variable] = {pointerId, sampledId};
    }
    if (retyped.empty())
        return;

    for (std::size_t at : loads) {
        auto found = retyped.find(spirv[at + 3]);
        if (found != retyped.end())
            spirv[at + 1] = found->second.second;
    }
    for (std::size_t at = 5; at < firstFunction; at += spirv[at] >> 16) {
        if ((spirv[at] & 0xffff) != spv::OpVariable)
            continue;
        auto found = retyped.find(spirv[at + 2]);
        if (found != retyped.end())
            spirv[at + 1] = found->second.first;
    }
    // Types go before the first variable that uses them; the new ones only refer to the float type.
    std::size_t typeEnd = 5;
    for (std::size_t at = 5; at < firstFunction; at += spirv[at] >> 16) {
        if ((spirv[at] & 0xffff) == spv::OpVariable)
            break;
        typeEnd = at + (spirv[at] >> 16);
    }
    spirv.insert(spirv.begin() + static_cast<std::ptrdiff_t>(typeEnd), newTypes.begin(), newTypes.end());
    spirv.insert(spirv.begin() + static_cast<std::ptrdiff_t>(capabilityEnd),
                 {(2u << 16) | spv::OpCapability, spv::CapabilitySampledRect});
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Splits "TEXCOORD3" into ("TEXCOORD", 3); a semantic without digits has index 0.
std::pair<std::string, int> SplitSemantic(const std::string& semantic)
{
    std::size_t digits = semantic.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(semantic[digits - 1])))
        --digits;
    if (digits == semantic.size() || semantic.size() - digits > 2)
        return {semantic, 0};
    return {semantic.substr(0, digits), std::stoi(semantic.substr(digits))};
}

// The leading components of a four-component built-in, for a value of width components.
std::string Leading(const std::string& builtin, unsigned width)
{
    static const char* const swizzles[] = {"", ".x", ".xy", ".xyz", ""};
    return builtin + swizzles[std::min(width, 4u)];
}

// The GLSL expression a stage input or output of the given semantic stands for; empty when Cg's OpenGL profiles
// give the semantic no binding.
std::string BuiltinFor(const std::string& semantic, bool vertexStage, bool input, unsigned width)
{
    auto [kind, index] = SplitSemantic(Upper(semantic));
    bool texCoord = (kind == "TEXCOORD" || kind == "TEX") && index < 8;
    bool colour = (kind == "COLOR" || kind == "COL" || kind == "DIFFUSE" || kind == "SPECULAR") && index < 2;
    if (kind == "SPECULAR")
        index = 1;
    if (vertexStage && input) {
        if (kind == "POSITION" && index == 0)
            return Leading("gl_Vertex", width);
        if (kind == "NORMAL" && index == 0)
            return width == 4 ? "vec4(gl_Normal, 0.0)" : Leading("gl_Normal", width == 3 ? 4 : width);
        if (colour)
            return Leading(index == 0 ? "gl_Color" : "gl_SecondaryColor", width);
        if (texCoord)
            return Leading("gl_MultiTexCoord" + std::to_string(index), width);
        return std::string();
    }
    if (vertexStage) {
        if ((kind == "POSITION" || kind == "HPOS") && index == 0)
            return Leading("gl_Position", width);
        if (colour)
            return Leading(index == 0 ? "gl_FrontColor" : "gl_FrontSecondaryColor", width);
        if (texCoord)
            return Leading("gl_TexCoord[" + std::to_string(index) + "]", width);
        if (kind == "PSIZE" && index == 0 && width == 1)
            return "gl_PointSize";
        return std::string();
    }
    if (input) {
        if (colour)
            return Leading(index == 0 ? "gl_Color" : "gl_SecondaryColor", width);
        if (texCoord)
            return Leading("gl_TexCoord[" + std::to_string(index) + "]", width);
        if (kind == "WPOS" && index == 0)
            return Leading("gl_FragCoord", width);
        return std::string();
    }
    if ((kind == "COLOR" || kind == "COL") && index < 4)
        return Leading("gl_FragData[" + std::to_string(index) + "]", width);
    return std::string();
}

bool IsIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Replaces whole identifiers only, so one placeholder never matches inside another.
std::string ReplaceIdentifiers(const std::string& text, const std::map<std::string, std::string>& replacements)
{
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (!IsIdentifierChar(text[i]) || (i > 0 && IsIdentifierChar(text[i - 1]))) {
            result += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && IsIdentifierChar(text[end]))
            ++end;
        auto found = replacements.find(text.substr(i, end - i));
        result += found != replacements.end() ? found->second : text.substr(i, end - i);
        i = end;
    }
    return result;
}

struct StageInterface {
    std::map<std::string, std::string> placeholders;  // placeholder identifier -> built-in expression
    std::string error;
};

// Hides every stage input and output behind a placeholder name that is later replaced by its built-in.
StageInterface BindSemantics(spirv_cross::CompilerGLSL& compiler, bool vertexStage)
{
    StageInterface bound;
    spirv_cross::ShaderResources resources = compiler.get_shader_resources();
    auto bind = [&](const spirv_cross::Resource& resource, bool input) {
        const std::string& semantic = compiler.get_decoration_string(resource.id, spv::DecorationUserSemantic);
        const spirv_cross::SPIRType& type = compiler.get_type(resource.type_id);
        bool vector = type.columns == 1 && type.array.empty() && type.basetype == spirv_cross::SPIRType::Float;
        std::string builtin = vector ? BuiltinFor(semantic, vertexStage, input, type.vecsize) : std::string();
        if (builtin.empty()) {
            std::string shape = vector ? "float" + std::to_string(type.vecsize) : "value of that type";
            bound.error += std::string(input ? "input" : "output") + " semantic " +
                           (semantic.empty() ? "(none)" : semantic) + " has no binding for a " + shape + " in a " +
                           (vertexStage ? "vertex" : "fragment") + " program\n";
            return;
        }
        std::string placeholder = "cgBinding" + std::to_string(static_cast<unsigned>(resource.id));
        compiler.set_name(resource.id, placeholder);
        compiler.set_remapped_variable_state(resource.id, true);
        bound.placeholders[placeholder] = builtin;
    };
    for (const spirv_cross::Resource& resource : resources.stage_inputs)
        bind(resource, true);
    for (const spirv_cross::Resource& resource : resources.stage_outputs)
        bind(resource, false);
    return bound;
}

// SPIR-V to the GLSL text, with every declared parameter's uniform name in it; errors go to the listing after
// where (file and entry point).
void WriteGlsl(std::vector<unsigned int>&& spirv, bool vertexStage, const std::vector<std::string>& declared,
               const std::string& where, CgTranslation& result)
{
    try {
        spirv_cross::CompilerGLSL compiler(std::move(spirv));
        spirv_cross::CompilerGLSL::Options glslOptions;
        glslOptions.version = 120;
        glslOptions.es = false;
        glslOptions.enable_420pack_extension = false;
        compiler.set_common_options(glslOptions);

        StageInterface bound = BindSemantics(compiler, vertexStage);
        if (!bound.error.empty()) {
            result.listing += where + bound.error;
            return;
        }
        if (vertexStage)
            compiler.add_header_line("invariant gl_Position;");

        // The uniforms that survived, by the front end's names; SPIRV-Cross may rename any that GLSL reserves.
        struct Live {
            std::string frontEndName;
            spirv_cross::ID id;  // the sampler, or the parameter block's type
            int member;          // -1 for a sampler
        };
        std::vector<Live> live;
        spirv_cross::ShaderResources resources = compiler.get_shader_resources();
        for (const spirv_cross::Resource& block : resources.uniform_buffers) {
            compiler.set_name(block.id, parameterBlockName);
            const spirv_cross::SPIRType& type = compiler.get_type(block.base_type_id);
            for (std::uint32_t i = 0; i < type.member_types.size(); ++i)
                live.push_back({compiler.get_member_name(block.base_type_id, i), block.base_type_id,
                                static_cast<int>(i)});
        }
        for (const spirv_cross::Resource& sampler : resources.sampled_images)
            live.push_back({sampler.name, sampler.id, -1});

        result.glsl = ReplaceIdentifiers(compiler.compile(), bound.placeholders);
        for (const std::string& name : declared) {
            auto found = std::find_if(live.begin(), live.end(),
                                      [&name](const Live& uniform) { return uniform.frontEndName == name; });
            std::string glslName;
            if (found != live.end() && found->member < 0)
                glslName = compiler.get_name(found->id);
            else if (found != live.end())
                glslName = std::string(parameterBlockName) + "." +
                           compiler.get_member_name(found->id, static_cast<std::uint32_t>(found->member));
            result.parameters.push_back({CgName(name), glslName});
        }
        result.compiled = true;
    } catch (const spirv_cross::CompilerError& error) {
        result.listing += where + error.what() + "\n";
    }
}

}  // namespace

CgTranslation TranslateCg(const std::string& source, const std::string& fileName, bool vertexStage,
                          const std::string& entry)
{
    InitialiseOnce();
    CgTranslation result;
    EShLanguage stage = vertexStage ? EShLangVertex : EShLangFragment;
    glslang::TShader shader(stage);
    const char* strings[2] = {Prelude().c_str(), source.c_str()};
    const int lengths[2] = {static_cast<int>(Prelude().size()), static_cast<int>(source.size())};
    const char* names[2] = {preludeName, fileName.c_str()};
    shader.setStringsWithLengthsAndNames(strings, lengths, names, 2);
    shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEnvTargetHlslFunctionality1();
    shader.setEntryPoint("main");
    shader.setSourceEntryPoint(entry.c_str());
    shader.setAutoMapLocations(true);
    shader.setAutoMapBindings(true);
    const EShMessages messages = static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl |
                                                          EShMsgHlslDX9Compatible);
    bool parsed = shader.parse(GetDefaultResources(), 100, false, messages);
    result.listing = shader.getInfoLog();
    if (!parsed)
        return result;

    if (!HasEntryPoint(*shader.getIntermediate())) {
        result.listing += fileName + ": no function " + entry + " to compile as the " +
                          (vertexStage ? "vertex" : "fragment") + " program\n";
        return result;
    }
    std::vector<std::string> declared = DeclaredUniforms(*shader.getIntermediate());
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(messages)) {
        result.listing += program.getInfoLog();
        return result;
    }

    std::vector<unsigned int> spirv;
    spv::SpvBuildLogger logger;
    glslang::SpvOptions options;
    options.disableOptimizer = false;
    glslang::GlslangToSpv(*program.getIntermediate(stage), spirv, &logger, &options);
    result.listing += logger.getAllMessages();
    RetypeRectangleSamplers(spirv, RectangleSamplerNames(source));

    WriteGlsl(std::move(spirv), vertexStage, declared, fileName + ": entry point " + entry + ": ", result);
    return result;
}
