// The viewer's command line: velmora-viewer [--watch] [X-OPTION...] [LEVEL]. The window system library takes its own X
// options in glutInit; everything else is read here, before any window exists, so --help and a bad option work
// without a display.
#pragma once

#include "LevelSearch.h"

#include <string>

struct ViewerArguments {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    std::string level;    // LEVEL as given; empty for a start in the working directory
    std::string problem;  // what is wrong with the line, for UsageError
    bool watch = false;   // --watch: show what is written to the level's files while the viewer runs
};

ViewerArguments ParseViewerArguments(int argc, char** argv);

// The usage text of --help.
const char* ViewerUsage();

// Makes LEVEL's directory the working directory (LEVEL is that directory or the path of its out.txt). On failure
// prints one line on standard error and returns the exit code (1, or 2 for an argument that names no level);
// 0 on success.
int EnterLevelDirectory(const std::string& level);

// The search that fits the line: the parent's Velmora/ directory is looked into only when no LEVEL was named.
LevelSearch SearchFor(const ViewerArguments& arguments);

// One line on standard error after the loader's own when no level file opened: every path tried, absolute, with
// why it was not read, and how to make a level.
void ReportNoLevel(LevelSearch search);
