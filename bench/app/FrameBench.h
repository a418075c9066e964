// The start of the frame benchmarks: the command line "COUNT animated|still", then the viewer's own start-up on an
// 800x600 context in the working directory, with the lights animated or still.
#pragma once

#include "BenchTable.h"
#include "GlTestContext.h"
#include "Startup.h"
#include "ViewerState.h"

#include <cstdlib>
#include <cstring>

// Returns COUNT (seconds or frames, as the program's usage says).
inline double StartFrameBenchmark(int argc, char** argv, const char* usage)
{
    const bool valid = argc == 3 && std::atof(argv[1]) > 0 &&
                       (std::strcmp(argv[2], "animated") == 0 || std::strcmp(argv[2], "still") == 0);
    CheckArguments(argc, argv, usage, valid);
    CreateGlTestContext(800, 600);
    Init();
    options.animateLights = std::strcmp(argv[2], "animated") == 0;
    return std::atof(argv[1]);
}
