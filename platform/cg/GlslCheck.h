// GLSL shader files pass glslang before the GL driver sees them: the driver compiles in this process, and its
// preprocessor and parser have no bounds of their own.
#pragma once

#include <string>
#include <vector>

// Checks the GLSL text (the file with its stage prologue) read from fileName against the bounds, with a macro
// defined for each of driverExtensions as the driver defines them, so that text the driver would expand under
// "#ifdef GL_EXT_..." is measured too. True when GL may have it; log gets glslang's messages (warnings too) or
// the bound that failed.
// Without parse, whether the text is valid GLSL is left to the driver, whose dialect (its extensions) accepts more
// than glslang's; with parse, glslang's parser and linker judge it, extensions included.
bool CheckGlsl(const std::string& text, const std::string& fileName, bool vertexStage,
               const std::vector<std::string>& driverExtensions, bool parse, std::string& log);
