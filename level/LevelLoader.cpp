// Finding and reading the level file.

#include "Console.h"
#include "Level.h"
#include "RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO, device or directory under the name counts as no file, so start-up cannot block on it. The path opened
// goes to *opened.
FILE* OpenLevelFile(LevelSearch search, std::string* opened)
{
    for (const std::string& path : LevelFilePaths(search)) {
        uint64_t size = 0;
        const int fd = OpenRegularFile(path.c_str(), &size);
        if (fd < 0)
            continue;
        if (FILE* file = fdopen(fd, "r")) {
            *opened = path;
            return file;
        }
        close(fd);
    }
    return nullptr;
}

// Reads the opened file into a new parse state of the level and closes it; false when a read failed or `stop` said
// so between blocks, and then the level's lists are as they were.
bool ParseOpenedLevel(Level& level, FILE* file, const TextureSource& textures,
                      const std::function<void(double)>& progress, const std::function<bool()>& stop, unsigned threads)
{
    struct stat status;
    const double size = fstat(fileno(file), &status) == 0 ? double(status.st_size) : 0.0;
    const auto read = [file, &stop](char* buffer, std::size_t count) {
        if (stop && stop())
            return std::ptrdiff_t(-1);
        const std::size_t got = std::fread(buffer, 1, count, file);
        return got == 0 && std::ferror(file) ? std::ptrdiff_t(-1) : std::ptrdiff_t(got);
    };
    LevelParseProgress told;
    if (progress)
        told = [&progress, size](std::size_t read, std::size_t parsed) {
            // A file that grew while it is read counts as done until its end.
            progress(parsed == read ? 1.0 : std::min(1.0, double(read + parsed) / (2 * size)));
        };
    level.parseStates.emplace_back();
    LevelParseState& state = level.parseStates.back();
    const bool complete =
        ParseLevelStream(read, state, level.lights, level.boxes, textures, threads, kLevelBlockBytes, told);
    std::fclose(file);
    level.root = state.root;
    return complete;
}

}  // namespace

std::vector<std::string> LevelFilePaths(LevelSearch search)
{
    if (search == LevelSearch::WorkingOnly)
        return {"out.txt"};
    return {"../Velmora/out.txt", "out.txt"};
}

Outcome LoadLevel(Level& level, const TextureSource& textures, LevelSearch search,
                  const std::function<void(double)>& progress)
{
    std::string opened;
    FILE* file = OpenLevelFile(search, &opened);
    if (file == nullptr)
        return Outcome::Failure(FailureReason::NotFound, "Error opening file");
    ConsoleLine("File opened");
    level.filePath = opened;
    if (!ParseOpenedLevel(level, file, textures, progress, {}, UsableThreads())) {
        ConsoleLine("Level file could not be read whole; the level has no tree.");
        ConsoleLinef("%zu lights.", level.lights.size());
    }
    return Outcome();
}

Outcome LoadLevelFile(Level& level, const std::string& path, const TextureSource& textures,
                      const std::function<bool()>& stop, unsigned threads)
{
    uint64_t size = 0;
    const int fd = OpenRegularFile(path.c_str(), &size);
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "r");
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        // Only to word the line: what the open found may have changed since.
        struct stat status;
        const bool irregular = fd < 0 && stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
        const std::string reason = irregular ? "not a regular file" : std::strerror(error);
        return Outcome::Failure(FailureReason::NotFound, "Cannot read level file " + path + ": " + reason);
    }
    if (!ParseOpenedLevel(level, file, textures, {}, stop, threads))
        return Outcome::Failure(FailureReason::NotFound, "Level file " + path + " could not be read whole.");
    level.filePath = path;
    return Outcome();
}
