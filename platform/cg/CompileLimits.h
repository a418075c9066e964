// Bounds on what reaches the compilers, and the walks of the front end's tree that check them: the parsers and tree
// walks recurse once per level of nesting, and the GL driver spends time on every uniform component. A file past a
// bound is refused with a listing that names it.
#pragma once

#include <string>
#include <vector>

namespace glslang {
class TIntermAggregate;
class TIntermediate;
class TIntermSymbol;
}  // namespace glslang

constexpr int kMaxNesting = 256;  // brackets, and statements nested without braces
constexpr int kMaxOperatorsPerStatement = 4096;
constexpr long long kMaxUniformComponents = 1 << 16;

// Checks preprocessed text: nesting depth, operators per statement, size. Empty when within bounds.
std::string NestingProblem(const std::string& preprocessed);

// Every uniform the program declares: the globals, and the parameters of the entry point (named after
// kEntryPointName by the HLSL front end), in declaration order.
std::vector<const glslang::TIntermSymbol*> UniformSymbols(glslang::TIntermediate& intermediate);

// The entry point's function as the source defines it (named after kEntryPointName in the front end), with its
// own parameters; null when the program has none.
const glslang::TIntermAggregate* EntryFunction(glslang::TIntermediate& intermediate);

// The name the compiled entry point takes in the front end and the SPIR-V (the GLSL calls it main): one no Cg
// file uses, so that a function of the file named main is just a function.
constexpr const char* kEntryPointName = "cgEntryPoint";

// Checks the total size of the uniforms. Empty when within bounds.
std::string UniformSizeProblem(glslang::TIntermediate& intermediate);

// The same bound for text the front end could not parse: every array size written as a number in preprocessed
// text must be within it. Empty when within bounds.
std::string ArraySizeProblem(const std::string& preprocessed);
