// The runtime's side of PreparedShaders: programs of a context's profiles whose compile starts before they are
// created, with the options and the driver that cgCreateProgramFromFile will use. Needs a current GL context.
#pragma once

#include <Cg/cg.h>

#include <vector>

struct CgPrefetchRequest {
    const char* file;
    CGprofile profile;
    const char* entry;
};

// Starts compiling the files on a thread of their own; cgCreateProgramFromFile takes a result when its file text,
// profile and entry are the same. Requests of an unknown profile are left out.
void CgPrefetchPrograms(const std::vector<CgPrefetchRequest>& requests);

// Waits for the prefetch thread and drops what no cgCreateProgramFromFile has taken.
void CgFinishPrefetch();
