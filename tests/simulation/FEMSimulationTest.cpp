// The finite-element simulation state on generated boxes: gravity loads
// against analytic and per-element volumes, the unknown numbering of the
// queues, reset, the vertex norm, the stress size against the assembled
// stress operator, and freezing forces into the static load.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "Barrier.h"
#include "Capture.h"
#include "FEMSimulation.h"
#include "FiniteElement.h"
#include "LinearModel.h"
#include "MatrixAssembler.h"
#include "SimulationSettings.h"
#include "TestMeshes.h"
#include "TimeIntegration.h"

using zolt::test::captureStdout;

namespace {

using TestSimulation = zolt::test::FEMOnlySimulation;

// A 2 x 1 x 1 box of cubes with edge 0.5 (volume 0.25), refined once; with
// fixFloor the finest vertices at z = 0 are fixed and numbered first. The
// finest elements have their load matrices.
struct Model : zolt::test::LinearModel {
  static constexpr double kVolume = 0.25;
  explicit Model(bool fixFloor, double density = 1024.0)
      : LinearModel(2, 1, 1, 0.5f, 2, fixFloor ? zolt::test::onFloor : nullptr) {
    *settings.material = {1.0, 1.0, density, 0.0, 0.0, 0.0};
    MatrixAssembler a(&elements(), settings.material, static_cast<int>(finestVertices().size()), 3);
    captureStdout([&] { a.generateShapeFunctions(false); });
  }
  std::vector<Vertex*>& finestVertices() { return h->vertices[h->nLevels - 1]; }
  std::vector<FiniteElement*>& elements() { return h->elements[h->nLevels - 1]; }
};

double componentSum(const Vector<double>& v, int k) {
  double s = 0;
  for (int i = k; i < v.n; i += 3) s += v[i];
  return s;
}

// A lumped-mass scheme on the simulation's own vectors, owned by it; the
// masses are 0.25, 0.5, 0.75, 1, 0.25, ...
struct LumpedScheme {
  PackedMatrix<double> M;  // not read by lumped schemes
  Vector<double> lumped;
  FullMatrix<double> K;
  LumpedScheme(FEMSimulation& sim, int scheme, MaterialProperties* material)
      : lumped(sim.displacement->n), K(lumped.n, lumped.n) {
    for (int i = 0; i < lumped.n; ++i) lumped[i] = 0.25 * (1 + i % 4);
    captureStdout([&] {
      sim.integrator = new TimeIntegration(scheme, &M, &lumped, K, sim.displacement.get(),
                                           sim.rightSide.get(), material, 3);
    });
  }
};

}  // namespace

TEST(FEMSimulationGravity, LoadSumsToWeightOfTheBox) {
  struct Row {
    double density;
    float factor;  // every element's density factor
  } rows[] = {{1024.0, 1.0f}, {1024.0, 2.0f}, {0.5, 1.0f}, {1000.0, 1.0f}};
  for (const Row& r : rows) {
    Model m(false, r.density);
    for (FiniteElement* e : m.elements()) e->setDensity(r.factor);
    TestSimulation sim(m.h.get(), &m.settings, 3);
    sim.addGravity();
    const Vector<double>& load = *sim.staticLoad;
    // With a power-of-two density g * rho is exact in single precision.
    const double weight = -9.81 * r.density * Model::kVolume * r.factor;
    const double gRho = static_cast<float>(double(m.settings.gravity[1]) * r.density);
    EXPECT_NEAR(componentSum(load, 1), gRho * Model::kVolume * r.factor, 1e-9 * std::abs(weight))
        << r.density << " " << r.factor;
    EXPECT_NEAR(componentSum(load, 1), weight, 1e-6 * std::abs(weight));
    EXPECT_EQ(componentSum(load, 0), 0.0);
    EXPECT_EQ(componentSum(load, 2), 0.0);
  }
}

// Each free vertex carries a quarter of the weight of every element around
// it; fixed vertices own no entries and take nothing.
TEST(FEMSimulationGravity, FreeVerticesCarryAQuarterOfTheirElements) {
  Model m(true);
  ASSERT_GT(m.settings.fixedCount, 0);
  m.settings.gravity[0] = 1.0f;
  m.settings.gravity[2] = -0.5f;
  const float factors[3] = {1.0f, 3.0f, 0.5f};
  std::vector<double> expected(3 * m.finestVertices().size(), 0.0);
  for (size_t e = 0; e < m.elements().size(); ++e) {
    FiniteElement* el = m.elements()[e];
    el->setDensity(factors[e % 3]);
    const double quarter = zolt::test::restVolume(*el) / 4 * 1024.0 * factors[e % 3];
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 3; ++k)
        expected[3 * el->getVertex(j)->index + k] += quarter * m.settings.gravity[k];
  }
  TestSimulation sim(m.h.get(), &m.settings, 3);
  sim.addGravity();
  const int offset = 3 * m.settings.fixedCount;
  ASSERT_EQ(sim.staticLoad->n, static_cast<int>(expected.size()) - offset);
  for (int i = 0; i < sim.staticLoad->n; ++i)
    EXPECT_NEAR((*sim.staticLoad)[i], expected[i + offset], 1e-9) << i;
}

TEST(FEMSimulationGravity, SwitchingOnAndOff) {
  Model m(false);
  TestSimulation sim(m.h.get(), &m.settings, 3);
  sim.removeGravity();  // nothing built yet: no change
  for (int i = 0; i < sim.staticLoad->n; ++i) ASSERT_EQ((*sim.staticLoad)[i], 0.0);
  sim.addGravity();
  std::vector<double> once(sim.staticLoad->data, sim.staticLoad->data + sim.staticLoad->n);
  m.settings.material->density = 1.0;  // the load is built only once
  sim.addGravity();
  for (int i = 0; i < sim.staticLoad->n; ++i) ASSERT_EQ((*sim.staticLoad)[i], 2 * once[i]);
  sim.removeGravity();
  for (int i = 0; i < sim.staticLoad->n; ++i) ASSERT_EQ((*sim.staticLoad)[i], once[i]);
}

TEST(FEMSimulationQueues, VertexNumbersMapToTheirUnknowns) {
  Model m(true);
  TestSimulation sim(m.h.get(), &m.settings, 3);
  const int fixed = m.settings.fixedCount;
  const int nVertices = static_cast<int>(m.finestVertices().size());
  const double v[3] = {1.0, 2.0, 3.0};
  struct Row {
    int vertex;
    int dof;  // -1: nothing queued
    bool message;
  } rows[] = {{0, -1, false},        {fixed - 1, -1, false},
              {fixed, 0, false},     {nVertices - 1, 3 * (nVertices - 1 - fixed), false},
              {nVertices, -1, true}, {-5, -1, false}};
  for (const Row& r : rows) {
    sim.heldQueue.clear();
    sim.impulseQueue.clear();
    const std::string out = captureStdout([&] {
      sim.addVertexValue(r.vertex, v);
      sim.addVertexValueFlagged(r.vertex, v, false);
    });
    EXPECT_EQ(!out.empty(), r.message) << out;
    for (const ForceQueue* q : {&sim.heldQueue, &sim.impulseQueue}) {
      ASSERT_EQ(q->size(), r.dof < 0 ? 0u : 1u) << r.vertex;
      if (r.dof >= 0) {
        EXPECT_EQ(q->front().dof, static_cast<uint32_t>(r.dof));
      }
    }
  }
  EXPECT_TRUE(sim.impulseQueue.empty() || sim.impulseQueue.front().active == 0);
}

TEST(FEMSimulationState, ResetClearsStateAndKeepsRightSideAndForces) {
  Model m(true);
  auto sim = std::make_unique<TestSimulation>(m.h.get(), &m.settings, 3);
  LumpedScheme scheme(*sim, 3, m.settings.material);  // Newmark
  const float centre[3] = {0.0f, 1.0f, 0.0f};
  auto* sphere = new SphereBarrier(centre, 0.5f);  // owned by the settings
  m.settings.barrier = sphere;
  sphere->setMoving(0.25f, 0.0f, 0.0f);
  sphere->move();
  const double v[3] = {1, 1, 1};
  sim->addGravity();
  sim->addVertexValue(m.settings.fixedCount, v);
  sim->addVertexValueFlagged(m.settings.fixedCount, v, true);
  for (Vector<double>* w :
       {sim->displacement.get(), sim->previousForces.get(), sim->rightSide.get(), sim->forces.get(),
        sim->integrator->xPrev.get(), sim->integrator->velocity.get(),
        sim->integrator->acceleration.get(), sim->integrator->previousAcceleration.get()})
    std::fill(w->data, w->data + w->n, 0.5);
  sim->resetState();
  auto all = [](const Vector<double>& w, double value) {
    return std::all_of(w.data, w.data + w.n, [&](double e) { return e == value; });
  };
  for (Vector<double>* w : {sim->displacement.get(), sim->staticLoad.get(),
                            sim->previousForces.get(), sim->integrator->xPrev.get(),
                            sim->integrator->velocity.get(), sim->integrator->acceleration.get()})
    EXPECT_TRUE(all(*w, 0.0));
  for (Vector<double>* w :
       {sim->rightSide.get(), sim->forces.get(), sim->integrator->previousAcceleration.get()})
    EXPECT_TRUE(all(*w, 0.5));
  EXPECT_TRUE(sim->heldQueue.empty());
  EXPECT_TRUE(sim->impulseQueue.empty());
  EXPECT_EQ(sphere->centre[0], 0.0f);  // the barrier is back where it started
  // Gravity that was on is gone from the static load but stays built.
  sim->addGravity();
  EXPECT_LT(componentSum(*sim->staticLoad, 1), 0.0);
  sim.reset();  // the scheme goes with the simulation (checked by the sanitizer build)
}

TEST(FEMSimulationState, MaxVertexNorm) {
  Model m(false);
  TestSimulation sim(m.h.get(), &m.settings, 3);
  EXPECT_EQ(sim.maxVertexNorm(), 0.0);
  Vector<double>& x = *sim.displacement;
  x[0] = 3.0;  // (3, 4, 0): 5
  x[1] = 4.0;
  x[x.n - 1] = -6.0;  // the last vertex: 6
  x[x.n - 5] = 5.5;   // one component of the last but one
  EXPECT_DOUBLE_EQ(sim.maxVertexNorm(), 6.0);

  // One vertex past the range of the squares (about 1.3e154), against
  // closed forms; a norm past the largest double breaks the state.
  const double inf = HUGE_VAL, nan = std::nan("");
  const struct {
    int dim;
    double u[3], norm;
  } rows[] = {
      {3, {3e200, -4e200, 0.0}, 5e200},
      {3, {1e300, 1e300, 1e300}, std::sqrt(3.0) * 1e300},
      {3, {0.0, 2e154, 2e154}, std::sqrt(2.0) * 2e154},
      {2, {-6e250, 8e250}, 1e251},
      {3, {1.5e308, 1.5e308, 1.5e308}, inf},  // sqrt(3) 1.5e308 is past 1.8e308
      {2, {1.7e308, 1.7e308}, inf},
      {3, {-inf, 1.0, 0.0}, inf},
      {3, {1e200, inf, nan}, nan},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.dim << ": " << r.u[0] << " " << r.u[1] << " " << r.u[2]);
    TestSimulation s(m.h.get(), &m.settings, static_cast<uint8_t>(r.dim));
    for (int k = 0; k < r.dim; ++k) (*s.displacement)[r.dim + k] = r.u[k];  // the second vertex
    const double norm = s.maxVertexNorm();
    if (std::isfinite(r.norm))
      EXPECT_NEAR(norm, r.norm, 1e-15 * r.norm);
    else
      EXPECT_EQ(std::isnan(norm), std::isnan(r.norm)) << norm;
    EXPECT_EQ(s.stateFinite(), std::isfinite(r.norm)) << norm;
  }
}

TEST(FEMSimulationState, StressHasOneEntryPerRowOfTheStressOperator) {
  Model m(true);
  const int nVertices = static_cast<int>(m.finestVertices().size());
  MatrixAssembler a(&m.elements(), m.settings.material, nVertices, 3);
  captureStdout([&] { a.assemble(0, 3 * m.settings.fixedCount, nullptr, false); });
  std::unique_ptr<BlockMatrix<double, 3>> K(a.K3);
  std::unique_ptr<PackedMatrix<double>> M(a.M), S(a.S);
  std::unique_ptr<Vector<double>> lumped(a.lumpedMass);
  TestSimulation sim(m.h.get(), &m.settings, 3);
  EXPECT_EQ(sim.stress->n, S->nRow);
  EXPECT_EQ(sim.displacement->n, S->nCol);
  EXPECT_EQ(sim.displacement->n, K->nRow);
  S->mult(*sim.displacement, *sim.stress);  // stays inside the vector (sanitizer build)
}

TEST(FEMSimulationState, MoreFixedThanExistingVerticesGivesNoUnknowns) {
  Model m(false);
  m.settings.fixedCount = 1000;
  std::unique_ptr<TestSimulation> sim;
  const std::string out =
      captureStdout([&] { sim = std::make_unique<TestSimulation>(m.h.get(), &m.settings, 3); });
  EXPECT_EQ(out.rfind("[FEMSimulation, FEMSimulation] Error: ", 0), 0u) << out;
  EXPECT_EQ(sim->nFree, 0);
  EXPECT_EQ(sim->displacement->n, 0);
  sim->addGravity();
  EXPECT_EQ(sim->maxVertexNorm(), 0.0);
}

TEST(FEMSimulationFreeze, PendingForcesBecomeStaticLoad) {
  Model m(true);
  TestSimulation sim(m.h.get(), &m.settings, 3);
  const int n = sim.displacement->n;
  m.settings.material->timeStep = 0.5;
  m.settings.material->density = 2.0;
  LumpedScheme scheme(sim, 1, m.settings.material);
  const double c0 = 2 * 2.0 / 0.25;

  // Empty queues: b becomes 0 and nothing is added.
  std::fill(sim.rightSide->data, sim.rightSide->data + n, 3.0);
  sim.freezeForces();
  for (int i = 0; i < n; ++i) ASSERT_EQ((*sim.rightSide)[i], 0.0);
  for (int i = 0; i < n; ++i) ASSERT_EQ((*sim.staticLoad)[i], 0.0);

  // The force vector as it stands (lumped load) and the held force at its
  // current ramp weight.
  const double push[3] = {1.0, -2.0, 4.0};
  m.settings.forceNorm = 2.0f;
  sim.addVertexValue(m.settings.fixedCount + 1, push);  // unknowns 3..5, weight 2/70
  sim.addVertexValueFlagged(m.settings.fixedCount, push, true);
  (*sim.forces)[0] = 8.0;
  sim.freezeForces();
  for (int i = 0; i < n; ++i) {
    double expected = i == 0 ? 8.0 * scheme.lumped[0] * c0 : 0.0;
    if (i >= 3 && i < 6) expected += 2.0 / 70.0 * push[i - 3];
    EXPECT_NEAR((*sim.staticLoad)[i], expected, 1e-6) << i;
  }
  EXPECT_TRUE(sim.heldQueue.empty());
  EXPECT_TRUE(sim.impulseQueue.empty());

  // Without a scheme the impulses give no load.
  TestSimulation bare(m.h.get(), &m.settings, 3);
  bare.addVertexValueFlagged(m.settings.fixedCount, push, false);
  (*bare.forces)[0] = 8.0;
  bare.freezeForces();
  EXPECT_TRUE(std::all_of(bare.staticLoad->data, bare.staticLoad->data + n,
                          [](double v) { return v == 0.0; }));
}
