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

const char* const levelDirectory = "../Velmora/";

// A FIFO, device or directory under the name counts as no file, so start-up cannot block on it.
FILE* OpenLevelFile() {
    char path[256];
    for (const char* directory : {levelDirectory, ""}) {
        std::snprintf(path, sizeof path, "%sout.txt", directory);
        uint64_t size = 0;
        const int fd = OpenRegularFile(path, &size);
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

Outcome LoadLevel(Level& level, const TextureSource& textures) {
    FILE* file = OpenLevelFile();
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
