// Core of the shading runtime: contexts, programs compiled from source files, named parameters.
// Programs are GLSL, one stage each; a handle stays harmless after its program is destroyed.
#pragma once

typedef struct _CGcontext* CGcontext;
typedef struct _CGprogram* CGprogram;
typedef struct _CGparameter* CGparameter;

typedef int CGbool;
#define CG_FALSE ((CGbool)0)
#define CG_TRUE ((CGbool)1)

typedef enum {
    CG_PROFILE_UNKNOWN = 6145,
    CG_PROFILE_GLSLV = 7007,
    CG_PROFILE_GLSLF = 7008
} CGprofile;

typedef enum {
    CG_COMPILED_PROGRAM = 4106,
    CG_SOURCE = 4112
} CGenum;

// Creates a context that owns programs and remembers the listing of the last compilation.
CGcontext cgCreateContext();

// Compiles the stage of profile from file with entry point entry (null means "main"); CG_SOURCE only, args
// ignored. Returns null when the file cannot be read or does not compile or link; the reason goes to the listing.
CGprogram cgCreateProgramFromFile(CGcontext context, CGenum programType, const char* programFile, CGprofile profile,
                                  const char* entry, const char** args);

// Text of the last compilation in context (GL info log, or a line naming an unreadable file); null if none.
const char* cgGetLastListing(CGcontext context);

// Deletes the program; its handle and its parameter handles become stale and are ignored from then on.
void cgDestroyProgram(CGprogram program);

// Handle of the uniform called name, or null when the program is unknown or has no such active uniform.
CGparameter cgGetNamedParameter(CGprogram program, const char* name);

// With CG_COMPILED_PROGRAM: the exact GLSL text that was compiled, prologue included; otherwise null.
const char* cgGetProgramString(CGprogram program, CGenum pname);
