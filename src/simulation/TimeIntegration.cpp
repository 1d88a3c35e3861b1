#include "TimeIntegration.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include "Matrix.h"
#include "PackedMatrix.h"

namespace {

bool isLumped(int scheme) {
  return scheme == static_cast<int>(IntegrationScheme::EulerLump) ||
         scheme == static_cast<int>(IntegrationScheme::NewmarkLump) ||
         scheme == static_cast<int>(IntegrationScheme::Explizit);
}

}  // namespace

TimeIntegration::TimeIntegration(int s, PackedMatrix<double>* mass, Vector<double>* lumped,
                                 Matrix<double>& K, Vector<double>* xv, Vector<double>* bv,
                                 MaterialProperties* mat, uint8_t d)
    : scheme(s), M(mass), lumpedMass(lumped), x(xv), b(bv), material(mat), dim(d) {
  const int n = x->n;
  xPrev = std::make_unique<Vector<double>>(n);

  const double rho = material->density;
  const double damping = material->damping;
  const double mu = material->friction;
  double dt = material->timeStep;
  frictionOn = zolt::isNonZero(mu);
  // The mean runs over n / 3 unknowns whatever dim is.
  frictionFactor = (mu - damping) * rho / dt / (n / 3);

  switch (static_cast<IntegrationScheme>(scheme)) {
    case IntegrationScheme::Euler:
    case IntegrationScheme::EulerLump: {
      if (scheme == static_cast<int>(IntegrationScheme::Euler))
        std::cout << "Initialize Euler time integration scheme ...." << std::endl;
      else
        std::cout << "Initialize Euler time integration scheme with lumped mass matrix ..."
                  << std::endl;
      const double c = rho / (dt * dt) + rho * damping / (2.0 * dt);
      addMass(K, c);
      c0 = 2.0 * rho / (dt * dt);
      c1 = rho * damping / (2.0 * dt) - rho / (dt * dt);
      break;
    }
    case IntegrationScheme::Newmark:
    case IntegrationScheme::NewmarkLump: {
      if (scheme == static_cast<int>(IntegrationScheme::Newmark))
        std::cout << "Initialize Newmark time integration scheme ...." << std::endl;
      else
        std::cout << "Initialize Newmark time integration scheme with lumped mass matrix ...."
                  << std::endl;
      velocity = std::make_unique<Vector<double>>(n);
      acceleration = std::make_unique<Vector<double>>(n);
      previousAcceleration = std::make_unique<Vector<double>>(n);
      const double c = rho / (beta * dt * dt) + rho * damping * gamma / (beta * dt);
      addMass(K, c);
      c0 = c;
      cv = rho / (beta * dt) + rho * damping * (gamma / beta - 1.0);
      ca = rho * (0.5 - beta) / beta + rho * damping * dt * (0.5 * gamma / beta - 1.0);
      a0 = 1.0 / (beta * dt * dt);
      a2 = 1.0 / (beta * dt);
      a3 = (0.5 - beta) / beta;
      a6 = (1.0 - gamma) * dt;
      a7 = gamma * dt;
      break;
    }
    case IntegrationScheme::Explizit: {
      std::cout << "Initialize explizit Euler time integration scheme with lumped mass matrix ..."
                << std::endl;
      const double configured = dt;
      dt *= 0.2;
      material->timeStep = dt;
      c0 = 2.0 * rho / (dt * dt);
      c1 = rho * damping / (2.0 * dt) - rho / (dt * dt);
      a0 = -1.0 / (rho / (dt * dt) + rho * damping / (2.0 * dt));
      implicit = false;
      const double limit = explicitStepLimit(K, *lumpedMass, rho);
      if (dt > limit)
        std::cerr << "[TimeIntegration, TimeIntegration] Warning: the explicit scheme steps " << dt
                  << " (a fifth of the time step " << configured << "), above its stability limit "
                  << limit << ": the motion grows without bound (time steps below " << limit / 0.2
                  << " are stable)" << std::endl;
      break;
    }
    default:  // static, or no scheme: K stays as it is
      break;
  }
}

TimeIntegration::~TimeIntegration() = default;

void TimeIntegration::addMass(Matrix<double>& K, double c) const {
  if (isLumped(scheme))
    K.addDiag(*lumpedMass, c);
  else
    K.addScaled(*M, c);
}

bool TimeIntegration::checkScheme(int s) {
  if (s >= static_cast<int>(IntegrationScheme::Euler) &&
      s <= static_cast<int>(IntegrationScheme::Explizit))
    return true;
  std::cout << "[TimeIntegration, checkScheme] Error: Unknown integration scheme " << s
            << " (0 to 5 are defined)!" << std::endl;
  return false;
}

// Friction f adds -(f - d) rho (u_n - u_n-1) / dt to the right-hand side,
// d being the damping; on a free body's mean motion (no stiffness) each
// scheme then becomes a linear recurrence in F = (f - d) dt whose root
// leaves the unit circle through -1 at:
//   Euler pair:   (1 + d dt / 2) v' = (1 - d dt / 2 - F) v, so F = 2;
//   Newmark pair: F = (2 + d dt) / (4 beta - 2) (gamma 1);
//   explicit:     as Euler on its step 0.2 dt, so F = 2 / 0.04 = 50.
// Stiffness only moves the roots inwards.
double TimeIntegration::maxFriction(int scheme, double damping, double dt) {
  switch (static_cast<IntegrationScheme>(scheme)) {
    case IntegrationScheme::Euler:
    case IntegrationScheme::EulerLump:
      return damping + 2.0 / dt;
    case IntegrationScheme::Newmark:
    case IntegrationScheme::NewmarkLump:
      return damping + (2.0 + damping * dt) / ((4.0 * kBeta - 2.0) * dt);
    case IntegrationScheme::Explizit:
      return damping + 50.0 / dt;
    default:
      return std::numeric_limits<double>::infinity();
  }
}

double TimeIntegration::explicitStepLimit(const Matrix<double>& K, const Vector<double>& lumpedMass,
                                          double density) {
  const double lambda = largestMassEigenvalue(K, lumpedMass);
  if (!(lambda > 0.0)) return std::numeric_limits<double>::infinity();
  return 2.0 * std::sqrt(density / lambda);
}

namespace {

// Eigenvalues below x of the symmetric tridiagonal matrix (a, b), b[i]
// coupling i and i + 1 (Sturm count of the LDL^T pivots).
int countBelow(const std::vector<double>& a, const std::vector<double>& b, double x) {
  int below = 0;
  double d = 1.0;
  for (size_t i = 0; i < a.size(); ++i) {
    d = a[i] - x - (i > 0 ? b[i - 1] * b[i - 1] / d : 0.0);
    if (!zolt::isNonZero(d)) d = -1e-300;  // x is an eigenvalue: counted below
    if (d < 0.0) ++below;
  }
  return below;
}

// The largest eigenvalue of that matrix, by bisection between the
// Gershgorin bounds.
double largestTridiagonal(const std::vector<double>& a, const std::vector<double>& b) {
  double lo = 0.0, hi = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double r = (i > 0 ? std::abs(b[i - 1]) : 0.0) + (i < b.size() ? std::abs(b[i]) : 0.0);
    lo = i == 0 ? a[i] - r : std::min(lo, a[i] - r);
    hi = i == 0 ? a[i] + r : std::max(hi, a[i] + r);
  }
  const int n = static_cast<int>(a.size());
  for (int k = 0; k < 200 && hi - lo > 1e-14 * std::max(std::abs(lo), std::abs(hi)); ++k) {
    const double mid = 0.5 * (lo + hi);
    if (countBelow(a, b, mid) == n)
      hi = mid;
    else
      lo = mid;
  }
  return hi;
}

}  // namespace

double TimeIntegration::largestMassEigenvalue(const Matrix<double>& K,
                                              const Vector<double>& lumpedMass) {
  const int n = lumpedMass.n;
  constexpr int kMaxSteps = 120;
  std::vector<double> scale(static_cast<size_t>(n), 0.0);  // m^-1/2, 0 without mass
  Vector<double> q(n), previous(n), v(n), w(n);
  double length = 0.0;
  // A fixed start with a share of every mode: entries of pseudo-random size
  // and sign.
  uint32_t seed = 12345u;
  for (int i = 0; i < n; ++i) {
    const double m = lumpedMass.data[i];
    if (!(m > 0.0)) continue;
    scale[static_cast<size_t>(i)] = 1.0 / std::sqrt(m);
    seed = seed * 1664525u + 1013904223u;
    q.data[i] = (seed >> 8) * (1.0 / 16777216.0) - 0.5;
    length += q.data[i] * q.data[i];
  }
  if (!(length > 0.0)) return 0.0;
  for (int i = 0; i < n; ++i) q.data[i] /= std::sqrt(length);

  std::vector<double> alpha, beta;
  double top = 0.0;
  for (int j = 0; j < std::min(n, kMaxSteps); ++j) {
    for (int i = 0; i < n; ++i) v.data[i] = scale[static_cast<size_t>(i)] * q.data[i];
    K.mult(v, w);
    double a = 0.0;
    for (int i = 0; i < n; ++i) {
      w.data[i] *= scale[static_cast<size_t>(i)];
      if (j > 0) w.data[i] -= beta.back() * previous.data[i];
      a += w.data[i] * q.data[i];
    }
    double b = 0.0;
    for (int i = 0; i < n; ++i) {
      w.data[i] -= a * q.data[i];
      b += w.data[i] * w.data[i];
    }
    b = std::sqrt(b);
    alpha.push_back(a);
    const bool done = !(b > 1e-12 * std::abs(a)) || !std::isfinite(b);
    if (done || (j + 1) % 10 == 0) {
      const double next = largestTridiagonal(alpha, beta);
      const bool settled = std::abs(next - top) <= 1e-5 * std::abs(next);
      top = next;
      if (done || settled) break;
    }
    beta.push_back(b);
    for (int i = 0; i < n; ++i) {
      previous.data[i] = q.data[i];
      q.data[i] = w.data[i] / b;
    }
  }
  beta.resize(alpha.size() - 1);
  return std::max(top, largestTridiagonal(alpha, beta));
}

TimeIntegration* TimeIntegration::create(int s, PackedMatrix<double>* mass, Vector<double>* lumped,
                                         Matrix<double>& K, Vector<double>* xv, Vector<double>* bv,
                                         MaterialProperties* mat, uint8_t d) {
  if (!checkScheme(s)) return nullptr;
  return new TimeIntegration(s, mass, lumped, K, xv, bv, mat, d);
}

void TimeIntegration::calcRightSide(bool useForces, const Vector<double>& forces) {
  const int n = x->n;
  const double* X = x->data;
  double* P = xPrev->data;
  const double* f = useForces ? forces.data : nullptr;

  if (frictionOn) {
    for (int k = 0; k < dim; ++k) frictionOffset[k] = 0.0;
    for (int i = 0; i < n; ++i) frictionOffset[i % dim] += X[i] - P[i];
    for (int k = 0; k < dim; ++k) frictionOffset[k] *= frictionFactor;
  }
  // A pushed unknown enters the step without a displacement history.
  if (useForces)
    for (int i = 0; i < n; ++i)
      if (zolt::isNonZero(f[i])) P[i] = X[i];

  switch (static_cast<IntegrationScheme>(scheme)) {
    case IntegrationScheme::Euler:
    case IntegrationScheme::EulerLump:
    case IntegrationScheme::Explizit:
      eulerRightSide(useForces, f);
      break;
    case IntegrationScheme::Newmark:
    case IntegrationScheme::NewmarkLump:
      newmarkRightSide(useForces, f);
      break;
    case IntegrationScheme::Static:
      std::fill(b->data, b->data + b->n, 0.0);
      break;
    default:
      break;
  }
}

void TimeIntegration::eulerRightSide(bool useForces, const double* f) {
  const int n = x->n;
  const double* X = x->data;
  double* w = xPrev->data;
  for (int i = 0; i < n; ++i) {
    double v = c1 * w[i] + c0 * X[i];
    if (useForces) v += c0 * f[i];
    if (frictionOn) v -= frictionOffset[i % dim];
    w[i] = v;
  }
  finishRightSide(scheme == static_cast<int>(IntegrationScheme::Euler));
}

void TimeIntegration::newmarkRightSide(bool useForces, const double* f) {
  const int n = x->n;
  const double* X = x->data;
  double* w = xPrev->data;
  double* v = velocity->data;
  double* a = acceleration->data;
  double* aPrev = previousAcceleration->data;
  for (int i = 0; i < n; ++i) {
    aPrev[i] = a[i];
    double ai = a0 * (X[i] - w[i]) - a2 * v[i] - a3 * aPrev[i];
    if (useForces) ai += a0 * f[i];
    a[i] = ai;
    v[i] += a6 * aPrev[i] + a7 * ai;
    double wi = c0 * X[i] + cv * v[i] + ca * ai;
    if (useForces) wi += c0 * f[i];
    if (frictionOn) wi -= frictionOffset[i % dim];
    w[i] = wi;
  }
  finishRightSide(scheme == static_cast<int>(IntegrationScheme::Newmark));
}

void TimeIntegration::finishRightSide(bool consistent) {
  const int n = x->n;
  if (consistent) {
    M->mult(*xPrev, *b);
  } else {
    const double* m = lumpedMass->data;
    for (int i = 0; i < n; ++i) b->data[i] = xPrev->data[i] * m[i];
  }
  std::copy(x->data, x->data + n, xPrev->data);
}

void TimeIntegration::explicitUpdate(const Matrix<double>& K) {
  K.mult(*xPrev, *x);
  const int n = x->n;
  double* X = x->data;
  const double* m = lumpedMass->data;
  for (int i = 0; i < n; ++i)
    X[i] = zolt::isNonZero(m[i]) ? (X[i] - b->data[i]) * a0 / m[i] : xPrev->data[i];
}

void TimeIntegration::forceToLoad(const Vector<double>& f, Vector<double>& y) const {
  const int n = y.n;
  switch (static_cast<IntegrationScheme>(scheme)) {
    case IntegrationScheme::Euler:
    case IntegrationScheme::Newmark:
      M->mult(f, y);
      for (int i = 0; i < n; ++i) y.data[i] *= c0;
      break;
    case IntegrationScheme::EulerLump:
    case IntegrationScheme::NewmarkLump:
    case IntegrationScheme::Explizit:
      for (int i = 0; i < n; ++i) y.data[i] = f.data[i] * lumpedMass->data[i] * c0;
      break;
    default:
      std::fill(y.data, y.data + n, 0.0);
      break;
  }
}
