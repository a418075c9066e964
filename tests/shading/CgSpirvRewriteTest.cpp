// The SPIR-V edits on modules the DX9 front end writes, read back with SPIRV-Cross.
#include "CgSpirvRewrite.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <gtest/gtest.h>
#include <spirv_glsl.hpp>

#include <string>
#include <vector>

namespace {

std::vector<unsigned int> Spirv(const std::string& hlsl)
{
    static const bool initialised = glslang::InitializeProcess();
    (void)initialised;
    glslang::TShader shader(EShLangFragment);
    const char* text = hlsl.c_str();
    shader.setStrings(&text, 1);
    shader.setEnvInput(glslang::EShSourceHlsl, EShLangFragment, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEntryPoint("main");
    shader.setAutoMapLocations(true);
    shader.setAutoMapBindings(true);
    const EShMessages messages =
        static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl | EShMsgHlslDX9Compatible);
    EXPECT_TRUE(shader.parse(GetDefaultResources(), 100, false, messages)) << shader.getInfoLog();
    glslang::TProgram program;
    program.addShader(&shader);
    EXPECT_TRUE(program.link(messages));
    std::vector<unsigned int> spirv;
    glslang::GlslangToSpv(*program.getIntermediate(EShLangFragment), spirv);
    return spirv;
}

std::string Glsl(std::vector<unsigned int> spirv)
{
    spirv_cross::CompilerGLSL compiler(std::move(spirv));
    spirv_cross::CompilerGLSL::Options options;
    options.version = 120;
    options.es = false;
    compiler.set_common_options(options);
    return compiler.compile();
}

TEST(CgSpirvRewriteTest, NamedSamplersBecomeRectangleSamplersAndOthersStay)
{
    std::vector<unsigned int> spirv = Spirv(
        "uniform sampler2D rect; uniform sampler2D plain;\n"
        "float4 main() : COLOR { return tex2D(rect, float2(1, 2)) + tex2D(plain, float2(0.5, 0.5)); }\n");
    RetypeRectangleSamplers(spirv, [](const std::string& name) { return name == "rect"; });
    std::string glsl = Glsl(spirv);
    EXPECT_NE(glsl.find("uniform sampler2DRect rect;"), std::string::npos) << glsl;
    EXPECT_NE(glsl.find("uniform sampler2D plain;"), std::string::npos) << glsl;
}

TEST(CgSpirvRewriteTest, FloatIndicesBecomeSignedConversions)
{
    std::vector<unsigned int> spirv =
        Spirv("uniform float4 v; uniform float4 w[3];\nfloat4 main() : COLOR { return w[v.x]; }\n");
    SignedFloatConversions(spirv);
    std::string glsl = Glsl(spirv);
    EXPECT_NE(glsl.find("[int("), std::string::npos) << glsl;
    EXPECT_EQ(glsl.find("uint"), std::string::npos) << glsl;
}

TEST(CgSpirvRewriteTest, ModulesThatDoNotParseAreLeftAlone)
{
    const std::vector<unsigned int> whole = Spirv(
        "uniform sampler2D rect; uniform float4 v; uniform float4 w[3];\n"
        "float4 main() : COLOR { return tex2D(rect, v.xy) + w[v.x]; }\n");
    // Short of a header; an instruction of zero words, which would make a walk stand still; one that runs past
    // the end.
    std::vector<std::vector<unsigned int>> broken = {{}, {whole.begin(), whole.begin() + 3}, whole, whole};
    broken[2][5] &= 0xffffu;
    broken[3][5] |= 0xffffu << 16;
    for (std::vector<unsigned int>& cut : broken) {
        const std::vector<unsigned int> before = cut;
        RetypeRectangleSamplers(cut, [](const std::string&) { return true; });
        SignedFloatConversions(cut);
        EXPECT_EQ(cut, before) << cut.size();
    }
}

}  // namespace
