#pragma once
// How values given to CProgram::SetUniformVector reach a uniform of a
// declared GLSL type: the glUniform family and the number of components.
// Pure logic: uses the GL type codes only, calls no GL function.

#include <GL/glew.h>

// The form the caller gave the values in.
enum class UniformArgs { FloatArray, Floats, Ints };

// The glUniform family used; None for matrices and types not in the table.
enum class UniformCall { None, Float, Int };

struct UniformSetter {
  UniformCall call;
  int count;  // components, 1 to 4; 0 with UniformCall::None
};

UniformSetter uniformSetter(GLenum type, UniformArgs args);

// Toward zero, clamped to the int range; NaN gives 0.
int truncateToInt(float v);

// Whether an active uniform's name is the one looked up. Arrays are listed
// as "name[0]"; an element "name[k]" has the type of the array.
bool uniformNameMatches(const char* active, const char* wanted);
