// What the DX9 front end must be told before a Cg file: Cg's own words, the GLSL 1.20 forms of intrinsics that
// would otherwise come out as later GLSL functions, and the renames of the words the front end reserves but Cg
// does not.
#pragma once

#include <string>

// The text the front end reads before the Cg file, with the stand-ins for later GLSL functions that preprocessed
// (the file after the prelude's macros and its includes) calls; none for an empty text.
std::string CgPrelude(const std::string& preprocessed);

// True when preprocessed names a matrix type of two to four rows and a different number of columns ("float3x4").
// Such a program is compiled with its matrices laid out by rows, which GLSL 1.20 can hold for every shape; the
// others keep the column layout, so that their arithmetic, and its rounding, stays as it was.
bool NamesNonSquareMatrix(const std::string& preprocessed);

// The Cg name of an identifier the front end saw (a renamed word gets its own name back).
std::string CgName(const std::string& frontEndName);
