// Time integration on hand-built matrices: coefficients against values
// worked out by hand, right-hand sides against dense references, discrete
// energy, exact constant-acceleration motion for Newmark, and convergence
// of the dynamic schemes to the static solution, all with dense solves done
// here.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "BlockMatrix.h"
#include "Capture.h"
#include "FullMatrix.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"
#include "TimeIntegration.h"

using zolt::test::captureStdout;

namespace {

using Dense = std::vector<std::vector<double>>;

const double kLumped[3] = {1.0, 2.0, 0.5};

// Path Laplacian plus shift * I: singular with the constant vector as null
// space for shift 0, positive definite above.
double stiffness(int n, int i, int j, double shift) {
  if (i == j) return (i == 0 || i == n - 1 ? 1.0 : 2.0) + shift;
  return std::abs(i - j) == 1 ? -1.0 : 0.0;
}
double mass(int n, int i, int j) {
  if (i == j) return i == n - 1 ? 1.0 : 2.0;
  return std::abs(i - j) == 1 ? 0.5 : 0.0;
}

MaterialProperties material(double rho, double damping, double friction, double dt) {
  MaterialProperties m;
  m.lambda = 1.0;
  m.mu = 1.0;
  m.density = rho;
  m.damping = damping;
  m.friction = friction;
  m.timeStep = dt;
  return m;
}

// n unknowns; K is one 3x3 block for n = 3, else dense.
struct System {
  int n;
  double shift;
  MaterialProperties mat;
  std::unique_ptr<Matrix<double>> K;
  std::unique_ptr<PackedMatrix<double>> M;
  Vector<double> m, x, b, f;
  std::unique_ptr<TimeIntegration> ti;
  std::string printed;

  System(int scheme, const MaterialProperties& material, int size = 3, double kShift = 2.0,
         uint8_t dim = 3)
      : n(size), shift(kShift), mat(material), m(size), x(size), b(size), f(size) {
    if (n == 3) {
      auto blocks = std::make_unique<BlockMatrix<double, 3>>(3, 3);
      double v[9];
      for (int q = 0; q < 9; ++q) v[q] = stiffness(3, q / 3, q % 3, shift);
      blocks->addElemBlock(0, 0, v);
      blocks->buildDataStructs();
      K = std::move(blocks);
    } else {
      K = std::make_unique<FullMatrix<double>>(n, n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) K->setElem(i, j, stiffness(n, i, j, shift));
    }
    SparseMatrix<double> s(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (mass(n, i, j) != 0.0) s.setElem(i, j, mass(n, i, j));
    M = std::make_unique<PackedMatrix<double>>(s);
    for (int i = 0; i < n; ++i) m[i] = kLumped[i % 3];
    printed = captureStdout([&] {
      ti = std::make_unique<TimeIntegration>(scheme, M.get(), &m, *K, &x, &b, &mat, dim);
    });
  }

  Dense plainK() const {
    Dense k(n, std::vector<double>(n));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) k[i][j] = stiffness(n, i, j, shift);
    return k;
  }
  std::vector<double> massTimes(const std::vector<double>& w) const {
    std::vector<double> y(n, 0.0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) y[i] += mass(n, i, j) * w[j];
    return y;
  }
  void set(Vector<double>& v, const std::vector<double>& values) {
    for (int i = 0; i < n; ++i) v[i] = values[i];
  }
  std::vector<double> get(const Vector<double>& v) const { return {v.data, v.data + v.n}; }
};

// Gaussian elimination with partial pivoting.
std::vector<double> solveDense(Dense A, std::vector<double> r) {
  const int n = static_cast<int>(r.size());
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int i = c + 1; i < n; ++i)
      if (std::abs(A[i][c]) > std::abs(A[p][c])) p = i;
    std::swap(A[c], A[p]);
    std::swap(r[c], r[p]);
    for (int i = c + 1; i < n; ++i) {
      const double l = A[i][c] / A[c][c];
      for (int j = c; j < n; ++j) A[i][j] -= l * A[c][j];
      r[i] -= l * r[c];
    }
  }
  std::vector<double> x(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = r[i];
    for (int j = i + 1; j < n; ++j) s -= A[i][j] * x[j];
    x[i] = s / A[i][i];
  }
  return x;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}
std::vector<double> times(const Dense& A, const std::vector<double>& v) {
  std::vector<double> y(v.size(), 0.0);
  for (size_t i = 0; i < v.size(); ++i) y[i] = dot(A[i], v);
  return y;
}

void expectRelNear(double got, double expected, double rel, const std::string& what) {
  EXPECT_NEAR(got, expected, rel * std::max(1.0, std::abs(expected))) << what;
}

}  // namespace

// rho 2, damping 0.5, friction 0.3, time step 0.1; beta 1.2, gamma 1.
TEST(TimeIntegration, CoefficientsOfEverySchemeAndTheirTermsInK) {
  const double N = std::nan("");  // not set: stays 0
  struct Row {
    int scheme;
    const char* message;
    double kTerm;  // added to K, times M (consistent) or diag(m) (lumped)
    bool lumped;
    double c0, c1, cv, ca, a0, a2, a3, a6, a7;
    bool implicit, newmarkVectors;
    double timeStepAfter;
  } rows[] = {
      {0, "Initialize Euler time integration scheme ....\n", 205.0, false, 400.0, -195.0, N, N, N,
       N, N, N, N, true, false, 0.1},
      {1, "Initialize Euler time integration scheme with lumped mass matrix ...\n", 205.0, true,
       400.0, -195.0, N, N, N, N, N, N, N, true, false, 0.1},
      {2, "Initialize Newmark time integration scheme ....\n", 175.0, false, 175.0, N, 16.5, -1.225,
       250.0 / 3, 25.0 / 3, -7.0 / 12, 0.0, 0.1, true, true, 0.1},
      {3, "Initialize Newmark time integration scheme with lumped mass matrix ....\n", 175.0, true,
       175.0, N, 16.5, -1.225, 250.0 / 3, 25.0 / 3, -7.0 / 12, 0.0, 0.1, true, true, 0.1},
      {4, "", 0.0, false, N, N, N, N, N, N, N, N, N, true, false, 0.1},
      {5, "Initialize explizit Euler time integration scheme with lumped mass matrix ...\n", 0.0,
       true, 10000.0, -4975.0, N, N, -1.0 / 5025, N, N, N, N, false, false, 0.02},
      {7, "", 0.0, false, N, N, N, N, N, N, N, N, N, true, false, 0.1},
  };
  for (const Row& r : rows) {
    const std::string id = "scheme " + std::to_string(r.scheme);
    System s(r.scheme, material(2.0, 0.5, 0.3, 0.1));
    TimeIntegration& t = *s.ti;
    EXPECT_EQ(s.printed, r.message) << id;
    const Dense k0 = s.plainK();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const double term = r.lumped ? (i == j ? kLumped[i] : 0.0) : mass(3, i, j);
        expectRelNear((*s.K)(i, j), k0[i][j] + r.kTerm * term, 1e-13, id + " K");
      }
    const double got[9] = {t.c0, t.c1, t.cv, t.ca, t.a0, t.a2, t.a3, t.a6, t.a7};
    const double want[9] = {r.c0, r.c1, r.cv, r.ca, r.a0, r.a2, r.a3, r.a6, r.a7};
    for (int c = 0; c < 9; ++c)
      expectRelNear(got[c], std::isnan(want[c]) ? 0.0 : want[c], 1e-13,
                    id + " coefficient " + std::to_string(c));
    // (friction - damping) rho / configured time step / (3 / 3).
    expectRelNear(t.frictionFactor, -4.0, 1e-13, id + " friction");
    EXPECT_TRUE(t.frictionOn) << id;
    EXPECT_EQ(t.implicit, r.implicit) << id;
    EXPECT_EQ(t.velocity != nullptr, r.newmarkVectors) << id;
    EXPECT_EQ(t.acceleration != nullptr, r.newmarkVectors) << id;
    EXPECT_EQ(t.previousAcceleration != nullptr, r.newmarkVectors) << id;
    ASSERT_NE(t.xPrev, nullptr);
    EXPECT_DOUBLE_EQ(s.mat.timeStep, r.timeStepAfter) << id;
  }
}

TEST(TimeIntegration, OnlySchemesZeroToFiveAreAccepted) {
  struct Row {
    int scheme;
    bool accepted;
  } rows[] = {{-1, false}, {0, true}, {3, true}, {5, true}, {6, false}, {7, false}};
  for (const Row& r : rows) {
    System s(4, material(1, 0, 0, 0.1));
    TimeIntegration* created = nullptr;
    const std::string out = captureStdout([&] {
      created = TimeIntegration::create(r.scheme, s.M.get(), &s.m, *s.K, &s.x, &s.b, &s.mat, 3);
    });
    EXPECT_EQ(created != nullptr, r.accepted) << r.scheme;
    EXPECT_EQ(out.find("[TimeIntegration, checkScheme] Error: Unknown integration scheme " +
                       std::to_string(r.scheme)) == 0,
              !r.accepted)
        << out;
    delete created;
  }
}

TEST(TimeIntegration, RightSideCases) {
  const MaterialProperties noFriction = material(2.0, 0.5, 0.0, 0.1);
  const double c0 = 400.0, c1 = -195.0;  // Euler, as above
  struct Row {
    const char* name;
    int scheme;
    std::vector<double> x, xPrev, forces;
    bool useForces;
    // b from the Euler pair's w = c1 xPrev' + c0 (x + f), xPrev' = x where f != 0.
  } rows[] = {
      {"euler at rest", 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
      {"eulerlump from rest to one", 1, {1, 1, 1}, {0, 0, 0}, {0, 0, 0}, false},
      {"euler with history", 0, {1, -2, 3}, {0.5, 0.25, -1}, {0, 0, 0}, false},
      {"eulerlump impulse", 1, {1, 2, 3}, {0.5, 0.5, 0.5}, {0, 4, 0}, true},
      {"eulerlump impulse not rebuilt", 1, {1, 2, 3}, {0.5, 0.5, 0.5}, {0, 4, 0}, false},
      {"euler impulse", 0, {1, 2, 3}, {0.5, 0.5, 0.5}, {-1, 0, 2}, true},
  };
  for (const Row& r : rows) {
    System s(r.scheme, noFriction);
    s.set(s.x, r.x);
    s.set(*s.ti->xPrev, r.xPrev);
    s.set(s.f, r.forces);
    s.set(s.b, {7, 7, 7});
    s.ti->calcRightSide(r.useForces, s.f);
    std::vector<double> w(3);
    for (int i = 0; i < 3; ++i) {
      const bool pushed = r.useForces && r.forces[i] != 0.0;
      w[i] = c1 * (pushed ? r.x[i] : r.xPrev[i]) + c0 * (r.x[i] + (r.useForces ? r.forces[i] : 0));
    }
    std::vector<double> expected = s.massTimes(w);
    if (r.scheme == 1)
      for (int i = 0; i < 3; ++i) expected[i] = kLumped[i] * w[i];
    for (int i = 0; i < 3; ++i) {
      expectRelNear(s.b[i], expected[i], 1e-14, std::string(r.name) + " b");
      EXPECT_EQ((*s.ti->xPrev)[i], r.x[i]) << r.name;
    }
  }
  // The literal case: b_i = m_i 2 rho / dt^2.
  System lump(1, noFriction);
  lump.set(lump.x, {1, 1, 1});
  lump.ti->calcRightSide(false, lump.f);
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(lump.b[i], kLumped[i] * 400.0);
}

TEST(TimeIntegration, StaticRightSideIsZeroWhateverTheForces) {
  System s(4, material(2.0, 0.5, 0.3, 0.1));
  s.set(s.x, {1, 2, 3});
  s.set(s.f, {5, 5, 5});
  s.set(s.b, {7, 7, 7});
  s.ti->calcRightSide(true, s.f);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.b[i], 0.0);
}

// Per axis: (friction - damping) rho / dt times the summed displacement
// change of the axis divided by n / 3.
TEST(TimeIntegration, FrictionOffsets) {
  struct Row {
    const char* name;
    uint8_t dim;
    double friction;
    std::vector<double> x, xPrev;
    std::vector<double> offsets;  // per axis
  } rows[] = {
      {"friction equals damping", 3, 0.5, {1, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, 0}, {0, 0, 0}},
      // (1.5 - 0.5) * 2 / 0.1 / 2 = 10 per unit of summed change
      {"three dimensions", 3, 1.5, {1, 2, 3, 4, 5, 6}, {0, 1, 1, 0, 0, 9}, {50, 60, -10}},
      // two dimensions still divide by 6 / 3 = 2
      {"two dimensions", 2, 1.5, {1, 2, 3, 4, 5, 6}, {0, 1, 1, 0, 0, 9}, {80, 20}},
  };
  for (const Row& r : rows) {
    System s(1, material(2.0, 0.5, r.friction, 0.1), 6, 2.0, r.dim);
    s.set(s.x, r.x);
    s.set(*s.ti->xPrev, r.xPrev);
    s.ti->calcRightSide(false, s.f);
    for (int k = 0; k < r.dim; ++k)
      EXPECT_NEAR(s.ti->frictionOffset[k], r.offsets[k], 1e-12) << r.name << " axis " << k;
    for (int i = 0; i < 6; ++i) {
      const double w = -195.0 * r.xPrev[i] + 400.0 * r.x[i] - r.offsets[i % r.dim];
      expectRelNear(s.b[i], kLumped[i % 3] * w, 1e-14, r.name);
    }
  }
}

// Newmark reproduces u = A t^2 / 2 exactly for any beta and gamma: the
// acceleration stays A and the velocity is A t.
TEST(TimeIntegration, NewmarkFollowsConstantAccelerationExactly) {
  for (int scheme : {2, 3}) {
    System s(scheme, material(2.0, 0.5, 0.0, 0.1));
    const double A[3] = {1.0, -2.0, 0.5};
    for (int i = 0; i < 3; ++i) (*s.ti->acceleration)[i] = A[i];
    for (int step = 1; step <= 5; ++step) {
      const double t = 0.1 * step;
      for (int i = 0; i < 3; ++i) s.x[i] = 0.5 * A[i] * t * t;
      s.ti->calcRightSide(false, s.f);
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR((*s.ti->acceleration)[i], A[i], 1e-9) << scheme << " step " << step;
        EXPECT_NEAR((*s.ti->velocity)[i], A[i] * t, 1e-10) << scheme << " step " << step;
        EXPECT_NEAR((*s.ti->previousAcceleration)[i], A[i], 1e-9);
      }
    }
  }
}

TEST(TimeIntegration, NewmarkImpulseEntersWithoutHistory) {
  System s(3, material(2.0, 0.5, 0.0, 0.1));
  s.set(s.x, {1, 2, 3});
  s.set(*s.ti->xPrev, {0, 0, 0});
  s.set(s.f, {0, 0.5, 0});
  s.ti->calcRightSide(true, s.f);
  const double a0 = 250.0 / 3;
  EXPECT_NEAR((*s.ti->acceleration)[0], a0 * 1.0, 1e-11);
  EXPECT_NEAR((*s.ti->acceleration)[1], a0 * 0.5, 1e-11);  // no displacement change
  EXPECT_NEAR((*s.ti->velocity)[1], 0.1 * a0 * 0.5, 1e-12);
  // w = c0 (x + f) + cv v + ca a, times the lumped mass.
  const double w1 = 175.0 * 2.5 + 16.5 * (0.1 * a0 * 0.5) - 1.225 * (a0 * 0.5);
  EXPECT_NEAR(s.b[1], kLumped[1] * w1, 1e-10);
}

// Discrete energy of the Euler pair with E = c |x_n - x_n-1|^2_M / 2 +
// x_n^T K x_n / 2, c = rho/dt^2 + rho d/(2 dt): never grows without loads.
TEST(TimeIntegration, ImplicitEulerEnergyNeverIncreases) {
  for (double damping : {0.0, 0.5, 5.0}) {
    const double rho = 1.5, dt = 0.05;
    const double c = rho / (dt * dt) + rho * damping / (2 * dt);
    System s(0, material(rho, damping, 0.0, dt), 3, 0.5);
    const Dense k0 = s.plainK();
    Dense system = k0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) system[i][j] += c * mass(3, i, j);
    // Start displaced and moving.
    std::vector<double> x = {1.0, -0.5, 0.25}, previous = {0.9, -0.4, 0.3};
    s.set(s.x, x);
    s.set(*s.ti->xPrev, previous);
    auto energy = [&](const std::vector<double>& now, const std::vector<double>& before) {
      std::vector<double> d(3);
      for (int i = 0; i < 3; ++i) d[i] = now[i] - before[i];
      return 0.5 * c * dot(d, s.massTimes(d)) + 0.5 * dot(now, times(k0, now));
    };
    double e = energy(x, previous);
    const double e0 = e;
    for (int step = 0; step < 400; ++step) {
      s.ti->calcRightSide(false, s.f);
      previous = x;
      x = solveDense(system, s.get(s.b));
      s.set(s.x, x);
      const double next = energy(x, previous);
      ASSERT_LE(next, e * (1 + 1e-12)) << "damping " << damping << " step " << step;
      e = next;
    }
    if (damping > 0) {
      EXPECT_LT(e, 0.5 * e0) << damping;
    }
  }
}

// Under a constant load the dynamic schemes come to rest at K x = f.
TEST(TimeIntegration, DynamicSchemesReachTheStaticSolution) {
  const MaterialProperties mat = material(1.0, 2.0, 0.0, 0.25);
  const std::vector<double> load = {0.0, -9.81, -2.0};
  System reference(4, mat, 3, 0.5);
  reference.ti->calcRightSide(false, reference.f);
  std::vector<double> b = reference.get(reference.b);
  for (int i = 0; i < 3; ++i) b[i] += load[i];
  const std::vector<double> xStatic = solveDense(reference.plainK(), b);
  const double scale = std::sqrt(dot(xStatic, xStatic));

  for (int scheme : {0, 1, 2, 3}) {
    System s(scheme, mat, 3, 0.5);
    Dense system(3, std::vector<double>(3));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) system[i][j] = (*s.K)(i, j);
    for (int step = 0; step < 1500; ++step) {
      s.ti->calcRightSide(false, s.f);
      std::vector<double> rhs = s.get(s.b);
      for (int i = 0; i < 3; ++i) rhs[i] += load[i];
      s.set(s.x, solveDense(system, rhs));
    }
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(s.x[i], xStatic[i], 1e-8 * scale) << "scheme " << scheme << " entry " << i;
  }
}

TEST(TimeIntegration, ExplicitStepDividesEachUnknownByItsOwnMass) {
  // A free body (K has the rigid translation as null space) at rest stays.
  System rigid(5, material(2.0, 0.5, 0.0, 0.1), 3, 0.0);
  for (int i = 0; i < 3; ++i) rigid.x[i] = (*rigid.ti->xPrev)[i] = 2.0;
  for (int step = 0; step < 20; ++step) {
    rigid.ti->calcRightSide(false, rigid.f);
    rigid.ti->explicitUpdate(*rigid.K);
  }
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(rigid.x[i], 2.0, 1e-12) << i;

  // A general step against the dense formula; an unknown without mass keeps
  // its previous value.
  System s(5, material(2.0, 0.5, 0.0, 0.1), 3, 1.0);
  s.m[2] = 0.0;
  s.set(s.x, {0.3, -0.1, 0.2});
  s.set(*s.ti->xPrev, {0.25, 0.0, 0.1});
  s.ti->calcRightSide(false, s.f);
  const std::vector<double> b = s.get(s.b), xPrev = s.get(*s.ti->xPrev);
  const std::vector<double> kx = times(s.plainK(), xPrev);
  s.ti->explicitUpdate(*s.K);
  const double c = 2.0 / (0.02 * 0.02) + 2.0 * 0.5 / (2 * 0.02);
  for (int i = 0; i < 2; ++i) expectRelNear(s.x[i], (b[i] - kx[i]) / (c * s.m[i]), 1e-13, "x");
  EXPECT_EQ(s.x[2], xPrev[2]);
}

TEST(TimeIntegration, ForceToLoadUsesTheSchemesMass) {
  const std::vector<double> f = {1.0, -2.0, 0.5};
  for (int scheme : {0, 1, 2, 3, 4, 5}) {
    System s(scheme, material(2.0, 0.5, 0.0, 0.1));
    s.set(s.f, f);
    Vector<double> y(3);
    s.ti->forceToLoad(s.f, y);
    const std::vector<double> mf = s.massTimes(f);
    for (int i = 0; i < 3; ++i) {
      double expected = 0.0;
      if (scheme == 0 || scheme == 2) expected = s.ti->c0 * mf[i];
      if (scheme == 1 || scheme == 3 || scheme == 5) expected = s.ti->c0 * kLumped[i] * f[i];
      expectRelNear(y[i], expected, 1e-14, "scheme " + std::to_string(scheme));
    }
  }
}
