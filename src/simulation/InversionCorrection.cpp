// Element inversion correction: forces that pull the nodes of inverted
// finest elements back, turned into a load on b.

#include <algorithm>

#include "FEMSimulation.h"
#include "FiniteElement.h"
#include "Matrix.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"
#include "TimeIntegration.h"

bool FEMSimulation::correctInversion() {
  Vector<double>& f = *forces;
  std::fill(f.data, f.data + f.n, 0.0);
  if (!integrator) return false;
  const double* x = displacement->data;
  const double* u = integrator->xPrev->data;
  const int fixed = settings->fixedCount;
  bool inverted = false;

  for (const FiniteElement* e : hierarchy->elements[hierarchy->nLevels - 1]) {
    const float v = e->getDisplacedVolume(x, fixed);
    if (!(v < 0.0f)) continue;
    const int n = e->degreeOfFreedom();
    const float vPrev = e->getDisplacedVolume(u, fixed);
    const float t = v / (v - vPrev);
    const float tc = std::clamp(t, 0.0f, 1.0f);
    if (tc == t) {
      // Back towards the previous positions, as far as the step overshot.
      const float w = tc * 0.5f;
      for (int j = 0; j < n; ++j) {
        const int i = e->getVertex(j)->index - fixed;
        if (i < 0) continue;
        for (int k = 0; k < dim; ++k) f[dim * i + k] += (u[dim * i + k] - x[dim * i + k]) * w;
      }
    } else {
      // Inverted before the step already: a fifth of the way to the centroid.
      float sum[3] = {0.0f, 0.0f, 0.0f};
      for (int j = 0; j < n; ++j) {
        const Vertex* p = e->getVertex(j);
        const int i = p->index - fixed;
        for (int k = 0; k < dim; ++k)
          sum[k] += i < 0 ? p->restPosition[k] : p->restPosition[k] + x[dim * i + k];
      }
      for (int j = 0; j < n; ++j) {
        const Vertex* p = e->getVertex(j);
        const int i = p->index - fixed;
        if (i < 0) continue;
        for (int k = 0; k < dim; ++k) {
          const float centroid = sum[k] / static_cast<float>(n);
          f[dim * i + k] += (centroid - (p->restPosition[k] + x[dim * i + k])) * 0.2f;
        }
      }
    }
    inverted = true;
  }

  if (!inverted) return false;  // the load of zero forces is zero
  integrator->forceToLoad(f, *residual);
  Vector<double>& b = *rightSide;
  for (int i = 0; i < b.n; ++i) b[i] += (*residual)[i];
  return true;
}
