// Compiles made ready before they are asked for. A start-up hands its shader files over before the level loads, and
// a thread compiles them meanwhile; and results are kept in the user's cache directory between runs, so that a
// start-up with unchanged files, program and driver needs no compile process at all.
#pragma once

#include "ShaderCompile.h"

#include <string>
#include <vector>

struct ShaderFileRequest {
    std::string file;
    bool vertexStage = false;
    std::string entry;
};

// Reads the files now and compiles them (the kept results first) on a thread of its own, under one compile budget. An
// earlier prefetch is finished first. driver names the GL driver (vendor, renderer and version strings).
void PrefetchShaderTexts(const std::vector<ShaderFileRequest>& requests, const ShaderCompileOptions& options,
                         const std::string& driver);

// Waits for the prefetch thread, if one runs, and drops the results that PreparedShaderText has not taken.
void FinishShaderPrefetch();

// The text of this compile: the prefetched result of the very same request (each is used once), else
// CompileShaderText's. A result that compiled is kept for the next start-up's prefetch, which looks there first. A
// file that includes others is never kept, as the key could not vouch for them.
ShaderText PreparedShaderText(const std::string& source, const std::string& fileName, bool vertexStage,
                              const std::string& entry, const ShaderCompileOptions& options, const std::string& driver);
