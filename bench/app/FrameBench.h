// The start of the frame benchmarks: the command line "COUNT animated|still", then the viewer's own start-up on an
// 800x600 context in the working directory, with the lights animated or still.
#pragma once

#include "BenchTable.h"
#include "GlTestContext.h"
#include "Startup.h"
#include "Viewer.h"

#include <cstdlib>
#include <cstring>

// Starts viewer up and returns COUNT (seconds or frames, as the program's usage says).
inline double StartFrameBenchmark(Viewer& viewer, int argc, char** argv, const char* usage)
{
    const bool valid = argc == 3 && std::atof(argv[1]) > 0 &&
                       (std::strcmp(argv[2], "animated") == 0 || std::strcmp(argv[2], "still") == 0);
    CheckArguments(argc, argv, usage, valid);
    CreateGlTestContext(800, 600);
    if (!Init(viewer).Ok())
        std::exit(1);
    viewer.options.animateLights = std::strcmp(argv[2], "animated") == 0;
    return std::atof(argv[1]);
}
