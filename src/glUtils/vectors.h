#pragma once
// Three-component vector of the drawing code.

#include "ZoltAssert.h"

template <class T>
struct VECTOR3 {
  T v[3];

  VECTOR3() : v{T(), T(), T()} {}
  VECTOR3(T x, T y, T z) : v{x, y, z} {}

  // clang-format off
  T& operator[](unsigned int i) { ZOLT_ASSERT(i<3); return v[i]; }
  const T& operator[](unsigned int i) const { ZOLT_ASSERT(i<3); return v[i]; }
  // clang-format on
};
