// Files written whole or not at all: the bytes go to a new file beside the target, reach the disk, and only then take
// the target's name. A write that fails (a full disk, a read-only or forbidden directory) removes its new file and
// leaves whatever had the name before as it was, so no reader ever sees half a file.
#pragma once

#include <cstddef>
#include <string>

// Writes size bytes of data as the file at path. With replace, an existing file of that name is replaced in one
// step; without, it is left as it is and the write fails with EEXIST. Returns 0, or the errno of the step that
// failed.
int WriteWholeFile(const std::string& path, const void* data, std::size_t size, bool replace);

// Prints "program: could not write PATH: REASON" on standard error.
void ReportFileNotWritten(const std::string& path, const std::string& reason);
