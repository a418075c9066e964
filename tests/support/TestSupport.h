// What tests share beyond GL: temporary directories, running commands and capturing what they print.
#pragma once

#include <filesystem>
#include <string>

// A fresh directory under the system's temporary directory, removed with its contents when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int exitCode = -1;  // -1 when the command did not exit by itself (killed by a signal, or not started)
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs `command` with /bin/sh, its standard input empty, and returns its exit code and both outputs.
CommandResult RunCommand(const std::string& command);

// The whole content of a file ("" when it cannot be read).
std::string ReadFileText(const std::filesystem::path& path);
