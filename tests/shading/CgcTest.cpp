// velmora-cgc, run as a shader author runs it: GLSL out for a good file, the listing for a bad one, usage.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome Cgc(const fs::path& dir, const std::string& arguments)
{
    const std::string command = "cd " + dir.string() + " && " + VELMORA_CGC + " " + arguments + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(dir / "out.txt"), ReadAll(dir / "err.txt")};
}

struct Case {
    const char* what;
    std::string file;  // written as the shader file a.cg
    std::string arguments;
    int exitCode;
    std::string outStarts;  // the start of standard output
    std::string errHolds;   // text standard error holds
};

TEST(CgcTest, CompilesPrintsListingsAndFollowsTheToolConventions)
{
    const std::string good = "float4 fragmain(uniform float4 texture) : COLOR { return texture; }\n";
    const Case cases[] = {
        {"a good Cg file", good, "--entry fragmain --profile fragment a.cg", 0, "#version 120\n", ""},
        {"a good GLSL file", "#version 120\nvoid fragmain() { gl_FragColor = vec4(1.0); }\n",
         "--profile fragment --entry fragmain a.cg", 0,
         "#version 120\n#define CG_FRAGMENT_PROGRAM 1\n#define fragmain main\n", ""},
        {"a compile error, with its file and line", "// a Cg file\n\nfloat4 main() : COLOR { return undeclared; }\n",
         "--profile fragment a.cg", 1, "", "a.cg:3"},
        {"an entry point the file lacks", good, "--profile vertex a.cg", 1, "", "no function main"},
        {"a file that is not there", good, "--profile vertex missing.cg", 1, "", "cannot read file missing.cg"},
        {"--help", good, "--help", 0, "usage: velmora-cgc [--entry NAME] --profile vertex|fragment FILE\n", ""},
        {"no profile", good, "a.cg", 2, "", "velmora-cgc: --profile must be vertex or fragment\n"},
        {"an unknown profile", good, "--profile geometry a.cg", 2, "", "Try 'velmora-cgc --help'.\n"},
        {"an unknown option", good, "--profile vertex --fast a.cg", 2, "", "velmora-cgc: unknown option '--fast'\n"},
        {"no file", good, "--profile=vertex", 2, "", "velmora-cgc: no shader file given\n"},
        {"two files", good, "--profile vertex a.cg a.cg", 2, "", "velmora-cgc: more than one shader file given\n"},
    };
    const fs::path dir = fs::temp_directory_path() / ("velmora-cgc-test-" + std::to_string(getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "a.cg", std::ios::binary) << c.file;
        const Outcome run = Cgc(dir, c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.outStarts.empty()) {
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_EQ(run.out.substr(0, c.outStarts.size()), c.outStarts);
        }
        EXPECT_NE(run.err.find(c.errHolds), std::string::npos) << run.err;
    }
    fs::remove_all(dir);
}

}  // namespace
