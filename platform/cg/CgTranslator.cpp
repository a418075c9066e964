// Cg is parsed by glslang's front end for the DX9 shading language (the same grammar and intrinsics, with a short
// prelude for Cg's own words), legalised into SPIR-V and written back out as GLSL 1.20 by SPIRV-Cross. Stage
// inputs and outputs are then tied to the built-in streams and varyings by their Cg semantics, so a program of
// ours works beside a fixed-function stage.

#include "CgTranslator.h"

#include "CgSourceRewrites.h"
#include "CgPrelude.h"
#include "CgSemantics.h"
#include "CgSpirvRewrite.h"
#include "CgUncalledFunctions.h"
#include "CompileLimits.h"
#include "ShaderCompile.h"
#include "SourceText.h"

#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_glsl.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace {

const char* const preludeName = "cg-prelude";
const char* const parameterBlockName = "cgParameters";
constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxUncalledFunctionErrors = 32;

void InitialiseOnce()
{
    static const bool initialised = glslang::InitializeProcess();
    (void)initialised;
}

// Names declared with samplerRECT (also "samplerRECT a, b"): after the prelude they are 2D samplers, and the
// SPIR-V is retyped to rectangle samplers by name. Every function is inlined before the retyping, so only the
// names of global and entry-point samplers matter, and a type name taken for a declarator after a comma in a
// parameter list does no harm.
std::set<std::string> RectangleSamplerNames(const std::string& source)
{
    std::set<std::string> names;
    bool expectName = false;
    bool afterName = false;
    std::size_t i = 0;
    while ((i = SkipBlankAndComments(source, i)) < source.size()) {
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
        expectName = c == ',' && afterName;
        afterName = false;
        ++i;
    }
    return names;
}

// A declared parameter, member or element, by its Cg name and by its path in the front end's names.
struct Declared {
    std::string cgName;
    std::string frontEndPath;  // "IN.video_size", "weights[2]"
};

// The Cg name of a front-end path: each member's name as Cg spells it ("IN.texture").
std::string CgPath(const std::string& frontEndPath)
{
    std::string path;
    std::size_t at = 0;
    while (at <= frontEndPath.size()) {
        std::size_t dot = std::min(frontEndPath.find('.', at), frontEndPath.size());
        std::string name = frontEndPath.substr(at, dot - at);
        if (at == 0 && name.compare(0, std::strlen(kUniformCopyPrefix), kUniformCopyPrefix) == 0)
            name.erase(0, std::strlen(kUniformCopyPrefix));
        path += (at == 0 ? "" : ".") + CgName(name);
        at = dot + 1;
    }
    return path;
}

// The parameter of type and, below it, every member and element, each reachable by its Cg name.
void AddDeclared(const glslang::TType& type, const std::string& cgName, const std::string& frontEndPath,
                 std::vector<Declared>& declared)
{
    if (std::none_of(declared.begin(), declared.end(), [&cgName](const Declared& d) { return d.cgName == cgName; }))
        declared.push_back({cgName, frontEndPath});
    if (type.isArray()) {
        glslang::TType element(type, 0);
        for (int i = 0; i < type.getOuterArraySize(); ++i) {
            std::string index = "[" + std::to_string(i) + "]";
            AddDeclared(element, cgName + index, frontEndPath + index, declared);
        }
    } else if (type.isStruct()) {
        for (const glslang::TTypeLoc& member : *type.getStruct()) {
            std::string field = member.type->getFieldName().c_str();
            AddDeclared(*member.type, cgName + "." + CgName(field), frontEndPath + "." + field, declared);
        }
    }
}

// Every uniform the source declares, globals (members of the front end's global block) and entry-point
// parameters alike, with their members and elements.
std::vector<Declared> DeclaredUniforms(glslang::TIntermediate& intermediate)
{
    std::vector<Declared> declared;
    for (const glslang::TIntermSymbol* symbol : UniformSymbols(intermediate)) {
        const glslang::TType& type = symbol->getType();
        if (type.getBasicType() == glslang::EbtBlock) {
            for (const glslang::TTypeLoc& member : *type.getStruct()) {
                std::string field = member.type->getFieldName().c_str();
                AddDeclared(*member.type, CgPath(field), field, declared);
            }
            continue;
        }
        std::string name = symbol->getName().c_str();
        AddDeclared(type, CgPath(name), name, declared);
    }
    return declared;
}

// The texture coordinate set of every value between the stages that has no semantic, by the name the front end
// gives its variable ("@entryPointOutput.colour", "IN.colour", "extra"). The sets are chosen from the entry
// point's declared interface, in declaration order, before unused values are dropped, so that the two stages of
// one struct agree whichever members each of them reads.
std::map<std::string, int> FreeInterpolants(glslang::TIntermediate& intermediate, bool vertexStage)
{
    struct Leaf {
        std::string name;
        std::string semantic;
    };
    std::vector<Leaf> leaves;
    std::function<void(const glslang::TType&, const std::string&, const char*)> add =
        [&](const glslang::TType& type, const std::string& name, const char* semantic) {
            if (type.isStruct() && !type.isArray()) {
                for (const glslang::TTypeLoc& member : *type.getStruct())
                    add(*member.type, name + "." + member.type->getFieldName().c_str(),
                        member.type->getQualifier().semanticName);
                return;
            }
            leaves.push_back({name, semantic != nullptr ? semantic : ""});
        };
    const glslang::TIntermAggregate* entry = EntryFunction(intermediate);
    if (entry == nullptr)
        return {};
    if (vertexStage && entry->getType().getBasicType() != glslang::EbtVoid)
        add(entry->getType(), "@entryPointOutput", entry->getType().getQualifier().semanticName);
    for (TIntermNode* child : entry->getSequence()) {
        const glslang::TIntermAggregate* parameters = child->getAsAggregate();
        if (parameters == nullptr || parameters->getOp() != glslang::EOpParameters)
            continue;
        for (TIntermNode* node : parameters->getSequence()) {
            const glslang::TIntermSymbol* parameter = node->getAsSymbolNode();
            if (parameter == nullptr)
                continue;
            glslang::TStorageQualifier storage = parameter->getQualifier().storage;
            bool varying = vertexStage ? storage == glslang::EvqOut || storage == glslang::EvqInOut
                                       : storage == glslang::EvqIn || storage == glslang::EvqInOut;
            if (varying)
                add(parameter->getType(), parameter->getName().c_str(),
                    parameter->getType().getQualifier().semanticName);
        }
    }

    std::set<int> usedSlots;
    for (const Leaf& leaf : leaves)
        for (int slot = 0; slot < kTexCoordSlots && !leaf.semantic.empty(); ++slot)
            if (BuiltinFor(leaf.semantic, vertexStage, !vertexStage, 4) ==
                BuiltinFor("TEXCOORD" + std::to_string(slot), vertexStage, !vertexStage, 4))
                usedSlots.insert(slot);
    std::map<std::string, int> slots;
    int slot = 0;
    for (const Leaf& leaf : leaves) {
        if (!leaf.semantic.empty())
            continue;
        while (usedSlots.count(slot) != 0)
            ++slot;
        slots[leaf.name] = slot++;
    }
    return slots;
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
    std::set<std::string> declarations;               // of the built-ins of our own that the stage uses
    std::vector<CgDeclaredParameter> settableInputs;  // vertex inputs without a semantic, by their Cg names
    bool needsGlsl130 = false;
    std::string error;
};

// Hides every stage input and output behind a placeholder name that is later replaced by its built-in. Values
// between the stages without a semantic take the texture coordinate sets that FreeInterpolants chose. A vertex
// input without a semantic has no conventional stream: it becomes a generic attribute of its own, which Cg's
// runtime feeds by the input's name ("IN.video_size" of an entry parameter "input IN"), one value for the draw
// or an array of them.
StageInterface BindSemantics(spirv_cross::CompilerGLSL& compiler, bool vertexStage,
                             const std::map<std::string, int>& freeInterpolants)
{
    StageInterface bound;
    spirv_cross::ShaderResources resources = compiler.get_shader_resources();
    auto bind = [&](const spirv_cross::Resource& resource, bool input) {
        std::string semantic = compiler.get_decoration_string(resource.id, spv::DecorationUserSemantic);
        auto free = freeInterpolants.find(resource.name);
        if (semantic.empty() && vertexStage != input && free != freeInterpolants.end())
            semantic = "TEXCOORD" + std::to_string(free->second);
        // A fragment program's result without a semantic is its colour.
        if (semantic.empty() && !vertexStage && !input && resource.name == "@entryPointOutput")
            semantic = "COLOR0";
        const spirv_cross::SPIRType& type = compiler.get_type(resource.type_id);
        bool vector = type.columns == 1 && type.array.empty() && type.basetype == spirv_cross::SPIRType::Float;
        std::string placeholder = "cgBinding" + std::to_string(static_cast<unsigned>(resource.id));
        if (semantic.empty() && vertexStage && input && vector) {
            std::string attribute = "cgInput" + std::to_string(static_cast<unsigned>(resource.id));
            std::string glslType = type.vecsize == 1 ? "float" : "vec" + std::to_string(type.vecsize);
            bound.declarations.insert("attribute " + glslType + " " + attribute + ";");
            bound.settableInputs.push_back({CgPath(resource.name), attribute, true});
            compiler.set_name(resource.id, placeholder);
            compiler.set_remapped_variable_state(resource.id, true);
            bound.placeholders[placeholder] = attribute;
            return;
        }
        std::string builtin = vector ? BuiltinFor(semantic, vertexStage, input, type.vecsize) : std::string();
        if (builtin.empty()) {
            std::string shape = vector ? "float" + std::to_string(type.vecsize) : "value of that type";
            bound.error += std::string(input ? "input" : "output") + " semantic " +
                           (semantic.empty() ? "(none)" : semantic) + " has no binding for a " + shape + " in a " +
                           (vertexStage ? "vertex" : "fragment") + " program\n";
            return;
        }
        bound.needsGlsl130 = bound.needsGlsl130 || NeedsGlsl130(builtin);
        std::string declaration = OwnDeclaration(builtin, vertexStage);
        if (!declaration.empty())
            bound.declarations.insert(declaration);
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

// The part of a front-end path before its first member or element: the uniform itself.
std::string RootOf(const std::string& frontEndPath) { return frontEndPath.substr(0, frontEndPath.find_first_of(".[")); }

// SPIR-V to the GLSL text, with every declared parameter's uniform name in it; errors go to the listing after
// where (file and entry point).
void WriteGlsl(std::vector<unsigned int>&& spirv, bool vertexStage, const std::vector<Declared>& declared,
               const std::map<std::string, int>& freeInterpolants, const std::string& where, CgTranslation& result)
{
    try {
        spirv_cross::CompilerGLSL compiler(std::move(spirv));
        StageInterface bound = BindSemantics(compiler, vertexStage, freeInterpolants);
        if (!bound.error.empty()) {
            result.listing += where + bound.error;
            return;
        }
        spirv_cross::CompilerGLSL::Options glslOptions;
        glslOptions.version = 120;
        glslOptions.es = false;
        glslOptions.enable_420pack_extension = false;
        compiler.set_common_options(glslOptions);
        if (vertexStage)
            compiler.add_header_line("invariant gl_Position;");
        for (const std::string& declaration : bound.declarations)
            compiler.add_header_line(declaration);

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
                live.push_back(
                    {compiler.get_member_name(block.base_type_id, i), block.base_type_id, static_cast<int>(i)});
        }
        for (const spirv_cross::Resource& sampler : resources.sampled_images)
            live.push_back({sampler.name, sampler.id, -1});
        // The members of a global struct that holds a sampler, which the front end makes uniforms of their own.
        for (spirv_cross::VariableID id : compiler.get_active_interface_variables()) {
            spirv_cross::SPIRType::BaseType base = compiler.get_type_from_variable(id).basetype;
            if (compiler.get_storage_class(id) == spv::StorageClassUniformConstant &&
                base != spirv_cross::SPIRType::SampledImage && base != spirv_cross::SPIRType::Image &&
                base != spirv_cross::SPIRType::Sampler)
                live.push_back({compiler.get_name(id), id, -1});
        }

        result.glsl = ReplaceIdentifiers(compiler.compile(), bound.placeholders);
        // The 1.20 text as it is, under the version that has the built-in or the integer remainder it needs (the
        // writer would lay its matrices out differently for 1.30).
        const std::string version120 = "#version 120";
        bool remainder = result.glsl.find(" % ") != std::string::npos;
        if ((bound.needsGlsl130 || remainder) && result.glsl.compare(0, version120.size(), version120) == 0)
            result.glsl.replace(0, version120.size(), "#version 130");
        for (const Declared& parameter : declared) {
            // A member of a global struct that holds a sampler is a uniform of its own, named by its whole path.
            std::string root = RootOf(parameter.frontEndPath);
            auto found = std::find_if(live.begin(), live.end(), [&parameter](const Live& uniform) {
                return uniform.frontEndName == parameter.frontEndPath;
            });
            if (found == live.end())
                found = std::find_if(live.begin(), live.end(),
                                     [&root](const Live& uniform) { return uniform.frontEndName == root; });
            std::string glslName;
            if (found != live.end() && found->member < 0)
                glslName = compiler.get_name(found->id) +
                           (found->frontEndName == root ? parameter.frontEndPath.substr(root.size()) : "");
            else if (found != live.end())
                glslName = std::string(parameterBlockName) + "." +
                           compiler.get_member_name(found->id, static_cast<std::uint32_t>(found->member)) +
                           parameter.frontEndPath.substr(root.size());
            result.parameters.push_back({parameter.cgName, glslName});
        }
        result.parameters.insert(result.parameters.end(), bound.settableInputs.begin(), bound.settableInputs.end());
        result.compiled = true;
    } catch (const spirv_cross::CompilerError& error) {
        result.listing += where + error.what() + "\n";
    }
}

// The image queries as GLSL 1.20 has them: under GL_EXT_gpu_shader4, a rectangle's fetch and size without the
// level that the writer gives every sampler.
void ImageQueriesFor120(const std::set<std::string>& rectangleNames, std::string& glsl)
{
    const std::string extension = "#extension GL_EXT_gpu_shader4 : require\n";
    bool queries = glsl.find("texelFetch") != std::string::npos || glsl.find("textureSize") != std::string::npos;
    if (!queries)
        return;
    for (const std::string& name : rectangleNames) {
        for (const std::string function : {"texelFetch2D", "textureSize2D"}) {
            const std::string form = function + "(" + name + ", ";
            for (std::size_t at = glsl.find(form); at != std::string::npos; at = glsl.find(form, at + 1)) {
                std::size_t end = at + function.size();
                for (int depth = 0; end < glsl.size(); ++end) {
                    depth += (glsl[end] == '(') - (glsl[end] == ')');
                    if (depth == 0)
                        break;
                }
                // The last argument is the level 0 that the prelude gives a rectangle.
                if (end >= glsl.size() || glsl.compare(end - 3, 3, ", 0") != 0)
                    continue;
                glsl.erase(end - 3, 3);
                glsl.replace(at, function.size(), function + "Rect");
            }
        }
    }
    if (glsl.find(extension) == std::string::npos) {
        std::size_t line = glsl.find('\n');
        glsl.insert(line == std::string::npos ? glsl.size() : line + 1, extension);
    }
}

// Every read of a uniform bound to GL's state reads the state instead; the parameter stays declared, and as in
// Cg the program tracks the state without being set.
void BindStateParameters(const std::map<std::string, std::string>& stateMatrices, CgTranslation& result)
{
    for (CgDeclaredParameter& parameter : result.parameters) {
        auto found = stateMatrices.find(parameter.name);
        if (found == stateMatrices.end() || parameter.glslName.empty())
            continue;
        std::string& glsl = result.glsl;
        for (std::size_t at = glsl.find(parameter.glslName); at != std::string::npos;
             at = glsl.find(parameter.glslName, at + 1)) {
            std::size_t end = at + parameter.glslName.size();
            if ((at > 0 && (IsIdentifierChar(glsl[at - 1]) || glsl[at - 1] == '.')) ||
                (end < glsl.size() && IsIdentifierChar(glsl[end])))
                continue;
            glsl.replace(at, parameter.glslName.size(), "(" + found->second + ")");
        }
        parameter.glslName.clear();
    }
}

// Spans of a file (by the name the front end gives it) left blank in the parse.
using Blanks = std::map<std::string, std::vector<std::pair<std::size_t, std::size_t>>>;

// #include "file" and #include <file>, found relative to the including file, then in each include directory in
// order; regular files only, each with its blanks. The front end names the first string it was given (the
// prelude) as the includer of the file's own includes.
// glslang's preprocessor predefines a macro for every GL extension it knows (GL_ARB_gpu_shader5, ...), also for HLSL
// source; Cg defines none, so every GL_ name a text mentions is undefined before the text is read (an #undef of a
// name that is not defined changes nothing).
std::string UndefineGlMacros(const std::string& text)
{
    auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    std::set<std::string> names;
    for (std::size_t at = text.find("GL_"); at != std::string::npos; at = text.find("GL_", at + 3)) {
        if (at > 0 && isWord(text[at - 1]))
            continue;
        std::size_t end = at + 3;
        while (end < text.size() && isWord(text[end]))
            ++end;
        names.insert(text.substr(at, end - at));
    }
    std::string lines;
    for (const std::string& name : names)
        lines += "#undef " + name + "\n";
    return lines;
}

class Includer : public glslang::TShader::Includer {
public:
    Includer(const std::string& fileName, const std::vector<std::string>& directories, const Blanks& blanks = {})
        : fileName_(fileName), directories_(directories), blanks_(blanks)
    {
    }

    // The text of the include the front end names path, as it was parsed; null when none was read.
    const std::string* Text(const std::string& path) const
    {
        auto found = texts_.find(path);
        return found == texts_.end() ? nullptr : &found->second;
    }

    IncludeResult* includeLocal(const char* headerName, const char* includerName, size_t depth) override
    {
        if (depth > kMaxIncludeDepth)
            return nullptr;
        std::string includer = std::strcmp(includerName, preludeName) == 0 ? fileName_ : includerName;
        std::size_t slash = includer.rfind('/');
        std::vector<std::string> candidates{headerName};
        if (headerName[0] != '/') {
            if (slash != std::string::npos)
                candidates[0] = includer.substr(0, slash + 1) + headerName;
            for (const std::string& directory : directories_)
                candidates.push_back(directory + (directory.empty() || directory.back() == '/' ? "" : "/") +
                                     headerName);
        }
        std::string path;
        std::string source;
        std::string problem;
        auto readable = [&](const std::string& candidate) {
            path = candidate;
            return ReadShaderFile(candidate, source, problem);
        };
        if (headerName[0] == '\0' || std::none_of(candidates.begin(), candidates.end(), readable))
            return nullptr;
        auto text = std::make_unique<std::string>(NestInitialisers(source));
        auto blanks = blanks_.find(path);
        for (std::size_t i = 0; blanks != blanks_.end() && i < blanks->second.size(); ++i)
            *text = Blanked(*text, blanks->second[i]);
        texts_[path] = *text;
        totalBytes_ += text->size();
        if (totalBytes_ > static_cast<std::size_t>(kShaderFileBytes))
            return nullptr;
        // The include's own lines keep their numbers after the #undef lines.
        const std::string undefines = UndefineGlMacros(*text);
        auto data = std::make_unique<std::string>(undefines.empty() ? *text : undefines + "#line 1\n" + *text);
        auto* result = new IncludeResult(path, data->data(), data->size(), data.get());
        data.release();
        return result;
    }

    IncludeResult* includeSystem(const char* headerName, const char* includerName, size_t depth) override
    {
        return includeLocal(headerName, includerName, depth);
    }

    void releaseInclude(IncludeResult* result) override
    {
        if (result == nullptr)
            return;
        delete static_cast<std::string*>(result->userData);
        delete result;
    }

private:
    std::string fileName_;
    std::vector<std::string> directories_;
    Blanks blanks_;
    std::map<std::string, std::string> texts_;
    std::size_t totalBytes_ = 0;
};

}  // namespace

CgTranslation TranslateCg(const std::string& fileText, const std::string& fileName, bool vertexStage,
                          const std::string& entry, const std::vector<std::string>& includeDirectories,
                          const std::string& preamble)
{
    InitialiseOnce();
    // Editors may start a UTF-8 file with a byte-order mark, which is no token of the language.
    const std::string source = fileText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? fileText.substr(3) : fileText;
    const std::string cgPreamble = UndefineGlMacros(source) + preamble;
    CgTranslation result;
    EShLanguage stage = vertexStage ? EShLangVertex : EShLangFragment;
    std::map<std::string, std::string> stateMatrices;
    const std::string declarations =
        TypeGenericSamplers(BindStateMatrices(RewriteDeclarations(BlankComments(source), vertexStage), stateMatrices));
    std::string nested = NestInitialisers(RewriteEntryParameters(declarations, entry));
    std::string prelude = CgPrelude(std::string());
    const char* strings[2] = {prelude.c_str(), nested.c_str()};
    int lengths[2] = {static_cast<int>(prelude.size()), static_cast<int>(nested.size())};
    const char* names[2] = {preludeName, fileName.c_str()};
    const EShMessages messages =
        static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl | EShMsgHlslDX9Compatible);
    auto configure = [&](glslang::TShader& shader) {
        shader.setStringsWithLengthsAndNames(strings, lengths, names, 2);
        shader.setPreamble(cgPreamble.c_str());
        shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientVulkan, 100);
        shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
        shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
        shader.setEnvTargetHlslFunctionality1();
        shader.setEntryPoint(kEntryPointName);
        shader.setSourceEntryPoint(entry.c_str());
        shader.setAutoMapLocations(true);
        shader.setAutoMapBindings(true);
    };

    // The parser and the tree walks recurse once per level of nesting, so the bounds are checked first, on the
    // text after its macros and includes.
    glslang::TShader preprocessor(stage);
    configure(preprocessor);
    std::string preprocessed;
    Includer preprocessIncludes(fileName, includeDirectories);
    if (!preprocessor.preprocess(GetDefaultResources(), 100, ENoProfile, false, false, messages, &preprocessed,
                                 preprocessIncludes)) {
        result.listing = preprocessor.getInfoLog();
        return result;
    }
    std::string problem = NestingProblem(preprocessed);
    if (!problem.empty()) {
        result.listing = fileName + ": " + problem + "\n";
        return result;
    }

    // Struct types from the includes decide which entry parameters hold samplers too.
    nested = NestInitialisers(RewriteEntryParameters(declarations, entry, preprocessed));
    strings[1] = nested.c_str();
    lengths[1] = static_cast<int>(nested.size());
    result.matricesByRows = NamesNonSquareMatrix(preprocessed);
    prelude = (result.matricesByRows ? "#pragma pack_matrix(row_major)\n" : "") + CgPrelude(preprocessed);
    strings[0] = prelude.c_str();
    lengths[0] = static_cast<int>(prelude.size());
    // An error inside a function that the entry point never calls leaves that function out of the program (its
    // text blank, so every line keeps its number), and the parse is tried again; the error stays as a warning.
    const std::set<std::string> called = CalledFunctionNames(preprocessed, entry);
    std::string parsedText = nested;
    Blanks blanks;
    std::string ignored;
    std::unique_ptr<glslang::TShader> parsedShader;
    std::unique_ptr<Includer> includes;
    bool parsed = false;
    for (int attempt = 0; attempt <= kMaxUncalledFunctionErrors && !parsed; ++attempt) {
        strings[1] = parsedText.c_str();
        lengths[1] = static_cast<int>(parsedText.size());
        parsedShader = std::make_unique<glslang::TShader>(stage);
        configure(*parsedShader);
        includes = std::make_unique<Includer>(fileName, includeDirectories, blanks);
        parsed = parsedShader->parse(GetDefaultResources(), 100, false, messages, *includes);
        const std::string log = parsed ? std::string() : parsedShader->getInfoLog();
        const std::string file = FirstErrorFile(log);
        const std::string* text = file == fileName ? &parsedText : includes->Text(file);
        std::pair<std::size_t, std::size_t> span;
        std::string warning;
        if (parsed || text == nullptr || !UncalledFunctionError(log, file, *text, called, span, warning))
            break;
        ignored += warning;
        if (file == fileName)
            parsedText = Blanked(parsedText, span);
        else
            blanks[file].push_back(span);
    }
    glslang::TShader& shader = *parsedShader;
    result.listing = ignored + shader.getInfoLog();
    if (!parsed)
        return result;

    if (EntryFunction(*shader.getIntermediate()) == nullptr) {
        result.listing += fileName + ": no function " + entry + " to compile as the " +
                          (vertexStage ? "vertex" : "fragment") + " program\n";
        return result;
    }
    problem = UniformSizeProblem(*shader.getIntermediate());
    if (!problem.empty()) {
        result.listing += fileName + ": " + problem + "\n";
        return result;
    }
    std::vector<Declared> declared = DeclaredUniforms(*shader.getIntermediate());
    std::map<std::string, int> freeInterpolants = FreeInterpolants(*shader.getIntermediate(), vertexStage);
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
    SignedFloatConversions(spirv);
    SignedImageQueries(spirv);
    std::set<std::string> rectangleNames = RectangleSamplerNames(source);
    if (!rectangleNames.empty())
        RetypeRectangleSamplers(spirv, [&rectangleNames](const std::string& frontEndName) {
            return rectangleNames.count(CgName(frontEndName)) != 0;
        });

    WriteGlsl(std::move(spirv), vertexStage, declared, freeInterpolants, fileName + ": entry point " + entry + ": ",
              result);
    ImageQueriesFor120(rectangleNames, result.glsl);
    BindStateParameters(stateMatrices, result);
    return result;
}
