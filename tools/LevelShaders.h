// The viewer's shader files beside a generated level, so that the level's directory is ready to view.
#pragma once

#include <string>

// The directory of the installed shader files: where they are installed relative to the running executable (the
// build tree keeps copies at the same relative place). "" when the executable's path cannot be read.
std::string InstalledShaderDirectory();

// Copies each of the viewer's shader files from `from` into `directory`. A file that already exists there is kept:
// it may hold the user's own edits. Returns false, with a line naming the file on standard output, when one cannot
// be read or written.
bool CopyShaderFiles(const std::string& from, const std::string& directory);
