// Writes a generated level as the text file the viewer loads: boxes, lights, leaves with their triangles, nodes.
#pragma once

#include "LevelBsp.h"
#include "LevelLayout.h"
#include "LevelMesh.h"

#include <cstdint>
#include <string>
#include <vector>

struct LevelFileStats {
    uint64_t triangles = 0;
    size_t lights = 0;
    size_t leaves = 0;
    size_t nodes = 0;
    size_t materials = 0;  // distinct materials the triangles name
};

// Streams the level into `path` through a temporary file that replaces `path` only once it is complete.
// Each triangle's header holds its face normal, its texture u direction and its material number. On failure
// prints one line saying what failed and returns false; `path` is then left as it was.
bool WriteLevelFile(const std::string& path, const LevelLayout& layout, const std::vector<Material>& materials,
                    const LevelMesh& mesh, const BspTree& tree, LevelFileStats& stats);
