#include "CgSemantics.h"

#include <algorithm>
#include <cctype>

namespace {

enum class Io { VertexIn, VertexOut, FragmentIn, FragmentOut };

// One row: the semantic's name, the range of its index, and the built-in it stands for, where '#' takes the index
// plus shift. The built-in has builtinWidth components; wider values are filled with zeros.
struct SemanticBinding {
    Io io;
    const char* name;
    int first, last;
    const char* builtin;
    int shift;
    unsigned builtinWidth;
};

// Texture coordinate sets past the eight built-in ones are varyings of their own, matched by name between the
// stages. The vertex attribute numbers follow Cg's aliasing of the OpenGL profiles: ATTR0 position, 1 blend weight,
// 2 normal, 3 and 4 the colours, 5 the fog coordinate, 6 point size, 7 blend indices, 8 to 15 the texture
// coordinate sets, whose last two TANGENT and BINORMAL share.
const SemanticBinding bindings[] = {
    {Io::VertexIn, "POSITION", 0, 0, "gl_Vertex", 0, 4},
    {Io::VertexIn, "ATTR", 0, 0, "gl_Vertex", 0, 4},
    {Io::VertexIn, "BLENDWEIGHT", 0, 0, "cgAttribute1", 0, 4},
    {Io::VertexIn, "ATTR", 1, 1, "cgAttribute1", 0, 4},
    {Io::VertexIn, "NORMAL", 0, 0, "gl_Normal", 0, 3},
    {Io::VertexIn, "ATTR", 2, 2, "gl_Normal", 0, 3},
    {Io::VertexIn, "COLOR", 0, 0, "gl_Color", 0, 4},
    {Io::VertexIn, "COL", 0, 0, "gl_Color", 0, 4},
    {Io::VertexIn, "DIFFUSE", 0, 0, "gl_Color", 0, 4},
    {Io::VertexIn, "ATTR", 3, 3, "gl_Color", 0, 4},
    {Io::VertexIn, "COLOR", 1, 1, "gl_SecondaryColor", 0, 4},
    {Io::VertexIn, "COL", 1, 1, "gl_SecondaryColor", 0, 4},
    {Io::VertexIn, "SPECULAR", 0, 0, "gl_SecondaryColor", 0, 4},
    {Io::VertexIn, "ATTR", 4, 4, "gl_SecondaryColor", 0, 4},
    {Io::VertexIn, "FOGCOORD", 0, 0, "gl_FogCoord", 0, 1},
    {Io::VertexIn, "ATTR", 5, 5, "gl_FogCoord", 0, 1},
    {Io::VertexIn, "PSIZE", 0, 0, "cgAttribute6", 0, 4},
    {Io::VertexIn, "ATTR", 6, 6, "cgAttribute6", 0, 4},
    {Io::VertexIn, "BLENDINDICES", 0, 0, "cgAttribute7", 0, 4},
    {Io::VertexIn, "ATTR", 7, 7, "cgAttribute7", 0, 4},
    {Io::VertexIn, "TEXCOORD", 0, 7, "gl_MultiTexCoord#", 0, 4},
    {Io::VertexIn, "TEX", 0, 7, "gl_MultiTexCoord#", 0, 4},
    {Io::VertexIn, "ATTR", 8, 15, "gl_MultiTexCoord#", -8, 4},
    {Io::VertexIn, "TANGENT", 0, 0, "gl_MultiTexCoord6", 0, 4},
    {Io::VertexIn, "BINORMAL", 0, 0, "gl_MultiTexCoord7", 0, 4},

    {Io::VertexOut, "POSITION", 0, 0, "gl_Position", 0, 4},
    {Io::VertexOut, "HPOS", 0, 0, "gl_Position", 0, 4},
    {Io::VertexOut, "COLOR", 0, 0, "gl_FrontColor", 0, 4},
    {Io::VertexOut, "COL", 0, 0, "gl_FrontColor", 0, 4},
    {Io::VertexOut, "DIFFUSE", 0, 0, "gl_FrontColor", 0, 4},
    {Io::VertexOut, "COLOR", 1, 1, "gl_FrontSecondaryColor", 0, 4},
    {Io::VertexOut, "COL", 1, 1, "gl_FrontSecondaryColor", 0, 4},
    {Io::VertexOut, "SPECULAR", 0, 0, "gl_FrontSecondaryColor", 0, 4},
    {Io::VertexOut, "TEXCOORD", 0, 7, "gl_TexCoord[#]", 0, 4},
    {Io::VertexOut, "TEX", 0, 7, "gl_TexCoord[#]", 0, 4},
    {Io::VertexOut, "TEXCOORD", 8, 15, "cgTexCoord#", 0, 4},
    {Io::VertexOut, "TEX", 8, 15, "cgTexCoord#", 0, 4},
    {Io::VertexOut, "PSIZE", 0, 0, "gl_PointSize", 0, 1},
    {Io::VertexOut, "PSIZ", 0, 0, "gl_PointSize", 0, 1},
    {Io::VertexOut, "FOG", 0, 0, "gl_FogFragCoord", 0, 1},
    {Io::VertexOut, "FOGC", 0, 0, "gl_FogFragCoord", 0, 1},
    {Io::VertexOut, "CLP", 0, 5, "gl_ClipDistance[#]", 0, 1},

    {Io::FragmentIn, "COLOR", 0, 0, "gl_Color", 0, 4},
    {Io::FragmentIn, "COL", 0, 0, "gl_Color", 0, 4},
    {Io::FragmentIn, "DIFFUSE", 0, 0, "gl_Color", 0, 4},
    {Io::FragmentIn, "COLOR", 1, 1, "gl_SecondaryColor", 0, 4},
    {Io::FragmentIn, "COL", 1, 1, "gl_SecondaryColor", 0, 4},
    {Io::FragmentIn, "SPECULAR", 0, 0, "gl_SecondaryColor", 0, 4},
    {Io::FragmentIn, "TEXCOORD", 0, 7, "gl_TexCoord[#]", 0, 4},
    {Io::FragmentIn, "TEX", 0, 7, "gl_TexCoord[#]", 0, 4},
    {Io::FragmentIn, "TEXCOORD", 8, 15, "cgTexCoord#", 0, 4},
    {Io::FragmentIn, "TEX", 8, 15, "cgTexCoord#", 0, 4},
    {Io::FragmentIn, "WPOS", 0, 0, "gl_FragCoord", 0, 4},
    {Io::FragmentIn, "FACE", 0, 0, "(gl_FrontFacing ? 1.0 : -1.0)", 0, 1},
    {Io::FragmentIn, "FOG", 0, 0, "gl_FogFragCoord", 0, 1},

    {Io::FragmentOut, "COLOR", 0, 3, "gl_FragData[#]", 0, 4},
    {Io::FragmentOut, "COL", 0, 3, "gl_FragData[#]", 0, 4},
};

// Splits "TEXCOORD3" into ("TEXCOORD", 3); a semantic without digits has index 0.
std::pair<std::string, int> SplitSemantic(std::string semantic)
{
    for (char& c : semantic)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::size_t digits = semantic.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(semantic[digits - 1])))
        --digits;
    if (digits == semantic.size() || semantic.size() - digits > 2)
        return {semantic, 0};
    return {semantic.substr(0, digits), std::stoi(semantic.substr(digits))};
}

// The built-in, of builtinWidth components, read or written as a value of width components.
std::string Shaped(const std::string& builtin, unsigned builtinWidth, unsigned width)
{
    static const char* const swizzles[] = {"", ".x", ".xy", ".xyz", ""};
    if (width <= builtinWidth)
        return builtin + (width == builtinWidth ? "" : swizzles[width]);
    std::string shaped = "vec" + std::to_string(width) + "(" + builtin;
    for (unsigned i = builtinWidth; i < width; ++i)
        shaped += ", 0.0";
    return shaped + ")";
}

}  // namespace

std::string BuiltinFor(const std::string& semantic, bool vertexStage, bool input, unsigned width)
{
    auto [name, index] = SplitSemantic(semantic);
    Io io = vertexStage ? (input ? Io::VertexIn : Io::VertexOut) : (input ? Io::FragmentIn : Io::FragmentOut);
    width = std::clamp(width, 1u, 4u);
    for (const SemanticBinding& row : bindings) {
        if (row.io != io || name != row.name || index < row.first || index > row.last)
            continue;
        // Single-component built-ins take only single components: a float4 point size means something else.
        if (row.builtinWidth == 1 && width != 1 && io != Io::VertexIn)
            return std::string();
        std::string builtin = row.builtin;
        std::size_t hash = builtin.find('#');
        if (hash != std::string::npos)
            builtin.replace(hash, 1, std::to_string(index + row.shift));
        return Shaped(builtin, row.builtinWidth, width);
    }
    return std::string();
}

std::string GenericAttributeName(int index) { return "cgAttribute" + std::to_string(index); }

std::string OwnDeclaration(const std::string& builtin, bool vertexStage)
{
    for (const char* prefix : {"cgAttribute", "cgTexCoord"}) {
        std::size_t at = builtin.find(prefix);
        if (at == std::string::npos)
            continue;
        std::size_t end = at;
        while (end < builtin.size() && (std::isalnum(static_cast<unsigned char>(builtin[end])) || builtin[end] == '_'))
            ++end;
        bool attribute = std::string(prefix) == "cgAttribute";
        if (attribute && !vertexStage)
            return std::string();
        return std::string(attribute ? "attribute" : "varying") + " vec4 " + builtin.substr(at, end - at) + ";";
    }
    return std::string();
}

bool NeedsGlsl130(const std::string& builtin) { return builtin.find("gl_ClipDistance") != std::string::npos; }
