#include "CGShader.h"
#include "GlTestContext.h"
#include "ShadingTestSupport.h"
#include "Shaders.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const char* const shaderFiles[] = {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"};

std::string CompiledText(CGprogram program)
{
    const char* text = cgGetProgramString(program, CG_COMPILED_PROGRAM);
    return text != nullptr ? text : "";
}

std::string LoadShadersOutput(ShaderPairs& pairs)
{
    testing::internal::CaptureStdout();
    LoadShaders(pairs);
    return testing::internal::GetCapturedStdout();
}

class ShaderSetUpTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* file : shaderFiles)
            CopyShaderFile(file);
    }

    TempWorkDir workDir;
    std::unique_ptr<ShaderPairs> pairs = CreateShaderPairs();
};

TEST_F(ShaderSetUpTest, TheFourFilesLoadSilentlyWithEveryParameterAndDumpThreePairs)
{
    EXPECT_EQ(LoadShadersOutput(*pairs), "");

    for (const char* name : {"ModelViewProj", "LightVector", "EyeVector", "LightColor"})
        EXPECT_NE(pairs->lightShader.GetVertexParameter(name), nullptr) << name;
    for (const char* name : {"diffuseSpecTex", "normalTex", "shadowMap", "attenuationTex"})
        EXPECT_NE(pairs->lightShader.GetFragmentParameter(name), nullptr) << name;
    EXPECT_NE(pairs->ambientShader.GetVertexParameter("ModelViewProj"), nullptr);
    EXPECT_NE(pairs->shadowShader.GetVertexParameter("light"), nullptr);
    EXPECT_EQ(pairs->postShader.vertexProgram, nullptr);

    EXPECT_EQ(ReadTextFile("shaderFP.txt"), CompiledText(pairs->lightShader.fragmentProgram));
    EXPECT_EQ(ReadTextFile("shaderVP.txt"), CompiledText(pairs->lightShader.vertexProgram));
    EXPECT_EQ(ReadTextFile("shadowFP.txt"), CompiledText(pairs->shadowShader.fragmentProgram));
    EXPECT_EQ(ReadTextFile("shadowVP.txt"), CompiledText(pairs->shadowShader.vertexProgram));
    EXPECT_EQ(ReadTextFile("postFP.txt"), CompiledText(pairs->postShader.fragmentProgram));
    // The files are Cg: the dumps are their GLSL translations.
    EXPECT_EQ(ReadTextFile("shaderVP.txt").rfind("#version 120\ninvariant gl_Position;\n", 0), 0u);
    EXPECT_NE(ReadTextFile("postFP.txt").find("void main()"), std::string::npos);
    EXPECT_FALSE(FileExists("postVP.txt"));
    EXPECT_FALSE(FileExists("ambientFP.txt"));
    EXPECT_FALSE(FileExists("ambientVP.txt"));
}

TEST_F(ShaderSetUpTest, BrokenPostFileReportsOnceThenEveryParameterAndSkipsItsDump)
{
    WriteTextFile("post.cg", "#version 120\nvoid fragmain() { this is not GLSL }\n");
    std::string output = LoadShadersOutput(*pairs);

    const std::string head =
        "CGShader::LoadShader: fragment program with entry point fragmain from shader post.cg failed to compile:\n";
    const std::string tail =
        "Could not load parameter framebuffer for the fragment shader of post.cg\n"
        "Could not load parameter time for the fragment shader of post.cg\n"
        "Could not load parameter warpTex for the fragment shader of post.cg\n"
        "Could not load parameter rampTex for the fragment shader of post.cg\n"
        "Could not load parameter warpTexCoords for the fragment shader of post.cg\n";
    ASSERT_GT(output.size(), head.size() + tail.size()) << output;
    EXPECT_EQ(output.substr(0, head.size()), head);
    EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
    std::string listing = output.substr(head.size(), output.size() - head.size() - tail.size());
    EXPECT_NE(listing.find("error"), std::string::npos) << listing;

    EXPECT_EQ(pairs->postShader.fragmentProgram, nullptr);
    EXPECT_EQ(pairs->postShader.GetFragmentParameter("framebuffer"), nullptr);
    EXPECT_FALSE(FileExists("postFP.txt"));
    for (const char* dump : {"shaderFP.txt", "shaderVP.txt", "shadowFP.txt", "shadowVP.txt"})
        EXPECT_TRUE(FileExists(dump)) << dump;
}

TEST_F(ShaderSetUpTest, ReloadRecompilesReregistersAndRewritesDumpsButNeverPostVP)
{
    WriteTextFile("post.cg", "broken");
    LoadShadersOutput(*pairs);
    WriteTextFile("shaderFP.txt", "stale");
    WriteTextFile("postVP.txt", "not ours");
    CGprogram oldLightFragment = pairs->lightShader.fragmentProgram;

    CopyShaderFile("post.cg");
    EXPECT_EQ(LoadShadersOutput(*pairs), "");
    EXPECT_NE(pairs->lightShader.fragmentProgram, oldLightFragment);
    EXPECT_EQ(cgGetProgramString(oldLightFragment, CG_COMPILED_PROGRAM), nullptr);
    EXPECT_NE(pairs->postShader.GetFragmentParameter("time"), nullptr);
    EXPECT_EQ(ReadTextFile("shaderFP.txt"), CompiledText(pairs->lightShader.fragmentProgram));
    EXPECT_TRUE(FileExists("postFP.txt"));
    EXPECT_EQ(ReadTextFile("postVP.txt"), "not ours");
}

const char* const tintShader = R"(#version 120
#ifdef CG_VERTEX_PROGRAM
void vertexmain() { gl_Position = ftransform(); }
#endif
#ifdef CG_FRAGMENT_PROGRAM
uniform vec4 tint;
void fragmain() { gl_FragColor = tint; }
#endif
)";

class ShaderPairTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetPixelProjection(64, 64);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        WriteTextFile("tint.cg", tintShader);
    }

    Rgb DrawBound(CGShader& pair)
    {
        pair.Bind();
        glColor3f(1, 1, 0);
        DrawRect(0, 0, 64, 64);
        pair.Unbind();
        return ReadPixel(32, 32);
    }

    TempWorkDir workDir;
    ShaderRuntime runtime;
    CGShader pair{runtime};
};

TEST_F(ShaderPairTest, FragmentOnlyPairDrawsOverFixedFunctionVerticesWithValuesSetWhileUnbound)
{
    ASSERT_TRUE(pair.LoadShader("tint.cg", nullptr, "fragmain").Ok());
    EXPECT_EQ(pair.vertexProgram, nullptr);
    ASSERT_TRUE(pair.LoadFragmentParameter("tint"));
    cgGLSetParameter4d(pair.GetFragmentParameter("tint"), 0, 1, 1, 1);
    cgGLSetParameter4d(pair.GetFragmentParameter("never registered"), 1, 0, 0, 1);

    Rgb pixel = DrawBound(pair);
    EXPECT_EQ(pixel.r, 0);
    EXPECT_EQ(pixel.g, 255);
    EXPECT_EQ(pixel.b, 255);

    // Unbound, drawing is fixed-function again.
    DrawRect(0, 0, 64, 64);
    EXPECT_EQ(ReadPixel(32, 32).b, 0);
}

// The GL driver's dialect, not glslang's, decides: glslang knows neither the extension, required here, nor the word
// "unsigned".
TEST_F(ShaderPairTest, GlslFileThatOnlyTheDriverAcceptsDraws)
{
    WriteTextFile("driver.cg",
                  "#version 120\n#extension GL_EXT_gpu_shader4 : require\n"
                  "void fragmain()\n"
                  "{ unsigned int u = 3u; gl_FragColor = vec4(float(u) * 0.2, 0.4, 0.0, 1.0); }\n");
    testing::internal::CaptureStdout();
    bool loaded = pair.LoadShader("driver.cg", nullptr, "fragmain").Ok();
    std::string report = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(loaded) << report;
    Rgb pixel = DrawBound(pair);
    EXPECT_NEAR(pixel.r, 153, 1);
    EXPECT_NEAR(pixel.g, 102, 1);
    EXPECT_EQ(pixel.b, 0);
}

TEST_F(ShaderPairTest, ReloadDropsHandlesOfNamesTheNewProgramLacks)
{
    ASSERT_TRUE(pair.LoadShader("tint.cg", "vertexmain", "fragmain").Ok());
    ASSERT_TRUE(pair.LoadFragmentParameter("tint"));
    WriteTextFile("tint.cg",
                  "#version 120\n#ifdef CG_VERTEX_PROGRAM\nvoid vertexmain() { gl_Position = ftransform(); }\n"
                  "#endif\n#ifdef CG_FRAGMENT_PROGRAM\nvoid fragmain() { gl_FragColor = vec4(1.0); }\n"
                  "#endif\n");
    ASSERT_TRUE(pair.LoadShader("tint.cg", "vertexmain", "fragmain").Ok());

    testing::internal::CaptureStdout();
    EXPECT_FALSE(pair.LoadFragmentParameter("tint"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not load parameter tint for the fragment shader of tint.cg\n");
    EXPECT_EQ(pair.GetFragmentParameter("tint"), nullptr);
    EXPECT_TRUE(pair.fragmentParameters.empty());
}

TEST_F(ShaderPairTest, FailedVertexProgramEndsTheLoadAndEmptiesThePair)
{
    ASSERT_TRUE(pair.LoadShader("tint.cg", "vertexmain", "fragmain").Ok());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(pair.LoadShader("tint.cg", "novertex", "fragmain").Ok());
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("CGShader::LoadShader: vertex program with entry point novertex from shader tint.cg "
                           "failed to compile:\n",
                           0),
              0u)
        << output;
    EXPECT_EQ(output.find("fragment program"), std::string::npos);
    EXPECT_EQ(pair.vertexProgram, nullptr);
    EXPECT_EQ(pair.fragmentProgram, nullptr);

    // An empty pair binds nothing: the draw is fixed-function.
    EXPECT_EQ(DrawBound(pair).r, 255);
}

TEST_F(ShaderPairTest, MissingFileReportNamesTheFileInTheListing)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(pair.LoadShader("absent.cg", nullptr, "fragmain").Ok());
    std::string output = testing::internal::GetCapturedStdout();
    const std::string head =
        "CGShader::LoadShader: fragment program with entry point fragmain from shader absent.cg failed to compile:\n";
    ASSERT_EQ(output.substr(0, head.size()), head);
    std::string listing = output.substr(head.size());
    EXPECT_NE(listing.find("absent.cg"), std::string::npos);
    EXPECT_EQ(listing.back(), '\n');
    EXPECT_EQ(pair.shaderFile, "absent.cg");
}

}  // namespace
