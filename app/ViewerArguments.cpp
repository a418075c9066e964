#include "ViewerArguments.h"

#include "CommandLine.h"
#include "Level.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kProgram[] = "velmora-viewer";

const char kUsage[] =
    "usage: velmora-viewer [--watch] [X-OPTION...] [LEVEL]\n"
    "Shows a lit level in an 800x600 window and lets you fly through it.\n"
    "LEVEL is a level directory or the path of its out.txt: the viewer runs in that directory, which holds\n"
    "the level's images and shader files and receives its screenshots and compiled-program files. Without\n"
    "LEVEL it runs in the working directory and reads ../Velmora/out.txt when that is a regular file,\n"
    "otherwise out.txt.\n"
    "  --watch             show the level again whenever it, one of its images or a shader file is\n"
    "                      written, keeping the camera and the options (for the loop of changing\n"
    "                      the map, running the lighting tool and looking)\n"
    "  --help              print this and exit\n"
    "  --version           print the version and exit\n"
    "X options, read by the window system library:\n"
    "  -display DISPLAY    the X display to use instead of $DISPLAY\n"
    "  -geometry WxH+X+Y   the window's size and place\n"
    "  -iconic             start iconified\n"
    "  -direct             require a direct rendering context\n"
    "  -indirect           use an indirect rendering context\n"
    "  -gldebug            report GL errors after each frame\n"
    "  -sync               synchronous X calls, for debugging\n"
    "Keys: w/s/a/d/f/c move, a mouse drag turns, u saves a screenshot, r reloads the shaders;\n"
    "see velmora-viewer(1) for all. Close the window to quit.\n"
    "Exits 1 when no level file is found or LEVEL cannot be entered, 2 for a bad command line.\n";

struct XOption {
    const char* name;
    bool takesValue;
};

// The options glutInit takes out of the command line.
const XOption kXOptions[] = {
    {"-display", true},   {"-geometry", true}, {"-iconic", false}, {"-direct", false},
    {"-indirect", false}, {"-gldebug", false}, {"-sync", false},
};

const XOption* FindXOption(const char* arg)
{
    for (const XOption& option : kXOptions)
        if (std::strcmp(arg, option.name) == 0)
            return &option;
    return nullptr;
}

constexpr OptionSpec kOptions[] = {{"help", 0, false}, {"version", 0, false}, {"watch", 0, false}};

// Why path is not a level file: the system's reason, or that it is no regular file.
std::string WhyNotRead(const fs::path& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (access(path.c_str(), R_OK) != 0)
        return std::strerror(errno);
    return "could not be opened";
}

}  // namespace

const char* ViewerUsage() { return kUsage; }

ViewerArguments ParseViewerArguments(int argc, char** argv)
{
    // The X options and their values are set aside for glutInit; the rest goes through the common parser.
    std::vector<char*> rest = {argv[0]};
    bool optionsEnded = false;
    ViewerArguments arguments;
    for (int k = 1; k < argc; ++k) {
        optionsEnded = optionsEnded || std::strcmp(argv[k], "--") == 0;
        const XOption* option = optionsEnded ? nullptr : FindXOption(argv[k]);
        if (!option) {
            rest.push_back(argv[k]);
            continue;
        }
        if (option->takesValue && ++k >= argc) {
            arguments.action = ViewerArguments::Action::UsageError;
            arguments.problem = std::string("option '") + option->name + "' needs a value";
            return arguments;
        }
    }
    const CommandLine line = ParseCommandLine(static_cast<int>(rest.size()), rest.data(), kOptions);
    if (!line.problem.empty()) {
        arguments.action = ViewerArguments::Action::UsageError;
        arguments.problem = line.problem;
        return arguments;
    }
    for (const ParsedOption& option : line.options) {
        if (IsOption(option, "watch")) {
            arguments.watch = true;
            continue;
        }
        arguments.action = IsOption(option, "help") ? ViewerArguments::Action::Help : ViewerArguments::Action::Version;
        if (arguments.action == ViewerArguments::Action::Help)
            return arguments;
    }
    if (arguments.action != ViewerArguments::Action::Run)
        return arguments;
    if (line.operands.size() > 1) {
        arguments.action = ViewerArguments::Action::UsageError;
        arguments.problem = "more than one level given ('" + line.operands[0] + "', '" + line.operands[1] + "')";
        return arguments;
    }
    if (line.operands.size() == 1) {
        arguments.level = line.operands[0];
        if (arguments.level.empty()) {
            arguments.action = ViewerArguments::Action::UsageError;
            arguments.problem = "the level path is empty";
        }
    }
    return arguments;
}

int EnterLevelDirectory(const std::string& level)
{
    struct stat status;
    if (stat(level.c_str(), &status) != 0) {
        std::fprintf(stderr, "%s: cannot open level '%s': %s\n", kProgram, level.c_str(), std::strerror(errno));
        return 1;
    }
    fs::path directory = level;
    if (!S_ISDIR(status.st_mode)) {
        if (fs::path(level).filename() != "out.txt")
            return ReportUsageError(kProgram, "'" + level + "' is neither a level directory nor a level's out.txt");
        directory = fs::path(level).parent_path();
        if (directory.empty())
            directory = ".";
    }
    if (chdir(directory.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot enter level directory '%s': %s\n", kProgram, directory.c_str(),
                     std::strerror(errno));
        return 1;
    }
    return 0;
}

LevelSearch SearchFor(const ViewerArguments& arguments)
{
    return arguments.level.empty() ? LevelSearch::ParentThenWorking : LevelSearch::WorkingOnly;
}

void ReportNoLevel(LevelSearch search)
{
    std::error_code error;
    const fs::path working = fs::current_path(error);
    std::string tried;
    for (const std::string& path : LevelFilePaths(search)) {
        const fs::path absolute = (working / path).lexically_normal();
        tried += (tried.empty() ? "" : ", ") + absolute.string() + " (" + WhyNotRead(absolute) + ")";
    }
    std::fprintf(stderr,
                 "%s: no level found: tried %s; make one with 'velmora-levelgen --out DIR', then run "
                 "'velmora-viewer DIR'\n",
                 kProgram, tried.c_str());
}
