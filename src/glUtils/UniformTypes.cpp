#include "UniformTypes.h"

#include <climits>
#include <cmath>
#include <cstring>

UniformSetter uniformSetter(GLenum type, UniformArgs args) {
  // A bool is set like a float unless it is given as ints.
  const UniformCall boolCall = args == UniformArgs::Ints ? UniformCall::Int : UniformCall::Float;
  switch (type) {
    case GL_FLOAT:
      return {UniformCall::Float, 1};
    case GL_FLOAT_VEC2:
      return {UniformCall::Float, 2};
    case GL_FLOAT_VEC3:
      return {UniformCall::Float, 3};
    case GL_FLOAT_VEC4:
      return {UniformCall::Float, 4};
    case GL_INT:
      return {UniformCall::Int, 1};
    case GL_INT_VEC2:
      return {UniformCall::Int, 2};
    case GL_INT_VEC3:
      return {UniformCall::Int, 3};
    case GL_INT_VEC4:
      return {UniformCall::Int, 4};
    case GL_BOOL:
      return {boolCall, 1};
    case GL_BOOL_VEC2:
      return {boolCall, 2};
    case GL_BOOL_VEC3:
      return {boolCall, 3};
    case GL_BOOL_VEC4:
      return {boolCall, 4};
    default:
      break;
  }
  if (type >= GL_SAMPLER_1D && type <= GL_SAMPLER_2D_RECT_SHADOW) return {UniformCall::Int, 1};
  return {UniformCall::None, 0};
}

int truncateToInt(float v) {
  if (std::isnan(v)) return 0;
  if (v <= static_cast<float>(INT_MIN)) return INT_MIN;
  if (v >= static_cast<float>(INT_MAX)) return INT_MAX;
  return static_cast<int>(v);
}

namespace {
// Length of a name without a trailing array index "[k]".
size_t baseLength(const char* name) {
  const size_t n = std::strlen(name);
  const char* open = std::strrchr(name, '[');
  return n > 0 && name[n - 1] == ']' && open ? static_cast<size_t>(open - name) : n;
}
}  // namespace

bool uniformNameMatches(const char* active, const char* wanted) {
  const size_t n = baseLength(active);
  return n == baseLength(wanted) && std::strncmp(active, wanted, n) == 0;
}
