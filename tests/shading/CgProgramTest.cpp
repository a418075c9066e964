// Cg programs through the runtime: each compiles, has its parameters, and draws the colour it should.
#include "CGShader.h"
#include "GlTestContext.h"
#include "ShadingTestSupport.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char* const passThroughVertex = R"(
float4 vertexmain(float4 p : POSITION, uniform float4x4 ModelViewProj) : POSITION { return mul(ModelViewProj, p); }
)";

struct Value {
    const char* name;
    int count;  // 1, 3 or 4 components, through cgGLSetParameter1f, 3dv or 4d
    double v[4];
};

// Matrices set through the runtime's matrix setters: count matrices from offset (through the array setter when
// array), given by rows or by columns, as floats or doubles.
struct Matrices {
    const char* name;
    bool array;
    long offset, count;
    bool byRows, doubles;
    std::vector<double> values;
};

struct Case {
    const char* what;
    std::string source;
    bool vertexProgram;  // else fixed-function vertex processing
    bool fragmentProgram;
    std::vector<Value> values;
    std::vector<const char*> declared;  // must be found, set or not, used or not
    int r, g, b;
    std::vector<std::pair<std::string, std::string>> files = {};  // other files, by path
    std::string path = "case.cg";                                 // where the source is written
    std::vector<Matrices> matrices = {};
};

// Streams of every corner: colour, normal, texture coordinate set N = (N + 1) / 10, 0.5, 0.25, 1, and the generic
// attributes 1, 6 and 7 (which alias no conventional stream) = 0.9, 0.6 and 0.3.
void SetStreams()
{
    glColor4f(0.2f, 0.4f, 0.6f, 1);
    glNormal3f(0.3f, 0.5f, 0.7f);
    glVertexAttrib4f(1, 0.9f, 0, 0, 1);
    glVertexAttrib4f(6, 0.6f, 0, 0, 1);
    glVertexAttrib4f(7, 0.3f, 0, 0, 1);
    for (int unit = 0; unit < 8; ++unit)
        glMultiTexCoord4f(GL_TEXTURE0 + unit, (unit + 1) / 10.0f, 0.5f, 0.25f, 1);
}

// The coordinate set N as a vertex input and output, and as a fragment input.
std::string TexCoordPair(int n)
{
    std::string semantic = "TEXCOORD" + std::to_string(n);
    return "void vertexmain(float4 p : POSITION, float4 t : " + semantic +
           ", uniform float4x4 ModelViewProj, out float4 oPos : POSITION, out float4 oT : " + semantic +
           ") { oPos = mul(ModelViewProj, p); oT = t.yxzw; }\n"
           "float4 fragmain(float4 t : " +
           semantic + ") : COLOR { return t; }\n";
}

std::vector<Case> Cases()
{
    std::vector<Case> cases = {
        {"global and entry-point uniforms, half and fixed, dropped parameters",
         "uniform half4 tint;\nuniform float4 neverRead;\nuniform sampler2D neverSampled;\n"
         "float4 fragmain(uniform fixed scale, uniform float3 offset, uniform float2 shift,\n"
         "                uniform samplerCUBE unusedCube) : COLOR\n"
         "{ return tint * scale + float4(offset, 0) + float4(shift, 0, 0); }\n",
         false,
         true,
         {{"tint", 4, {0.1, 0.2, 0.1, 1}},
          {"scale", 1, {2}},
          {"offset", 3, {0.2, 0, 0.4}},
          {"shift", 4, {0.1, 0.2, 0.9, 0.9}},
          {"neverRead", 4, {1, 1, 1, 1}}},
         {"tint", "scale", "offset", "shift", "neverRead", "neverSampled", "unusedCube"},
         128,
         153,
         153},
        {"names the front end or GLSL reserve, float3 COLOR",
         "float3 fragmain(uniform float4 sample, uniform float3 input) : COLOR\n"
         "{ float4 line = sample; return line.rgb + input; }\n",
         false,
         true,
         {{"sample", 4, {0.2, 0.4, 0, 1}}, {"input", 3, {0.2, 0, 0.4}}},
         {"sample", "input"},
         102,
         102,
         102},
        {"struct output, NORMAL in, COLOR0 out to fixed-function fragments",
         "struct V { float4 position : POSITION; float4 colour : COLOR0; };\n"
         "V vertexmain(float4 p : POSITION, float3 n : NORMAL, uniform float4x4 ModelViewProj)\n"
         "{ V o; o.position = mul(ModelViewProj, p); o.colour = float4(n, 1); return o; }\n",
         true,
         false,
         {},
         {"ModelViewProj"},
         77,
         128,
         179},
        {"COLOR0 in both stages, swizzles, COLOR0 out",
         "void vertexmain(float4 p : POSITION, float4 c : COLOR0, uniform float4x4 ModelViewProj,\n"
         "                out float4 oPos : POSITION, out float4 oC : COLOR0)\n"
         "{ oPos = mul(ModelViewProj, p); oC = c.bgra; }\n"
         "void fragmain(float4 c : COLOR0, out float4 colour : COLOR0) { colour = float4(c.x, c.yz * 0.5, 1).xzyw; }\n",
         true,
         true,
         {},
         {},
         153,
         26,
         51},
        {"fragment program after fixed-function vertices: COLOR0 and TEXCOORD7 in",
         "float4 fragmain(float4 c : COLOR0, float2 t : TEXCOORD7) : COLOR { return float4(c.r, t.x, t.y, 1); }\n",
         false,
         true,
         {},
         {},
         51,
         204,
         128},
        {"intrinsics: saturate, lerp, frac",
         "float4 fragmain(uniform float4 v) : COLOR\n"
         "{ return float4(saturate(v.x), lerp(v.y, v.z, 0.5), frac(v.w), 1); }\n",
         false,
         true,
         {{"v", 4, {1.7, 0.2, 0.6, 2.25}}},
         {"v"},
         255,
         102,
         64},
        {"intrinsics: dot, normalize, reflect, pow",
         "float4 fragmain(uniform float4 v) : COLOR\n"
         "{ float3 r = reflect(float3(v.x, -v.x, 0), normalize(float3(0, v.y, 0)));\n"
         "  return float4(r.x * 0.5, pow(v.z, 0.5), dot(v.xyz, float3(0.1, 0.1, 0.1)), 1); }\n",
         false,
         true,
         {{"v", 4, {1, 3, 0.25, 0}}},
         {"v"},
         128,
         128,
         108},
        {"mul with float4x4: column vector",
         passThroughVertex + std::string("float4 fragmain(uniform float4x4 Translation) : COLOR { return "
                                         "mul(Translation, float4(0, 0, 0, 1)); }\n"),
         true,
         true,
         {},
         {"Translation"},
         26,
         51,
         77},
        {"mul with float4x4: row vector",
         passThroughVertex + std::string("float4 fragmain(uniform float4x4 Translation) : COLOR\n"
                                         "{ return mul(float4(0, 0, 0, 1), Translation) * 0.5; }\n"),
         true,
         true,
         {},
         {"Translation"},
         0,
         0,
         0},
        {"tex1D and tex1Dproj",
         "float4 fragmain(uniform sampler1D s1) : COLOR\n"
         "{ return tex1D(s1, 0.75) * 0.5 + tex1Dproj(s1, float2(1.5, 2)) * 0.25\n"
         "         + tex1Dproj(s1, float4(0.5, 0, 0, 2)) * 0.25; }\n",
         false,
         true,
         {},
         {"s1"},
         64,
         191,
         0},
        {"tex2D and tex2Dproj",
         "float4 fragmain(uniform sampler2D s2) : COLOR\n"
         "{ return tex2D(s2, float2(0.75, 0.25)) * 0.5 + tex2Dproj(s2, float3(0.5, 1.5, 2)) * 0.25\n"
         "         + tex2Dproj(s2, float4(1.5, 1.5, 0, 2)) * 0.25; }\n",
         false,
         true,
         {},
         {"s2"},
         64,
         191,
         128},
        {"texCUBE and texCUBEproj",
         "float4 fragmain(uniform samplerCUBE sc) : COLOR\n"
         "{ return texCUBE(sc, float3(0, -1, 0)) * 0.5 + texCUBEproj(sc, float4(0, 0, 2, 2)) * 0.5; }\n",
         false,
         true,
         {},
         {"sc"},
         128,
         0,
         128},
        {"texRECT and texRECTproj in pixels, rectangle samplers declared together",
         "uniform samplerRECT sr, point;\n"
         "float4 fragmain() : COLOR\n"
         "{ return texRECT(sr, float2(2.5, 1.5)) * 0.5 + texRECTproj(point, float3(1, 7, 2)) * 0.5; }\n",
         false,
         true,
         {},
         {"sr", "point"},
         128,
         128,
         0},
    };
    const std::vector<Case> constructs = {
        {"words the front end reserves as names: texture, vector, matrix, layout",
         "float4 fragmain(uniform float4 texture, uniform float vector) : COLOR\n"
         "{ float4 matrix = texture * vector; float layout = 1; return matrix * layout; }\n",
         false,
         true,
         {{"texture", 4, {0.2, 0.4, 0.6, 1}}, {"vector", 1, {0.5}}},
         {"texture", "vector"},
         26,
         51,
         77},
        {"#include found relative to the including file, in a directory of its own",
         "#include \"inc/colour.cgh\"\nfloat4 fragmain() : COLOR { return Colour(); }\n",
         false,
         true,
         {},
         {},
         51,
         102,
         153,
         {{"src/inc/colour.cgh", "#include \"half.cgh\"\nfloat4 Colour() { return float4(0.2, 0.4, HALF, 1); }\n"},
          {"src/inc/half.cgh", "#define HALF 0.6\n"}},
         "src/case.cg"},
        {"TANGENT, BINORMAL and BLENDWEIGHT in, as Cg's profiles alias them",
         "void vertexmain(float4 p : POSITION, float4 t : TANGENT, float3 b : BINORMAL, float4 w : BLENDWEIGHT,\n"
         "                uniform float4x4 ModelViewProj, out float4 oPos : POSITION, out float4 oC : COLOR0)\n"
         "{ oPos = mul(ModelViewProj, p); oC = float4(t.x, b.x, w.x, 1); }\n",
         true,
         false,
         {},
         {},
         179,
         204,
         230},
        {"BLENDINDICES, PSIZE and ATTRn in",
         "void vertexmain(float4 p : ATTR0, float4 i : BLENDINDICES, float4 s : PSIZE, float2 t : ATTR8,\n"
         "                float4 c : ATTR3, uniform float4x4 ModelViewProj, out float4 oPos : POSITION,\n"
         "                out float4 oC : COLOR0)\n"
         "{ oPos = mul(ModelViewProj, p); oC = float4(i.x, s.x + t.x, c.x, 1); }\n",
         true,
         false,
         {},
         {},
         77,
         179,
         51},
        {"scalar initialisers flattened across matrices, arrays of vectors and structs",
         "struct S { float a; float2 b[2]; };\n"
         "float4 fragmain() : COLOR\n"
         "{ float2x2 m = {0.1, 0.2, 0.3, 0.4}; float2 v[2] = {0, 0.2,\n"
         "  0.4, 0}; S s = {0.6, 0, 0, 0, 0.5};\n"
         "  return float4(m[1][0] - 0.1, v[1].x, s.a * s.b[1].y * 2, 1); }\n",
         false,
         true,
         {},
         {},
         51,
         102,
         153},
        {"array initialisers and constructors, sized and unsized",
         "static const float weights[] = {0.1, 0.2, 0.3};\n"
         "float4 fragmain() : COLOR\n"
         "{ float a[3] = float[3](0.4, 0.5, 0.6); float3 c[2] = {float3(0, 0, 0), float3(0.1, 0.1, 0.1)};\n"
         "  return float4(weights[1], a[1] - 0.1, c[1].z + 0.5, 1); }\n",
         false,
         true,
         {},
         {},
         51,
         102,
         153},
        {"uniform parameters assigned inside the entry point, which Cg copies",
         "float4 fragmain(uniform float4 v, uniform float s) : COLOR\n"
         "{ v = v * 2; v.z += s; s++; return v * s; }\n",
         false,
         true,
         {{"v", 4, {0.1, 0.2, 0.1, 0.5}}, {"s", 1, {-0.5}}},
         {"v", "s"},
         26,
         51,
         0},
        {"matrices of one row or column, and non-square matrices, in mul",
         "float4 fragmain(uniform float4 v) : COLOR\n"
         "{ float4x1 column = float4x1(v.x, v.y, 0, 0); float1x4 row = float1x4(1, 0, 0, 0);\n"
         "  float2x4 m = float2x4(0, 1, 0, 0, 1, 0, 0, 0); float2 swapped = mul(m, column);\n"
         "  return float4(swapped, mul(row, column), 1); }\n",
         false,
         true,
         {{"v", 4, {0.2, 0.4, 0, 0}}},
         {"v"},
         102,
         51,
         51},
        {"a struct holding a sampler as a uniform parameter, its members set through their Cg names",
         "struct T { sampler2D s; float4 c; };\n"
         "float4 fragmain(float2 uv : TEXCOORD0,\n"
         "                uniform T g) : COLOR { return tex2D(g.s, float2(0.25, 0.25)) * 0.5 + g.c; }\n",
         false,
         true,
         {{"g.c", 4, {0.2, 0, 0.1, 0}}},
         {"g.s", "g.c"},
         179,
         0,
         26},
        {"arrays indexed by a float",
         "float4 fragmain(uniform float4 v, uniform float4 w[3]) : COLOR\n"
         "{ float4 local[2] = {v, v * 2}; return w[v.w * 2] + local[v.w]; }\n",
         false,
         true,
         {{"v", 4, {0.1, 0.2, 0, 1.2}}, {"w[2]", 4, {0.0, 0.0, 0.6, 1}}},
         {"v", "w"},
         51,
         102,
         153},
        {"TEXCOORD8 and above between the stages, and free interpolants past the eighth",
         "struct V { float4 position : POSITION; float4 a : TEXCOORD8; float4 b : TEXCOORD15;\n"
         "           float4 t0 : TEXCOORD0; float4 t1 : TEXCOORD1; float4 t2 : TEXCOORD2; float4 t3 : TEXCOORD3;\n"
         "           float4 t4 : TEXCOORD4; float4 t5 : TEXCOORD5; float4 t6 : TEXCOORD6; float4 t7 : TEXCOORD7;\n"
         "           float4 c; };\n"
         "V vertexmain(float4 p : POSITION, uniform float4x4 ModelViewProj)\n"
         "{ V o = (V)0; o.position = mul(ModelViewProj, p); o.a = float4(0.2, 0, 0, 0); o.b = float4(0, 0.4, 0, 0);\n"
         "  o.c = float4(0, 0, 0.6, 0); return o; }\n"
         "float4 fragmain(V v) : COLOR { return v.a + v.b + v.c + v.t7; }\n",
         true,
         true,
         {},
         {},
         51,
         102,
         153},
        {"values between the stages without a semantic take free interpolants",
         "struct V { float4 position : POSITION; float4 a; float4 b : TEXCOORD0; float4 c; };\n"
         "V vertexmain(float4 p : POSITION, uniform float4x4 ModelViewProj)\n"
         "{ V o; o.position = mul(ModelViewProj, p); o.a = float4(0.2, 0, 0, 0); o.b = float4(0, 0.4, 0, 0);\n"
         "  o.c = float4(0, 0, 0.6, 0); return o; }\n"
         "struct F { float4 a; float4 b : TEXCOORD0; float4 c; };\n"
         "float4 fragmain(F f) : COLOR { return f.a + f.b + f.c; }\n",
         true,
         true,
         {},
         {},
         51,
         102,
         153},
        {"GLSL 1.20 forms of tanh, sinh, cosh, modf, trunc and determinant",
         "float4 fragmain(uniform float4 v) : COLOR\n"
         "{ float whole; float part = modf(v.x, whole);\n"
         "  return float4(tanh(v.y) + sinh(v.z) - cosh(v.z) + exp(-v.z), part + trunc(-whole) * 0.1 + 0.2,\n"
         "                determinant(float2x2(v.w, 0, 0, 0.5)), 1); }\n",
         false,
         true,
         {{"v", 4, {2.25, 0.5, 0.3, 1}}},
         {"v"},
         118,
         64,
         128},
        {"vertex inputs without a semantic, set through their Cg names for the whole draw",
         "struct input { float2 video_size; float frame_count; };\n"
         "void vertexmain(float4 p : POSITION, input IN, uniform float4x4 ModelViewProj, out float4 oPos : POSITION,\n"
         "                out float4 oC : COLOR0)\n"
         "{ oPos = mul(ModelViewProj, p); oC = float4(IN.video_size, IN.frame_count, 1); }\n",
         true,
         false,
         {{"IN.video_size", 3, {0.2, 0.4, 9}}, {"IN.frame_count", 1, {0.6}}},
         {"IN.video_size", "IN.frame_count"},
         51,
         102,
         153},
        {"a uniform bound to GL's state by its semantic, never set",
         "void vertexmain(float4 p : POSITION, uniform float4x4 M : state.matrix.mvp, out float4 oPos : POSITION,\n"
         "                out float4 oC : COLOR0) { oPos = mul(M, p); oC = float4(0.2, 0.4, 0.6, 1); }\n",
         true,
         false,
         {},
         {"M"},
         51,
         102,
         153},
        {"generic samplers take the kind of their lookups",
         "sampler s1; uniform sampler s2 : register(s0);\n"
         "float4 fragmain(uniform sampler sc) : COLOR\n"
         "{ return tex1D(s1, 0.75) * 0.5 + tex2D(s2, float2(0.25, 0.25)) * 0.25\n"
         "         + texCUBE(sc, float3(0, 0, 1)) * 0.25; }\n",
         false,
         true,
         {},
         {"s1", "s2", "sc"},
         64,
         128,
         64},
        {"FACE: 1 for a front face",
         "float4 fragmain(float face : FACE) : COLOR { return float4(face * 0.2, 0.6 - face * 0.4, 0, 1); }\n",
         false,
         true,
         {},
         {},
         51,
         51,
         0},
        {"fmod keeps the sign of x, for negative operands and a scalar y beside a vector x",
         "float4 fragmain(uniform float4 v) : COLOR\n"
         "{ float2 f = fmod(float2(v.x, v.z), v.y); return float4(f.x + 0.5, f.y, fmod(-v.x, -v.y), 1); }\n",
         false,
         true,
         {{"v", 4, {-0.7, 0.5, 0.9, 0}}},
         {"v"},
         77,
         102,
         51},
        {"an error inside a function the entry never calls leaves the program as it is",
         "#define HALF 0.5\nfloat4 unfinished(float4 c) { return c * undeclaredFactor; }\n"
         "float4 helper(float4 c) { return c * HALF; }\n"
         "float4 fragmain(uniform float4 v) : COLOR { return helper(v); }\n",
         false,
         true,
         {{"v", 4, {0.4, 0.8, 0.2, 1}}},
         {"v"},
         51,
         102,
         26},
        {"struct members and array elements set through their Cg names",
         "struct input { float2 video_size; float4 texture; };\n"
         "float4 fragmain(uniform input IN, uniform float4 w[3]) : COLOR\n"
         "{ return float4(IN.video_size, 0, 0) * 0.5 + IN.texture + w[2]; }\n",
         false,
         true,
         {{"IN.video_size", 3, {0.2, 0.4, 9}},
          {"IN.texture", 4, {0.1, 0, 0, 0}},
          {"w[2]", 4, {0, 0.1, 0.5, 1}},
          {"w[0]", 4, {1, 1, 1, 1}}},
         {"IN", "IN.video_size", "IN.texture", "w", "w[0]", "w[1]", "w[2]"},
         51,
         77,
         128},
        {"a byte-order mark, PSIZ, CLP0 and CLP5 out, FOG between the stages, a colour without a semantic",
         "\xEF\xBB\xBF"
         "void vertexmain(float4 p : POSITION, uniform float4x4 ModelViewProj, out float4 oPos : POSITION,\n"
         "                out float s : PSIZ, out float c0 : CLP0, out float c5 : CLP5, out float f : FOG)\n"
         "{ oPos = mul(ModelViewProj, p); s = 1; c0 = 1; c5 = 1; f = 0.6; }\n"
         "float4 fragmain(float f : FOG) { return float4(0.2, 0.4, f, 1); }\n",
         true,
         true,
         {},
         {},
         51,
         102,
         153},
        {"non-square matrices as uniforms, entry parameters and locals, mul on both sides, set by rows and columns",
         "uniform float3x4 A; uniform float4x3 B;\n"
         "float4 fragmain(uniform float2x3 C) : COLOR\n"
         "{ float3x4 local = A; float3 a = mul(local, float4(1, 0, 0, 0)); float3 b = mul(float4(0, 1, 0, 0), B);\n"
         "  float2 c = mul(C, float3(0, 0, 1)); return float4(a.y, b.z, c.y, 1); }\n",
         false,
         true,
         {},
         {"A", "B", "C"},
         51,
         102,
         153,
         {},
         "case.cg",
         {{"A", false, 0, 1, true, false, {0.9, 0.8, 0.8, 0.8, 0.2, 0.8, 0.8, 0.8, 0.9, 0.8, 0.8, 0.8}},
          {"B", false, 0, 1, false, true, {0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.4, 0.9, 0.9}},
          {"C", false, 0, 1, true, true, {0.9, 0.9, 0.9, 0.9, 0.9, 0.6}}}},
        {"a palette of 60 float3x4 set whole, then from an offset; a square matrix beside it, set by rows",
         "float4 fragmain(uniform float3x4 bones[60], uniform float4x4 T) : COLOR\n"
         "{ return float4(mul(bones[57], float4(0, 0, 0, 1)) + mul(bones[3], float4(1, 0, 0, 0)), 1)\n"
         "         + mul(T, float4(0, 0, 0, 1)); }\n",
         false,
         true,
         {},
         {"bones", "T"},
         102,
         102,
         153,
         {},
         "case.cg",
         {{"bones", true, 0, 0, true, false,
           [] {
               std::vector<double> palette(60 * 12, 0.0);
               palette[3 * 12 + 0] = 0.1;
               return palette;
           }()},
          {"bones", true, 57, 1, false, true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0.2, 0.4, 0.6}},
          {"T", false, 0, 1, true, false, {0.9, 0.9, 0.9, 0.1, 0, 0, 0, 0, 0, 0, 0, 0, 0.5, 0.5, 0.5, 0}}}},
        {"writes to uniforms: globals, members of uniform structs, through out and inout arguments, each run's own",
         "float4 g; uniform float k; struct S { float4 a; float b; };\n"
         "void Bump(inout float4 x) { x += 0.1; }\n"
         "void Half(float unused, out float y) { y = 0.5; }\n"
         "float4 Doubled() { g = g * 2; return g; }\n"
         "float4 fragmain(uniform S s, float4 c : COLOR0) : COLOR\n"
         "{ float4 d = Doubled(); Bump(g); Half(k, k); s.a.y = k; Half(0, s.b);\n"
         "  return float4(g.x, s.a.y * s.b, c.b, 1) + d * 0; }\n",
         false,
         true,
         {{"g", 4, {0.05, 0, 0, 0}}, {"k", 1, {0.9}}, {"s.a", 4, {0.9, 0.9, 0.9, 0.9}}, {"s.b", 1, {0.9}}},
         {"g", "k", "s", "s.a", "s.b"},
         51,
         64,
         153},
        {"lookups with a compare coordinate, derivatives, lod, bias and texel offsets",
         "float4 fragmain(uniform sampler2D s2, uniform sampler1D s1) : COLOR\n"
         "{ return tex2D(s2, float3(0.25, 0.25, 0.9)) * 0.1 + tex2D(s2, float2(0.25, 0.25), int2(1, 1)) * 0.2\n"
         "         + tex2Dlod(s2, float4(0.25, 0.75, 0, 0)) * 0.3 + tex2Dbias(s2, float4(0.75, 0.25, 0, 0)) * 0.25\n"
         "         + tex2D(s2, float2(0.75, 0.75), float2(0, 0), float2(0, 0)) * 0.15\n"
         "         + tex1D(s1, 0.25, 1) * 0 + tex1Dlod(s1, float4(0.25, 0, 0, 0), 1) * 0; }\n",
         false,
         true,
         {},
         {},
         115,
         153,
         166},
        {"projective forms, sizes, fetches and typed lookups",
         "float4 fragmain(uniform sampler2D s2, uniform sampler1D s1, uniform samplerRECT sr) : COLOR\n"
         "{ return float4(tex2Dsize(s2, 0).x * 0.1 + h1tex1D(s1, 0.25) * 0.2,\n"
         "                tex2Dfetch(s2, int4(1, 0, 0, 0)).g * 0.3 + texRECTfetch(sr, int4(2, 1, 0, 0)).g * 0.2\n"
         "                + tex1Dproj(s1, float3(1.5, 0.9, 2)).g * 0.1,\n"
         "                f3tex2D(s2, float2(0.25, 0.75)).z * 0.2 + texRECTsize(sr).y * 0.05\n"
         "                + tex2Dproj(s2, float3(0.5, 1.5, 2)).b * 0.2, 1); }\n",
         false,
         true,
         {},
         {},
         102,
         153,
         153},
        {"functions for a profile, unsized and array-typed parameters, out after the type, a sampler parameter, %, "
         "flat initialisers of arrays of vectors and structs, truncation",
         "ps_3_0 float4 Pick() { return float4(0.2, 0, 0, 0); }\n"
         "vs_3_0 float4 Pick() { return float4(0.9, 0.9, 0.9, 0); }\n"
         "float4 Pick() { return float4(0.5, 0.5, 0.5, 0); }\n"
         "float Sum(float2 p[], int n) { float s = 0; for (int i = 0; i < n; i++) s += p[i].y; return s; }\n"
         "float First(float2[] p) { return p[0].x; }\n"
         "void Fill(float4 out o) { o = float4(0, 0, 0, 1); }\n"
         "float4 Look(sampler2D s, float2 uv) { return tex2D(s, uv); }\n"
         "struct P { float2 a; float b; };\n"
         "float4 fragmain(uniform sampler2D s2, uniform float4 v) : COLOR\n"
         "{ float2[2] x = {0.1, 0.1, 0.2, 0.1}; P ps[2] = {0, 0, 0, 0, 0, 0.3};\n"
         "  float4 o; Fill(o); float3 t = v; float2x2 m = float3x3(v.x, 0, 0, 0, 1, 0, 0, 0, 1);\n"
         "  int k = int(v.w) % 4; float f = v.y % 0.25;\n"
         "  return Pick() + float4(f + Look(s2, float2(0.25, 0.25)).r * 0.1, Sum(x, 2) + First(x) + ps[1].b,\n"
         "                         k * 0.1 + m[0][0] * 0.5 + t.z * 0.5 * o.w, 1); }\n",
         false,
         true,
         {{"v", 4, {0.3, 0.6, 0.7, 7}}},
         {"v"},
         102,
         153,
         204},
        {"sampler members of a uniform struct from an include, with and without uniform; members named texture, input",
         "#include \"inc/mat.cgh\"\n"
         "struct In { float4 texture : COLOR0; float2 input : TEXCOORD7; };\n"
         "float4 fragmain(In IN, uniform Mat mat) : COLOR\n"
         "{ return tex2D(mat.diffuse, float2(0.25, 0.25)) * 0.2 + tex1D(mat.ramp, 0.75) * 0.4 + mat.tint\n"
         "         + float4(0, 0, IN.texture.b * 0.5 + IN.input.y * 0.2, 0); }\n",
         false,
         true,
         {{"mat.tint", 4, {0.1, 0, 0, 0}}},
         {"mat.diffuse", "mat.ramp", "mat.tint"},
         77,
         102,
         102,
         {{"inc/mat.cgh", "struct Mat { uniform sampler2D diffuse; sampler1D ramp; float4 tint; };\n"}}},
        {"a varying struct holding a sampler: the sampler a uniform, the rest varying",
         "struct Lookups { sampler2D s; float2 uv : TEXCOORD7; };\n"
         "float4 fragmain(Lookups L) : COLOR { return tex2D(L.s, L.uv * 0.5) + float4(0, L.uv.y * 0.5, 0, 0); }\n",
         false,
         true,
         {},
         {"L.s"},
         255,
         64,
         0},
        {"a vertex input without a semantic, of a struct whose members say uniform, assigned",
         "struct input { uniform float2 video_size; uniform float frame_count; };\n"
         "void vertexmain(float4 p : POSITION, input IN, uniform float4x4 ModelViewProj, out float4 oPos : POSITION,\n"
         "                out float4 oC : COLOR0)\n"
         "{ oPos = mul(ModelViewProj, p); float f = IN.frame_count = IN.frame_count * 0.5;\n"
         "  oC = float4(f, IN.frame_count, IN.video_size.x, 1); }\n",
         true,
         false,
         {{"IN.frame_count", 1, {0.8}}, {"IN.video_size", 3, {0.6, 0, 0}}},
         {},
         102,
         102,
         153},
        {"a uniform const parameter",
         "float4 fragmain(uniform const float k) : COLOR { return float4(k, 0, 0, 1); }\n",
         false,
         true,
         {{"k", 1, {0.4}}},
         {"k"},
         102,
         0,
         0},
    };
    cases.insert(cases.end(), constructs.begin(), constructs.end());
    for (int n = 0; n < 8; ++n)
        cases.push_back(
            {"TEXCOORDn in and out of both stages", TexCoordPair(n), true, true, {}, {}, 128, (n + 1) * 255 / 10, 64});
    return cases;
}

// Textures whose texels tell the lookups apart: the 1D one red then green; the 2D one red, green / blue, white
// (rows bottom up); the cube red on -Y, blue on +Z, black elsewhere; the 4 x 4 rectangle green in column 2 of row
// 1, red in column 0 of row 3, black elsewhere.
class CgProgramTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const unsigned char line[] = {255, 0, 0, 0, 255, 0};
        const unsigned char square[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
        std::vector<unsigned char> rect(4 * 4 * 3, 0);
        rect[(1 * 4 + 2) * 3 + 1] = 255;
        rect[(3 * 4 + 0) * 3 + 0] = 255;
        glGenTextures(4, textures);
        Upload(GL_TEXTURE_1D, textures[0], GL_TEXTURE_1D, 2, 1, line);
        Upload(GL_TEXTURE_2D, textures[1], GL_TEXTURE_2D, 2, 2, square);
        Upload(GL_TEXTURE_RECTANGLE, textures[3], GL_TEXTURE_RECTANGLE, 4, 4, rect.data());
        const unsigned char black[3] = {0, 0, 0};
        const unsigned char red[3] = {255, 0, 0};
        const unsigned char blue[3] = {0, 0, 255};
        for (int face = 0; face < 6; ++face) {
            GLenum target = GL_TEXTURE_CUBE_MAP_POSITIVE_X + face;
            const unsigned char* colour = target == GL_TEXTURE_CUBE_MAP_NEGATIVE_Y   ? red
                                          : target == GL_TEXTURE_CUBE_MAP_POSITIVE_Z ? blue
                                                                                     : black;
            Upload(GL_TEXTURE_CUBE_MAP, textures[2], target, 1, 1, colour);
        }
    }

    static void TearDownTestSuite() { glDeleteTextures(4, textures); }

    void SetUp() override { ClearView(); }

    static void ClearView()
    {
        SetPixelProjection(64, 64);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    static void Upload(GLenum target, GLuint texture, GLenum imageTarget, int width, int height,
                       const unsigned char* pixels)
    {
        glBindTexture(target, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        if (target == GL_TEXTURE_1D)
            glTexImage1D(imageTarget, 0, GL_RGB8, width, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
        else
            glTexImage2D(imageTarget, 0, GL_RGB8, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glBindTexture(target, 0);
    }

    // Every parameter of the case through the runtime: samplers get the texture of their kind ("point" is a
    // rectangle, "g.s" the 2D one), "Translation" the matrix translating by (0.1, 0.2, 0.3), "ModelViewProj" the pixel
    // projection.
    void SetParameters(CGShader& pair, const Case& c)
    {
        cgGLSetStateMatrixParameter(cgGetNamedParameter(pair.vertexProgram, "ModelViewProj"),
                                    CG_GL_MODELVIEW_PROJECTION_MATRIX, CG_GL_MATRIX_IDENTITY);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glTranslatef(0.1f, 0.2f, 0.3f);
        cgGLSetStateMatrixParameter(cgGetNamedParameter(pair.fragmentProgram, "Translation"),
                                    CG_GL_MODELVIEW_PROJECTION_MATRIX, CG_GL_MATRIX_IDENTITY);
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);

        const std::pair<const char*, int> samplers[] = {{"s1", 0},  {"s2", 1},          {"sc", 2},
                                                        {"sr", 3},  {"point", 3},       {"g.s", 1},
                                                        {"L.s", 1}, {"mat.diffuse", 1}, {"mat.ramp", 0}};
        for (const auto& [name, texture] : samplers) {
            CGparameter sampler = cgGetNamedParameter(pair.fragmentProgram, name);
            cgGLSetTextureParameter(sampler, textures[texture]);
            cgGLEnableTextureParameter(sampler);
        }
        for (const Matrices& m : c.matrices)
            SetMatrices(cgGetNamedParameter(pair.fragmentProgram, m.name), m);
        for (const Value& value : c.values) {
            for (CGprogram program : {pair.vertexProgram, pair.fragmentProgram}) {
                CGparameter parameter = cgGetNamedParameter(program, value.name);
                if (value.count == 1)
                    cgGLSetParameter1f(parameter, static_cast<float>(value.v[0]));
                else if (value.count == 3)
                    cgGLSetParameter3dv(parameter, value.v);
                else
                    cgGLSetParameter4d(parameter, value.v[0], value.v[1], value.v[2], value.v[3]);
            }
        }
    }

    static void SetMatrices(CGparameter parameter, const Matrices& m)
    {
        const std::vector<float> floats(m.values.begin(), m.values.end());
        using FloatSetter = void (*)(CGparameter, long, long, const float*);
        using DoubleSetter = void (*)(CGparameter, long, long, const double*);
        FloatSetter floatArray = m.byRows ? cgGLSetMatrixParameterArrayfr : cgGLSetMatrixParameterArrayfc;
        DoubleSetter doubleArray = m.byRows ? cgGLSetMatrixParameterArraydr : cgGLSetMatrixParameterArraydc;
        if (m.array && m.doubles)
            doubleArray(parameter, m.offset, m.count, m.values.data());
        else if (m.array)
            floatArray(parameter, m.offset, m.count, floats.data());
        else if (m.doubles)
            (m.byRows ? cgGLSetMatrixParameterdr : cgGLSetMatrixParameterdc)(parameter, m.values.data());
        else
            (m.byRows ? cgGLSetMatrixParameterfr : cgGLSetMatrixParameterfc)(parameter, floats.data());
    }

    static GLuint textures[4];
    TempWorkDir workDir;
};

GLuint CgProgramTest::textures[4];

TEST_F(CgProgramTest, EachProgramCompilesHasItsParametersAndDrawsItsColour)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        ClearView();
        for (const auto& [path, text] : c.files) {
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            WriteTextFile(path, text);
        }
        WriteTextFile(c.path, c.source);
        ShaderRuntime runtime;
        CGShader pair(runtime);
        testing::internal::CaptureStdout();
        bool loaded =
            pair.LoadShader(c.path, c.vertexProgram ? "vertexmain" : nullptr, c.fragmentProgram ? "fragmain" : nullptr)
                .Ok();
        std::string report = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(loaded) << report << c.source;
        for (const char* name : c.declared) {
            bool found = cgGetNamedParameter(pair.vertexProgram, name) != nullptr ||
                         cgGetNamedParameter(pair.fragmentProgram, name) != nullptr;
            EXPECT_TRUE(found) << name;
        }
        SetParameters(pair, c);

        // The quad covers the left half only: the vertex programs place it through POSITION and mul.
        pair.Bind();
        SetStreams();
        DrawRect(0, 0, 32, 64);
        pair.Unbind();
        Rgb inside = ReadPixel(16, 32);
        EXPECT_NEAR(inside.r, c.r, 2);
        EXPECT_NEAR(inside.g, c.g, 2);
        EXPECT_NEAR(inside.b, c.b, 2);
        Rgb outside = ReadPixel(48, 32);
        EXPECT_EQ(outside.r + outside.g + outside.b, 0);
    }
}

TEST_F(CgProgramTest, DepthOutputIsTheFragmentsDepth)
{
    WriteTextFile("depth.cg",
                  "float4 fragmain(out float depth : DEPTH) : COLOR { depth = 0.25; return float4(1, 0, 0, 1); }\n");
    ShaderRuntime runtime;
    CGShader pair(runtime);
    ASSERT_TRUE(pair.LoadShader("depth.cg", nullptr, "fragmain").Ok());
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    pair.Bind();
    DrawRect(0, 0, 64, 64);
    pair.Unbind();
    // A fixed-function quad at z = 0 has depth 0.5, behind the program's 0.25.
    glColor3f(0, 1, 0);
    DrawRect(0, 0, 64, 64);
    glDisable(GL_DEPTH_TEST);
    EXPECT_EQ(ReadPixel(32, 32).r, 255);
    EXPECT_EQ(ReadPixel(32, 32).g, 0);
}

TEST_F(CgProgramTest, ClipOutputsClipWhereTheirPlaneIsEnabled)
{
    WriteTextFile("clip.cg",
                  "void vertexmain(float4 p : POSITION, uniform float4x4 ModelViewProj,\n"
                  "  out float4 oPos : POSITION, out float4 c : COLOR0, out float d : CLP3)\n"
                  "{ oPos = mul(ModelViewProj, p); c = float4(0, 1, 0, 1); d = p.x - 16; }\n");
    ShaderRuntime runtime;
    CGShader pair(runtime);
    ASSERT_TRUE(pair.LoadShader("clip.cg", "vertexmain", nullptr).Ok());
    SetParameters(pair, Case{});
    glEnable(GL_CLIP_DISTANCE3);
    pair.Bind();
    DrawRect(0, 0, 32, 64);
    pair.Unbind();
    glDisable(GL_CLIP_DISTANCE3);
    EXPECT_EQ(ReadPixel(8, 32).g, 0);
    EXPECT_EQ(ReadPixel(24, 32).g, 255);
}

TEST_F(CgProgramTest, CompileErrorReportNamesTheCgFileLineAndColumn)
{
    WriteTextFile("bad.cg", "// a Cg file\n\nfloat4 fragmain() : COLOR { return undeclared; }\n");
    ShaderRuntime runtime;
    CGShader pair(runtime);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(pair.LoadShader("bad.cg", nullptr, "fragmain").Ok());
    EXPECT_FALSE(pair.LoadFragmentParameter("colour"));
    std::string output = testing::internal::GetCapturedStdout();
    const std::string head =
        "CGShader::LoadShader: fragment program with entry point fragmain from shader bad.cg failed to compile:\n";
    const std::string tail = "Could not load parameter colour for the fragment shader of bad.cg\n";
    ASSERT_GT(output.size(), head.size() + tail.size()) << output;
    EXPECT_EQ(output.substr(0, head.size()), head);
    EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
    std::string listing = output.substr(head.size(), output.size() - head.size() - tail.size());
    // The report's listing has the compiler's own form, one line for the error.
    EXPECT_EQ(listing, "bad.cg:3:36: error: 'undeclared': unknown variable\n\n");

    // An entry point the file lacks, also where the name is a variable.
    WriteTextFile("bad.cg", "uniform float4 fragmain;\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(pair.LoadShader("bad.cg", nullptr, "fragmain").Ok());
    output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("bad.cg: no function fragmain"), std::string::npos) << output;

    // A semantic without a binding in the stage is refused by name.
    WriteTextFile("bad.cg", "float4 vertexmain(float4 p : POSITION) : BLENDWEIGHT { return p; }\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(pair.LoadShader("bad.cg", "vertexmain", nullptr).Ok());
    output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("BLENDWEIGHT"), std::string::npos) << output;
}

}  // namespace
