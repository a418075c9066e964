// Cg's binding semantics on the OpenGL profiles: which built-in stream or varying a stage input or output of a
// given semantic stands for. TEXCOORD8 to 15 between the stages are varyings of their own. Vertex inputs that alias no
// conventional stream (BLENDWEIGHT, BLENDINDICES, PSIZE, ATTR1, ATTR6, ATTR7) read the generic attribute of their
// number, declared under GenericAttributeName.
#pragma once

#include <string>

// The GLSL expression for a value of width components (1 to 4) of the given semantic; empty when the stage gives
// the semantic no binding.
std::string BuiltinFor(const std::string& semantic, bool vertexStage, bool input, unsigned width);

// The attribute variable a vertex program declares for generic attribute index; the runtime binds it to index.
std::string GenericAttributeName(int index);
constexpr int kGenericAttributes = 16;

// The declaration the program needs for a built-in of its own ("attribute vec4 cgAttribute1;", "varying vec4
// cgTexCoord9;"); empty for GL's built-ins.
std::string OwnDeclaration(const std::string& builtin, bool vertexStage);

// The varying a value without a semantic may take: TEXCOORD slot, as Cg assigns free interpolants. Slots past the
// eighth are varyings of their own.
constexpr int kTexCoordSlots = 16;

// True when a program that uses builtin needs GLSL 1.30 (the clip distances, which 1.20 lacks).
bool NeedsGlsl130(const std::string& builtin);
