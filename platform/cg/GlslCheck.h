// GLSL shader files pass glslang before the GL driver sees them: the driver compiles in this process, and its
// preprocessor and parser have no bounds of their own.
#pragma once

#include <string>

// Checks the GLSL text (the file with its stage prologue) read from fileName against the bounds; empty when GL may
// have it, else the listing that says why not. Whether the text is valid GLSL is left to the driver, whose dialect
// accepts more than glslang's.
std::string CheckGlsl(const std::string& text, const std::string& fileName, bool vertexStage);
