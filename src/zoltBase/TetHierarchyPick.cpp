// Elements along a pick ray, at the current positions.

#include <cmath>
#include <limits>
#include <vector>

#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "ZoltAssert.h"

namespace {

inline void cross(const float* u, const float* v, float* w) {
  w[0] = u[1] * v[2] - u[2] * v[1];
  w[1] = u[2] * v[0] - u[0] * v[2];
  w[2] = u[0] * v[1] - u[1] * v[0];
}

inline float dot(const float* u, const float* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

constexpr float kFar = 100000000.0f;

}  // namespace

std::vector<FiniteElement*> TetHierarchy::pickElements(const float* direction, const float* origin,
                                                       bool nearestOnly, float depth) const {
  const float len2 =
      direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2];
  const float scale = 1.0f / std::sqrt(len2);
  const float d[3] = {direction[0] * scale, direction[1] * scale, direction[2] * scale};
  // A zero or non-finite direction gives no ray: nothing is hit (its NaN
  // coordinates would pass every clipping test).
  const bool ray = std::isfinite(d[0]) && std::isfinite(d[1]) && std::isfinite(d[2]);

  std::vector<PickHit> hits;
  hits.reserve(128);
  if (ray) {
    for (FiniteElement* element : elements[nLevels - 1]) {
      // Every element of a hierarchy is a tetrahedron.
      const Tetrahedron* tet = static_cast<const Tetrahedron*>(element);
      if (tet->cut) continue;
      const float* p[4];
      for (int i = 0; i < 4; ++i) {
        p[i] = tet->getVertex(i)->currentPosition;
        ZOLT_ASSERT(p[i] != nullptr);
      }
      float a[3], b[3], c[3], q[3];
      for (int k = 0; k < 3; ++k) {
        a[k] = p[0][k] - p[3][k];
        b[k] = p[1][k] - p[3][k];
        c[k] = p[2][k] - p[3][k];
        q[k] = origin[k] - p[3][k];
      }
      float r[3][3];
      cross(b, c, r[0]);
      cross(c, a, r[1]);
      cross(a, b, r[2]);
      const float det = dot(a, r[0]);
      // A flat element has no inside to pass through.
      if (!(det < 0.0f || det > 0.0f)) continue;
      const float inv = 1.0f / det;

      // Barycentric coordinates of origin + t d are alpha + t beta.
      float alpha[4], beta[4];
      for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) r[i][k] *= inv;
        alpha[i] = dot(r[i], q);
        beta[i] = dot(r[i], d);
      }
      alpha[3] = 1.0f - alpha[0] - alpha[1] - alpha[2];
      beta[3] = -beta[0] - beta[1] - beta[2];

      float tmin = 0.0f, tmax = kFar;
      for (int i = 0; i < 4; ++i) {
        if (beta[i] < 0.0f) {
          if (beta[i] * tmax < -alpha[i]) tmax = -alpha[i] / beta[i];
        } else if (beta[i] * tmin < -alpha[i]) {
          // Parallel to face i and outside it: beta may be -0, whose
          // quotient -infinity would lift the bound instead of closing it.
          tmin = beta[i] > 0.0f ? -alpha[i] / beta[i] : std::numeric_limits<float>::infinity();
        }
      }
      if (tmax > tmin) hits.push_back({element, tmin});
    }
  }

  std::vector<FiniteElement*> result;
  if (!nearestOnly) {
    result.reserve(hits.size());
    for (const PickHit& h : hits) result.push_back(h.element);
    return result;
  }
  const PickHit* nearest = nullptr;
  for (const PickHit& h : hits)
    if (nearest == nullptr || h.t < nearest->t) nearest = &h;
  if (!(depth < 0.0f || depth > 0.0f)) {
    result.push_back(nearest ? nearest->element : nullptr);
    return result;
  }
  if (nearest == nullptr) return result;
  const float limit = std::fmin(kFar, nearest->t) + depth;
  for (const PickHit& h : hits)
    if (h.t < limit) result.push_back(h.element);
  return result;
}
