// --watch: the viewer follows the files it shows. The level file, every image the texture cache was asked for
// (loaded or not: a missing one may appear) and the four shader files are watched; once a change has settled,
// between two frames, a level file is reloaded in the background (LevelReload.h), an image is decoded again into
// its texture, and a shader file reloads the shaders as the r key does.
#pragma once

#include "FileWatch.h"
#include "TextureCache.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

struct Viewer;

struct WatchState {
    enum class Kind { Level, Image, Shader };
    struct Target {
        Kind kind;
        std::string name;  // an image's base name
    };
    FileWatch files;
    std::unordered_map<std::string, Target> targets;     // by watched path
    std::unordered_set<std::string> refusedDirectories;  // reported once each, then not tried again
    std::string levelPath;                               // the level file start-up read
    size_t imageNamesWatched = 0;                        // how many of the texture cache's requested names are watched
    // Images wait here to be decoded again, a few per frame, with a decoder that runs only while any waits; a level
    // reload waits for the images that settled with or before it, so that it asks for a missing one that appeared.
    std::deque<std::string> imagesToReload;
    std::optional<ImageDecoderSession> decoder;
    bool levelToReload = false;
};

// Starts watching the level the viewer has loaded, its images so far and the shader files. A directory that cannot
// be watched prints one line on standard error, naming the first of its files; the others are watched all the same.
void StartWatch(Viewer& viewer);

// Once per frame, before it is drawn: watches images asked for since, and acts on the files that have settled.
// Without StartWatch it does nothing; when nothing changed, it is one read that does not wait and a clock reading.
void ServiceWatch(Viewer& viewer);
