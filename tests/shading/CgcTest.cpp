// velmora-cgc, run as a shader author runs it: GLSL out for a good file, one diagnostic line per problem for a
// bad one, includes, macros, standard input, an output file, and the command-line conventions.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

struct Case {
    const char* what;
    std::map<std::string, std::string> files;  // name (under the test's directory) -> text
    std::string arguments;
    int exitCode;
    std::string outStarts;  // the start of standard output
    std::string err;        // standard error, whole when errWhole, else a part of it
    bool errWhole = false;
};

const std::string kGood = "float4 fragmain(uniform float4 texture) : COLOR { return texture; }\n";
const std::string kUndeclared = "// a Cg file\n\nfloat4 main() : COLOR { return undeclared; }\n";

std::vector<Case> Cases()
{
    const std::string includes = "#include \"lib/inc.h\"\nfloat4 main() : COLOR { return f(1); }\n";
    const std::string badLibrary = "// helpers\nfloat4 f(float x) { return x * y; }\n";
    const std::string library = "float4 f(float x) { return x * 0.25; }\n";
    const std::string glsl = "#version 120\nvoid fragmain() { gl_FragColor = vec4(1.0); }\n";
    // Cg defines no GL_ macros: the branch that uses an undeclared name must not be taken.
    const std::string glBranch = "#ifdef GL_ARB_gpu_shader5\nfloat4 f(float x) { return wrong; }\n#else\n" + library +
                                 "#endif\n";
    return {
        {"a good Cg file", {{"a.cg", kGood}}, "--entry fragmain --profile fragment a.cg", 0, "#version 120\n", ""},
        {"a good GLSL file",
         {{"a.cg", glsl}},
         "--profile fragment --entry fragmain a.cg",
         0,
         "#version 120\n#define CG_FRAGMENT_PROGRAM 1\n#define fragmain main\n",
         ""},
        {"an error in the file: one line, file, line and column",
         {{"a.cg", kUndeclared}},
         "--profile fragment a.cg",
         1,
         "",
         "a.cg:3:32: error: 'undeclared': unknown variable\n",
         true},
        {"a syntax error: no follow-on lines",
         {{"a.cg", "float4 main(float4 c : COLOR0) : COLOR\n{\n  float4 q = c;\n  return q }\n"}},
         "--profile fragment a.cg",
         1,
         "",
         "a.cg:4: error: expected ';'\n",
         true},
        {"an error in an include names the include",
         {{"a.cg", includes}, {"lib/inc.h", badLibrary}},
         "--profile fragment a.cg",
         1,
         "",
         "lib/inc.h:2:32: error: 'y': unknown variable\n",
         true},
        {"an error in a function the entry point never calls is a warning",
         {{"a.cg", "float4 unused() { return nothing; }\nfloat4 main() : COLOR { return 1; }\n"}},
         "--profile fragment a.cg",
         0,
         "#version 120\n",
         "a.cg:1:26: warning: 'nothing': unknown variable (in unused, which the entry point never calls)\n",
         true},
        {"a syntax error refuses the file wherever it is",
         {{"a.cg", "float4 unused() { return 1 +; }\nfloat4 main() : COLOR { return 1; }\n"}},
         "--profile fragment a.cg",
         1,
         "",
         "a.cg:1:29: error: expected 'expression'\n",
         true},
        {"no GL_ macro is defined in the file",
         {{"a.cg", glBranch + "float4 main() : COLOR { return f(1); }\n"}},
         "--profile fragment a.cg",
         0,
         "#version 120\n",
         ""},
        {"nor in an include, whose lines keep their numbers",
         {{"a.cg", includes},
          {"lib/inc.h", "#ifdef GL_ARB_gpu_shader5\nfloat4 f(float x) { return x; }\n#else\n" + badLibrary.substr(11) +
                            "#endif\n"}},
         "--profile fragment a.cg",
         1,
         "",
         "lib/inc.h:4:32: error: 'y': unknown variable\n",
         true},
        {"-I: a directory searched for includes",
         {{"a.cg", "#include \"inc.h\"\nfloat4 main() : COLOR { return f(1); }\n"}, {"lib/inc.h", library}},
         "--profile fragment -I lib a.cg",
         0,
         "#version 120\n",
         ""},
        {"-I: the including file's own directory comes first",
         {{"src/a.cg", "#include \"inc.h\"\nfloat4 main() : COLOR { return f(1); }\n"},
          {"src/inc.h", library},
          {"lib/inc.h", badLibrary}},
         "--profile fragment -Ilib src/a.cg",
         0,
         "#version 120\n",
         ""},
        {"-I: directories in order",
         {{"a.cg", "#include \"inc.h\"\nfloat4 main() : COLOR { return f(1); }\n"},
          {"one/inc.h", badLibrary},
          {"two/inc.h", library}},
         "--profile fragment -I one -I two a.cg",
         1,
         "",
         "one/inc.h:2:32: error: 'y': unknown variable\n",
         true},
        {"-D NAME=VALUE",
         {{"a.cg", "float4 main() : COLOR { return SCALE; }\n"}},
         "--profile fragment -D SCALE=3 a.cg",
         0,
         "#version 120\n",
         ""},
        {"-D NAME is 1",
         {{"a.cg", "#if ON != 1\n#error ON\n#endif\nfloat4 main() : COLOR { return 1; }\n"}},
         "--profile fragment -DON a.cg",
         0,
         "#version 120\n",
         ""},
        {"-D in a GLSL file",
         {{"a.cg", "#version 120\nvoid main() { gl_FragColor = vec4(SCALE); }\n"}},
         "--profile fragment -D SCALE=0.5 a.cg",
         0,
         "#version 120\n#define CG_FRAGMENT_PROGRAM 1\n#define SCALE 0.5\n",
         ""},
        {"a GLSL syntax error",
         {{"a.cg", "#version 120\nvoid main() { gl_FragColor = vec4(1.0) + ; }\n"}},
         "--profile fragment a.cg",
         1,
         "",
         "a.cg:2: error: syntax error, unexpected SEMICOLON\n",
         true},
        {"a GLSL type error",
         {{"a.cg", "#version 120\n\nvoid main() { gl_FragColor = 1; }\n"}},
         "--profile fragment a.cg",
         1,
         "",
         "a.cg:3: error: 'assign': cannot convert"},
        {"a GLSL warning",
         {{"a.cg", "#version 120\n#extension GL_EXT_none : enable\n" + glsl.substr(13)}},
         "--profile fragment --entry fragmain a.cg",
         0,
         "#version 120\n",
         "a.cg:2:1: warning: '#extension': extension not supported: GL_EXT_none\n",
         true},
        {"a GLSL file without its entry",
         {{"a.cg", glsl}},
         "--profile fragment a.cg",
         1,
         "",
         "a.cg: error: Linking fragment stage: Missing entry point"},
        {"an entry point the file lacks", {{"a.cg", kGood}}, "--profile vertex a.cg", 1, "", "no function main"},
        {"a file that is not there",
         {},
         "--profile vertex missing.cg",
         1,
         "",
         "velmora-cgc: cannot read file missing.cg: No such file or directory\n",
         true},
        {"--help", {}, "--help", 0, "usage: velmora-cgc [OPTION]... --profile vertex|fragment FILE\n", ""},
        {"no profile", {}, "a.cg", 2, "", "velmora-cgc: --profile must be vertex or fragment\n"},
        {"an unknown profile", {}, "--profile geometry a.cg", 2, "", "Try 'velmora-cgc --help'.\n"},
        {"an unknown option", {}, "--profile vertex --fast a.cg", 2, "", "velmora-cgc: unknown option '--fast'\n"},
        {"a -D that is no macro", {}, "--profile vertex -D 1x=2 a.cg", 2, "", "velmora-cgc: -D 1x=2: not NAME"},
        {"an entry that is no function name", {}, "--profile vertex --entry 'a b' a.cg", 2, "", "--entry a b"},
        {"no file", {}, "--profile=vertex", 2, "", "velmora-cgc: no shader file given\n"},
        {"two files", {}, "--profile vertex a.cg a.cg", 2, "", "velmora-cgc: more than one shader file given\n"},
    };
}

TEST(CgcTest, CompilesAndReportsEachProblemOnOneLine)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        TempDir dir("cgc");
        for (const auto& [name, text] : c.files) {
            std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
            dir.Write(name, text);
        }
        const CommandResult run = RunCommand("cd " + dir.Path() + " && " + VELMORA_CGC + " " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(c.outStarts.empty() ? run.out : run.out.substr(0, c.outStarts.size()), c.outStarts);
        if (c.errWhole) {
            EXPECT_EQ(run.err, c.err);
        } else {
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        }
    }
}

TEST(CgcTest, ReadsStandardInputAndWritesTheOutputFileOnlyOnSuccess)
{
    TempDir dir("cgc");
    dir.Write("bad.cg", kUndeclared);
    dir.Write("scaled.cg", "float4 main() : COLOR { return SCALE; }\n");
    const std::string cgc = "cd " + dir.Path() + " && " + VELMORA_CGC + " --profile fragment ";

    CommandResult run = RunCommand(cgc + "-D SCALE=2 - <scaled.cg");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("vec4(2.0)"), std::string::npos) << run.out;
    run = RunCommand(cgc + "- < bad.cg");
    EXPECT_EQ(run.err, "<stdin>:3:32: error: 'undeclared': unknown variable\n");

    dir.Write("good.cg", kGood);
    run = RunCommand(cgc + "--entry fragmain -o out.glsl good.cg");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const std::string written = ReadFileText(dir.File("out.glsl"));
    EXPECT_EQ(written.substr(0, 13), "#version 120\n");
    run = RunCommand(cgc + "--output=out.glsl bad.cg");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadFileText(dir.File("out.glsl")), written);
    run = RunCommand(cgc + "--entry fragmain -o missing/out.glsl good.cg");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("velmora-cgc: cannot write missing/out.glsl: No such file"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);
}

}  // namespace
