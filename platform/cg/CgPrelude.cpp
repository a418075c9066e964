#include "CgPrelude.h"

#include "SourceText.h"

#include <cstring>
#include <set>

namespace {

// Cg words that the DX9 language lacks, and matrices of one row or column, which the front end cannot construct:
// as vectors they multiply the same way on either side of mul.
//
// Cg's texture library (below), each lookup under a stand-in name with every form Cg gives it. A texel offset moves the
// coordinate by whole texels of the level looked up (of level 0 where the hardware chooses the level), a
// rectangle's by the offset itself (a rectangle has one level, so its lod and bias forms are plain lookups). The
// compare coordinate is taken and the lookup made without it, which is Cg's result for a texture whose compare
// mode is off. The projective cube lookup divides by hand, as GLSL has none. Sizes and fetches go through the
// front end's image queries, which come out as GL_EXT_gpu_shader4's.
const char* const cgWords = R"(#define fixed float
#define fixed1 float1
#define fixed2 float2
#define fixed3 float3
#define fixed4 float4
#define samplerRECT sampler2D
#define float1x1 float1
#define float2x1 float2
#define float3x1 float3
#define float4x1 float4
#define float1x2 float2
#define float1x3 float3
#define float1x4 float4
)";

// The helpers of the texture library and the library itself, one definition a line. Only the lines of the
// stand-ins a program calls are defined (see CgPrelude).
// The lookups' words as their stand-ins, after every definition that calls the words themselves.
const char* const textureMacros = R"(#define tex1D cgTex1D
#define tex1Dproj cgTex1Dproj
#define tex1Dlod cgTex1Dlod
#define tex1Dbias cgTex1Dbias
#define tex1Dsize cgTex1Dsize
#define tex1Dfetch cgTex1Dfetch
#define tex2D cgTex2D
#define tex2Dproj cgTex2Dproj
#define tex2Dlod cgTex2Dlod
#define tex2Dbias cgTex2Dbias
#define tex2Dsize cgTex2Dsize
#define tex2Dfetch cgTex2Dfetch
#define tex3D cgTex3D
#define tex3Dproj cgTex3Dproj
#define tex3Dlod cgTex3Dlod
#define tex3Dbias cgTex3Dbias
#define tex3Dsize cgTex3Dsize
#define tex3Dfetch cgTex3Dfetch
#define texCUBE cgTexCUBE
#define texCUBEproj cgTexCUBEproj
#define texCUBElod cgTexCUBElod
#define texCUBEbias cgTexCUBEbias
#define texCUBEsize cgTexCUBEsize
#define texRECT cgTexRECT
#define texRECTproj cgTexRECTproj
#define texRECTlod cgTexRECTlod
#define texRECTbias cgTexRECTbias
#define texRECTsize cgTexRECTsize
#define texRECTfetch cgTexRECTfetch
)";

const char* const textureHelpers =
    R"(int3 cgSize(sampler1D s, int lod) { uint w, n; s.GetDimensions(lod, w, n); return int3(w, 0, 0); }
int3 cgSize(sampler2D s, int lod) { uint w, h, n; s.GetDimensions(lod, w, h, n); return int3(w, h, 0); }
int3 cgSize(sampler3D s, int lod) { uint w, h, d, n; s.GetDimensions(lod, w, h, d, n); return int3(w, h, d); }
int3 cgSize(samplerCUBE s, int lod) { uint w, h, n; s.GetDimensions(lod, w, h, n); return int3(w, h, 0); }
float cgShift(sampler1D s, int o, float lod) { return o / float(cgSize(s, int(lod)).x); }
float2 cgShift(sampler2D s, int2 o, float lod) { return float2(o) / float2(cgSize(s, int(lod)).xy); }
float3 cgShift(sampler3D s, int3 o, float lod) { return float3(o) / float3(cgSize(s, int(lod))); }
)";

const char* const textureLibrary = R"(float4 cgTex1D(sampler1D s, float c) { return tex1D(s, c); }
float4 cgTex1D(sampler1D s, float c, int o) { return tex1D(s, c + cgShift(s, o, 0)); }
float4 cgTex1D(sampler1D s, float2 c) { return tex1D(s, c.x); }
float4 cgTex1D(sampler1D s, float2 c, int o) { return cgTex1D(s, c.x, o); }
float4 cgTex1D(sampler1D s, float c, float dx, float dy) { return tex1D(s, c, dx, dy); }
float4 cgTex1D(sampler1D s, float c, float dx, float dy, int o) { return tex1D(s, c + cgShift(s, o, 0), dx, dy); }
float4 cgTex1D(sampler1D s, float2 c, float dx, float dy) { return tex1D(s, c.x, dx, dy); }
float4 cgTex1D(sampler1D s, float2 c, float dx, float dy, int o) { return cgTex1D(s, c.x, dx, dy, o); }
float4 cgTex1Dproj(sampler1D s, float2 c) { return tex1Dproj(s, float4(c.x, 0.0, 0.0, c.y)); }
float4 cgTex1Dproj(sampler1D s, float2 c, int o) { return cgTex1D(s, c.x / c.y, o); }
float4 cgTex1Dproj(sampler1D s, float3 c) { return tex1Dproj(s, float4(c.x, 0.0, 0.0, c.z)); }
float4 cgTex1Dproj(sampler1D s, float3 c, int o) { return cgTex1D(s, c.x / c.z, o); }
float4 cgTex1Dproj(sampler1D s, float4 c) { return tex1Dproj(s, c); }
float4 cgTex1Dlod(sampler1D s, float4 c) { return tex1Dlod(s, c); }
float4 cgTex1Dlod(sampler1D s, float4 c, int o) { return tex1Dlod(s, float4(c.x + cgShift(s, o, c.w), c.yzw)); }
float4 cgTex1Dbias(sampler1D s, float4 c) { return tex1Dbias(s, c); }
float4 cgTex1Dbias(sampler1D s, float4 c, int o) { return tex1Dbias(s, float4(c.x + cgShift(s, o, 0), c.yzw)); }
int3 cgTex1Dsize(sampler1D s, int lod) { return cgSize(s, lod); }
float4 cgTex1Dfetch(sampler1D s, int4 c) { return s.Load(int2(c.x, c.w)); }
float4 cgTex1Dfetch(sampler1D s, int4 c, int o) { return s.Load(int2(c.x + o, c.w)); }
float4 cgTex2D(sampler2D s, float2 c) { return tex2D(s, c); }
float4 cgTex2D(sampler2D s, float2 c, int2 o) { return tex2D(s, c + cgShift(s, o, 0)); }
float4 cgTex2D(sampler2D s, float3 c) { return tex2D(s, c.xy); }
float4 cgTex2D(sampler2D s, float3 c, int2 o) { return cgTex2D(s, c.xy, o); }
float4 cgTex2D(sampler2D s, float2 c, float2 dx, float2 dy) { return tex2D(s, c, dx, dy); }
float4 cgTex2D(sampler2D s, float2 c, float2 dx, float2 dy, int2 o) { return tex2D(s, c + cgShift(s, o, 0), dx, dy); }
float4 cgTex2D(sampler2D s, float3 c, float2 dx, float2 dy) { return tex2D(s, c.xy, dx, dy); }
float4 cgTex2D(sampler2D s, float3 c, float2 dx, float2 dy, int2 o) { return cgTex2D(s, c.xy, dx, dy, o); }
float4 cgTex2Dproj(sampler2D s, float3 c) { return tex2Dproj(s, float4(c.xy, 0.0, c.z)); }
float4 cgTex2Dproj(sampler2D s, float3 c, int2 o) { return cgTex2D(s, c.xy / c.z, o); }
float4 cgTex2Dproj(sampler2D s, float4 c) { return tex2Dproj(s, c); }
float4 cgTex2Dproj(sampler2D s, float4 c, int2 o) { return cgTex2D(s, c.xy / c.w, o); }
float4 cgTex2Dlod(sampler2D s, float4 c) { return tex2Dlod(s, c); }
float4 cgTex2Dlod(sampler2D s, float4 c, int2 o) { return tex2Dlod(s, float4(c.xy + cgShift(s, o, c.w), c.zw)); }
float4 cgTex2Dbias(sampler2D s, float4 c) { return tex2Dbias(s, c); }
float4 cgTex2Dbias(sampler2D s, float4 c, int2 o) { return tex2Dbias(s, float4(c.xy + cgShift(s, o, 0), c.zw)); }
int3 cgTex2Dsize(sampler2D s, int lod) { return cgSize(s, lod); }
float4 cgTex2Dfetch(sampler2D s, int4 c) { return s.Load(int3(c.xy, c.w)); }
float4 cgTex2Dfetch(sampler2D s, int4 c, int2 o) { return s.Load(int3(c.xy + o, c.w)); }
float4 cgTex3D(sampler3D s, float3 c) { return tex3D(s, c); }
float4 cgTex3D(sampler3D s, float3 c, int3 o) { return tex3D(s, c + cgShift(s, o, 0)); }
float4 cgTex3D(sampler3D s, float3 c, float3 dx, float3 dy) { return tex3D(s, c, dx, dy); }
float4 cgTex3D(sampler3D s, float3 c, float3 dx, float3 dy, int3 o) { return tex3D(s, c + cgShift(s, o, 0), dx, dy); }
float4 cgTex3Dproj(sampler3D s, float4 c) { return tex3Dproj(s, c); }
float4 cgTex3Dproj(sampler3D s, float4 c, int3 o) { return cgTex3D(s, c.xyz / c.w, o); }
float4 cgTex3Dlod(sampler3D s, float4 c) { return tex3Dlod(s, c); }
float4 cgTex3Dlod(sampler3D s, float4 c, int3 o) { return tex3Dlod(s, float4(c.xyz + cgShift(s, o, c.w), c.w)); }
float4 cgTex3Dbias(sampler3D s, float4 c) { return tex3Dbias(s, c); }
float4 cgTex3Dbias(sampler3D s, float4 c, int3 o) { return tex3Dbias(s, float4(c.xyz + cgShift(s, o, 0), c.w)); }
int3 cgTex3Dsize(sampler3D s, int lod) { return cgSize(s, lod); }
float4 cgTex3Dfetch(sampler3D s, int4 c) { return s.Load(c); }
float4 cgTex3Dfetch(sampler3D s, int4 c, int3 o) { return s.Load(int4(c.xyz + o, c.w)); }
float4 cgTexCUBE(samplerCUBE s, float3 c) { return texCUBE(s, c); }
float4 cgTexCUBE(samplerCUBE s, float4 c) { return texCUBE(s, c.xyz); }
float4 cgTexCUBE(samplerCUBE s, float3 c, float3 dx, float3 dy) { return texCUBE(s, c, dx, dy); }
float4 cgTexCUBE(samplerCUBE s, float4 c, float3 dx, float3 dy) { return texCUBE(s, c.xyz, dx, dy); }
float4 cgTexCUBEproj(samplerCUBE s, float4 c) { return texCUBE(s, c.xyz / c.w); }
float4 cgTexCUBElod(samplerCUBE s, float4 c) { return texCUBElod(s, c); }
float4 cgTexCUBEbias(samplerCUBE s, float4 c) { return texCUBEbias(s, c); }
int3 cgTexCUBEsize(samplerCUBE s, int lod) { return cgSize(s, lod); }
float4 cgTexRECT(sampler2D s, float2 c) { return tex2D(s, c); }
float4 cgTexRECT(sampler2D s, float2 c, int2 o) { return tex2D(s, c + o); }
float4 cgTexRECT(sampler2D s, float3 c) { return tex2D(s, c.xy); }
float4 cgTexRECT(sampler2D s, float3 c, int2 o) { return tex2D(s, c.xy + o); }
float4 cgTexRECT(sampler2D s, float2 c, float2 dx, float2 dy) { return tex2D(s, c, dx, dy); }
float4 cgTexRECT(sampler2D s, float2 c, float2 dx, float2 dy, int2 o) { return tex2D(s, c + o, dx, dy); }
float4 cgTexRECT(sampler2D s, float3 c, float2 dx, float2 dy) { return tex2D(s, c.xy, dx, dy); }
float4 cgTexRECT(sampler2D s, float3 c, float2 dx, float2 dy, int2 o) { return tex2D(s, c.xy + o, dx, dy); }
float4 cgTexRECTproj(sampler2D s, float3 c) { return tex2Dproj(s, float4(c.xy, 0.0, c.z)); }
float4 cgTexRECTproj(sampler2D s, float3 c, int2 o) { return tex2D(s, c.xy / c.z + o); }
float4 cgTexRECTproj(sampler2D s, float4 c) { return tex2Dproj(s, c); }
float4 cgTexRECTproj(sampler2D s, float4 c, int2 o) { return tex2D(s, c.xy / c.w + o); }
float4 cgTexRECTlod(sampler2D s, float4 c) { return tex2D(s, c.xy); }
float4 cgTexRECTlod(sampler2D s, float4 c, int2 o) { return tex2D(s, c.xy + o); }
float4 cgTexRECTbias(sampler2D s, float4 c) { return tex2D(s, c.xy); }
float4 cgTexRECTbias(sampler2D s, float4 c, int2 o) { return tex2D(s, c.xy + o); }
int3 cgTexRECTsize(sampler2D s) { return cgSize(s, 0); }
int3 cgTexRECTsize(sampler2D s, int lod) { return cgSize(s, 0); }
float4 cgTexRECTfetch(sampler2D s, int4 c) { return s.Load(int3(c.xy, 0)); }
float4 cgTexRECTfetch(sampler2D s, int4 c, int2 o) { return s.Load(int3(c.xy + o, 0)); }
)";

// Intrinsics that SPIRV-Cross writes as GLSL 1.30 functions, spelt out for GLSL 1.20: the word, its stand-in and
// the stand-in's definition for each float type T (or as it stands, without T). Only the stand-ins a program
// calls are defined, as every function of the prelude costs its share of every compile. The exponent is clamped
// so that tanh of a large argument is 1, not infinity over infinity. fmod is here too: the front end makes it
// GLSL's mod, whose result has the sign of y, where Cg's has the sign of x.
struct Glsl120Form {
    const char* word;
    const char* standIn;
    const char* definition;
};

const Glsl120Form glsl120Forms[] = {
    {"trunc", "cgTrunc", "T cgTrunc(T x) { return sign(x) * floor(abs(x)); }"},
    {"fmod", "cgFmod", "T cgFmod(T x, T y) { T q = x / y; return x - y * (sign(q) * floor(abs(q))); }"},
    {"modf", "cgModf", "T cgModf(T x, out T whole) { whole = sign(x) * floor(abs(x)); return x - whole; }"},
    {"sinh", "cgSinh", "T cgSinh(T x) { return (exp(x) - exp(-x)) * 0.5; }"},
    {"cosh", "cgCosh", "T cgCosh(T x) { return (exp(x) + exp(-x)) * 0.5; }"},
    {"tanh", "cgTanh", "T cgTanh(T x) { T e = exp(2.0 * clamp(x, -20.0, 20.0)); return (e - 1.0) / (e + 1.0); }"},
    {"determinant", "cgDeterminant",
     "float cgDeterminant(float2x2 m) { return m[0][0] * m[1][1] - m[0][1] * m[1][0]; }\n"
     "float cgDeterminant(float3x3 m) { return dot(m[0], cross(m[1], m[2])); }\n"},
};

bool CallsWord(const std::string& text, const std::string& word)
{
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        bool starts = at == 0 || !IsIdentifierChar(text[at - 1]);
        bool ends = at + word.size() >= text.size() || !IsIdentifierChar(text[at + word.size()]);
        if (starts && ends)
            return true;
    }
    return false;
}

// Words the DX9 language reserves that are plain identifiers in Cg ("sample", "texture", ...). The prelude renames
// them with a prefix, which parameter names lose again on the way out.
const char* const frontEndKeywords[] = {
    "sample",           "line",     "point",           "triangle",      "lineadj", "triangleadj",
    "linear",           "centroid", "nointerpolation", "noperspective", "precise", "groupshared",
    "globallycoherent", "unorm",    "snorm",           "packoffset",    "texture", "vector",
    "matrix",           "layout",   "dword",           "Buffer"};
const std::string keywordPrefix = "cgKeyword_";

// Cg's typed lookups ("f3tex2D", "h4texCUBEproj", "x1tex1D"): the lookup's every form with its result cut to N
// components, defined for the typed words that preprocessed uses.
std::string TypedLookups(const std::string& preprocessed)
{
    static const char* const swizzles[] = {".x", ".xy", ".xyz", ""};
    std::set<std::string> used;
    for (std::size_t at = 0; at + 5 < preprocessed.size(); ++at) {
        char type = preprocessed[at];
        if ((type != 'f' && type != 'h' && type != 'x') || preprocessed[at + 1] < '1' || preprocessed[at + 1] > '4' ||
            preprocessed.compare(at + 2, 3, "tex") != 0 || (at > 0 && IsIdentifierChar(preprocessed[at - 1])))
            continue;
        std::size_t end = at;
        while (end < preprocessed.size() && IsIdentifierChar(preprocessed[end]))
            ++end;
        used.insert(preprocessed.substr(at, end - at));
        at = end;
    }
    std::string text;
    const std::string library = textureLibrary;
    for (const std::string& word : used) {
        const int components = word[1] - '0';
        const std::string standIn = "cgTex" + word.substr(5);
        const std::string head = "float4 " + standIn + "(";
        for (std::size_t at = library.find(head); at != std::string::npos; at = library.find(head, at + 1)) {
            if (at > 0 && library[at - 1] != '\n')
                continue;
            std::size_t open = at + head.size();
            std::size_t close = library.find(')', open);
            std::string parameters = library.substr(open, close - open);
            std::string arguments;
            for (std::size_t comma = 0; comma <= parameters.size();) {
                std::size_t next = std::min(parameters.find(',', comma), parameters.size());
                std::string parameter = parameters.substr(comma, next - comma);
                arguments += (arguments.empty() ? "" : ", ") + parameter.substr(parameter.rfind(' ') + 1);
                comma = next + 1;
            }
            text += "float" + (components == 1 ? std::string() : std::to_string(components)) + " " + word + "(" +
                    parameters + ") { return " + standIn + "(" + arguments + ")" + swizzles[components - 1] + "; }\n";
        }
    }
    return text;
}

// The definitions of the texture library's stand-ins that text calls, with those they call in turn, and the
// helpers when any of them needs one.
std::string LookupsCalled(const std::string& text)
{
    static const std::string prefix = "cgTex";
    std::set<std::string> called;
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        if (at > 0 && IsIdentifierChar(text[at - 1]))
            continue;
        std::size_t end = at;
        while (end < text.size() && IsIdentifierChar(text[end]))
            ++end;
        called.insert(text.substr(at, end - at));
    }
    const std::string library = textureLibrary;
    std::string definitions;
    std::set<std::string> defined;
    while (!called.empty()) {
        std::set<std::string> next;
        std::string added;
        for (std::size_t line = 0; line < library.size();) {
            std::size_t end = std::min(library.find('\n', line), library.size());
            std::size_t name = library.find(prefix, line);
            std::size_t nameEnd = library.find('(', name);
            if (name < end && nameEnd < end && called.count(library.substr(name, nameEnd - name)) != 0)
                added += library.substr(line, end + 1 - line);
            line = end + 1;
        }
        defined.insert(called.begin(), called.end());
        for (std::size_t at = added.find(prefix, 1); at != std::string::npos; at = added.find(prefix, at + 1)) {
            std::size_t end = at;
            while (end < added.size() && IsIdentifierChar(added[end]))
                ++end;
            std::string word = added.substr(at, end - at);
            if (defined.count(word) == 0)
                next.insert(word);
        }
        // A stand-in's definitions go before those of the stand-ins that call it.
        definitions = added + definitions;
        called = next;
    }
    bool helpers = definitions.find("cgSize") != std::string::npos || definitions.find("cgShift") != std::string::npos;
    return (helpers ? std::string(textureHelpers) : std::string()) + definitions;
}

}  // namespace

std::string CgPrelude(const std::string& preprocessed)
{
    static const std::string words = [] {
        std::string text = cgWords;
        for (char rows = '2'; rows <= '4'; ++rows)
            for (char columns = '2'; columns <= '4'; ++columns)
                text += std::string("#define fixed") + rows + "x" + columns + " float" + rows + "x" + columns + "\n";
        for (const Glsl120Form& form : glsl120Forms)
            text += std::string("#define ") + form.word + " " + form.standIn + "\n";
        for (const char* word : frontEndKeywords)
            text += std::string("#define ") + word + " " + keywordPrefix + word + "\n";
        return text;
    }();
    std::string text = words;
    for (const Glsl120Form& form : glsl120Forms) {
        if (!CallsWord(preprocessed, form.standIn))
            continue;
        std::string definition = form.definition;
        if (definition.compare(0, 2, "T ") != 0) {
            text += definition;
            continue;
        }
        for (const char* type : {"float", "float2", "float3", "float4"}) {
            std::string typed;
            for (std::size_t at = 0; at < definition.size(); ++at) {
                bool alone = definition[at] == 'T' && (at == 0 || !IsIdentifierChar(definition[at - 1])) &&
                             (at + 1 == definition.size() || !IsIdentifierChar(definition[at + 1]));
                typed += alone ? std::string(type) : std::string(1, definition[at]);
            }
            text += typed + "\n";
        }
    }
    const std::string typed = TypedLookups(preprocessed);
    return text + LookupsCalled(preprocessed + typed) + typed + textureMacros;
}

bool NamesNonSquareMatrix(const std::string& preprocessed)
{
    static const char* const bases[] = {"float", "half", "int", "bool", "double"};
    for (const char* base : bases) {
        const std::size_t length = std::strlen(base);
        for (std::size_t at = preprocessed.find(base); at != std::string::npos; at = preprocessed.find(base, at + 1)) {
            std::size_t end = at + length + 3;
            if (end > preprocessed.size() || (at > 0 && IsIdentifierChar(preprocessed[at - 1])) ||
                (end < preprocessed.size() && IsIdentifierChar(preprocessed[end])))
                continue;
            char rows = preprocessed[at + length];
            char columns = preprocessed[at + length + 2];
            if (preprocessed[at + length + 1] == 'x' && rows >= '2' && rows <= '4' && columns >= '2' &&
                columns <= '4' && rows != columns)
                return true;
        }
    }
    return false;
}

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
