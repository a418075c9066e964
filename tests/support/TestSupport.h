// What tests share beyond GL: temporary directories, running commands and capturing what they print.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Built with AddressSanitizer (GCC says so with __SANITIZE_ADDRESS__, clang only through __has_feature): its shadow
// memory needs far more address space than any limit a test sets, and its heap stands in for the program's.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// A fresh directory under the system's temporary directory, removed with everything in it when the object goes
// (kept, and its path printed, when VELMORA_KEEP_TEST_DIRS is set, for a look at what a failing test saw).
class TempDir {
public:
    explicit TempDir(const std::string& tag = "test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& text) const;
    bool Exists(const std::string& name) const;

private:
    std::string path_;
};

struct CommandResult {
    int exitCode = -1;  // -1 when the command did not exit by itself (killed by a signal, or not started)
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs `command` with /bin/sh, its standard input empty, and returns its exit code and both outputs.
CommandResult RunCommand(const std::string& command);

// The names (as the kernel keeps them, at most 15 characters) of the processes whose parent is `parent`.
std::vector<std::string> ChildProcessNames(int parent);

// The whole content of a file ("" when it cannot be read).
std::string ReadFileText(const std::filesystem::path& path);
