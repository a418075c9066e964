// Finding and reading the level file.

#include "Console.h"
#include "Level.h"
#include "RegularFile.h"

#include <cstdio>
#include <new>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO, device or directory under the name counts as no file, so start-up cannot block on it.
FILE* OpenLevelFile(LevelSearch search)
{
    for (const std::string& path : LevelFilePaths(search)) {
        uint64_t size = 0;
        const int fd = OpenRegularFile(path.c_str(), &size);
        if (fd < 0)
            continue;
        if (FILE* file = fdopen(fd, "r"))
            return file;
        close(fd);
    }
    return nullptr;
}

// The whole file; false when it does not fit in memory or cannot be read.
bool ReadWhole(FILE* file, std::string& text)
{
    try {
        // As much as the file says it holds goes straight into the text; any more (a file that grew) is appended
        // in chunks.
        struct stat status;
        if (fstat(fileno(file), &status) == 0 && status.st_size > 0) {
            text.resize(std::size_t(status.st_size));
            text.resize(std::fread(&text[0], 1, text.size(), file));
        }
        char chunk[1 << 16];
        std::size_t count = 0;
        while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            text.append(chunk, count);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return std::ferror(file) == 0;
}

}  // namespace

std::vector<std::string> LevelFilePaths(LevelSearch search)
{
    if (search == LevelSearch::WorkingOnly)
        return {"out.txt"};
    return {"../Velmora/out.txt", "out.txt"};
}

Outcome LoadLevel(Level& level, const TextureSource& textures, LevelSearch search)
{
    FILE* file = OpenLevelFile(search);
    if (file == nullptr)
        return Outcome::Failure(FailureReason::NotFound, "Error opening file");
    ConsoleLine("File opened");

    std::string text;
    const bool read = ReadWhole(file, text);
    std::fclose(file);
    if (!read) {
        text.clear();
        text.shrink_to_fit();
        ConsoleLine("Level file could not be read whole; the level has no tree.");
        ConsoleLinef("%zu lights.", level.lights.size());
        level.root = nullptr;
        return Outcome();
    }

    level.parseStates.emplace_back();
    level.root = ParseLevelText(text, level.parseStates.back(), level.lights, level.boxes, textures);
    return Outcome();
}
