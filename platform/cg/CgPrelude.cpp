#include "CgPrelude.h"

#include "SourceText.h"

#include <cstring>

namespace {

// Cg words that the DX9 language lacks, and matrices of one row or column, which the front end cannot construct:
// as vectors they multiply the same way on either side of mul. The projective lookups also take Cg's three-component form (s, t, q); the
// cube one divides by hand, as GLSL has no projective cube lookup.
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
const char* const frontEndKeywords[] = {"sample", "line", "point", "triangle", "lineadj", "triangleadj", "linear",
                                        "centroid", "nointerpolation", "noperspective", "precise", "groupshared",
                                        "globallycoherent", "unorm", "snorm", "packoffset", "texture", "vector",
                                        "matrix", "layout", "dword", "Buffer"};
const std::string keywordPrefix = "cgKeyword_";

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
    return text;
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
