// Every program reads its command line as GNU programs do: --help on standard output, --version with the project's
// version, --opt=value as well as --opt value, an unknown option named on standard error with a pointer to --help
// (exit 2), and a failed file operation reported on standard error with the system's reason (exit 1). Every option
// that --help lists is described in the program's man page.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Program {
    const char* name;
    const char* path;
};

const Program kPrograms[] = {
    {"velmora-levelgen", VELMORA_LEVELGEN},
    {"velmora-order", VELMORA_ORDER},
    {"velmora-cgc", VELMORA_CGC},
    {"velmora-viewer", VELMORA_VIEWER},
};

// The options a usage text or man page names: words of one or two dashes and letters.
std::set<std::string> OptionsIn(const std::string& text)
{
    static const std::regex option(R"((^|[\s\[(,|])(--?[A-Za-z][A-Za-z0-9-]*))");
    std::set<std::string> options;
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
        options.insert((*it)[2]);
    return options;
}

}  // namespace

TEST(ToolConventions, HelpVersionAndUnknownOptions)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.name);
        const std::string tool = program.path;
        const CommandResult help = RunCommand(tool + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: ") + program.name + " ", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");

        const CommandResult version = RunCommand(tool + " --version");
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out.substr(0, version.out.find('\n')),
                  std::string(program.name) + " (VelmoraViewer) " VELMORA_VERSION);
        EXPECT_EQ(version.err, "");

        const CommandResult bad = RunCommand(tool + " --no-such-option");
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.err, std::string(program.name) + ": unknown option '--no-such-option'\nTry '" + program.name +
                               " --help'.\n");
    }
}

TEST(ToolConventions, ValuesAfterAnEqualsSignAndFailuresWithTheirReason)
{
    TempDir dir;
    dir.Write("file", "");
    const std::string tooLong = dir.Path() + "/" + std::string(300, 'n') + "/level";
    const struct {
        std::string command;
        int exitCode;
        std::string errorStart;  // the first line of standard error; empty for none
    } cases[] = {
        {VELMORA_LEVELGEN " --out=" + dir.File("level") + " --rooms=1 --seed=3 --no-textures", 0, ""},
        {VELMORA_LEVELGEN " --out " + dir.File("file") + "/level", 1,
         "velmora-levelgen: cannot create directory '" + dir.File("file") + "/level': Not a directory"},
        {VELMORA_LEVELGEN " --out " + tooLong, 1,
         "velmora-levelgen: cannot create directory '" + tooLong + "': File name too long"},
        {"prlimit --as=200000000 " VELMORA_LEVELGEN " --no-textures --triangles 20000000 --out " + dir.File("big"), 1,
         "velmora-levelgen: out of memory"},
        {VELMORA_LEVELGEN " --out=" + dir.File("level") + " --rooms=0", 2,
         "velmora-levelgen: --rooms takes a number from 1 to 4096, not '0'"},
        {VELMORA_LEVELGEN " --rooms", 2, "velmora-levelgen: option '--rooms' needs a value"},
        {"echo 0 1 2 | " VELMORA_ORDER " --acmr=yes", 2, "velmora-order: option '--acmr' takes no value"},
        {VELMORA_ORDER " < " + dir.Path(), 1, "velmora-order: cannot read standard input: Is a directory"},
        {"echo 0 1 2 | " VELMORA_ORDER " > /dev/full", 1,
         "velmora-order: cannot write standard output: No space left on device"},
        {VELMORA_CGC " --entry=fragmain --profile=fragment " VELMORA_SOURCE_DIR "/data/post.cg", 0, ""},
        {VELMORA_VIEWER " --version=2", 2, "velmora-viewer: option '--version' takes no value"},
        {VELMORA_VIEWER " " + dir.File("missing"), 1,
         "velmora-viewer: cannot open level '" + dir.File("missing") + "': No such file or directory"},
        {VELMORA_VIEWER " " + dir.File("file"), 2,
         "velmora-viewer: '" + dir.File("file") + "' is neither a level directory nor a level's out.txt"},
        {VELMORA_VIEWER " -display", 2, "velmora-viewer: option '-display' needs a value"},
        {VELMORA_VIEWER " --watch=yes", 2, "velmora-viewer: option '--watch' takes no value"},
        {VELMORA_VIEWER " --watch " + dir.File("missing"), 1,
         "velmora-viewer: cannot open level '" + dir.File("missing") + "': No such file or directory"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.command);
        if (kUnderAddressSanitizer && testCase.command.rfind("prlimit", 0) == 0)
            continue;
        const CommandResult run = RunCommand(testCase.command);
        EXPECT_EQ(run.exitCode, testCase.exitCode) << run.err;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), testCase.errorStart);
    }
    EXPECT_TRUE(fs::is_regular_file(dir.File("level/out.txt")));
    EXPECT_FALSE(fs::exists(dir.File("big/out.txt")));
}

TEST(ToolConventions, EveryOptionOfTheUsageIsInTheManPage)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.name);
        std::string page = ReadFileText(std::string(VELMORA_SOURCE_DIR "/docs/") + program.name + ".1");
        ASSERT_FALSE(page.empty());
        page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
        const std::set<std::string> documented = OptionsIn(page);
        const std::set<std::string> listed = OptionsIn(RunCommand(std::string(program.path) + " --help").out);
        EXPECT_FALSE(listed.empty());
        for (const std::string& option : listed)
            EXPECT_EQ(documented.count(option), 1u) << option;
    }
}
