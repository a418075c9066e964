// GLSL shader files pass glslang before the GL driver sees them: the driver compiles in this process, and its
// preprocessor and parser have no bounds of their own.
#pragma once

#include <string>

// Checks the GLSL text (the file with its stage prologue) read from fileName; empty when GL may have it, else the
// listing that says why not.
std::string CheckGlsl(const std::string& text, const std::string& fileName, bool vertexStage);
