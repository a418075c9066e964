// Reloading the level file while the viewer runs.
#pragma once

#include <string>

struct Viewer;

// Starts reading, parsing and building the level file at path on worker threads. A reload already running is
// superseded: its result is dropped when it ends, and only the newest request is swapped in.
void RequestLevelReload(Viewer& viewer, const std::string& path);
// On the GL thread between two frames: when a requested level is ready, it replaces the viewer's level (textures
// loaded, geometry uploaded, console lines printed, the old level's memory given back). Cheap otherwise.
void ServiceLevelReload(Viewer& viewer);
