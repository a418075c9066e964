// Core of the shading runtime: contexts, programs compiled from source files, named parameters.
// Programs are Cg, or GLSL when the file's first directive is #version; one stage each. A handle stays harmless
// after its program is destroyed.
#pragma once

typedef struct _CGcontext* CGcontext;
typedef struct _CGprogram* CGprogram;
typedef struct _CGparameter* CGparameter;

typedef int CGbool;
#define CG_FALSE ((CGbool)0)
#define CG_TRUE ((CGbool)1)

typedef enum { CG_PROFILE_UNKNOWN = 6145, CG_PROFILE_GLSLV = 7007, CG_PROFILE_GLSLF = 7008 } CGprofile;

typedef enum { CG_COMPILED_PROGRAM = 4106, CG_PROGRAM_SOURCE = 4107, CG_SOURCE = 4112 } CGenum;

// Creates a context that owns programs and remembers the listing of the last compilation.
CGcontext cgCreateContext();

// Compiles the stage of profile from file with entry point entry (null means "main"); CG_SOURCE only, args
// ignored. Returns null when the file cannot be read or does not compile or link; the reason goes to the listing,
// which names the file and line of a Cg compile error.
CGprogram cgCreateProgramFromFile(CGcontext context, CGenum programType, const char* programFile, CGprofile profile,
                                  const char* entry, const char** args);

// Text of the last compilation in context (compiler messages, or a line naming an unreadable file); null if none.
const char* cgGetLastListing(CGcontext context);

// Deletes the program; its handle and its parameter handles become stale and are ignored from then on.
void cgDestroyProgram(CGprogram program);

// Handle of the parameter called name, or null when the program is unknown or lacks it. A Cg program has every
// parameter its source declares, even one the compiler dropped (setting that one changes nothing), structs and
// arrays by their own names and their members and elements by theirs ("light", "light.colour", "w[2]"); a GLSL
// program has its active uniforms.
CGparameter cgGetNamedParameter(CGprogram program, const char* name);

// True when the program may read the parameter: a uniform or vertex input the compiled program uses, or a struct
// or array with such a member. False for a parameter the compiler dropped, and for an unknown handle.
CGbool cgIsParameterReferenced(CGparameter param);

// The name the program knows the parameter by ("IN.video_size", "w[2]"); null for an unknown handle.
const char* cgGetParameterName(CGparameter param);

// The first member of a struct parameter, in declaration order; null when param is no struct.
CGparameter cgGetFirstStructParameter(CGparameter param);

// The next member of the same struct (or element of the same array, or top-level parameter of the same program);
// null after the last.
CGparameter cgGetNextParameter(CGparameter current);

// With CG_COMPILED_PROGRAM: the exact GLSL text that was compiled (a Cg file's translation, or a GLSL file with
// its prologue); with CG_PROGRAM_SOURCE: the file's text as it was read; otherwise null.
const char* cgGetProgramString(CGprogram program, CGenum pname);
