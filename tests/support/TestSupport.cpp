#include "TestSupport.h"

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
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
}

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
    const std::filesystem::path out = capture / "out", err = capture / "err";
    const std::string line = "( " + command + " ) </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(line.c_str());
    CommandResult result;
    result.exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFileText(out);
    result.err = ReadFileText(err);
    return result;
}
