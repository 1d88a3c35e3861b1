// Collision response of the barriers: every watched vertex that penetrates is
// pushed back onto the surface (correction offset plus a one-shot force).
// Single precision throughout; only the force is widened to double in push.

#include <cmath>

#include "Barrier.h"

namespace {

float signedDistance(const float* n, float offset, const float* p) {
  return n[0] * p[0] + n[1] * p[1] + n[2] * p[2] + offset;
}

}  // namespace

void GroundBarrier::handleCollisions() {
  for (int i = 0; i < count; ++i) {
    const float s = signedDistance(normal, offset, positions + 3 * i);
    if (s < 0.0f) {
      const float w[3] = {-s * normal[0], -s * normal[1], -s * normal[2]};
      push(indices[i], w);
    }
  }
}

void SphereBarrier::handleCollisions() {
  const float r2 = radius * radius;
  for (int i = 0; i < count; ++i) {
    const float* p = positions + 3 * i;
    float* e = offsetVector;
    e[0] = p[0] - centre[0];
    e[1] = p[1] - centre[1];
    e[2] = p[2] - centre[2];
    const float e2 = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
    if (!(e2 < r2)) continue;
    if (e2 > 0.0f) {
      const float f = radius / std::sqrt(e2) - 1.0f;
      const float w[3] = {f * e[0], f * e[1], f * e[2]};
      push(indices[i], w);
    } else {
      // At the centre no direction is defined: leave along +y.
      const float w[3] = {0.0f, radius, 0.0f};
      push(indices[i], w);
    }
  }
}

void QuaderBarrier::handleCollisions() {
  for (int i = 0; i < count; ++i) {
    const float* p = positions + 3 * i;
    float s[6];
    bool inside = true;
    for (int k = 0; k < 6 && inside; ++k) {
      s[k] = signedDistance(normals[k], offsets[k], p);
      inside = s[k] < 0.0f;
    }
    if (!inside) continue;
    // Least penetration: the plane with the largest (closest to zero) s.
    int best = s[0] >= s[1] ? 0 : 1;
    for (int k = 2; k < 6; ++k)
      if (s[k] > s[best]) best = k;
    const float* n = normals[best];
    const float w[3] = {-s[best] * n[0], -s[best] * n[1], -s[best] * n[2]};
    push(indices[i], w);
  }
}

void BoxBarrier::handleCollisions() {
  for (int i = 0; i < count; ++i) {
    const float* p = positions + 3 * i;
    float s[6];
    for (int k = 0; k < 6; ++k) s[k] = signedDistance(normals[k], offsets[k], p);
    for (int k = 0; k < 6; ++k) {
      if (!(s[k] < 0.0f)) continue;
      const float* n = normals[k];
      const float w[3] = {-s[k] * n[0], -s[k] * n[1], -s[k] * n[2]};
      push(indices[i], w);
    }
  }
}
