// Cg's binding semantics on the OpenGL profiles: which built-in stream or varying a stage input or output of a
// given semantic stands for. Vertex inputs that alias no conventional stream (BLENDWEIGHT, BLENDINDICES, PSIZE,
// ATTR1, ATTR6, ATTR7) read the generic attribute of their number, declared under GenericAttributeName.
#pragma once

#include <string>

// The GLSL expression for a value of width components (1 to 4) of the given semantic; empty when the stage gives
// the semantic no binding.
std::string BuiltinFor(const std::string& semantic, bool vertexStage, bool input, unsigned width);

// The attribute variable a vertex program declares for generic attribute index; the runtime binds it to index.
std::string GenericAttributeName(int index);
constexpr int kGenericAttributes = 16;

// The varying a value without a semantic may take: TEXCOORD slot, as Cg assigns free interpolants.
constexpr int kTexCoordSlots = 8;
