// Finding and reading the level file.

#include "Level.h"
#include "RegularFile.h"

#include <cstdio>
#include <deque>
#include <new>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO, device or directory under the name counts as no file, so start-up cannot block on it.
FILE* OpenLevelFile(LevelSearch search) {
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
bool ReadWhole(FILE* file, std::string& text) {
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

std::vector<std::string> LevelFilePaths(LevelSearch search) {
    if (search == LevelSearch::WorkingOnly)
        return {"out.txt"};
    return {"../Velmora/out.txt", "out.txt"};
}

BspNode* LoadLevel(std::vector<Light>& lights, std::vector<BoundingBox>& boxes, const TextureSource& textures,
                   LevelSearch search, bool* found) {
    FILE* file = OpenLevelFile(search);
    if (found != nullptr)
        *found = file != nullptr;
    if (file == nullptr) {
        std::printf("Error opening file\n");
        std::fflush(stdout);
        return nullptr;
    }
    std::printf("File opened\n");
    std::fflush(stdout);

    std::string text;
    const bool read = ReadWhole(file, text);
    std::fclose(file);
    if (!read) {
        text.clear();
        text.shrink_to_fit();
        std::printf("Level file could not be read whole; the level has no tree.\n");
        std::fflush(stdout);
        std::printf("%zu lights.\n", lights.size());
        std::fflush(stdout);
        return nullptr;
    }

    // The tree points into the parse state, which lives for the rest of the run; a deque never moves its states.
    static std::deque<LevelParseState> loadedLevels;
    loadedLevels.emplace_back();
    return ParseLevelText(text, loadedLevels.back(), lights, boxes, textures);
}
