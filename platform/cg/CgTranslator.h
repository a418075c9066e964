// Cg source to the GLSL 1.20 form the runtime links: one stage, fed by the fixed-function vertex streams and
// talking to the other stage through the built-in varyings, as Cg's OpenGL profiles bind them.
#pragma once

#include <string>
#include <vector>

struct CgDeclaredParameter {
    std::string name;          // the Cg name
    std::string glslName;      // the uniform in the generated text; empty when the compiler dropped the parameter
    bool vertexInput = false;  // a vertex input without a semantic: glslName is its generic attribute
};

struct CgTranslation {
    bool compiled = false;
    std::string glsl;                             // the generated program, when compiled
    std::string listing;                          // compiler messages, naming the file and line
    std::vector<CgDeclaredParameter> parameters;  // every uniform the source declares, in declaration order
    // Each matrix uniform holds the rows of the Cg matrix as its GLSL columns (set for programs that name a
    // non-square matrix); otherwise it holds the Cg matrix as GL lays a matrix out, by columns.
    bool matricesByRows = false;
};

// Compiles the function entry of source (read from fileName) for the vertex or the fragment stage. Includes are
// looked for beside the including file, then in includeDirectories in order; preamble (directives) comes before
// the first line.
CgTranslation TranslateCg(const std::string& source, const std::string& fileName, bool vertexStage,
                          const std::string& entry, const std::vector<std::string>& includeDirectories = {},
                          const std::string& preamble = std::string());
