// Shader files built to break the compilers: each ends in the shader report with a listing that says what went
// wrong, and the failed pair draws through the fixed-function pipeline.
#include "CGShader.h"
#include "GlTestContext.h"
#include "ShadingTestSupport.h"

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace {

std::string Repeat(const std::string& text, int times)
{
    std::string repeated;
    for (int i = 0; i < times; ++i)
        repeated += text;
    return repeated;
}

// Macros that each expand to the previous one twice.
std::string DoublingMacros(int levels)
{
    std::string text = "#define M0 x\n";
    for (int i = 1; i <= levels; ++i)
        text += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + " M" + std::to_string(i - 1) + "\n";
    return text;
}

struct Hostile {
    const char* what;
    std::string source;   // written to the shader file, unless the file is made otherwise
    const char* listing;  // the reason the report gives
};

std::vector<Hostile> Cases()
{
    const std::string fragment = "float4 fragmain(uniform float a) : COLOR { ";
    return {
        {"4,000 nested parentheses", fragment + "return " + Repeat("(", 4000) + "a" + Repeat(")", 4000) + "; }\n",
         "nesting too deep"},
        {"a sum of 20,000 terms", fragment + "return a" + Repeat(" + a", 20000) + "; }\n", "expression too long"},
        {"100,000 nested blocks", fragment + Repeat("{", 100000) + Repeat("}", 100000) + " return a; }\n",
         "nesting too deep"},
        {"2,000 nested ifs", fragment + "float4 c = 0; " + Repeat("if (a > 0) ", 2000) + "c = 1; return c; }\n",
         "nesting too deep"},
        {"nesting hidden in a macro",
         "#define OPEN ((((((((((((((((\n#define CLOSE ))))))))))))))))\n" + fragment + "return " +
             Repeat("OPEN ", 20) + "a" + Repeat(" CLOSE", 20) + "; }\n",
         "nesting too deep"},
        {"macros doubling 40 times", DoublingMacros(40) + fragment + "M40; return a; }\n", "longer than 5 s"},
        {"a uniform array of 100,000,000 elements",
         "uniform float4 big[100000000];\nfloat4 fragmain(uniform int i) : COLOR { return big[i]; }\n",
         "beyond 65536 components"},
        {"a file that includes itself", "#include \"case.cg\"\n" + fragment + "return a; }\n", "#include"},
        {"a GLSL file whose macros blow up", "#version 120\n" + DoublingMacros(40) + "void fragmain() { M40; }\n",
         "longer than 5 s"},
        {"a GLSL file whose macros blow up behind a macro only the driver defines",
         "#version 120\n#ifdef GL_EXT_gpu_shader4\n" + DoublingMacros(40) +
             "void fragmain() { M40; }\n#else\nvoid fragmain() { gl_FragColor = vec4(1.0); }\n#endif\n",
         "longer than 5 s"},
        {"a GLSL file nested too deep",
         "#version 120\nvoid fragmain() { gl_FragColor = vec4" + Repeat("(", 4000) + "1.0" + Repeat(")", 4000) +
             "; }\n",
         "nesting too deep"},
        {"a GLSL file with a uniform array of 100,000,000 elements",
         "#version 120\nuniform vec4 big[100000000];\nuniform int i;\nvoid fragmain() { gl_FragColor = big[i]; }\n",
         "beyond 65536 components"},
        {"a GLSL file nested too deep after an extension only the driver knows",
         "#version 120\n#extension GL_EXT_gpu_shader4 : require\nvoid fragmain() { gl_FragColor = vec4" +
             Repeat("(", 4000) + "1.0" + Repeat(")", 4000) + "; }\n",
         "nesting too deep"},
        {"the same in GLSL that only the driver parses",
         "#version 120\n#extension GL_EXT_gpu_shader4 : enable\nuniform vec4 big[100000000];\nuniform unsigned int i;\n"
         "void fragmain() { gl_FragColor = big[i]; }\n",
         "more than 65536 elements"},
        {"a FIFO", "", "is not a regular file"},
        {"a directory", "", "is not a regular file"},
        {"a file larger than 4 MiB", "// " + std::string(5 << 20, 'x') + "\n", "larger than 4 MiB"},
    };
}

class HostileShaderTest : public testing::Test {
protected:
    TempWorkDir workDir;
};

TEST_F(HostileShaderTest, EachFileEndsInAReportAndThePairDrawsFixedFunction)
{
    const std::string head =
        "CGShader::LoadShader: fragment program with entry point fragmain from shader case.cg failed to compile:\n";
    for (const Hostile& c : Cases()) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all("case.cg");
        if (std::string(c.what) == "a FIFO")
            ASSERT_EQ(mkfifo("case.cg", 0600), 0);
        else if (std::string(c.what) == "a directory")
            std::filesystem::create_directory("case.cg");
        else
            WriteTextFile("case.cg", c.source);

        ShaderRuntime runtime;
        CGShader pair(runtime);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(pair.LoadShader("case.cg", nullptr, "fragmain").Ok());
        std::string report = testing::internal::GetCapturedStdout();
        EXPECT_EQ(report.substr(0, head.size()), head);
        EXPECT_NE(report.find(c.listing), std::string::npos) << report.substr(0, 2000);

        SetPixelProjection(64, 64);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        pair.Bind();
        glColor3f(0, 1, 0);
        DrawRect(0, 0, 64, 64);
        pair.Unbind();
        Rgb drawn = ReadPixel(32, 32);
        EXPECT_EQ(drawn.g, 255);
    }
}

}  // namespace
