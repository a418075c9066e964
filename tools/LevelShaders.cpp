#include "LevelShaders.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

std::string InstalledShaderDirectory()
{
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return "";
    return (executable.parent_path() / VELMORA_SHADERS_FROM_BIN).lexically_normal().string();
}

bool CopyShaderFiles(const std::string& from, const std::string& directory)
{
    std::istringstream names(VELMORA_SHADER_FILES);
    for (std::string name; names >> name;) {
        const fs::path source = fs::path(from) / name, target = fs::path(directory) / name;
        std::error_code error;
        if (fs::exists(target, error))
            continue;
        if (!fs::is_regular_file(source, error) && !error)
            error = std::make_error_code(std::errc::no_such_file_or_directory);
        if (!error)
            fs::copy_file(source, target, error);
        if (error) {
            std::fprintf(stderr, "velmora-levelgen: cannot copy shader file '%s' to '%s': %s\n", source.c_str(),
                         target.c_str(), error.message().c_str());
            return false;
        }
    }
    return true;
}
