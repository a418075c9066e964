#include "CgPrelude.h"

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

// Intrinsics that SPIRV-Cross writes as GLSL 1.30 functions, spelt out for GLSL 1.20. The exponent is clamped so
// that tanh of a large argument is 1, not infinity over infinity.
const char* const glsl120Forms = R"(#define CG_GLSL120_FORMS(T) \
T cgTrunc(T x) { return sign(x) * floor(abs(x)); } \
T cgModf(T x, out T whole) { whole = cgTrunc(x); return x - whole; } \
T cgSinh(T x) { return (exp(x) - exp(-x)) * 0.5; } \
T cgCosh(T x) { return (exp(x) + exp(-x)) * 0.5; } \
T cgTanh(T x) { T e = exp(2.0 * clamp(x, -20.0, 20.0)); return (e - 1.0) / (e + 1.0); }
CG_GLSL120_FORMS(float)
CG_GLSL120_FORMS(float2)
CG_GLSL120_FORMS(float3)
CG_GLSL120_FORMS(float4)
#undef CG_GLSL120_FORMS
float cgDeterminant(float2x2 m) { return m[0][0] * m[1][1] - m[0][1] * m[1][0]; }
float cgDeterminant(float3x3 m) { return dot(m[0], cross(m[1], m[2])); }
#define trunc cgTrunc
#define modf cgModf
#define sinh cgSinh
#define cosh cgCosh
#define tanh cgTanh
#define determinant cgDeterminant
)";

// Words the DX9 language reserves that are plain identifiers in Cg ("sample", "texture", ...). The prelude renames
// them with a prefix, which parameter names lose again on the way out.
const char* const frontEndKeywords[] = {"sample", "line", "point", "triangle", "lineadj", "triangleadj", "linear",
                                        "centroid", "nointerpolation", "noperspective", "precise", "groupshared",
                                        "globallycoherent", "unorm", "snorm", "packoffset", "texture", "vector",
                                        "matrix", "layout", "dword", "Buffer"};
const std::string keywordPrefix = "cgKeyword_";

}  // namespace

const std::string& CgPrelude()
{
    static const std::string prelude = [] {
        std::string text = std::string(cgWords) + glsl120Forms;
        for (const char* word : frontEndKeywords)
            text += std::string("#define ") + word + " " + keywordPrefix + word + "\n";
        return text;
    }();
    return prelude;
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
