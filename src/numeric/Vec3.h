#pragma once
// Three-vectors as plain arrays of float or double.

#include <cmath>

template <class T>
inline void cross3(const T* u, const T* v, T* out) {
  out[0] = u[1] * v[2] - u[2] * v[1];
  out[1] = u[2] * v[0] - u[0] * v[2];
  out[2] = u[0] * v[1] - u[1] * v[0];
}

// (b - a) x (c - a): the triangle's normal, twice its area long.
template <class T>
inline void triangleNormal3(const T* a, const T* b, const T* c, T* n) {
  const T u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const T v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  cross3(u, v, n);
}

template <class T>
inline T length3(const T* v) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}
