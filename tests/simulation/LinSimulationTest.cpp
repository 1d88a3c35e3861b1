// Set-up of the linear simulation: both caches round trip bit for bit, a
// stale, damaged or unwritable cache is rebuilt, the operators obey
// rigid-body and mass laws, and a pinned vertex holds while the coarse
// levels stay the Galerkin products of the pinned K.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "FiniteElement.h"
#include "LinearModel.h"
#include "MemoryLimits.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "Sealed.h"
#include "TimeIntegration.h"

using namespace zolt::test;

namespace {

template <class R>
std::string record(R& r) {
  std::ostringstream s;
  r.writeToFile(s);
  return s.str();
}

bool generated(const std::string& out) {
  return contains(out, "  Generating K") || contains(out, "Generating Matrix Hierarchy");
}

// Steps once under gravity; false when anything is not finite.
bool steps(LinSimulation& sim) {
  sim.addGravity();
  sim.computeStep(true, true, 1, false);
  const Vector<double>& x = *sim.displacement;
  return std::all_of(x.data, x.data + x.n, [](double v) { return std::isfinite(v); });
}

std::string with(std::string s, size_t offset, int32_t v) {
  std::memcpy(&s[offset], &v, 4);
  return s;
}

std::string garbled(std::string s, size_t from) {
  std::mt19937 rng(static_cast<unsigned>(from));
  for (size_t i = from; i < s.size(); ++i) s[i] = static_cast<char>(rng());
  return s;
}

}  // namespace

TEST(LinSimulationCache, ReloadIsBitIdentical) {
  LinearModel m(2, 1, 1, 0.5f, 3, onFloor);
  auto built = m.load(true);
  auto read = m.load(false);
  EXPECT_EQ(cacheInvalid, 0);
  EXPECT_FALSE(generated(m.output)) << m.output;
  EXPECT_EQ(record(*built->K), record(*read->K));
  EXPECT_EQ(record(*built->M), record(*read->M));
  EXPECT_EQ(record(*built->lumpedMass), record(*read->lumpedMass));
  EXPECT_EQ(record(*built->S), record(*read->S));
  for (int l = 0; l < 2; ++l)
    EXPECT_EQ(record(*built->multigrid->A[l]), record(*read->multigrid->A[l])) << l;
  EXPECT_EQ(record(*built->multigrid->coarse), record(*read->multigrid->coarse));
}

// The model set-up's road: a stale matrix cache leaves a shell, which is
// thrown away and generated once.
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
      {"factor", [](LinearModel& m) { m.h->elements[1][7]->setStiffness(2.0f); }, 0, true, true},
      {"mesh", [](LinearModel& m) { m.finest().back()->restPosition[0] += 0.01f; }, 0, true, true},
  };
  for (const Row& r : rows) {
    LinearModel m(2, 1, 1, 0.5f, 2, onFloor);
    m.load(true);
    r.apply(m);
    for (int load = 0; load < 2; ++load) {  // the second load finds fresh caches
      auto sim = m.load(false, r.scheme);
      std::string out = m.output;
      const bool stale = cacheInvalid;
      if (stale) {
        EXPECT_FALSE(sim->K || sim->multigrid) << r.change;  // a shell
        sim = m.load(true, r.scheme);
        out += m.output;
      }
      EXPECT_EQ(stale, r.matrices && !load) << r.change;
      EXPECT_EQ(contains(out, "Generating Matrix Hierarchy"), r.hierarchy && !load) << r.change;
      EXPECT_TRUE(steps(*sim)) << r.change;
    }
  }
}

// A cache that passes its header but is cut, garbled or sized for another
// model: the matrix cache leaves a shell (the caller generates), the
// hierarchy cache is rebuilt and rewritten in the same load. A flipped bit
// (ten seeded places per file) gives the clean step bit for bit.
TEST(LinSimulationCache, DamagedCachesAreRebuilt) {
  LinearModel m(2, 1, 1, 0.5f, 2, onFloor);
  // The same grid held at its top instead: caches of the same size and kind.
  LinearModel other(2, 1, 1, 0.5f, 2, [](const float* p) { return p[2] == 0.5f; });
  m.settings.sourceFingerprint = 0x1234567887654321u;
  other.settings.sourceFingerprint = 0x1234567887654322u;
  other.load(true);
  const std::string otherLevels = payloadOf(readFile(other.settings.hierarchyCachePath));
  auto built = m.load(true);
  ASSERT_TRUE(steps(*built));
  const std::vector<double> reference(built->displacement->data,
                                      built->displacement->data + built->displacement->n);
  const std::string matrixFile = readFile(m.settings.matrixCachePath);
  const std::string levelFile = readFile(m.settings.hierarchyCachePath);
  const std::string matrices = payloadOf(matrixFile), levels = payloadOf(levelFile);
  const size_t mAt = 96 + record(*built->K).size();  // M's record
  const size_t header = 68;                          // format, model, levels, scheme, material
  const size_t basisAt = header + record(*m.h->restriction[0]).size();
  const size_t coarseAt = levels.size() - record(*built->multigrid->coarse).size() - 4;
  int far = 0;  // a column outside K's pattern in row 0
  while (static_cast<BlockMatrix<double, 3>&>(*built->K).findBlock(0, far)) far += 3;
  built.reset();
  struct Row {
    bool matrixCache;
    std::string payload;
    const char* says = nullptr;  // else the record or hierarchy message
  } rows[] = {
      {true, matrices.substr(0, 99)},
      {true, matrices.substr(0, mAt + 5)},
      {true, matrices.substr(0, matrices.size() - 1)},
      {true, garbled(matrices, 96)},
      {true, garbled(matrices, 96 + 21)},      // inside K's first block
      {true, with(matrices, 97, 3 * 30 + 3)},  // K's rows
      {true, with(matrices, 113, -1)},         // K's blocks
      {true, with(matrices, mAt + 13, 1000)},  // M's first row length
      {true, matrices + "tail"},
      {true, with(matrices, mAt + 17, far)},  // M's first entry
      {false, levels.substr(0, basisAt + 2)},
      {false, levels.substr(0, levels.size() - 1)},
      {false, garbled(levels, header)},
      {false, with(levels, basisAt, 0)},  // a packed level in a block hierarchy
      {false, with(levels, coarseAt, 7)},
      {false, with(levels, coarseAt, 1)},        // kind 1 carries no inverse
      {false, with(levels, header + 1, 3 * 7)},  // the restriction's rows
      {false, levels + "tail"},
      // Files of the other kind, headers cut short or from another scheme.
      {true, levels, "WARNING: Not a matrix cache of this format! Rebuilding"},
      {true, matrices.substr(0, 50), "WARNING: Cache header incomplete! Rebuilding"},
      {false, matrices, "has another format"},
      {false, levels.substr(16), "has another format"},  // the first format: no model named
      {false, levels.substr(0, 20), "is truncated"},
      {false, with(levels, 16, 3), "was written for integration scheme 3, not 0"},
      {false, with(levels, 52, 0x40000000), "was written for other material values"},
      {false, otherLevels, "was written for another model"},
      {false, with(levels, 8, 0), "was written for another model"},
      {false, with(levels, 12, 3), "was written for 3 levels, not 2"},
      {false, with(levels, 12, 1), "was written for 1 level, not 2"},
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    const Row& row = rows[r];
    const std::string& path =
        row.matrixCache ? m.settings.matrixCachePath : m.settings.hierarchyCachePath;
    writeFile(path, sealedFile(row.payload));
    auto sim = m.load(false);
    EXPECT_EQ(cacheInvalid, row.matrixCache) << r;
    EXPECT_TRUE(contains(m.output, row.says          ? row.says
                                   : row.matrixCache ? "[LinSimulation, readMatrices] Error"
                                                     : "the hierarchy is rebuilt"))
        << r << m.output;
    EXPECT_TRUE(contains(m.output, "\"" + path + "\"")) << r << m.output;
    if (row.matrixCache) {
      EXPECT_FALSE(sim->K || sim->M || sim->lumpedMass || sim->S || sim->multigrid) << r;
      sim = m.load(true);
    }
    EXPECT_TRUE(steps(*sim)) << r;
    EXPECT_EQ(readFile(m.settings.matrixCachePath), matrixFile) << r;
    EXPECT_EQ(readFile(m.settings.hierarchyCachePath), levelFile) << r;
  }
  for (bool matrixCache : {true, false}) {
    const std::string& good = matrixCache ? matrixFile : levelFile;
    for (size_t bit : seededBits(0, good.size(), matrixCache ? 11u : 12u)) {
      SCOPED_TRACE(std::to_string(matrixCache) + " bit " + std::to_string(bit));
      const std::string& path =
          matrixCache ? m.settings.matrixCachePath : m.settings.hierarchyCachePath;
      writeFile(path, flipped(good, bit));
      auto sim = m.load(false);
      const std::string out = m.output;
      if (cacheInvalid) sim = m.load(true);
      EXPECT_TRUE(generated(out) || generated(m.output)) << out;
      // Damage anywhere, header or seal included, reads as damage.
      EXPECT_TRUE(contains(out, "Checksum mismatch in \"" + path + "\"")) << out;
      EXPECT_FALSE(contains(out, "changed!") || contains(out, "was written for")) << out;
      ASSERT_TRUE(steps(*sim));
      const Vector<double>& x = *sim->displacement;
      EXPECT_TRUE(std::equal(reference.begin(), reference.end(), x.data, x.data + x.n));
      EXPECT_EQ(readFile(m.settings.matrixCachePath), matrixFile);
      EXPECT_EQ(readFile(m.settings.hierarchyCachePath), levelFile);
    }
  }
  // A hierarchy from the other side of the dense limit (here moved below
  // the coarse level) is rebuilt for this side, and back.
  const auto machine = physicalMemory;
  for (const char* says :
       {"was written for a dense coarse solve", "was written for a sparse coarse solve"}) {
    physicalMemory = contains(says, "dense") ? +[] { return uint64_t(8 * 24); } : machine;
    auto sim = m.load(false);
    physicalMemory = machine;
    EXPECT_TRUE(contains(m.output, "Hierarchy cache \"" + m.settings.hierarchyCachePath + "\" " +
                                       says + "; the hierarchy is rebuilt."))
        << m.output;
    EXPECT_TRUE(generated(m.output));
    EXPECT_TRUE(steps(*sim));
  }
  EXPECT_EQ(readFile(m.settings.hierarchyCachePath), levelFile);
  // A hierarchy whose coarse level is solved by a diagonal CG is sound.
  writeFile(m.settings.hierarchyCachePath,
            sealedFile(with(levels, coarseAt, 1).substr(0, coarseAt + 4)));
  auto sim = m.load(false);
  EXPECT_FALSE(generated(m.output)) << m.output;
  EXPECT_NE(dynamic_cast<CGPreDiag<double>*>(sim->multigrid->coarse), nullptr);
}

// A write that fails half way (the file-size limit, as on a full disk)
// leaves no cache behind; the simulation is built all the same.
TEST(LinSimulationCache, FailedWriteRemovesTheFile) {
  LinearModel m(2, 1, 1, 0.5f, 2, onFloor);
  rlimit old, small;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  small = old;
  small.rlim_cur = 1000;
  auto handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto sim = m.load(true);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, handler);
  for (const std::string& path : {m.settings.matrixCachePath, m.settings.hierarchyCachePath}) {
    EXPECT_TRUE(contains(m.output, "Could not write the cache file \"" + path)) << m.output;
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  EXPECT_TRUE(steps(*sim));
}

// Before a scheme adds inertia, rigid motions of a free body are in K's null
// space, and each component's lumped masses add up to the volume.
TEST(LinSimulationOperators, RigidMotionsAndMassOfAFreeBody) {
  LinearModel m(2, 1, 1, 0.5f, 2);
  auto sim = m.load(true, static_cast<int>(IntegrationScheme::None));
  const Matrix<double>& K = *sim->K;
  Vector<double> u(K.nRow), Ku(K.nRow);
  for (int mode = 0; mode < 6; ++mode) {  // three translations, three small rotations
    for (const Vertex* v : m.finest()) {
      const float* p = v->restPosition;
      const int a = mode % 3, b = (a + 1) % 3, c = (a + 2) % 3;
      double* x = &u[3 * v->index];
      x[a] = mode < 3 ? 1.0 : 0.0;
      x[b] = mode < 3 ? 0.0 : -1e-3 * p[c];
      x[c] = mode < 3 ? 0.0 : 1e-3 * p[b];
    }
    K.mult(u, Ku);
    const double scale = K.maxAbs() * (mode < 3 ? 1.0 : 1e-3);
    for (int i = 0; i < Ku.n; ++i) ASSERT_LE(std::fabs(Ku[i]), 1e-8 * scale) << mode << " " << i;
  }
  for (int k = 0; k < 3; ++k) {
    double sum = 0.0;
    for (int i = k; i < sim->lumpedMass->n; i += 3) sum += (*sim->lumpedMass)[i];
    EXPECT_NEAR(sum, 0.25, 1e-12) << k;
  }
}

TEST(LinSimulationPinning, PinnedVertexKeepsItsDisplacement) {
  LinearModel m(2, 1, 1, 0.5f, 3, onFloor);
  auto sim = m.load(true);
  sim->addGravity();
  for (int s = 0; s < 5; ++s) sim->computeStep(false, false, 0, false);
  Vertex* pinned = m.finest().back();  // the far top corner
  const int dof = 3 * (pinned->index - m.settings.fixedCount);
  pinned->fixed = 1;
  sim->updateHierarchy();
  sim->updateHierarchy();  // rebuilds the same single set
  ASSERT_EQ(sim->prescribed.size(), 3u);
  const Vector<double>& x = *sim->displacement;
  const std::vector<double> before(x.data, x.data + x.n);
  ASSERT_LT(before[dof + 1], 0.0);  // swinging down along -y
  for (int s = 0; s < 50; ++s) sim->computeStep(false, false, 0, false);
  double moved = 0.0;
  for (int i = 0; i < x.n; ++i) {
    if (i / 3 == dof / 3)
      EXPECT_NEAR(x[i], before[i], 1e-12 * std::fabs(before[dof + 1])) << i;
    else
      moved = std::max(moved, std::fabs(x[i] - before[i]));
  }
  EXPECT_GT(moved, 0.1 * std::fabs(before[dof + 1]));  // the rest swings on

  // Each coarse matrix equals R A R^T of the pinned operator,
  // column by column through products.
  Multigrid<double>& mg = *sim->multigrid;
  for (int l = 0; l < mg.levels - 1; ++l) {
    const Matrix<double>& R = *mg.restriction[l];
    Vector<double> e(R.nRow), y(R.nCol), z(R.nCol), c(R.nRow);
    double worst = 0.0;
    for (int j = 0; j < R.nRow; ++j) {
      std::fill(e.data, e.data + e.n, 0.0);
      e[j] = 1.0;
      R.multTransposed(e, y);
      mg.A[l + 1]->mult(y, z);
      R.mult(z, c);
      for (int i = 0; i < R.nRow; ++i) worst = std::max(worst, std::fabs(c[i] - (*mg.A[l])(i, j)));
    }
    EXPECT_LE(worst, 1e-12 * mg.A[l + 1]->maxAbs()) << l;
  }
}
