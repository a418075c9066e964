#include "LevelShaders.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

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
        if (!fs::is_regular_file(source, error) || !fs::copy_file(source, target, error)) {
            std::printf("Cannot copy shader file \"%s\" to \"%s\"\n", source.c_str(), target.c_str());
            std::fflush(stdout);
            return false;
        }
    }
    return true;
}
