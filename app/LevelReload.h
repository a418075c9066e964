// A level read again while the viewer keeps drawing: read, parsed and built on worker threads, swapped in between two
// frames on the GL thread. The console shows a reloaded level's lines as start-up shows them, at the swap; a level
// that cannot be read, does not parse or does not fit in memory prints why and "Keeping the current level.", and
// the current level stays.
#pragma once

#include "Viewer.h"

#include <string>

// Starts reading, parsing and building the level file at path on worker threads. A reload already running is
// superseded: its result is dropped when it ends, and only the newest request is swapped in.
void RequestLevelReload(Viewer& viewer, const std::string& path);
// On the GL thread between two frames: when a requested level is ready, it replaces the viewer's level (textures
// loaded, geometry uploaded, console lines printed, the old level's memory given back). Cheap otherwise.
void ServiceLevelReload(Viewer& viewer);

// The line that ends every reload that leaves the current level on screen.
constexpr const char* kKeepingCurrentLevel = "Keeping the current level.";
