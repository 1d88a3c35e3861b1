// The time step and its solvers against physics: a tension patch test whose
// exact solution every solver must reach, extra solves bounded by the pass
// count with the residual of the final right-hand side, and implicit Euler
// bounded by the static solution at a time step far above the first period.

#include <gtest/gtest.h>

#include <cmath>

#include "FiniteElement.h"
#include "Iteration.h"
#include "LinearModel.h"
#include "Multigrid.h"
#include "TimeIntegration.h"

using namespace zolt::test;

namespace {

constexpr int kStatic = static_cast<int>(IntegrationScheme::Static);

bool atRoot(const float* p) { return p[0] == 0.0f; }

// A 1 x 0.25 x 0.25 bar along x, clamped at x = 0, Poisson ratio 0.
struct Bar : LinearModel {
  static constexpr double kE = 1e6, kSigma = 1000.0;
  Bar() : LinearModel(4, 1, 1, 0.25f, 2, atRoot) {
    settings.material->lambda = 0.0;
    settings.material->mu = kE / 2;
  }

  // Consistent nodal loads of the traction sigma on the face x = 1: a third
  // of each boundary triangle's force on each of its corners.
  void pullEnd(FEMSimulation& sim) {
    for (const FiniteElement* e : h->elements[h->nLevels - 1]) {
      std::vector<const Vertex*> face;
      for (int j = 0; j < 4; ++j)
        if (e->getVertex(j)->restPosition[0] == 1.0f) face.push_back(e->getVertex(j));
      if (face.size() != 3) continue;
      const float *a = face[0]->restPosition, *b = face[1]->restPosition,
                  *c = face[2]->restPosition;
      const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
      const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
      const double area = 0.5 * std::fabs(u[1] * v[2] - u[2] * v[1]);
      for (const Vertex* p : face)
        (*sim.staticLoad)[3 * (p->index - settings.fixedCount)] += kSigma * area / 3;
    }
  }

  // Largest deviation from the exact field u = (sigma x / E, 0, 0).
  double error(const FEMSimulation& sim) {
    double worst = 0.0;
    for (const Vertex* p : finest()) {
      const int i = p->index - settings.fixedCount;
      if (i < 0) continue;
      const double exact[3] = {kSigma * p->restPosition[0] / kE, 0.0, 0.0};
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::fabs((*sim.displacement)[3 * i + k] - exact[k]));
    }
    return worst;
  }
};

}  // namespace

TEST(LinSolver, EverySolverReachesThePatchTestSolution) {
  const double tip = Bar::kSigma / Bar::kE;  // sigma L / E
  struct Row {
    int kind;
    const char* message;
    int steps;  // most steps to convergence
    double tolerance;
  } rows[] = {
      {2, "Solving LGS  with Matrix-Pre-Inversion\n", 1, 1e-9},
      {0, "Solving LGS  with Multigrid Approach\n", 200, 1e-7},
      {1, "Solving LGS  with Conjugate Gradient Method (Diagonal Preconditioner)\n", 5, 1e-7},
      // One preconditioned step per solve, from the last cycle's start value.
      {3, "Solving LGS  with Conjugate Gradient Method (Multigrid Preconditioner)\n", 200, 1e-6},
      {7, "", 200, 1e-7},  // no solver object: the V-cycle
  };
  for (const Row& r : rows) {
    Bar bar;
    auto sim = bar.load(true, kStatic);
    sim->setSolver(3);  // replaced by the row's choice
    // The message line comes first; inverting and coarsening print after it.
    const std::string out = captureStdout([&] { sim->setSolver(r.kind); });
    EXPECT_EQ(*r.message ? out.substr(0, out.find('\n') + 1) : out, r.message);
    EXPECT_EQ(sim->solver == nullptr, r.kind == 0 || r.kind == 7) << r.kind;
    if (r.kind != 2) sim->setSolverParameters(1e-10f, 1, 1);
    bar.pullEnd(*sim);
    for (int s = 0; s < r.steps && bar.error(*sim) > r.tolerance * tip; ++s)
      sim->computeStep(false, false, 0, false);
    EXPECT_LE(bar.error(*sim), r.tolerance * tip) << r.kind;
  }
}

TEST(LinSolver, DenseInverseThatDoesNotFitIsRefused) {
  Bar bar;
  auto sim = bar.load(true, kStatic);
  auto saved = LinSimulation::availableMemory;
  LinSimulation::availableMemory = [] { return uint64_t(1) << 20; };
  const std::string out = captureStdout([&] { sim->setSolver(2); });
  LinSimulation::availableMemory = saved;
  EXPECT_EQ(out.rfind("[LinSimulation, setSolver] Error: ", 0), 0u) << out;
  EXPECT_EQ(sim->solver, nullptr);
  bar.pullEnd(*sim);
  sim->computeStep(false, false, 0, false);  // the V-cycle still solves
  EXPECT_GT((*sim->displacement)[sim->displacement->n - 3], 0.0);
}

namespace {

// Counts solves; each solve throws the far top corner back through the bar,
// so that every solve leaves an inverted element, or leaves x alone.
class InvertingSolver : public Iteration<double> {
 public:
  int solves = 0;
  bool invert;
  int dof;
  InvertingSolver(LinSimulation& sim, int dof, bool invert)
      : Iteration<double>(*sim.K, *sim.rightSide, *sim.displacement, 0, 0.0),
        invert(invert),
        dof(dof) {}
  void solve() override {
    ++solves;
    if (invert) (*x)[dof] = -3.0;
  }
};

}  // namespace

TEST(LinSolver, ExtraPassesAreBoundedAndTheResidualUsesTheFinalRightSide) {
  struct Row {
    int passes;
    bool inverts;
    int solves;
  } rows[] = {{0, true, 1}, {1, true, 2}, {3, true, 4}, {-2, true, 1}, {3, false, 1}};
  for (const Row& r : rows) {
    Bar bar;
    auto sim = bar.load(true, static_cast<int>(IntegrationScheme::EulerLump));
    auto* counter = new InvertingSolver(*sim, sim->displacement->n - 3, r.inverts);
    sim->solver.reset(counter);
    sim->addGravity();
    sim->computeStep(false, true, r.passes, false);
    EXPECT_EQ(counter->solves, r.solves) << r.passes << " " << r.inverts;
    Vector<double> Kx(sim->K->nRow);
    sim->K->mult(*sim->displacement, Kx);
    for (int i = 0; i < Kx.n; ++i)
      ASSERT_NEAR((*sim->residual)[i], (*sim->rightSide)[i] - Kx[i],
                  1e-9 * (std::fabs(Kx[i]) + 1.0))
          << r.passes << " " << i;
  }
}

// A time step far above the first period: implicit Euler with one V-cycle
// per step stays finite and never swings beyond the static sag.
TEST(LinSolver, ImplicitEulerIsBoundedAtALargeTimeStep) {
  auto stiff = [](LinearModel& m) {
    m.settings.material->lambda = 4e7;
    m.settings.material->mu = 3e7;
    m.settings.material->damping = 0.0;
    m.settings.material->timeStep = 1.0;
  };
  LinearModel still(4, 1, 1, 0.25f, 2, atRoot);
  stiff(still);
  auto statics = still.load(true, kStatic);
  captureStdout([&] { statics->setSolver(2); });
  statics->addGravity();
  statics->computeStep(false, false, 0, false);
  const double sag = statics->maxVertexNorm();
  ASSERT_GT(sag, 0.0);

  LinearModel swinging(4, 1, 1, 0.25f, 2, atRoot);
  stiff(swinging);
  auto sim = swinging.load(true, static_cast<int>(IntegrationScheme::Euler));
  sim->addGravity();
  double largest = 0.0;
  for (int s = 0; s < 500; ++s) {
    sim->computeStep(false, false, 0, false);
    const double n = sim->maxVertexNorm();
    ASSERT_TRUE(std::isfinite(n)) << s;
    largest = std::max(largest, n);
  }
  EXPECT_LE(largest, 1.05 * sag);
  EXPECT_NEAR(sim->maxVertexNorm(), sag, 1e-3 * sag);
}
