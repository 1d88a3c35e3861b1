// Set-up of the linear simulation: both caches round trip bit for bit, a
// stale or damaged cache is rebuilt, the assembled operators obey rigid-body
// and mass laws, and pinning a vertex holds it while the coarse levels stay
// the Galerkin products of the pinned operator.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>

#include "BlockMatrix.h"
#include "FiniteElement.h"
#include "LinearModel.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "TimeIntegration.h"

using namespace zolt::test;

namespace {

bool onFloor(const float* p) { return p[2] == 0.0f; }

BlockMatrix<double, 3>& block(Matrix<double>& A) {
  return dynamic_cast<BlockMatrix<double, 3>&>(A);
}

// Records compare bit for bit through their own writer.
std::string record(const Matrix<double>& A) {
  std::ostringstream s;
  A.writeToFile(s);
  return s.str();
}

std::string record(const Vector<double>& v) {
  std::ostringstream s;
  v.writeToFile(s);
  return s.str();
}

std::string coarseInverse(const LinSimulation& sim) {
  std::ostringstream s;
  sim.multigrid->coarse->writeToFile(s);
  return s.str();
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

bool generatedAnything(const std::string& output) {
  return contains(output, "  Generating K") || contains(output, "Generating Matrix Hierarchy");
}

}  // namespace

TEST(LinSimulationCache, ReloadIsBitIdentical) {
  LinearModel m(2, 1, 1, 0.5f, 3, onFloor);
  auto built = m.load(true);
  ASSERT_TRUE(built->multigrid);
  EXPECT_TRUE(contains(m.output, "Generating Matrix Hierarchy"));
  auto read = m.load(false);
  EXPECT_EQ(cacheInvalid, 0);
  EXPECT_FALSE(generatedAnything(m.output)) << m.output;
  EXPECT_TRUE(contains(m.output, "Reading Matrix Hierarchy"));
  ASSERT_TRUE(read->multigrid);

  EXPECT_EQ(record(*built->K), record(*read->K));
  EXPECT_EQ(record(*built->M), record(*read->M));
  EXPECT_EQ(record(*built->lumpedMass), record(*read->lumpedMass));
  EXPECT_EQ(record(*built->S), record(*read->S));
  for (int l = 0; l < m.h->nLevels - 1; ++l)
    EXPECT_EQ(record(*built->multigrid->A[l]), record(*read->multigrid->A[l])) << l;
  EXPECT_EQ(coarseInverse(*built), coarseInverse(*read));
}

namespace {

// The model set-up's road: read the caches, and when the matrix cache is
// stale throw the shell away and generate once.
struct SetUpResult {
  std::unique_ptr<LinSimulation> sim;
  std::string output;
  bool rebuiltMatrices = false;
};

SetUpResult setUp(LinearModel& m, int scheme = 0) {
  SetUpResult r;
  r.sim = m.load(false, scheme);
  r.output = m.output;
  if (cacheInvalid) {
    r.sim.reset();
    r.rebuiltMatrices = true;
    r.sim = m.load(true, scheme);
    r.output += m.output;
  }
  cacheInvalid = 0;
  return r;
}

}  // namespace

TEST(LinSimulationCache, ChangesRebuildWhatDependsOnThem) {
  struct Row {
    const char* change;
    std::function<void(LinearModel&)> apply;
    int scheme;
    bool matrices, hierarchy;  // rebuilt
  } rows[] = {
      {"nothing", [](LinearModel&) {}, 0, false, false},
      {"time step", [](LinearModel& m) { m.settings.material->timeStep = 0.02; }, 0, false, true},
      {"scheme", [](LinearModel&) {}, 1, false, true},
      {"density", [](LinearModel& m) { m.settings.material->density = 900.0; }, 0, false, true},
      {"lambda", [](LinearModel& m) { m.settings.material->lambda *= 1.001; }, 0, true, true},
      {"stiffness factor", [](LinearModel& m) { m.h->elements[2][7]->setStiffness(2.0f); }, 0, true,
       true},
      {"mesh", [](LinearModel& m) { m.finest().back()->restPosition[0] += 0.01f; }, 0, true, true},
  };
  for (const Row& r : rows) {
    LinearModel m(2, 1, 1, 0.5f, 3, onFloor);
    m.load(true);
    r.apply(m);
    SetUpResult s = setUp(m, r.scheme);
    EXPECT_EQ(s.rebuiltMatrices, r.matrices) << r.change;
    EXPECT_EQ(contains(s.output, "  Generating K"), r.matrices) << r.change;
    EXPECT_EQ(contains(s.output, "Generating Matrix Hierarchy"), r.hierarchy) << r.change;
    ASSERT_TRUE(s.sim->multigrid) << r.change;
    // The rewritten caches serve the next load.
    SetUpResult again = setUp(m, r.scheme);
    EXPECT_FALSE(generatedAnything(again.output)) << r.change << again.output;
  }
}

namespace {

std::string truncated(const std::string& s, size_t n) { return s.substr(0, n); }

std::string randomAfter(std::string s, size_t from, unsigned seed) {
  std::mt19937 rng(seed);
  for (size_t i = from; i < s.size(); ++i) s[i] = static_cast<char>(rng());
  return s;
}

std::string withI32(std::string s, size_t offset, int32_t v) {
  std::memcpy(&s[offset], &v, 4);
  return s;
}

int32_t i32At(const std::string& s, size_t offset) {
  int32_t v;
  std::memcpy(&v, &s[offset], 4);
  return v;
}

bool finite(const Vector<double>& v) {
  for (int i = 0; i < v.n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

}  // namespace

// A matrix cache that passes its header but whose records are cut, garbled
// or sized for another model leaves a shell and is generated again.
TEST(LinSimulationCache, DamagedMatrixCacheIsRebuilt) {
  LinearModel m(2, 1, 1, 0.5f, 2, onFloor);
  m.load(true);
  const std::string good = readFile(m.settings.matrixCachePath);
  const size_t k = record(*m.load(false)->K).size();  // K's record follows the header
  const size_t mAt = 88 + k;
  const std::string rows[] = {
      truncated(good, 88 + 3),
      truncated(good, 88 + k / 2),
      truncated(good, mAt + 5),
      truncated(good, good.size() - 1),
      randomAfter(good, 88, 1),
      randomAfter(good, 88 + 21, 2),                         // inside K's first block
      withI32(good, 89, i32At(good, 89) + 3),                // K rows
      withI32(good, 105, i32At(good, 105) + 1),              // K blocks
      withI32(good, 105, -1),                                // K blocks
      withI32(good, mAt + 9, i32At(good, mAt + 9) + 1),      // M entries
      withI32(good, mAt + 13, i32At(good, mAt + 13) + 100),  // M's first row length
      good + "tail",
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    writeFile(m.settings.matrixCachePath, rows[r]);
    auto shell = m.load(false);
    EXPECT_EQ(cacheInvalid, 1) << r;
    EXPECT_FALSE(shell->K || shell->M || shell->lumpedMass || shell->S || shell->multigrid) << r;
    EXPECT_TRUE(contains(m.output, "[LinSimulation, readMatrices] Error")) << r << m.output;
    shell.reset();
    auto sim = m.load(true);
    sim->addGravity();
    sim->computeStep(true, true, 1, false);
    EXPECT_TRUE(finite(*sim->displacement)) << r;
    EXPECT_EQ(readFile(m.settings.matrixCachePath), good) << r;
  }
}

// A hierarchy cache that matches the scheme and material but whose records
// are damaged is rebuilt in the same load and rewritten.
TEST(LinSimulationCache, DamagedHierarchyCacheIsRebuilt) {
  LinearModel m(2, 1, 1, 0.5f, 2, onFloor);
  auto built = m.load(true);
  const std::string good = readFile(m.settings.hierarchyCachePath);
  std::ostringstream restrictions;
  m.h->writeRestrictions(restrictions);
  const size_t basisAt = 52 + restrictions.str().size();
  const size_t inverseBytes = coarseInverse(*built).size();
  const size_t coarseAt = good.size() - inverseBytes - 4;
  built.reset();
  struct Row {
    std::string bytes;
    bool message;  // false: the header itself fails, silently
  } rows[] = {
      {truncated(good, 4), false},
      {truncated(good, 52 + 10), true},
      {truncated(good, basisAt + 2), true},
      {truncated(good, good.size() - 1), true},
      {randomAfter(good, 52, 3), true},
      {randomAfter(good, basisAt + 4, 4), true},
      {withI32(good, basisAt, 0), true},  // a packed level in a block hierarchy
      {withI32(good, basisAt, 9), true},
      {withI32(good, coarseAt, 7), true},
      {withI32(good, coarseAt, 1), true},              // no inverse follows kind 1
      {withI32(good, 53, i32At(good, 53) + 3), true},  // the first restriction's rows
      {good + "tail", true},
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    writeFile(m.settings.hierarchyCachePath, rows[r].bytes);
    auto sim = m.load(false);
    EXPECT_EQ(cacheInvalid, 0) << r;
    EXPECT_EQ(contains(m.output, "the hierarchy is rebuilt"), rows[r].message) << r << m.output;
    EXPECT_TRUE(contains(m.output, "Generating Matrix Hierarchy")) << r;
    sim->addGravity();
    sim->computeStep(false, false, 0, false);
    EXPECT_TRUE(finite(*sim->displacement)) << r;
    EXPECT_EQ(readFile(m.settings.hierarchyCachePath), good) << r;
  }
  // A cache whose coarse level is solved by a diagonal CG is sound.
  writeFile(m.settings.hierarchyCachePath, withI32(good, coarseAt, 1).substr(0, coarseAt + 4));
  auto sim = m.load(false);
  EXPECT_FALSE(generatedAnything(m.output)) << m.output;
  EXPECT_EQ(sim->multigrid->coarseSolverType, 1);
  EXPECT_NE(dynamic_cast<CGPreDiag<double>*>(sim->multigrid->coarse), nullptr);
}

// A write that fails half way (here: the file-size limit, as on a full disk)
// leaves no cache behind, and the simulation is built all the same.
TEST(LinSimulationCache, FailedWriteRemovesTheFile) {
  LinearModel m(2, 1, 1, 0.5f, 2, onFloor);
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto sim = m.load(true);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(contains(m.output, "Could not write the cache file \"" + m.settings.matrixCachePath))
      << m.output;
  EXPECT_TRUE(
      contains(m.output, "Could not write the cache file \"" + m.settings.hierarchyCachePath));
  EXPECT_FALSE(std::filesystem::exists(m.settings.matrixCachePath));
  EXPECT_FALSE(std::filesystem::exists(m.settings.hierarchyCachePath));
  ASSERT_TRUE(sim->multigrid);
  sim->addGravity();
  sim->computeStep(false, false, 0, false);
  EXPECT_TRUE(finite(*sim->displacement));
  EXPECT_GT(sim->maxVertexNorm(), 0.0);
}

// Without fixed vertices and before any scheme adds inertia, every rigid
// motion is in K's null space; the lumped masses of each component add up
// to the volume.
TEST(LinSimulationOperators, RigidMotionsAndMassOfAFreeBody) {
  LinearModel m(2, 1, 1, 0.5f, 2);
  auto sim = m.load(true, static_cast<int>(IntegrationScheme::None));
  ASSERT_TRUE(sim->K);
  EXPECT_EQ(sim->integrator, nullptr);
  const Matrix<double>& K = *sim->K;
  const double kScale = K.maxAbs();
  struct Row {
    double t[3];      // translation
    double omega[3];  // small rotation about the origin
  } rows[] = {{{1, 0, 0}, {0, 0, 0}},    {{0, 1, 0}, {0, 0, 0}},    {{0, 0, 1}, {0, 0, 0}},
              {{0, 0, 0}, {1e-3, 0, 0}}, {{0, 0, 0}, {0, 1e-3, 0}}, {{0, 0, 0}, {0, 0, 1e-3}}};
  Vector<double> u(K.nRow), Ku(K.nRow);
  for (const Row& r : rows) {
    double uMax = 0.0;
    for (const Vertex* v : m.finest()) {
      const float* p = v->restPosition;
      const double w[3] = {r.omega[1] * p[2] - r.omega[2] * p[1],
                           r.omega[2] * p[0] - r.omega[0] * p[2],
                           r.omega[0] * p[1] - r.omega[1] * p[0]};
      for (int k = 0; k < 3; ++k) {
        u[3 * v->index + k] = r.t[k] + w[k];
        uMax = std::max(uMax, std::fabs(u[3 * v->index + k]));
      }
    }
    K.mult(u, Ku);
    for (int i = 0; i < Ku.n; ++i) ASSERT_LE(std::fabs(Ku[i]), 1e-8 * kScale * uMax) << i;
  }
  for (int k = 0; k < 3; ++k) {
    double sum = 0.0;
    for (int i = k; i < sim->lumpedMass->n; i += 3) sum += (*sim->lumpedMass)[i];
    EXPECT_NEAR(sum, 2 * 1 * 1 * 0.125, 1e-12) << k;
  }
}

namespace {

// R A R^T column by column through products only.
double galerkinDifference(const Matrix<double>& R, const Matrix<double>& fine,
                          const Matrix<double>& coarse) {
  Vector<double> e(R.nRow), y(R.nCol), z(R.nCol), c(R.nRow);
  double worst = 0.0;
  for (int j = 0; j < R.nRow; ++j) {
    std::fill(e.data, e.data + e.n, 0.0);
    e[j] = 1.0;
    R.multTransposed(e, y);
    fine.mult(y, z);
    R.mult(z, c);
    for (int i = 0; i < R.nRow; ++i) worst = std::max(worst, std::fabs(c[i] - coarse(i, j)));
  }
  return worst;
}

}  // namespace

// Pinning a free vertex while the body swings under gravity holds it where
// it was while the rest moves on; the coarse levels are the Galerkin
// products of the pinned K.
TEST(LinSimulationPinning, PinnedVertexKeepsItsDisplacement) {
  LinearModel m(2, 1, 1, 0.5f, 3, onFloor);
  auto sim = m.load(true);
  sim->addGravity();
  for (int s = 0; s < 5; ++s) sim->computeStep(false, false, 0, false);
  Vertex* pinned = m.finest().back();  // the far top corner
  const int dof = 3 * (pinned->index - m.settings.fixedCount);
  pinned->fixed = 1;
  sim->updateHierarchy();
  sim->updateHierarchy();  // a second call rebuilds the same single set
  ASSERT_EQ(sim->prescribed.size(), 3u);
  const std::vector<double> before(sim->displacement->data,
                                   sim->displacement->data + sim->displacement->n);
  ASSERT_LT(before[dof + 1], 0.0);  // sagging along -y
  for (int s = 0; s < 50; ++s) sim->computeStep(false, false, 0, false);
  double moved = 0.0;
  for (int i = 0; i < sim->displacement->n; ++i) {
    if (i / 3 == dof / 3)
      EXPECT_NEAR((*sim->displacement)[i], before[i], 1e-12 * std::fabs(before[dof + 1])) << i;
    else
      moved = std::max(moved, std::fabs((*sim->displacement)[i] - before[i]));
  }
  EXPECT_GT(moved, 0.1 * std::fabs(before[dof + 1]));

  Multigrid<double>& mg = *sim->multigrid;
  for (int l = mg.levels - 2; l >= 0; --l)
    EXPECT_LE(galerkinDifference(*mg.restriction[l], *mg.A[l + 1], *mg.A[l]),
              1e-12 * mg.A[l + 1]->maxAbs())
        << l;
}
