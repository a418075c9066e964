// GL side of the shading runtime: profiles as stages of one program pipeline, binding, value setters.
// The pipeline is bound while a stage holds a program; with both stages empty drawing is fixed-function.
// Needs a current GL context with GLEW initialised. Includes no GL header, so GLEW may come before or after it.
#pragma once

#include <Cg/cg.h>

typedef enum {
    CG_GL_MATRIX_IDENTITY = 0,
    CG_GL_MODELVIEW_PROJECTION_MATRIX = 7,
    CG_GL_VERTEX = 8,
    CG_GL_FRAGMENT = 9
} CGGLenum;

// CG_GL_VERTEX or CG_GL_FRAGMENT: the GLSL profile of that stage; anything else: CG_PROFILE_UNKNOWN.
CGprofile cgGLGetLatestProfile(CGGLenum profileType);

// Accepted for every profile; GLSL compilation has no options to tune.
void cgGLSetOptimalOptions(CGprofile profile);

// Nothing left to do: cgCreateProgramFromFile links the program ready to bind.
void cgGLLoadProgram(CGprogram program);

// Puts the program bound for profile (if any) into its pipeline stage; later binds go straight there.
void cgGLEnableProfile(CGprofile profile);

// Empties the profile's pipeline stage, so that stage falls back to fixed-function processing.
void cgGLDisableProfile(CGprofile profile);

// Makes program the one of its profile; it runs at once when the profile is enabled.
void cgGLBindProgram(CGprogram program);

// Sets a mat4 parameter to projection x modelview of the current GL matrices (with CG_GL_MATRIX_IDENTITY).
void cgGLSetStateMatrixParameter(CGparameter param, CGGLenum matrix, CGGLenum transform);

// Sets a matrix parameter (of any shape) from the matrix given by rows (...r) or by columns (...c), or count
// matrices of an array of them from element offset on (count 0: to the array's end). A range past the array's
// end, or a parameter that is no matrix, sets nothing.
void cgGLSetMatrixParameterfr(CGparameter param, const float* matrix);
void cgGLSetMatrixParameterfc(CGparameter param, const float* matrix);
void cgGLSetMatrixParameterdr(CGparameter param, const double* matrix);
void cgGLSetMatrixParameterdc(CGparameter param, const double* matrix);
void cgGLSetMatrixParameterArrayfr(CGparameter param, long offset, long count, const float* matrices);
void cgGLSetMatrixParameterArrayfc(CGparameter param, long offset, long count, const float* matrices);
void cgGLSetMatrixParameterArraydr(CGparameter param, long offset, long count, const double* matrices);
void cgGLSetMatrixParameterArraydc(CGparameter param, long offset, long count, const double* matrices);

// Records the texture name for a sampler parameter.
void cgGLSetTextureParameter(CGparameter param, unsigned int texture);

// Binds the recorded texture to the sampler's own unit with the target of its type (1D, 2D, 3D, cube,
// rectangle); the active texture unit is left as it was.
void cgGLEnableTextureParameter(CGparameter param);

// Value setters: the given components go into the leading components of a float, vec2, vec3 or vec4 uniform,
// the rest keep their values. The value stays with the program, bound or not. A vertex input without a semantic
// takes them as the current value of its attribute, read by every vertex while its array is disabled. Null or
// stale handles are ignored.
void cgGLSetParameter1f(CGparameter param, float x);
void cgGLSetParameter4d(CGparameter param, double x, double y, double z, double w);
void cgGLSetParameter3dv(CGparameter param, const double* v);

// A vertex input without a semantic read from an array, as glVertexAttribPointer reads one: fsize (1 to 4)
// values of type (GL_FLOAT, GL_UNSIGNED_BYTE, ...) per vertex, stride bytes apart (0: packed). The array is read
// while the input's client state is enabled. Anything but such an input is ignored.
void cgGLSetParameterPointer(CGparameter param, int fsize, unsigned int type, int stride, const void* pointer);
void cgGLEnableClientState(CGparameter param);
void cgGLDisableClientState(CGparameter param);
