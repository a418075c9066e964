#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/wait.h>

TempDir::TempDir(const std::string& tag)
{
    std::string pattern = (std::filesystem::temp_directory_path() / ("velmora-" + tag + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()))
        path_ = pattern;
}

TempDir::~TempDir()
{
    if (path_.empty())
        return;
    if (std::getenv("VELMORA_KEEP_TEST_DIRS")) {
        std::fprintf(stderr, "kept %s\n", path_.c_str());
        return;
    }
    // A test may have taken the owner's rights away to see a write fail.
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& text) const
{
    std::ofstream(File(name), std::ios::binary) << text;
}

bool TempDir::Exists(const std::string& name) const { return std::filesystem::exists(File(name)); }

std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CommandResult RunCommand(const std::string& command)
{
    // Files rather than pipes: a command may fill both outputs before it ends, and files never block it.
    const TempDir capture("command");
    const std::string out = capture.File("out"), err = capture.File("err");
    const std::string line = "( " + command + " ) </dev/null >'" + out + "' 2>'" + err + "'";
    const int status = std::system(line.c_str());
    CommandResult result;
    result.exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFileText(out);
    result.err = ReadFileText(err);
    return result;
}

std::vector<std::string> ChildProcessNames(int parent)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        // /proc/PID/stat: "PID (NAME) STATE PPID ..."; NAME may hold spaces and parentheses, so read from the last ')'.
        const std::string stat = ReadFileText(entry.path() / "stat");
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        int ppid = 0;
        if (rest >> state >> ppid && ppid == parent)
            names.push_back(stat.substr(open + 1, close - open - 1));
    }
    return names;
}
