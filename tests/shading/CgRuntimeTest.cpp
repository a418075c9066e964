#include "GlTestContext.h"
#include "ShadingTestSupport.h"

#include <Cg/cgGL.h>
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <string>

namespace {

const char* const colourShader = R"(#version 120
uniform vec4 colour;
void fragmain() { gl_FragColor = colour; }
)";

// Every test runs in its own directory with one runtime context; stages are left disabled afterwards.
class CgRuntimeTest : public testing::Test {
protected:
    void SetUp() override
    {
        context = cgCreateContext();
        SetPixelProjection(64, 64);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1, 1, 1);
    }

    void TearDown() override
    {
        cgGLDisableProfile(cgGLGetLatestProfile(CG_GL_VERTEX));
        cgGLDisableProfile(cgGLGetLatestProfile(CG_GL_FRAGMENT));
    }

    CGprogram Compile(const std::string& file, const std::string& text, CGGLenum stage, const char* entry)
    {
        WriteTextFile(file, text);
        return cgCreateProgramFromFile(context, CG_SOURCE, file.c_str(), cgGLGetLatestProfile(stage), entry, nullptr);
    }

    std::string Listing() const
    {
        const char* listing = cgGetLastListing(context);
        return listing != nullptr ? listing : "";
    }

    // Draws with the fragment program in its stage (vertices through the fixed-function pipeline).
    Rgb DrawWithFragmentProgram(CGprogram program)
    {
        cgGLEnableProfile(cgGLGetLatestProfile(CG_GL_FRAGMENT));
        cgGLBindProgram(program);
        DrawRect(0, 0, 64, 64);
        return ReadPixel(32, 32);
    }

    TempWorkDir workDir;
    CGcontext context = nullptr;
};

TEST_F(CgRuntimeTest, CompiledTextIsTheFileWithTheStagePrologue)
{
    CGprogram withVersion = Compile("a.cg", colourShader, CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(withVersion, nullptr) << Listing();
    EXPECT_EQ(std::string(cgGetProgramString(withVersion, CG_COMPILED_PROGRAM)),
              "#version 120\n#define CG_FRAGMENT_PROGRAM 1\n#define fragmain main\n#line 1\n"
              "uniform vec4 colour;\nvoid fragmain() { gl_FragColor = colour; }\n");

    const std::string commented = "/* a GLSL file */\n#version 120\nvoid fragmain() { gl_FragColor = vec4(1.0); }\n";
    CGprogram glsl = Compile("c.cg", commented, CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(glsl, nullptr) << Listing();
    EXPECT_EQ(std::string(cgGetProgramString(glsl, CG_COMPILED_PROGRAM)),
              "/* a GLSL file */\n#version 120\n#define CG_FRAGMENT_PROGRAM 1\n#define fragmain main\n#line 2\n"
              "void fragmain() { gl_FragColor = vec4(1.0); }\n");

    // Without a #version line the file is Cg; what GL compiles is the translation, which writes the built-ins.
    CGprogram cg = Compile("b.cg", "// Cg\nfloat4 vertexmain(float4 p : POSITION) : POSITION { return p; }\n",
                           CG_GL_VERTEX, "vertexmain");
    ASSERT_NE(cg, nullptr) << Listing();
    std::string translated = cgGetProgramString(cg, CG_COMPILED_PROGRAM);
    EXPECT_EQ(translated.rfind("#version 120\ninvariant gl_Position;\n", 0), 0u) << translated;
    EXPECT_NE(translated.find("gl_Position = gl_Vertex;"), std::string::npos) << translated;
}

TEST_F(CgRuntimeTest, FailuresGiveNullProgramAndListing)
{
    EXPECT_EQ(Compile("a.cg", colourShader, CG_GL_FRAGMENT, "otherentry"), nullptr);
    EXPECT_NE(Listing(), "");

    // A compile error is reported with the file's name and its own line number despite the inserted prologue.
    EXPECT_EQ(
        Compile("c.cg", "#version 120\n\nvoid fragmain() { gl_FragColor = nonsense; }\n", CG_GL_FRAGMENT, "fragmain"),
        nullptr);
    EXPECT_EQ(Listing().rfind("c.cg:3:", 0), 0u) << Listing();
    EXPECT_NE(Listing().find(": error: "), std::string::npos) << Listing();

    // The entry point becomes part of the compiled text; anything but an identifier is refused.
    EXPECT_EQ(Compile("a.cg", colourShader, CG_GL_FRAGMENT, "fragmain main\n#define colour"), nullptr);
    EXPECT_NE(Listing().find("not an identifier"), std::string::npos) << Listing();
}

TEST_F(CgRuntimeTest, ValueSetWhileUnboundHoldsOnceBound)
{
    CGprogram program = Compile("a.cg", colourShader, CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(program, nullptr) << Listing();
    CGparameter colour = cgGetNamedParameter(program, "colour");
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(cgGetNamedParameter(program, "absent"), nullptr);

    cgGLSetParameter4d(colour, 0, 0, 0, 1);
    const double orange[3] = {1, 0.5, 0};
    cgGLSetParameter3dv(colour, orange);  // leading components only; alpha keeps its 1
    Rgb pixel = DrawWithFragmentProgram(program);
    EXPECT_EQ(pixel.r, 255);
    EXPECT_NEAR(pixel.g, 128, 1);
    EXPECT_EQ(pixel.b, 0);

    cgGLSetParameter1f(nullptr, 1);
    cgGLSetParameter4d(nullptr, 1, 1, 1, 1);
    cgGLSetParameter3dv(colour, nullptr);
    pixel = DrawWithFragmentProgram(program);
    EXPECT_EQ(pixel.r, 255);
    EXPECT_EQ(pixel.b, 0);
}

TEST_F(CgRuntimeTest, StaleHandlesOfADestroyedProgramChangeNothing)
{
    CGprogram first = Compile("a.cg", colourShader, CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(first, nullptr) << Listing();
    CGparameter staleColour = cgGetNamedParameter(first, "colour");
    cgDestroyProgram(first);

    // GL may hand the freed program name and uniform location straight to the next program.
    CGprogram second = Compile("a.cg", colourShader, CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(second, nullptr) << Listing();
    cgGLSetParameter4d(cgGetNamedParameter(second, "colour"), 0, 0, 1, 1);
    cgGLSetParameter4d(staleColour, 1, 0, 0, 1);
    cgGLBindProgram(first);
    cgDestroyProgram(first);

    Rgb pixel = DrawWithFragmentProgram(second);
    EXPECT_EQ(pixel.r, 0);
    EXPECT_EQ(pixel.b, 255);
    EXPECT_EQ(cgGetNamedParameter(first, "colour"), nullptr);
    EXPECT_EQ(cgGetProgramString(first, CG_COMPILED_PROGRAM), nullptr);
}

TEST_F(CgRuntimeTest, DisabledProfileFallsBackToFixedFunction)
{
    CGprogram program = Compile("a.cg", colourShader, CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(program, nullptr) << Listing();
    cgGLSetParameter4d(cgGetNamedParameter(program, "colour"), 0, 0, 1, 1);
    EXPECT_EQ(DrawWithFragmentProgram(program).b, 255);

    cgGLDisableProfile(cgGLGetLatestProfile(CG_GL_FRAGMENT));
    glColor3f(1, 1, 0);
    DrawRect(0, 0, 64, 64);
    Rgb pixel = ReadPixel(32, 32);
    EXPECT_EQ(pixel.r, 255);
    EXPECT_EQ(pixel.b, 0);

    // Enabling again restores the program bound before.
    cgGLEnableProfile(cgGLGetLatestProfile(CG_GL_FRAGMENT));
    DrawRect(0, 0, 64, 64);
    EXPECT_EQ(ReadPixel(32, 32).b, 255);
}

TEST_F(CgRuntimeTest, StateMatrixIsTakenAtTheMomentOfTheCall)
{
    CGprogram program = Compile("v.cg",
                                "#version 120\nuniform mat4 ModelViewProj;\n"
                                "void vertexmain() { gl_Position = ModelViewProj * gl_Vertex; "
                                "gl_FrontColor = gl_Color; }\n",
                                CG_GL_VERTEX, "vertexmain");
    ASSERT_NE(program, nullptr) << Listing();
    CGparameter matrix = cgGetNamedParameter(program, "ModelViewProj");
    ASSERT_NE(matrix, nullptr);

    // Pixel projection with the unit square scaled to the left half of the viewport.
    glScalef(32, 64, 1);
    cgGLSetStateMatrixParameter(matrix, CG_GL_MODELVIEW_PROJECTION_MATRIX, CG_GL_MATRIX_IDENTITY);
    glLoadIdentity();

    cgGLEnableProfile(cgGLGetLatestProfile(CG_GL_VERTEX));
    cgGLBindProgram(program);
    glColor3f(0, 1, 0);
    DrawRect(0, 0, 1, 1);
    EXPECT_EQ(ReadPixel(16, 32).g, 255);
    EXPECT_EQ(ReadPixel(48, 32).g, 0);
}

TEST_F(CgRuntimeTest, SamplersReadTheirTexturesOnTheirOwnUnits)
{
    CGprogram program = Compile("t.cg",
                                "#version 120\nuniform sampler2D flat;\nuniform sampler1D line;\n"
                                "void fragmain() { gl_FragColor = texture2D(flat, vec2(0.5)) + "
                                "texture1D(line, 0.5); }\n",
                                CG_GL_FRAGMENT, "fragmain");
    ASSERT_NE(program, nullptr) << Listing();

    const unsigned char red[4] = {255, 0, 0, 255};
    const unsigned char blue[4] = {0, 0, 255, 255};
    GLuint textures[2];
    glGenTextures(2, textures);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, red);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_1D, textures[1]);
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA8, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, blue);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindTexture(GL_TEXTURE_1D, 0);

    glActiveTexture(GL_TEXTURE1);
    for (int i = 0; i < 2; ++i) {
        CGparameter sampler = cgGetNamedParameter(program, i == 0 ? "flat" : "line");
        ASSERT_NE(sampler, nullptr);
        cgGLSetTextureParameter(sampler, textures[i]);
        cgGLEnableTextureParameter(sampler);
    }
    GLint activeUnit = 0;
    GLint fixedFunctionBinding = -1;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeUnit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &fixedFunctionBinding);
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(activeUnit, GL_TEXTURE1);
    EXPECT_EQ(fixedFunctionBinding, 0);

    Rgb pixel = DrawWithFragmentProgram(program);
    EXPECT_EQ(pixel.r, 255);
    EXPECT_EQ(pixel.b, 255);
    glDeleteTextures(2, textures);
}

const char* const declaredShader = R"(
struct Light { float4 colour; float4 unusedMember; };
struct Input { float2 offset; float weight; };
uniform float4 unusedGlobal;
void vertexmain(float4 p : POSITION, Input IN, uniform Light light, uniform float4x4 ModelViewProj,
                uniform float4 unusedScale, out float4 oPos : POSITION, out float4 oC : COLOR0)
{ oPos = mul(ModelViewProj, p); oC = light.colour * IN.weight + float4(IN.offset, 0, 0); }
)";

TEST_F(CgRuntimeTest, EveryDeclaredParameterIsFoundAndSaysWhetherItIsReferenced)
{
    CGprogram program = Compile("v.cg", declaredShader, CG_GL_VERTEX, "vertexmain");
    ASSERT_NE(program, nullptr) << Listing();
    const std::pair<const char*, CGbool> parameters[] = {
        {"unusedGlobal", CG_FALSE}, {"unusedScale", CG_FALSE},        {"light", CG_TRUE},
        {"light.colour", CG_TRUE},  {"light.unusedMember", CG_FALSE}, {"IN", CG_TRUE},
        {"IN.offset", CG_TRUE},     {"IN.weight", CG_TRUE},           {"ModelViewProj", CG_TRUE},
    };
    for (const auto& [name, referenced] : parameters) {
        CGparameter parameter = cgGetNamedParameter(program, name);
        ASSERT_NE(parameter, nullptr) << name;
        EXPECT_EQ(cgIsParameterReferenced(parameter), referenced) << name;
        EXPECT_STREQ(cgGetParameterName(parameter), name);
    }

    // Members in declaration order; only structs have them.
    for (const char* name : {"light", "IN"}) {
        std::string members;
        for (CGparameter member = cgGetFirstStructParameter(cgGetNamedParameter(program, name)); member != nullptr;
             member = cgGetNextParameter(member))
            members += std::string(cgGetParameterName(member)) + " ";
        EXPECT_EQ(members, std::string(name) == "IN" ? "IN.offset IN.weight " : "light.colour light.unusedMember ");
    }
    EXPECT_EQ(cgGetFirstStructParameter(cgGetNamedParameter(program, "unusedScale")), nullptr);
    EXPECT_EQ(cgIsParameterReferenced(nullptr), CG_FALSE);
    cgDestroyProgram(program);
    EXPECT_EQ(cgGetNextParameter(cgGetNamedParameter(program, "light.colour")), nullptr);
}

TEST_F(CgRuntimeTest, AVertexInputWithoutSemanticReadsAnArrayOrOneValue)
{
    CGprogram program = Compile("v.cg", declaredShader, CG_GL_VERTEX, "vertexmain");
    ASSERT_NE(program, nullptr) << Listing();
    cgGLSetStateMatrixParameter(cgGetNamedParameter(program, "ModelViewProj"), CG_GL_MODELVIEW_PROJECTION_MATRIX,
                                CG_GL_MATRIX_IDENTITY);
    cgGLSetParameter4d(cgGetNamedParameter(program, "light.colour"), 0, 1, 0, 1);
    CGparameter offset = cgGetNamedParameter(program, "IN.offset");
    CGparameter weight = cgGetNamedParameter(program, "IN.weight");
    cgGLSetParameter4d(offset, 0, 0, 0, 0);

    // A quad across the viewport whose right edge weighs 1 and left edge 0.
    const float corners[8] = {0, 0, 64, 0, 64, 64, 0, 64};
    const float weights[4] = {0, 1, 1, 0};
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, corners);
    cgGLSetParameterPointer(weight, 1, GL_FLOAT, 0, weights);
    cgGLEnableClientState(weight);
    cgGLEnableProfile(cgGLGetLatestProfile(CG_GL_VERTEX));
    cgGLBindProgram(program);
    glDrawArrays(GL_QUADS, 0, 4);
    EXPECT_NEAR(ReadPixel(4, 32).g, 16, 2);
    EXPECT_NEAR(ReadPixel(60, 32).g, 239, 2);

    // With its array disabled the input reads the value last set, at every vertex.
    cgGLDisableClientState(weight);
    cgGLSetParameter1f(weight, 0.5f);
    cgGLSetParameter4d(offset, 0.4, 0, 0, 0);
    glDrawArrays(GL_QUADS, 0, 4);
    glDisableClientState(GL_VERTEX_ARRAY);
    EXPECT_NEAR(ReadPixel(4, 32).g, 128, 1);
    EXPECT_NEAR(ReadPixel(60, 32).g, 128, 1);
    EXPECT_NEAR(ReadPixel(60, 32).r, 102, 1);
}

}  // namespace
