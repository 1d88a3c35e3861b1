#pragma once
// Closed test surfaces for the render-surface code (link zolt_render_core).

#include <cmath>
#include <cstdint>

#include "SurfaceMesh.h"

namespace zolt::test {

// A latitude-longitude sphere around the origin, wound outward: two poles
// and rings - 1 rings of segments vertices. Fills restPositions and indices
// and makes the mesh ready (finishMesh).
inline void uvSphere(SurfaceMesh& m, int rings, int segments, float radius) {
  m.clearMesh();
  const double pi = 3.14159265358979323846;
  auto add = [&](double theta, double phi) {
    m.restPositions.push_back(static_cast<float>(radius * std::sin(theta) * std::cos(phi)));
    m.restPositions.push_back(static_cast<float>(radius * std::sin(theta) * std::sin(phi)));
    m.restPositions.push_back(static_cast<float>(radius * std::cos(theta)));
  };
  add(0.0, 0.0);
  for (int r = 1; r < rings; ++r)
    for (int s = 0; s < segments; ++s) add(pi * r / rings, 2.0 * pi * s / segments);
  add(pi, 0.0);
  const uint32_t south = static_cast<uint32_t>(m.restPositions.size() / 3 - 1);
  auto at = [&](int r, int s) {
    return static_cast<uint32_t>(1 + (r - 1) * segments + s % segments);
  };
  auto tri = [&](uint32_t a, uint32_t b, uint32_t c) {
    m.indices.insert(m.indices.end(), {a, b, c});
  };
  for (int s = 0; s < segments; ++s) {
    tri(0, at(1, s), at(1, s + 1));
    for (int r = 1; r + 1 < rings; ++r) {
      tri(at(r, s), at(r + 1, s), at(r + 1, s + 1));
      tri(at(r, s), at(r + 1, s + 1), at(r, s + 1));
    }
    tri(south, at(rings - 1, s + 1), at(rings - 1, s));
  }
  m.finishMesh();
}

}  // namespace zolt::test
