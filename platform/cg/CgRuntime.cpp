// The shading runtime on GLSL separable programs; shader files reach GL through ShaderCompile (GLSL checked, Cg
// translated, either in the compiler process).
//
// [SECTION] Handles and records
// [SECTION] Compilation
// [SECTION] Contexts and programs
// [SECTION] Pipeline stages
// [SECTION] Parameter values
// [SECTION] Parameter structure and vertex arrays
//
// Every handle is a number drawn from one counter and never reused, looked up in a table on each call; a
// destroyed program leaves the table with its parameters, so a stale handle is simply not found and never
// reaches GL.

#include "CgSemantics.h"
#include "CgPrefetch.h"
#include "Diagnostics.h"
#include "PreparedShaders.h"
#include "SourceText.h"
#include "ShaderCompile.h"

#include <Cg/cgGL.h>

#include <GL/glew.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// [SECTION] Handles and records

struct ContextRecord {
    std::string lastListing;
    bool hasListing = false;
};

struct ProgramRecord {
    CGprofile profile = CG_PROFILE_UNKNOWN;
    GLuint glProgram = 0;
    std::string compiledText;
    std::string sourceText;
    bool matricesByRows = false;                       // see CgTranslation
    std::map<std::string, std::uintptr_t> parameters;  // name -> parameter handle, members and elements included
    std::vector<std::uintptr_t> topLevel;              // the parameters that are no member or element
};

// A parameter: a uniform (location), a vertex input (attribute), or a struct or array whose members hold those;
// a parameter the compiler dropped has neither.
struct ParameterRecord {
    std::string name;
    std::uintptr_t program = 0;
    std::uintptr_t parent = 0;            // the struct or array it belongs to; 0 for a top-level parameter
    std::vector<std::uintptr_t> members;  // struct members or array elements, in declaration order
    GLuint glProgram = 0;
    GLint location = -1;
    GLint attribute = -1;
    bool referenced = false;  // the compiled program reads it (for a leaf)
    GLenum type = 0;
    GLenum textureTarget = 0;  // 0 for a uniform that is not a sampler
    GLint unit = 0;
    GLuint texture = 0;
    std::string glslName;         // the uniform in GL, without "[0]" for an array
    GLint arraySize = 1;          // elements, for an array
    bool matricesByRows = false;  // the program's matrix layout
};

struct StageState {
    bool enabled = false;
    std::uintptr_t boundProgram = 0;
    GLuint active = 0;  // the GL program in the pipeline stage
};

struct Runtime {
    std::uintptr_t lastHandle = 0;
    std::unordered_map<std::uintptr_t, ContextRecord> contexts;
    std::unordered_map<std::uintptr_t, ProgramRecord> programs;
    std::unordered_map<std::uintptr_t, ParameterRecord> parameters;
    GLuint pipeline = 0;
    StageState vertexStage;
    StageState fragmentStage;
};

Runtime runtime;

std::uintptr_t NewHandle() { return ++runtime.lastHandle; }

template <typename Handle>
std::uintptr_t HandleValue(Handle handle)
{
    return reinterpret_cast<std::uintptr_t>(handle);
}

template <typename Handle>
Handle MakeHandle(std::uintptr_t value)
{
    return reinterpret_cast<Handle>(value);
}

template <typename Record>
Record* Find(std::unordered_map<std::uintptr_t, Record>& table, std::uintptr_t handle)
{
    auto found = table.find(handle);
    return found == table.end() ? nullptr : &found->second;
}

ParameterRecord* FindParameter(CGparameter param) { return Find(runtime.parameters, HandleValue(param)); }

bool IsVertexProfile(CGprofile profile) { return profile == CG_PROFILE_GLSLV; }

bool IsKnownProfile(CGprofile profile) { return profile == CG_PROFILE_GLSLV || profile == CG_PROFILE_GLSLF; }

StageState& StageOf(CGprofile profile)
{
    return IsVertexProfile(profile) ? runtime.vertexStage : runtime.fragmentStage;
}

GLbitfield StageBit(CGprofile profile)
{
    return IsVertexProfile(profile) ? GL_VERTEX_SHADER_BIT : GL_FRAGMENT_SHADER_BIT;
}

// Created on first use, when a GL context is certainly current.
GLuint Pipeline()
{
    if (runtime.pipeline == 0)
        glGenProgramPipelines(1, &runtime.pipeline);
    return runtime.pipeline;
}

// A bound pipeline without any program draws nothing on Mesa instead of falling back to fixed-function
// processing, so the pipeline is bound only while one of its stages holds a program.
void SetStage(CGprofile profile, GLuint glProgram)
{
    StageOf(profile).active = glProgram;
    glUseProgramStages(Pipeline(), StageBit(profile), glProgram);
    bool any = runtime.vertexStage.active != 0 || runtime.fragmentStage.active != 0;
    glBindProgramPipeline(any ? runtime.pipeline : 0);
}

// [SECTION] Compilation

bool IsIdentifier(const std::string& name)
{
    if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (char c : name) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!letter && !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

std::string ProgramInfoLog(GLuint program)
{
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1)
        return std::string();
    std::vector<GLchar> log(static_cast<std::size_t>(length));
    glGetProgramInfoLog(program, length, nullptr, log.data());
    return std::string(log.data());
}

GLenum SamplerTarget(GLenum type)
{
    switch (type) {
    case GL_SAMPLER_1D:
    case GL_SAMPLER_1D_SHADOW:
        return GL_TEXTURE_1D;
    case GL_SAMPLER_2D:
    case GL_SAMPLER_2D_SHADOW:
        return GL_TEXTURE_2D;
    case GL_SAMPLER_3D:
        return GL_TEXTURE_3D;
    case GL_SAMPLER_CUBE:
        return GL_TEXTURE_CUBE_MAP;
    case GL_SAMPLER_2D_RECT:
    case GL_SAMPLER_2D_RECT_SHADOW:
        return GL_TEXTURE_RECTANGLE;
    default:
        return 0;
    }
}

// Samplers take units above the fixed-function ones, so a program's textures never show up in a
// fixed-function draw that enables a texture target on a low unit.
GLint FirstSamplerUnit(CGprofile profile, GLint samplerCount)
{
    GLint fixedUnits = 0;
    GLint stageUnits = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS, &fixedUnits);
    glGetIntegerv(IsVertexProfile(profile) ? GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS : GL_MAX_TEXTURE_IMAGE_UNITS,
                  &stageUnits);
    if (fixedUnits + samplerCount <= stageUnits)
        return fixedUnits;
    return stageUnits > samplerCount ? stageUnits - samplerCount : 0;
}

// The struct or array that the parameter called name is a member or element of ("IN" of "IN.size", "w" of
// "w[2]"); empty for a top-level parameter.
std::string ParentName(const std::string& name)
{
    std::size_t end = !name.empty() && name.back() == ']' ? name.rfind('[') : name.rfind('.');
    return end == std::string::npos ? std::string() : name.substr(0, end);
}

// Places the parameter called name in its program's tree, below its struct or array, which is made when the
// program has no parameter of that name (a GLSL struct uniform, a struct of vertex inputs). Returns its handle.
std::uintptr_t LinkParameter(std::uintptr_t programHandle, ProgramRecord& program, const std::string& name,
                             std::set<std::uintptr_t>& linked)
{
    auto found = program.parameters.find(name);
    std::uintptr_t handle = found != program.parameters.end() ? found->second : NewHandle();
    if (found == program.parameters.end()) {
        runtime.parameters[handle].name = name;
        runtime.parameters[handle].program = programHandle;
        program.parameters[name] = handle;
    }
    if (!linked.insert(handle).second)
        return handle;
    std::string parentName = ParentName(name);
    if (parentName.empty()) {
        program.topLevel.push_back(handle);
        return handle;
    }
    std::uintptr_t parent = LinkParameter(programHandle, program, parentName, linked);
    runtime.parameters[handle].parent = parent;
    runtime.parameters[parent].members.push_back(handle);
    return handle;
}

// Every value path the GLSL text names ("cgParameters.light.colour", "cgParameters.w[2]"), with an index that is
// no number written "[*]": read once, so each parameter is then looked up rather than searched for.
std::set<std::string> PathsInText(const std::string& text)
{
    std::set<std::string> paths;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!IsIdentifierChar(text[at]) || std::isdigit(static_cast<unsigned char>(text[at])) ||
            (at > 0 && (IsIdentifierChar(text[at - 1]) || text[at - 1] == '.'))) {
            ++at;
            continue;
        }
        std::string path;
        for (;;) {
            std::size_t end = at;
            while (end < text.size() && IsIdentifierChar(text[end]))
                ++end;
            path += text.substr(at, end - at);
            at = end;
            if (at + 1 < text.size() && text[at] == '.' && IsIdentifierChar(text[at + 1])) {
                path += '.';
                ++at;
                continue;
            }
            if (at < text.size() && text[at] == '[') {
                std::size_t close = text.find(']', at);
                std::string index = close == std::string::npos ? std::string() : text.substr(at + 1, close - at - 1);
                bool number = !index.empty() && index.size() < 10 &&
                              std::all_of(index.begin(), index.end(),
                                          [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
                path += number ? "[" + index + "]" : "[*]";
                // A computed index holds paths of its own.
                if (!number)
                    break;
                at = close + 1;
                if (at + 1 < text.size() && text[at] == '.' && IsIdentifierChar(text[at + 1])) {
                    path += '.';
                    ++at;
                    continue;
                }
            }
            break;
        }
        paths.insert(path);
    }
    return paths;
}

// Whether the GLSL text reads the uniform at glslName ("cgParameters.light.colour"), by the paths it names: the
// driver counts every member of a uniform struct as active, so the text decides. The path itself, a longer one
// through it, or a struct or array above it used whole ("cgParameters.light" handed to a function) reads it, and
// so does another index of an array above it, which may be computed; the parameter block's own name does not, as
// its declaration names it.
bool ReadInText(const std::set<std::string>& paths, const std::string& glslName)
{
    auto through = paths.lower_bound(glslName);
    if (through != paths.end() && through->compare(0, glslName.size(), glslName) == 0 &&
        (through->size() == glslName.size() || (*through)[glslName.size()] == '.' ||
         (*through)[glslName.size()] == '['))
        return true;
    const std::size_t rootEnd = glslName.find_first_of(".[");
    for (std::size_t end = glslName.find_first_of(".[", rootEnd + 1); rootEnd != std::string::npos;
         end = glslName.find_first_of(".[", end + 1)) {
        const std::string above = glslName.substr(0, end);
        if (paths.count(above) != 0)
            return true;
        if (end < glslName.size() && glslName[end] == '[') {
            // Any element of this array read by another index: "w[*]", or "w[3]" for the element "w[2]".
            auto element = paths.lower_bound(above + "[");
            if (element != paths.end() && element->compare(0, above.size() + 1, above + "[") == 0)
                return true;
        }
        if (end == std::string::npos)
            break;
    }
    return false;
}

// The active vertex attribute called name, as a parameter record; a record without attribute when there is none.
ParameterRecord AttributeRecord(GLuint glProgram, const std::string& name)
{
    ParameterRecord record;
    GLint count = 0;
    glGetProgramiv(glProgram, GL_ACTIVE_ATTRIBUTES, &count);
    for (GLint i = 0; i < count; ++i) {
        GLchar attributeName[256];
        GLint size = 0;
        GLenum type = 0;
        glGetActiveAttrib(glProgram, static_cast<GLuint>(i), sizeof attributeName, nullptr, &size, &type,
                          attributeName);
        if (name == attributeName) {
            record.glProgram = glProgram;
            record.attribute = glGetAttribLocation(glProgram, attributeName);
            record.referenced = record.attribute >= 0;
            record.type = type;
        }
    }
    return record;
}

// Registers the uniforms of a freshly linked program; samplers get their units here. Without a declaration list
// (GLSL files) every active uniform is registered under its own name. With one (Cg files) each declared parameter
// is registered under its Cg name; one that the compiler dropped gets a handle that no setter acts on. Members
// and elements are then linked below their structs and arrays.
void RegisterParameters(std::uintptr_t programHandle, ProgramRecord& program,
                        const std::vector<CgDeclaredParameter>* declared)
{
    GLint count = 0;
    GLint maxLength = 0;
    glGetProgramiv(program.glProgram, GL_ACTIVE_UNIFORMS, &count);
    glGetProgramiv(program.glProgram, GL_ACTIVE_UNIFORM_MAX_LENGTH, &maxLength);
    std::vector<GLchar> nameBuffer(static_cast<std::size_t>(maxLength) + 1);

    std::vector<std::pair<std::string, ParameterRecord>> found;
    GLint samplerCount = 0;
    for (GLint i = 0; i < count; ++i) {
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(program.glProgram, static_cast<GLuint>(i), maxLength, nullptr, &size, &type,
                           nameBuffer.data());
        std::string name(nameBuffer.data());
        if (name.compare(0, 3, "gl_") == 0)
            continue;
        if (name.size() > 3 && name.compare(name.size() - 3, 3, "[0]") == 0)
            name.resize(name.size() - 3);
        ParameterRecord parameter;
        parameter.glProgram = program.glProgram;
        parameter.location = glGetUniformLocation(program.glProgram, name.c_str());
        parameter.type = type;
        parameter.textureTarget = SamplerTarget(type);
        parameter.glslName = name;
        parameter.arraySize = size;
        parameter.matricesByRows = program.matricesByRows;
        if (parameter.location < 0)
            continue;
        parameter.referenced = true;
        if (parameter.textureTarget != 0)
            ++samplerCount;
        found.emplace_back(name, parameter);
    }

    GLint unit = FirstSamplerUnit(program.profile, samplerCount);
    for (auto& entry : found) {
        if (entry.second.textureTarget != 0) {
            entry.second.unit = unit++;
            glProgramUniform1i(entry.second.glProgram, entry.second.location, entry.second.unit);
        }
    }
    std::vector<std::string> order;
    auto add = [&](const std::string& name, ParameterRecord parameter) {
        std::uintptr_t handle = NewHandle();
        parameter.name = name;
        parameter.program = programHandle;
        runtime.parameters[handle] = std::move(parameter);
        program.parameters[name] = handle;
        order.push_back(name);
    };
    auto link = [&] {
        std::set<std::uintptr_t> linked;
        for (const std::string& name : order)
            LinkParameter(programHandle, program, name, linked);
    };
    if (declared == nullptr) {
        for (const auto& [name, parameter] : found)
            add(name, parameter);
        link();
        return;
    }
    auto findLive = [&found](const std::string& glslName) {
        return std::find_if(found.begin(), found.end(),
                            [&glslName](const auto& entry) { return entry.first == glslName; });
    };
    const std::set<std::string> pathsInText = PathsInText(program.compiledText);
    for (const CgDeclaredParameter& parameter : *declared) {
        if (parameter.vertexInput) {
            add(parameter.name, AttributeRecord(program.glProgram, parameter.glslName));
            continue;
        }
        auto live = findLive(parameter.glslName);
        ParameterRecord record = live != found.end() ? live->second : ParameterRecord();
        // An element of an array of values ("name[2]") has its own location and the array's type.
        std::size_t bracket = parameter.glslName.rfind('[');
        if (live == found.end() && !parameter.glslName.empty() && parameter.glslName.back() == ']' &&
            bracket != std::string::npos) {
            auto array = findLive(parameter.glslName.substr(0, bracket));
            if (array != found.end() && array->second.textureTarget == 0) {
                record = array->second;
                record.location = glGetUniformLocation(program.glProgram, parameter.glslName.c_str());
                if (record.location < 0)
                    record = ParameterRecord();
            }
        }
        record.referenced = record.location >= 0 && ReadInText(pathsInText, parameter.glslName);
        add(parameter.name, record);
    }
    link();
}

std::string ShaderInfoLog(GLuint shader)
{
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1)
        return std::string();
    std::vector<GLchar> log(static_cast<std::size_t>(length));
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    return std::string(log.data());
}

// The generic attribute numbers of vertex inputs without a semantic: from the highest down, clear of the numbers
// the semantics use, so that they meet no stream a fixed-function or semantic-bound draw feeds.
void BindVertexInputs(GLuint program, const std::vector<CgDeclaredParameter>& declared)
{
    GLint attributes = 0;
    glGetIntegerv(GL_MAX_VERTEX_ATTRIBS, &attributes);
    GLint next = attributes - 1;
    for (const CgDeclaredParameter& parameter : declared) {
        if (parameter.vertexInput && next >= kGenericAttributes / 2)
            glBindAttribLocation(program, static_cast<GLuint>(next--), parameter.glslName.c_str());
    }
}

// A separable program of one stage, linked by hand so that the generic attributes that Cg's vertex semantics name,
// and those of inputs without a semantic, get their numbers before the link. The listing gets the compile and
// link logs.
GLuint LinkProgram(const std::string& text, bool vertexStage, const std::vector<CgDeclaredParameter>& declared,
                   bool& linked, std::string& listing)
{
    linked = false;
    GLuint shader = glCreateShader(vertexStage ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
    if (shader == 0)
        return 0;
    const GLchar* source = text.c_str();
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    listing = ShaderInfoLog(shader);
    GLuint program = glCreateProgram();
    if (program != 0 && compiled == GL_TRUE) {
        glProgramParameteri(program, GL_PROGRAM_SEPARABLE, GL_TRUE);
        glAttachShader(program, shader);
        for (int index = 1; vertexStage && index < kGenericAttributes; ++index)
            glBindAttribLocation(program, static_cast<GLuint>(index), GenericAttributeName(index).c_str());
        BindVertexInputs(program, declared);
        glLinkProgram(program);
        glDetachShader(program, shader);
        GLint status = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &status);
        linked = status == GL_TRUE;
        listing += ProgramInfoLog(program);
    }
    glDeleteShader(shader);
    return program;
}

}  // namespace

// [SECTION] Contexts and programs

CGcontext cgCreateContext()
{
    std::uintptr_t handle = NewHandle();
    runtime.contexts[handle] = ContextRecord();
    return MakeHandle<CGcontext>(handle);
}

namespace {

// The extensions of the current GL driver, asked once: it defines a macro of each name in a GLSL file, and the
// compile's bounds must see the text those macros let through.
const std::vector<std::string>& DriverExtensions()
{
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> names;
        GLint count = 0;
        glGetIntegerv(GL_NUM_EXTENSIONS, &count);
        for (GLint i = 0; i < count && glGetStringi != nullptr; ++i) {
            const GLubyte* name = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
            if (name != nullptr)
                names.emplace_back(reinterpret_cast<const char*>(name));
        }
        return names;
    }();
    return extensions;
}

ShaderCompileOptions RuntimeOptions()
{
    ShaderCompileOptions options;
    options.driverExtensions = DriverExtensions();
    return options;
}

// The driver that links the programs, for the keys of kept compiles.
const std::string& DriverIdentity()
{
    static const std::string identity = [] {
        std::string text;
        for (GLenum name : {GL_VENDOR, GL_RENDERER, GL_VERSION, GL_SHADING_LANGUAGE_VERSION}) {
            const GLubyte* value = glGetString(name);
            text += value != nullptr ? reinterpret_cast<const char*>(value) : "";
            text += '\n';
        }
        return text;
    }();
    return identity;
}

}  // namespace

void CgPrefetchPrograms(const std::vector<CgPrefetchRequest>& requests)
{
    std::vector<ShaderFileRequest> files;
    for (const CgPrefetchRequest& request : requests)
        if (request.file != nullptr && request.entry != nullptr && IsKnownProfile(request.profile))
            files.push_back({request.file, IsVertexProfile(request.profile), request.entry});
    PrefetchShaderTexts(files, RuntimeOptions(), DriverIdentity());
}

void CgFinishPrefetch() { FinishShaderPrefetch(); }

CGprogram cgCreateProgramFromFile(CGcontext context, CGenum programType, const char* programFile, CGprofile profile,
                                  const char* entry, const char**)
{
    ContextRecord* owner = Find(runtime.contexts, HandleValue(context));
    if (owner == nullptr)
        return nullptr;
    owner->hasListing = true;
    std::string entryName = entry != nullptr ? entry : "main";
    if (programType != CG_SOURCE || programFile == nullptr || !IsKnownProfile(profile)) {
        owner->lastListing = "cgCreateProgramFromFile: only source files of a vertex or fragment profile";
        return nullptr;
    }
    // A GLSL file gets the entry point in a #define, so anything but an identifier could inject code.
    if (!IsIdentifier(entryName)) {
        owner->lastListing = "cgCreateProgramFromFile: entry point \"" + entryName + "\" is not an identifier";
        return nullptr;
    }
    std::string source;
    std::string problem;
    if (!ReadShaderFile(programFile, source, problem)) {
        owner->lastListing = "cgCreateProgramFromFile: " + problem;
        return nullptr;
    }

    ShaderText text = PreparedShaderText(source, programFile, IsVertexProfile(profile), entryName, RuntimeOptions(),
                                         DriverIdentity());
    owner->lastListing = text.listing;
    if (!text.compiled) {
        if (owner->lastListing.empty())
            owner->lastListing = std::string("cgCreateProgramFromFile: ") + programFile + " did not compile";
        return nullptr;
    }
    ProgramRecord program;
    program.profile = profile;
    program.compiledText = std::move(text.glsl);
    program.sourceText = std::move(source);
    program.matricesByRows = text.matricesByRows;
    bool linked = false;
    program.glProgram =
        LinkProgram(program.compiledText, IsVertexProfile(profile), text.parameters, linked, owner->lastListing);
    if (!linked) {
        if (owner->lastListing.empty())
            owner->lastListing = std::string("cgCreateProgramFromFile: ") + programFile + " did not link";
        else if (text.isCg)
            owner->lastListing =
                std::string(programFile) + ": its GLSL translation did not compile:\n" + owner->lastListing;
        else
            owner->lastListing = DriverDiagnostics(owner->lastListing, programFile);
        if (program.glProgram != 0)
            glDeleteProgram(program.glProgram);
        return nullptr;
    }

    std::uintptr_t handle = NewHandle();
    RegisterParameters(handle, program, text.isCg ? &text.parameters : nullptr);
    runtime.programs[handle] = std::move(program);
    return MakeHandle<CGprogram>(handle);
}

const char* cgGetLastListing(CGcontext context)
{
    ContextRecord* record = Find(runtime.contexts, HandleValue(context));
    if (record == nullptr || !record->hasListing)
        return nullptr;
    return record->lastListing.c_str();
}

void cgDestroyProgram(CGprogram program)
{
    std::uintptr_t handle = HandleValue(program);
    ProgramRecord* record = Find(runtime.programs, handle);
    if (record == nullptr)
        return;
    StageState& stage = StageOf(record->profile);
    if (stage.boundProgram == handle) {
        if (stage.enabled)
            SetStage(record->profile, 0);
        stage.boundProgram = 0;
    }
    glDeleteProgram(record->glProgram);
    for (const auto& entry : record->parameters)
        runtime.parameters.erase(entry.second);
    runtime.programs.erase(handle);
}

CGparameter cgGetNamedParameter(CGprogram program, const char* name)
{
    ProgramRecord* record = Find(runtime.programs, HandleValue(program));
    if (record == nullptr || name == nullptr)
        return nullptr;
    auto found = record->parameters.find(name);
    return found == record->parameters.end() ? nullptr : MakeHandle<CGparameter>(found->second);
}

const char* cgGetProgramString(CGprogram program, CGenum pname)
{
    ProgramRecord* record = Find(runtime.programs, HandleValue(program));
    if (record == nullptr || (pname != CG_COMPILED_PROGRAM && pname != CG_PROGRAM_SOURCE))
        return nullptr;
    return pname == CG_COMPILED_PROGRAM ? record->compiledText.c_str() : record->sourceText.c_str();
}

// [SECTION] Pipeline stages

CGprofile cgGLGetLatestProfile(CGGLenum profileType)
{
    if (profileType == CG_GL_VERTEX)
        return CG_PROFILE_GLSLV;
    if (profileType == CG_GL_FRAGMENT)
        return CG_PROFILE_GLSLF;
    return CG_PROFILE_UNKNOWN;
}

void cgGLSetOptimalOptions(CGprofile) {}

void cgGLLoadProgram(CGprogram) {}

void cgGLEnableProfile(CGprofile profile)
{
    if (!IsKnownProfile(profile))
        return;
    StageState& stage = StageOf(profile);
    stage.enabled = true;
    ProgramRecord* bound = Find(runtime.programs, stage.boundProgram);
    SetStage(profile, bound != nullptr ? bound->glProgram : 0);
}

void cgGLDisableProfile(CGprofile profile)
{
    if (!IsKnownProfile(profile))
        return;
    StageOf(profile).enabled = false;
    SetStage(profile, 0);
}

void cgGLBindProgram(CGprogram program)
{
    std::uintptr_t handle = HandleValue(program);
    ProgramRecord* record = Find(runtime.programs, handle);
    if (record == nullptr)
        return;
    StageState& stage = StageOf(record->profile);
    stage.boundProgram = handle;
    if (stage.enabled)
        SetStage(record->profile, record->glProgram);
}

// [SECTION] Parameter values

namespace {

int FloatComponents(GLenum type)
{
    switch (type) {
    case GL_FLOAT:
        return 1;
    case GL_FLOAT_VEC2:
        return 2;
    case GL_FLOAT_VEC3:
        return 3;
    case GL_FLOAT_VEC4:
        return 4;
    default:
        return 0;
    }
}

// Writes the leading components of a float vector uniform and keeps the others. A vertex input takes the values
// as the current value of its attribute, which every vertex reads while its array is disabled.
void SetFloats(CGparameter param, const float* values, int count)
{
    ParameterRecord* parameter = FindParameter(param);
    if (parameter == nullptr)
        return;
    int components = FloatComponents(parameter->type);
    if (components == 0)
        return;
    if (parameter->attribute >= 0) {
        float current[4] = {0, 0, 0, 1};
        glGetVertexAttribfv(static_cast<GLuint>(parameter->attribute), GL_CURRENT_VERTEX_ATTRIB, current);
        std::copy(values, values + std::min(count, components), current);
        glVertexAttrib4fv(static_cast<GLuint>(parameter->attribute), current);
        return;
    }
    float current[4] = {0, 0, 0, 0};
    if (count < components)
        glGetUniformfv(parameter->glProgram, parameter->location, current);
    for (int i = 0; i < count && i < components; ++i)
        current[i] = values[i];
    switch (components) {
    case 1:
        glProgramUniform1fv(parameter->glProgram, parameter->location, 1, current);
        break;
    case 2:
        glProgramUniform2fv(parameter->glProgram, parameter->location, 1, current);
        break;
    case 3:
        glProgramUniform3fv(parameter->glProgram, parameter->location, 1, current);
        break;
    default:
        glProgramUniform4fv(parameter->glProgram, parameter->location, 1, current);
        break;
    }
}

// Columns and rows of a GLSL matrix type; false for other types.
bool MatrixShape(GLenum type, int& columns, int& rows)
{
    static const struct {
        GLenum type;
        int columns, rows;
    } shapes[] = {{GL_FLOAT_MAT2, 2, 2},   {GL_FLOAT_MAT3, 3, 3},   {GL_FLOAT_MAT4, 4, 4},
                  {GL_FLOAT_MAT2x3, 2, 3}, {GL_FLOAT_MAT2x4, 2, 4}, {GL_FLOAT_MAT3x2, 3, 2},
                  {GL_FLOAT_MAT3x4, 3, 4}, {GL_FLOAT_MAT4x2, 4, 2}, {GL_FLOAT_MAT4x3, 4, 3}};
    for (const auto& shape : shapes)
        if (shape.type == type) {
            columns = shape.columns;
            rows = shape.rows;
            return true;
        }
    return false;
}

// count matrices at location, each given by Cg's rows (byRows) or by its columns. A program that lays its
// matrices out by rows holds Cg's rows as GLSL columns; any other holds the matrix as GL does, so the data is
// transposed exactly when the two orders differ.
void UploadMatrices(const ParameterRecord& parameter, GLint location, GLsizei count, const float* values, bool byRows)
{
    const GLboolean transpose = parameter.matricesByRows != byRows ? GL_TRUE : GL_FALSE;
    const GLuint program = parameter.glProgram;
    switch (parameter.type) {
    case GL_FLOAT_MAT2:
        glProgramUniformMatrix2fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT3:
        glProgramUniformMatrix3fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT4:
        glProgramUniformMatrix4fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT2x3:
        glProgramUniformMatrix2x3fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT2x4:
        glProgramUniformMatrix2x4fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT3x2:
        glProgramUniformMatrix3x2fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT3x4:
        glProgramUniformMatrix3x4fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT4x2:
        glProgramUniformMatrix4x2fv(program, location, count, transpose, values);
        break;
    case GL_FLOAT_MAT4x3:
        glProgramUniformMatrix4x3fv(program, location, count, transpose, values);
        break;
    default:
        break;
    }
}

// Matrices offset to offset + count of a matrix parameter or array of them (count 0: to the array's end). A
// range outside the array, or a parameter that is no matrix, sets nothing.
template <typename Value>
void SetMatrices(CGparameter param, long offset, long count, const Value* values, bool byRows)
{
    ParameterRecord* parameter = FindParameter(param);
    int columns = 0;
    int rows = 0;
    if (parameter == nullptr || values == nullptr || !MatrixShape(parameter->type, columns, rows) || offset < 0 ||
        count < 0 || offset >= parameter->arraySize)
        return;
    if (count == 0)
        count = parameter->arraySize - offset;
    if (count > parameter->arraySize - offset)
        return;
    GLint location = parameter->location;
    if (offset > 0)
        location = glGetUniformLocation(parameter->glProgram,
                                        (parameter->glslName + "[" + std::to_string(offset) + "]").c_str());
    if (location < 0)
        return;
    std::vector<float> floats(values, values + count * columns * rows);
    UploadMatrices(*parameter, location, static_cast<GLsizei>(count), floats.data(), byRows);
}

}  // namespace

void cgGLSetStateMatrixParameter(CGparameter param, CGGLenum matrix, CGGLenum transform)
{
    ParameterRecord* parameter = FindParameter(param);
    if (parameter == nullptr || parameter->type != GL_FLOAT_MAT4 || matrix != CG_GL_MODELVIEW_PROJECTION_MATRIX ||
        transform != CG_GL_MATRIX_IDENTITY)
        return;
    double projection[16];
    double modelview[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    // Column-major product projection x modelview, in double precision before the one rounding to float.
    float product[16];
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += projection[k * 4 + row] * modelview[column * 4 + k];
            product[column * 4 + row] = static_cast<float>(sum);
        }
    }
    UploadMatrices(*parameter, parameter->location, 1, product, false);
}

void cgGLSetMatrixParameterfr(CGparameter param, const float* matrix) { SetMatrices(param, 0, 1, matrix, true); }

void cgGLSetMatrixParameterfc(CGparameter param, const float* matrix) { SetMatrices(param, 0, 1, matrix, false); }

void cgGLSetMatrixParameterdr(CGparameter param, const double* matrix) { SetMatrices(param, 0, 1, matrix, true); }

void cgGLSetMatrixParameterdc(CGparameter param, const double* matrix) { SetMatrices(param, 0, 1, matrix, false); }

void cgGLSetMatrixParameterArrayfr(CGparameter param, long offset, long nelements, const float* matrices)
{
    SetMatrices(param, offset, nelements, matrices, true);
}

void cgGLSetMatrixParameterArrayfc(CGparameter param, long offset, long nelements, const float* matrices)
{
    SetMatrices(param, offset, nelements, matrices, false);
}

void cgGLSetMatrixParameterArraydr(CGparameter param, long offset, long nelements, const double* matrices)
{
    SetMatrices(param, offset, nelements, matrices, true);
}

void cgGLSetMatrixParameterArraydc(CGparameter param, long offset, long nelements, const double* matrices)
{
    SetMatrices(param, offset, nelements, matrices, false);
}

void cgGLSetTextureParameter(CGparameter param, unsigned int texture)
{
    ParameterRecord* parameter = FindParameter(param);
    if (parameter != nullptr && parameter->textureTarget != 0)
        parameter->texture = texture;
}

void cgGLEnableTextureParameter(CGparameter param)
{
    ParameterRecord* parameter = FindParameter(param);
    if (parameter == nullptr || parameter->textureTarget == 0)
        return;
    GLint activeUnit = GL_TEXTURE0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeUnit);
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(parameter->unit));
    glBindTexture(parameter->textureTarget, parameter->texture);
    glActiveTexture(static_cast<GLenum>(activeUnit));
}

void cgGLSetParameter1f(CGparameter param, float x) { SetFloats(param, &x, 1); }

void cgGLSetParameter4d(CGparameter param, double x, double y, double z, double w)
{
    const float values[4] = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z),
                             static_cast<float>(w)};
    SetFloats(param, values, 4);
}

void cgGLSetParameter3dv(CGparameter param, const double* v)
{
    if (v == nullptr)
        return;
    const float values[3] = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
    SetFloats(param, values, 3);
}

// [SECTION] Parameter structure and vertex arrays

namespace {

bool Referenced(const ParameterRecord& parameter)
{
    if (parameter.referenced)
        return true;
    return std::any_of(parameter.members.begin(), parameter.members.end(), [](std::uintptr_t member) {
        const ParameterRecord* record = Find(runtime.parameters, member);
        return record != nullptr && Referenced(*record);
    });
}

// The vertex input behind param, or null for anything else.
ParameterRecord* FindVertexInput(CGparameter param)
{
    ParameterRecord* parameter = FindParameter(param);
    return parameter != nullptr && parameter->attribute >= 0 ? parameter : nullptr;
}

}  // namespace

CGbool cgIsParameterReferenced(CGparameter param)
{
    const ParameterRecord* parameter = FindParameter(param);
    return parameter != nullptr && Referenced(*parameter) ? CG_TRUE : CG_FALSE;
}

const char* cgGetParameterName(CGparameter param)
{
    const ParameterRecord* parameter = FindParameter(param);
    return parameter != nullptr ? parameter->name.c_str() : nullptr;
}

CGparameter cgGetFirstStructParameter(CGparameter param)
{
    const ParameterRecord* parameter = FindParameter(param);
    if (parameter == nullptr || parameter->members.empty())
        return nullptr;
    const ParameterRecord* first = Find(runtime.parameters, parameter->members.front());
    bool member =
        first != nullptr && first->name.size() > parameter->name.size() && first->name[parameter->name.size()] == '.';
    return member ? MakeHandle<CGparameter>(parameter->members.front()) : nullptr;
}

CGparameter cgGetNextParameter(CGparameter param)
{
    std::uintptr_t handle = HandleValue(param);
    const ParameterRecord* parameter = FindParameter(param);
    if (parameter == nullptr)
        return nullptr;
    const ParameterRecord* parent = Find(runtime.parameters, parameter->parent);
    const ProgramRecord* program = Find(runtime.programs, parameter->program);
    const std::vector<std::uintptr_t>* siblings = parent != nullptr    ? &parent->members
                                                  : program != nullptr ? &program->topLevel
                                                                       : nullptr;
    if (siblings == nullptr)
        return nullptr;
    auto at = std::find(siblings->begin(), siblings->end(), handle);
    return at == siblings->end() || at + 1 == siblings->end() ? nullptr : MakeHandle<CGparameter>(*(at + 1));
}

void cgGLSetParameterPointer(CGparameter param, int fsize, unsigned int type, int stride, const void* pointer)
{
    ParameterRecord* parameter = FindVertexInput(param);
    if (parameter == nullptr || fsize < 1 || fsize > 4 || stride < 0)
        return;
    glVertexAttribPointer(static_cast<GLuint>(parameter->attribute), fsize, type, GL_FALSE, stride, pointer);
}

void cgGLEnableClientState(CGparameter param)
{
    if (ParameterRecord* parameter = FindVertexInput(param))
        glEnableVertexAttribArray(static_cast<GLuint>(parameter->attribute));
}

void cgGLDisableClientState(CGparameter param)
{
    if (ParameterRecord* parameter = FindVertexInput(param))
        glDisableVertexAttribArray(static_cast<GLuint>(parameter->attribute));
}
