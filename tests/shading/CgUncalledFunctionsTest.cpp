// Which functions of a Cg file the entry point calls, and the blanking of one that it does not; no display.
#include "CgUncalledFunctions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Joined(const std::set<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names)
        joined += name + " ";
    return joined;
}

TEST(CgUncalledFunctionsTest, CallsAreFollowedFromTheEntryAndFromGlobalDeclarations)
{
    struct Case {
        const char* what;
        const char* text;
        const char* called;
    };
    const Case cases[] = {
        {"through a chain, not beside it",
         "float a(float x) { return b(x); }\nfloat b(float x) { return x; }\nfloat c() { return a(1); }\n"
         "float4 main() : COLOR { return a(2); }\n",
         "a b main "},
        {"every overload of a called name",
         "float f(float x) { return g(); }\nfloat f(float2 x) { return h(); }\nfloat g() { return 0; }\n"
         "float h() { return 0; }\nfloat4 main() : COLOR { return f(1); }\n",
         "f g h main "},
        {"a global initialiser, a struct and an array initialiser are no definitions",
         "struct S { float v; };\nstatic const float k = scale(2);\nfloat w[2] = { 1, 2 };\n"
         "float scale(float x) { return x; }\nfloat unused() { return 0; }\nfloat4 main() : COLOR { return k; }\n",
         "main scale "},
        {"directives, comments and strings hide nothing",
         "#line 3 \"other.cg\"\n/* float hidden() { } */\nfloat4 main() : COLOR // { unused(); }\n{ return 1; }\n"
         "float unused() { return 0; }\n",
         "main "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Joined(CalledFunctionNames(c.text, "main")), c.called);
    }
}

TEST(CgUncalledFunctionsTest, OnlyASemanticErrorInAnUncalledFunctionIsLeftOut)
{
    const std::string text =
        "#define K 1\nfloat unused()\n{\n#if K\n  return nothing;\n#endif\n}\n"
        "float4 main() : COLOR { return 1; }\n";
    const std::set<std::string> called = CalledFunctionNames(text, "main");
    std::pair<std::size_t, std::size_t> span;
    std::string warning;
    ASSERT_TRUE(UncalledFunctionError("ERROR: a.cg:5: 'nothing' : unknown variable\nERROR: 1 compilation errors.\n",
                                      "a.cg", text, called, span, warning));
    EXPECT_EQ(warning,
              "WARNING: a.cg:5: 'nothing' : unknown variable (in unused, which the entry point never "
              "calls)\n");
    // The function's text goes, its directives and line breaks stay.
    EXPECT_EQ(Blanked(text, span), "#define K 1\n" + std::string(14, ' ') + "\n \n#if K\n" + std::string(17, ' ') +
                                       "\n#endif\n \nfloat4 main() : COLOR { return 1; }\n");

    for (const char* log : {"ERROR: a.cg:5: ';' : Expected\n", "ERROR: a.cg:8: 'x' : unknown variable\n",
                            "ERROR: b.cg:5: 'x' : unknown variable\n", "ERROR: a.cg:5: '' : syntax error\n"}) {
        SCOPED_TRACE(log);
        EXPECT_FALSE(UncalledFunctionError(log, "a.cg", text, called, span, warning));
    }
    EXPECT_EQ(FirstErrorFile("WARNING: w.cg:1: 'a' : b\nERROR: inc/x.h:2: 'y' : z\n"), "inc/x.h");
}

}  // namespace
