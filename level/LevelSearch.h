// Where the level file is looked for, apart from the scene model so that start-up can name it cheaply.
#pragma once

// A start in a level directory named on the command line reads only that directory's out.txt; a start without one
// looks into the parent's Velmora/ directory first.
enum class LevelSearch { ParentThenWorking, WorkingOnly };
