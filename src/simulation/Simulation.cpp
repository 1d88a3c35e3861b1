#include "Simulation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Matrix.h"
#include "TimeIntegration.h"

// Out of line: anchors the interface's vtable and type information here.
// The scheme goes last: its kept vectors, then the object.
Simulation::~Simulation() { delete integrator; }

namespace {

// The norm of u[0 .. dim-1] through squares of at most 1: for entries whose
// squares overflow. Infinite when an entry is.
double scaledNorm(const double* u, int dim) {
  double a = 0.0;
  for (int k = 0; k < dim; ++k) a = std::max(a, std::abs(u[k]));
  if (std::isinf(a)) return a;
  double s = 0.0;
  for (int k = 0; k < dim; ++k) s += (u[k] / a) * (u[k] / a);
  return a * std::sqrt(s);
}

}  // namespace

bool Simulation::stateFinite() { return std::isfinite(maxVertexNorm()); }

double largestVertexNorm(const Vector<double>& x, int dim) {
  double largest = 0.0;
  for (int t = 0; t + dim <= x.n; t += dim) {
    const double* u = x.data + t;
    double s = 0.0;
    for (int k = 0; k < dim; ++k) s += u[k] * u[k];
    // std::max would drop a NaN and report a broken state as at rest.
    if (std::isnan(s)) return std::numeric_limits<double>::quiet_NaN();
    largest = std::max(largest, std::isinf(s) ? scaledNorm(u, dim) : std::sqrt(s));
  }
  return largest;
}
