// Time integration on hand-built matrices: coefficients against values
// worked out by hand, right-hand sides against dense references, discrete
// energy, exact constant-acceleration motion for Newmark, and convergence of
// the dynamic schemes to the static solution, with dense solves done here.

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
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

namespace {

using Vec = std::vector<double>;
using Dense = std::vector<Vec>;

const double kLumped[3] = {1.0, 2.0, 0.5};

// Path Laplacian plus shift * I: the constant vector is its null space for
// shift 0. The mass is tridiagonal and positive definite.
Dense stiffness(int n, double shift) {
  Dense k(n, Vec(n, 0.0));
  for (int i = 0; i < n; ++i) {
    k[i][i] = (i == 0 || i == n - 1 ? 1.0 : 2.0) + shift;
    if (i > 0) k[i][i - 1] = k[i - 1][i] = -1.0;
  }
  return k;
}
Dense mass(int n) {
  Dense m(n, Vec(n, 0.0));
  for (int i = 0; i < n; ++i) {
    m[i][i] = i == n - 1 ? 1.0 : 2.0;
    if (i > 0) m[i][i - 1] = m[i - 1][i] = 0.5;
  }
  return m;
}
Vec times(const Dense& A, const Vec& v) {
  Vec y(v.size(), 0.0);
  for (size_t i = 0; i < v.size(); ++i)
    for (size_t j = 0; j < v.size(); ++j) y[i] += A[i][j] * v[j];
  return y;
}
double dot(const Vec& a, const Vec& b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

// Gaussian elimination with partial pivoting.
Vec solveDense(Dense A, Vec r) {
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
  Vec x(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = r[i];
    for (int j = i + 1; j < n; ++j) s -= A[i][j] * x[j];
    x[i] = s / A[i][i];
  }
  return x;
}

MaterialProperties material(double rho, double damping, double friction, double dt) {
  MaterialProperties m;
  m.density = rho;
  m.damping = damping;
  m.friction = friction;
  m.timeStep = dt;
  return m;
}

void expectRelNear(double got, double expected, double rel, const std::string& what) {
  EXPECT_NEAR(got, expected, rel * std::max(1.0, std::abs(expected))) << what;
}

// n unknowns; K is one 3x3 block for n = 3 (the simulation's kind), else dense.
struct System {
  int n;
  Dense k0, m0;
  MaterialProperties mat;
  std::unique_ptr<Matrix<double>> K;
  std::unique_ptr<PackedMatrix<double>> M;
  Vector<double> m, x, b, f;
  std::unique_ptr<TimeIntegration> ti;
  std::string printed, warned;  // standard output and error of the constructor

  System(int scheme, const MaterialProperties& material, int size = 3, double shift = 2.0,
         uint8_t dim = 3)
      : n(size), k0(stiffness(n, shift)), m0(mass(n)), mat(material), m(n), x(n), b(n), f(n) {
    if (n == 3) {
      auto blocks = std::make_unique<BlockMatrix<double, 3>>(3, 3);
      double v[9];
      for (int q = 0; q < 9; ++q) v[q] = k0[q / 3][q % 3];
      blocks->addElemBlock(0, 0, v);
      blocks->buildDataStructs();
      K = std::move(blocks);
    } else {
      K = std::make_unique<FullMatrix<double>>(n, n);
    }
    SparseMatrix<double> s(n, n);
    for (int i = 0; i < n; ++i) {
      m[i] = kLumped[i % 3];
      for (int j = 0; j < n; ++j) {
        if (n != 3) K->setElem(i, j, k0[i][j]);
        if (m0[i][j] != 0.0) s.setElem(i, j, m0[i][j]);
      }
    }
    M = std::make_unique<PackedMatrix<double>>(s);
    warned = zolt::test::captureStderr([&] {
      printed = zolt::test::captureStdout([&] {
        ti = std::make_unique<TimeIntegration>(scheme, M.get(), &m, *K, &x, &b, &mat, dim);
      });
    });
  }
  static void set(Vector<double>& v, const Vec& values) {
    for (int i = 0; i < v.n; ++i) v[i] = values[i];
  }
  static Vec get(const Vector<double>& v) { return {v.data, v.data + v.n}; }
};

}  // namespace

// rho 2, damping 0.5, friction 0.3, time step 0.1; beta 1.2, gamma 1.
TEST(TimeIntegration, CoefficientsOfEverySchemeAndTheirTermsInK) {
  struct Row {
    int scheme;
    const char* message;
    double kTerm;  // added to K, times M (consistent) or diag(m) (lumped)
    bool lumped;
    Vec coefficients;  // c0 c1 cv ca a0 a2 a3 a6 a7; unset ones stay 0
    bool implicit, newmarkVectors;
    double timeStepAfter;
  } rows[] = {
      {0,
       "Initialize Euler time integration scheme ....\n",
       205.0,
       false,
       {400.0, -195.0, 0, 0, 0, 0, 0, 0, 0},
       true,
       false,
       0.1},
      {1,
       "Initialize Euler time integration scheme with lumped mass matrix ...\n",
       205.0,
       true,
       {400.0, -195.0, 0, 0, 0, 0, 0, 0, 0},
       true,
       false,
       0.1},
      {2,
       "Initialize Newmark time integration scheme ....\n",
       175.0,
       false,
       {175.0, 0, 16.5, -1.225, 250.0 / 3, 25.0 / 3, -7.0 / 12, 0.0, 0.1},
       true,
       true,
       0.1},
      {3,
       "Initialize Newmark time integration scheme with lumped mass matrix ....\n",
       175.0,
       true,
       {175.0, 0, 16.5, -1.225, 250.0 / 3, 25.0 / 3, -7.0 / 12, 0.0, 0.1},
       true,
       true,
       0.1},
      {4, "", 0.0, false, Vec(9, 0.0), true, false, 0.1},
      {5,
       "Initialize explizit Euler time integration scheme with lumped mass matrix ...\n",
       0.0,
       true,
       {10000.0, -4975.0, 0, 0, -1.0 / 5025, 0, 0, 0, 0},
       false,
       false,
       0.02},
      {7, "", 0.0, false, Vec(9, 0.0), true, false, 0.1},
  };
  const Vec f = {1.0, -2.0, 0.5};
  for (const Row& r : rows) {
    const std::string id = "scheme " + std::to_string(r.scheme);
    System s(r.scheme, material(2.0, 0.5, 0.3, 0.1));
    const TimeIntegration& t = *s.ti;
    EXPECT_EQ(s.printed, r.message) << id;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const double term = r.lumped ? (i == j ? kLumped[i] : 0.0) : s.m0[i][j];
        expectRelNear((*s.K)(i, j), s.k0[i][j] + r.kTerm * term, 1e-13, id + " K");
      }
    const double got[9] = {t.c0, t.c1, t.cv, t.ca, t.a0, t.a2, t.a3, t.a6, t.a7};
    for (int c = 0; c < 9; ++c) expectRelNear(got[c], r.coefficients[c], 1e-13, id);
    // (friction - damping) rho / configured time step / (3 / 3).
    expectRelNear(t.frictionFactor, -4.0, 1e-13, id + " friction");
    EXPECT_EQ(t.implicit, r.implicit) << id;
    EXPECT_EQ(t.velocity && t.acceleration && t.previousAcceleration, r.newmarkVectors) << id;
    EXPECT_DOUBLE_EQ(s.mat.timeStep, r.timeStepAfter) << id;
    // Loads of a force vector: c0 M f, c0 m_i f_i, or none.
    System::set(s.f, f);
    Vector<double> y(3);
    t.forceToLoad(s.f, y);
    const Vec mf = times(s.m0, f);
    for (int i = 0; i < 3; ++i) {
      const bool none = r.scheme == 4 || r.scheme == 7;
      const double load = r.lumped ? kLumped[i] * f[i] : mf[i];
      expectRelNear(y[i], none ? 0.0 : r.coefficients[0] * load, 1e-13, id + " load");
    }
  }
}

TEST(TimeIntegration, OnlySchemesZeroToFiveAreAccepted) {
  System s(4, material(1, 0, 0, 0.1));
  for (int scheme : {-1, 0, 3, 5, 6, 7}) {
    const bool accepted = scheme >= 0 && scheme <= 5;
    TimeIntegration* created = nullptr;
    const std::string out = zolt::test::captureStdout([&] {
      created = TimeIntegration::create(scheme, s.M.get(), &s.m, *s.K, &s.x, &s.b, &s.mat, 3);
    });
    EXPECT_EQ(created != nullptr, accepted) << scheme;
    const std::string error = "[TimeIntegration, checkScheme] Error: Unknown integration scheme ";
    EXPECT_EQ(out.rfind(error + std::to_string(scheme), 0) == 0, !accepted) << out;
    delete created;
  }
}

// Euler pair: w = c1 xPrev' + c0 (x + f), xPrev' = x where f != 0; b = M w
// or m_i w_i. Static: b = 0 whatever the forces.
TEST(TimeIntegration, RightSideCases) {
  const double c0 = 400.0, c1 = -195.0;
  struct Row {
    const char* name;
    int scheme;
    Vec x, xPrev, forces;
    bool useForces;
  } rows[] = {
      {"euler at rest", 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, false},
      {"eulerlump from rest to one", 1, {1, 1, 1}, {0, 0, 0}, {0, 0, 0}, false},
      {"euler with history", 0, {1, -2, 3}, {0.5, 0.25, -1}, {0, 0, 0}, false},
      {"eulerlump impulse", 1, {1, 2, 3}, {0.5, 0.5, 0.5}, {0, 4, 0}, true},
      {"eulerlump impulse not rebuilt", 1, {1, 2, 3}, {0.5, 0.5, 0.5}, {0, 4, 0}, false},
      {"euler impulse", 0, {1, 2, 3}, {0.5, 0.5, 0.5}, {-1, 0, 2}, true},
      {"static", 4, {1, 2, 3}, {0.5, 0.5, 0.5}, {5, 5, 5}, true},
  };
  for (const Row& r : rows) {
    System s(r.scheme, material(2.0, 0.5, 0.0, 0.1));
    System::set(s.x, r.x);
    System::set(*s.ti->xPrev, r.xPrev);
    System::set(s.f, r.forces);
    System::set(s.b, {7, 7, 7});
    s.ti->calcRightSide(r.useForces, s.f);
    Vec w(3);
    for (int i = 0; i < 3; ++i) {
      const bool pushed = r.useForces && r.forces[i] != 0.0;
      w[i] = c1 * (pushed ? r.x[i] : r.xPrev[i]) + c0 * (r.x[i] + (r.useForces ? r.forces[i] : 0));
    }
    Vec expected = times(s.m0, w);
    for (int i = 0; i < 3; ++i) {
      if (r.scheme == 1) expected[i] = kLumped[i] * w[i];
      if (r.scheme == 4) expected[i] = 0.0;
      expectRelNear(s.b[i], expected[i], 1e-14, r.name);
      EXPECT_TRUE(r.scheme == 4 || (*s.ti->xPrev)[i] == r.x[i]) << r.name;
    }
  }
}

// Per axis: (friction - damping) rho / dt times the summed displacement
// change of the axis, divided by n / 3 whatever dim is.
TEST(TimeIntegration, FrictionOffsets) {
  struct Row {
    const char* name;
    uint8_t dim;
    double friction;
    Vec offsets;
  } rows[] = {
      {"friction equals damping", 3, 0.5, {0, 0, 0}},
      {"three dimensions", 3, 1.5, {50, 60, -10}},  // 10 per unit of change
      {"two dimensions", 2, 1.5, {80, 20}},
  };
  const Vec x = {1, 2, 3, 4, 5, 6}, xPrev = {0, 1, 1, 0, 0, 9};
  for (const Row& r : rows) {
    System s(1, material(2.0, 0.5, r.friction, 0.1), 6, 2.0, r.dim);
    System::set(s.x, x);
    System::set(*s.ti->xPrev, xPrev);
    s.ti->calcRightSide(false, s.f);
    for (int k = 0; k < r.dim; ++k) EXPECT_NEAR(s.ti->frictionOffset[k], r.offsets[k], 1e-12);
    for (int i = 0; i < 6; ++i) {
      const double w = -195.0 * xPrev[i] + 400.0 * x[i] - r.offsets[i % r.dim];
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
      }
    }
  }
}

TEST(TimeIntegration, NewmarkImpulseEntersWithoutHistory) {
  System s(3, material(2.0, 0.5, 0.0, 0.1));
  System::set(s.x, {1, 2, 3});
  System::set(s.f, {0, 0.5, 0});
  s.ti->calcRightSide(true, s.f);
  const double a0 = 250.0 / 3;
  EXPECT_NEAR((*s.ti->acceleration)[0], a0 * 1.0, 1e-11);
  EXPECT_NEAR((*s.ti->acceleration)[1], a0 * 0.5, 1e-11);  // no displacement change
  // w = c0 (x + f) + cv v + ca a with v = dt a, times the lumped mass.
  const double w1 = 175.0 * 2.5 + 16.5 * (0.1 * a0 * 0.5) - 1.225 * (a0 * 0.5);
  EXPECT_NEAR(s.b[1], kLumped[1] * w1, 1e-10);
}

// E = c |x_n - x_n-1|^2_M / 2 + x_n^T K x_n / 2 with c = rho/dt^2 +
// rho d/(2 dt) never grows for the Euler pair without loads.
TEST(TimeIntegration, ImplicitEulerEnergyNeverIncreases) {
  for (double damping : {0.0, 0.5, 5.0}) {
    const double rho = 1.5, dt = 0.05;
    const double c = rho / (dt * dt) + rho * damping / (2 * dt);
    System s(0, material(rho, damping, 0.0, dt), 3, 0.5);
    Dense system = s.k0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) system[i][j] += c * s.m0[i][j];
    Vec x = {1.0, -0.5, 0.25}, previous = {0.9, -0.4, 0.3};  // displaced and moving
    System::set(s.x, x);
    System::set(*s.ti->xPrev, previous);
    auto energy = [&] {
      Vec d(3);
      for (int i = 0; i < 3; ++i) d[i] = x[i] - previous[i];
      return 0.5 * c * dot(d, times(s.m0, d)) + 0.5 * dot(x, times(s.k0, x));
    };
    const double e0 = energy();
    double e = e0;
    for (int step = 0; step < 400; ++step) {
      s.ti->calcRightSide(false, s.f);
      previous = x;
      x = solveDense(system, System::get(s.b));
      System::set(s.x, x);
      const double next = energy();
      ASSERT_LE(next, e * (1 + 1e-12)) << "damping " << damping << " step " << step;
      e = next;
    }
    EXPECT_TRUE(damping == 0.0 || e < 0.5 * e0) << damping;
  }
}

// Under a constant load the dynamic schemes come to rest at K x = f, the
// solution of the static scheme.
TEST(TimeIntegration, DynamicSchemesReachTheStaticSolution) {
  const MaterialProperties mat = material(1.0, 2.0, 0.0, 0.25);
  const Vec load = {0.0, -9.81, -2.0};
  System reference(4, mat, 3, 0.5);
  reference.ti->calcRightSide(false, reference.f);
  Vec b = System::get(reference.b);
  for (int i = 0; i < 3; ++i) b[i] += load[i];
  const Vec xStatic = solveDense(reference.k0, b);
  const double scale = std::sqrt(dot(xStatic, xStatic));

  for (int scheme : {0, 1, 2, 3}) {
    System s(scheme, mat, 3, 0.5);
    Dense system(3, Vec(3));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) system[i][j] = (*s.K)(i, j);
    for (int step = 0; step < 1500; ++step) {
      s.ti->calcRightSide(false, s.f);
      Vec rhs = System::get(s.b);
      for (int i = 0; i < 3; ++i) rhs[i] += load[i];
      System::set(s.x, solveDense(system, rhs));
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
  System::set(s.x, {0.3, -0.1, 0.2});
  System::set(*s.ti->xPrev, {0.25, 0.0, 0.1});
  s.ti->calcRightSide(false, s.f);
  const Vec b = System::get(s.b), xPrev = System::get(*s.ti->xPrev);
  const Vec kx = times(s.k0, xPrev);
  s.ti->explicitUpdate(*s.K);
  const double c = 2.0 / (0.02 * 0.02) + 2.0 * 0.5 / (2 * 0.02);
  for (int i = 0; i < 2; ++i) expectRelNear(s.x[i], (b[i] - kx[i]) / (c * s.m[i]), 1e-13, "x");
  EXPECT_EQ(s.x[2], xPrev[2]);
}

// The friction bound against the motion itself: a free body that moves
// comes to rest a little below the bound and runs away a little above it,
// for every scheme that applies friction (dense solves of the scheme's K).
TEST(TimeIntegration, FrictionBoundSeparatesDecayFromGrowth) {
  const double dt = 0.05;
  for (int scheme : {0, 1, 2, 3, 5})
    for (double damping : {0.5, 5.0})
      for (double side : {0.98, 1.02}) {
        SCOPED_TRACE(testing::Message()
                     << "scheme " << scheme << " damping " << damping << " at " << side);
        const double limit = TimeIntegration::maxFriction(scheme, damping, dt);
        System s(scheme, material(1.5, damping, damping + side * (limit - damping), dt), 3, 0.0);
        Dense system(3, Vec(3));
        for (int q = 0; q < 9; ++q) system[q / 3][q % 3] = (*s.K)(q / 3, q % 3);
        System::set(s.x, {0.01, 0.01, 0.01});  // moving along the free translation
        double change = 0.0;
        for (int step = 0; step < 2000 && std::isfinite(s.x[0]); ++step) {
          const double before = s.x[0];
          s.ti->calcRightSide(false, s.f);
          if (scheme == 5)
            s.ti->explicitUpdate(*s.K);
          else
            System::set(s.x, solveDense(system, System::get(s.b)));
          change = std::abs(s.x[0] - before);
        }
        if (side < 1.0)
          EXPECT_LT(change, 1e-6);
        else
          EXPECT_FALSE(change < 1.0);  // also true for NaN
      }
}

// The explicit scheme's stability limit against a dense generalized
// eigenvalue solve of K v = lambda m v: from a displaced state at rest that
// holds every mode, steps 2% below it stay bounded and steps 2% above grow,
// with and without damping; only the latter warn, naming the limit.
TEST(TimeIntegration, ExplicitLimitSeparatesBoundedFromGrowingSteps) {
  const double rho = 1.5;
  const struct {
    int n;
    double shift, damping;
  } rows[] = {{3, 2.0, 0.0}, {3, 0.0, 0.5}, {40, 0.0, 0.0}, {40, 0.5, 5.0}, {200, 0.1, 0.5}};
  for (const auto& r : rows)
    for (double side : {0.98, 1.02}) {
      SCOPED_TRACE(testing::Message() << r.n << " unknowns, shift " << r.shift << ", damping "
                                      << r.damping << ", at " << side);
      const Dense k = stiffness(r.n, r.shift);
      Eigen::MatrixXd K(r.n, r.n), M = Eigen::MatrixXd::Zero(r.n, r.n);
      for (int i = 0; i < r.n; ++i) {
        M(i, i) = kLumped[i % 3];
        for (int j = 0; j < r.n; ++j) K(i, j) = k[i][j];
      }
      const double lambda =
          Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::MatrixXd>(K, M).eigenvalues().maxCoeff();
      const double limit = 2.0 * std::sqrt(rho / lambda);
      // The scheme steps a fifth of the configured time step.
      System s(5, material(rho, r.damping, 0.0, side * limit / 0.2), r.n, r.shift);
      const size_t at = s.warned.find("above its stability limit ");
      EXPECT_EQ(at != std::string::npos, side > 1.0) << s.warned;
      if (at != std::string::npos) {
        EXPECT_NEAR(std::stod(s.warned.substr(at + 26)), limit, 1e-4 * limit) << s.warned;
      }

      for (int i = 0; i < r.n; ++i) s.x[i] = (*s.ti->xPrev)[i] = std::sin(1.7 * i + 0.3);
      double largest = 0.0;
      for (int step = 0; step < 3000 && std::isfinite(largest); ++step) {
        s.ti->calcRightSide(false, s.f);
        s.ti->explicitUpdate(*s.K);
        for (int i = 0; i < r.n; ++i) largest = std::max(largest, std::abs(s.x[i]));
      }
      if (side < 1.0) {
        EXPECT_LT(largest, 20.0);
      } else {
        EXPECT_FALSE(largest < 1e6);  // also true for NaN
      }
    }
}
