// The six force fields. Contributions are formed in single precision and
// added to the double right-hand side; random draws come from rand() in a
// fixed order, so a seeded run repeats exactly.

#include "DeformationForce.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "FiniteElement.h"
#include "Matrix.h"
#include "TetHierarchy.h"

namespace {

constexpr float kEpsilon = 4.656613e-10f;  // 2^-31
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr double kStiffLimit = 0.1;

// Gust factor in [0.01, 1.01].
double gust() { return std::rand() / 2147483647.0 + 0.01; }

void wrapPhase(float& phase) {
  if (phase > kPi) phase -= kTwoPi;
}

const std::vector<Vertex*>& finestVertices(const TetHierarchy& h) {
  return h.vertices[h.nLevels - 1];
}

// Degree-of-freedom base of v, or -1 when v is fixed or its entries would
// lie beyond an array of n entries.
int dofBase(const Vertex* v, int fixed, int dim, int n) {
  const long dof = static_cast<long>(dim) * (v->index - fixed);
  return dof >= 0 && dof + dim <= n ? static_cast<int>(dof) : -1;
}

// d = current position - centre on the dim axes; u = d s / |d| outside a
// small ball around the centre, else 0. Returns |d|.
float radialUnit(const Vertex* v, const float* centre, int dim, float s, float* d, float* u) {
  // A vertex no drawable has linked yet sits at its rest position.
  const float* p = v->currentPosition ? v->currentPosition : v->restPosition;
  float r2 = 0.0f;
  for (int k = 0; k < 3; ++k) {
    d[k] = k < dim ? p[k] - centre[k] : 0.0f;
    r2 += d[k] * d[k];
  }
  const float r = std::sqrt(r2);
  for (int k = 0; k < 3; ++k) u[k] = r > 0.0001f ? d[k] * s / r : 0.0f;
  return r;
}

// d = rest position - centre on all three axes; returns |d|.
float restOffset(const Vertex* v, const float* centre, float* d) {
  for (int k = 0; k < 3; ++k) d[k] = v->restPosition[k] - centre[k];
  return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

}  // namespace

void DeformationForce::apply(const Vector<double>& m, Vector<double>& b, const int* fixedCount) {
  if (!forceFieldOn || *forceFieldOn == 0) return;
  if (static_cast<unsigned>(type) - 1u > 5u) return;
  const float s = *forceNorm;
  const int fixed = fixedCount ? *fixedCount : 0;
  const int n = std::min(b.n, m.n);  // entries that have a lumped mass
  const int d = dim;

  switch (static_cast<ForceFieldType>(type)) {
    case ForceFieldType::Spherical: {
      for (const Vertex* v : finestVertices(*hierarchy)) {
        const int dof = dofBase(v, fixed, d, n);
        if (dof < 0) continue;
        float off[3], u[3];
        const float r = radialUnit(v, vector, d, s, off, u);
        const float w = std::sin(r * param[0] + phase);
        for (int k = 0; k < d; ++k) b[dof + k] += (w * u[k]) * m[dof + k];
      }
      phase += param[1];
      wrapPhase(phase);
      break;
    }
    case ForceFieldType::Random:
      for (int i = 0; i < n; ++i)
        b[i] += static_cast<double>(std::rand()) * s * m[i] * 4.656612875245797e-10;
      break;
    case ForceFieldType::Wind: {
      const float r1 = static_cast<float>(std::rand());
      const float r2 = static_cast<float>(std::rand());
      float g[3] = {0.0f, 0.0f, 0.0f};
      if (d == 3)
        g[2] = vector[2] + static_cast<float>(std::rand()) * std::sin(phase) * param[0] * kEpsilon;
      g[0] = vector[0] + r1 * (kEpsilon * param[0]);
      g[1] = vector[1] + r2 * (std::cos(phase) * param[0] * kEpsilon);
      const int nVertices = b.n / d;
      for (int i = 0; i < nVertices && (i + 1) * d <= n; ++i)
        for (int k = 0; k < d; ++k) b[i * d + k] += s * m[i * d + k] * gust() * g[k];
      phase += static_cast<float>(std::rand()) * param[1] * kEpsilon;
      wrapPhase(phase);
      break;
    }
    case ForceFieldType::Vortex:
      for (const Vertex* v : finestVertices(*hierarchy)) {
        const int dof = dofBase(v, fixed, d, n);
        if (dof < 0) continue;
        float off[3], u[3];
        radialUnit(v, vector, d, s, off, u);
        b[dof] += u[1] * m[dof] * gust();
        b[dof + 1] += -u[0] * m[dof + 1] * gust();
        if (d == 3) b[dof + 2] += u[2] * m[dof + 2] * gust();
      }
      break;
    case ForceFieldType::Implant: {
      if (!elements) break;
      size_t node = 0;
      for (const FiniteElement* e : *elements) {
        const float f = static_cast<float>(std::max(0.0, s * e->getVolume()));
        const int nNodes = e->degreeOfFreedom();
        for (int j = 0; j < nNodes; ++j, ++node) {
          const Vertex* v = e->getVertex(j);
          const int dof = dofBase(v, fixed, d, b.n);
          // Nodes without a mask byte count as soft-only.
          if (dof < 0 || node >= nodeMask.size() || nodeMask[node] != 0) continue;
          float off[3];
          const float len = restOffset(v, vector, off);
          if (!(len > 0.0f)) continue;  // at the centre: no direction
          const float q = param[0] / len;
          const float h =
              std::max(0.0f, (1.0f - param[2]) + (vector[2] - v->restPosition[2]) * param[2]);
          b[dof] += off[0] * q * h * f;
          b[dof + 1] += (off[1] * q - param[1]) * h * f;
          if (d == 3) b[dof + 2] += off[2] * q * h * f;
        }
      }
      break;
    }
    case ForceFieldType::Radial: {
      if (!elements) break;
      for (const FiniteElement* e : *elements) {
        float g = std::max(0.0f, s * static_cast<float>(e->getVolume()));
        g *= param[1];
        const int nNodes = e->degreeOfFreedom();
        for (int j = 0; j < nNodes; ++j) {
          const Vertex* v = e->getVertex(j);
          const int dof = dofBase(v, fixed, d, b.n);
          if (dof < 0) continue;
          float off[3];
          const float len = restOffset(v, vector, off);
          if (!(len > 0.0f)) continue;  // at the centre: no direction
          const float u = 1.0f / len;
          for (int k = 0; k < d; ++k) b[dof + k] += off[k] * u * g;
        }
      }
      break;
    }
    case ForceFieldType::None:
      break;
  }
}

void DeformationForce::markSoftOnlyNodes() {
  nodeMask.clear();
  if (!elements) return;
  // Vertex numbers are consistent while this runs; the result is not keyed by them.
  const std::vector<Vertex*>& vertices = finestVertices(*hierarchy);
  std::vector<uint8_t> softOnly(vertices.size(), 1);
  auto slot = [&](const Vertex* v) -> uint8_t* {
    return v->index >= 0 && static_cast<size_t>(v->index) < softOnly.size() ? &softOnly[v->index]
                                                                            : nullptr;
  };
  for (const FiniteElement* e : hierarchy->elements[hierarchy->nLevels - 1]) {
    if (!(e->getStiffness() > kStiffLimit)) continue;
    for (int j = 0; j < e->degreeOfFreedom(); ++j)
      if (uint8_t* mark = slot(e->getVertex(j))) *mark = 0;
  }
  for (const FiniteElement* e : *elements)
    for (int j = 0; j < e->degreeOfFreedom(); ++j) {
      const uint8_t* mark = slot(e->getVertex(j));
      nodeMask.push_back(mark ? *mark : 1);
    }
}
