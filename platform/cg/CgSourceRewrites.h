// Rewrites of Cg source text into what the DX9 front end takes. They happen within the lines they stand on, so the
// listing's line numbers stay the file's own.
//
// Cg fills an aggregate from a flat list of scalars (float2 a[2] = {1, 2, 3, 4}; S s = {1, 2, 3}) and takes array
// constructors as initialisers (float a[3] = float[3](1, 2, 3)); the DX9 front end wants the braces nested by the
// aggregate's shape.
#pragma once

#include <map>
#include <string>

// The source with every comment blanked out, its newlines kept, so that the rewrites below see only code and the
// lines and columns stay the file's own.
std::string BlankComments(const std::string& source);

// The source with every flat initialiser of an array or struct of vectors, matrices or structs nested by its
// type, and every array constructor after '=' written as a brace list. Initialisers whose scalar count does not
// match their type are left as they are, for the front end to report.
std::string NestInitialisers(const std::string& source);

// The entry point's parameters and the file's uniforms as the front end can take them. In Cg a uniform is the
// program run's own copy, which it may assign (directly or through an out or inout argument); in the front end it
// is read-only: each entry parameter that the body of entry assigns is renamed with kUniformCopyPrefix and copied
// into a local of its own name at the top of the body, and each global uniform that a function assigns is renamed
// the same way beside a static of its own name, filled there too. A sampler parameter is a uniform with or without
// the word. A uniform struct holding a sampler, which the front end fails on as a parameter, becomes a global
// uniform of the same name, declared at the start of the definition's first line.
// Structs that included defines (the file after its includes) count as well. The word uniform on the parameters of
// other functions is dropped: there it means nothing, and it would make them read-only.
std::string RewriteEntryParameters(const std::string& source, const std::string& entry,
                                   const std::string& included = std::string());
constexpr const char* kUniformCopyPrefix = "cgUniform_";

// Cg binds a uniform to a matrix of GL's state by a semantic ("uniform float4x4 mvp : state.matrix.mvp",
// "state.matrix.modelview[0].invtrans"). Each such semantic is blanked out of the source, and the uniform's name
// goes into stateMatrices with the GLSL expression of GL's built-in matrix, in the column order the program's
// matrices have. Semantics naming no matrix GL has are left for the front end.
std::string BindStateMatrices(const std::string& source, std::map<std::string, std::string>& stateMatrices);

// Cg's generic "sampler" takes its kind from the lookups given it, where the front end makes every one
// two-dimensional: each declaration "sampler NAME" whose name a tex1D, tex3D or texCUBE lookup (or one of their
// forms) is given becomes sampler1D, sampler3D or samplerCUBE, within its line.
std::string TypeGenericSamplers(const std::string& source);

// Cg's declarations that the front end lacks, within the characters they take: qualifiers after the type
// ("float4 out name"), array types before the name ("float2[16] name", "float2[] name"), and functions qualified
// by a profile ("ps_3_0 float4 f()"). Of the latter the definition for the stage's best profile that the file
// names stays, in place of the function's other definitions; definitions for other profiles go.
std::string RewriteDeclarations(const std::string& source, bool vertexStage);
