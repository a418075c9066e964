// Opening files that anyone may have put in the viewer's way.
#pragma once

#include <cstdint>

// Opens path for reading and keeps it only when it is a regular file; its size goes to *size. A FIFO, device or
// directory is refused like a missing file: the open does not block on it and nothing is read from it. Returns the
// descriptor (close-on-exec), or -1.
int OpenRegularFile(const char* path, uint64_t* size);
