// Preprocessing: fixed vertices are numbered first whatever the fixed list
// holds, and the matrix cache is written once and then read.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "FEMSimulation.h"
#include "MemoryLimits.h"
#include "ModelFixture.h"
#include "Sealed.h"
#include "Simulation.h"
#include "TetHierarchy.h"

using namespace zolt::test;

TEST(RunPreprocess, FixedVerticesAreNumberedFirst) {
  const std::string unused = "(the first: vertex 8 of level 1); they are held fixed";
  const struct {
    const char* config;
    int fixedCount;
    std::string err;
    bool twoLevels = false;  // READ_HIERARCHY's cube: level 1 adds the centre
    std::string held = "";   // the line on the vertices held between fixed ones
  } cases[] = {
      {"LEVEL 1", 0, ""},
      {"LEVEL 1 FIXED_VERTICES 2 3 8", 2, ""},
      // The midpoint of the diagonal 1-8 is held with its ends.
      {"LEVEL 2 FIXED_VERTICES 3 8 1 8", 3, "1 of 3 entries are duplicates (8); they are dropped"},
      {"LEVEL 2 FIXED_VERTICES 4 5 5 5 5", 1, "3 of 4 entries are duplicates (5 5 5);"},
      // No edge joins 2 and 3: nothing lies between them.
      {"LEVEL 2 FIXED_VERTICES 2 2 3", 2, ""},
      // The face z = 0 held whole: 5 x 5 vertices at LEVEL 3.
      {"LEVEL 3 FIXED_VERTICES 4 1 2 3 4", 25, ""},
      // The centre is interpolated from all eight corners: held with them,
      // free while one of them is. No element of level 1 uses corner 8.
      {"LEVEL 2 READ_HIERARCHY FIXED_VERTICES 8 1 2 3 4 5 6 7 8", 9, unused, true,
       "[Run, holdBetweenFixed] 1 vertex between fixed ones (interpolated from fixed vertices"
       " alone) is held too: 9 vertices are fixed\n"},
      {"LEVEL 2 READ_HIERARCHY FIXED_VERTICES 7 2 3 4 5 6 7 8", 7, unused, true},
      // At most five numbers are listed.
      {"LEVEL 1 FIXED_VERTICES 9 1 2 1 2 1 2 1 2 7", 3,
       "[Run, sortVertices] Warning: Fixed vertices listed more than once: 6 of 9 entries are"
       " duplicates (1 2 1 2 1 ...); they are dropped, 3 vertices are fixed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    ModelDirs dirs;
    dirs.cube("c", c.config);
    if (c.twoLevels) writeTwoLevelCube(dirs.models + "c");
    std::unique_ptr<::Run> run = loadRun("c");
    const CapturedOutput printed = captureBoth([&] { run->preprocess(false); });
    const std::string& err = printed.err;
    if (c.twoLevels) {
      const size_t at = printed.out.find("[Run, holdBetweenFixed]");
      EXPECT_EQ(at == std::string::npos ? "" : printed.out.substr(at, c.held.size()), c.held);
    }
    EXPECT_EQ(c.err.empty(), err.empty()) << err;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    EXPECT_EQ(run->settings.fixedCount, c.fixedCount);
    const std::vector<Vertex*>& finest = run->hierarchy->vertices[run->hierarchy->nLevels - 1];
    std::vector<int> numbers;
    for (const Vertex* v : finest) {
      numbers.push_back(v->index);
      EXPECT_EQ(v->fixed != 0, v->index < c.fixedCount) << v->index;
    }
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i));
  }
}

// A flipped bit of the matrix cache (its header's fixed count, lambda or
// factor fingerprint, or K) reads as damage, not as a model change, and
// the sound mesh cache is kept as it was.
TEST(RunPreprocess, MatrixCacheIsWrittenOnceThenRead) {
  ModelDirs dirs;
  dirs.cube("c", "LEVEL 2 FIXED_VERTICES 4 1 2 3 4");
  const std::string matrixCache = dirs.caches + "c.cacheCauchy";
  const std::string damage = "Checksum mismatch in \"" + matrixCache + "\"";
  const struct {
    bool rebuild;
    bool generates;
    int flip = -1;         // a bit of the matrix cache flipped before the load
    bool removed = false;  // the matrix cache removed before the load
  } loads[] = {{false, true},
               {false, false},
               {true, true},
               {false, false},
               {false, true, 8 * 20},
               {false, true, 8 * 24 + 61},
               {false, true, 8 * 72 + 40},
               {false, true, 8 * 200},
               {false, false},
               {false, true, -1, true},
               {false, false}};
  std::string meshCache;
  for (const auto& l : loads) {
    SCOPED_TRACE(l.flip);
    if (l.flip >= 0) writeFile(matrixCache, flipped(readFile(matrixCache), size_t(l.flip)));
    if (l.removed) std::remove(matrixCache.c_str());
    std::unique_ptr<::Run> run;
    const std::string out = captureBoth([&] {
                              run = std::make_unique<::Run>("c", l.rebuild, 0, 0);
                              run->preprocess(true);
                            }).out;
    EXPECT_EQ(l.generates, out.find("Generating K") != std::string::npos) << out;
    if (l.flip < 8 * 96) {
      EXPECT_EQ(!l.generates, out.find("Reading K") != std::string::npos);
    }
    EXPECT_NE(out.find("*** Finished Preprocessing."), std::string::npos);
    EXPECT_TRUE(run->simulation);
    EXPECT_EQ(cacheInvalid, 0);
    EXPECT_EQ(out.find(damage) != std::string::npos, l.flip >= 0) << out;
    EXPECT_EQ(
        out.find("[Run] Matrix cache \"" + matrixCache + "\" is missing") != std::string::npos,
        l.removed);
    EXPECT_EQ(out.find("changed!"), std::string::npos) << out;
    if (meshCache.empty()) meshCache = readFile(dirs.caches + "c.mesh");
    EXPECT_EQ(readFile(dirs.caches + "c.mesh"), meshCache);
  }
  EXPECT_TRUE(exists(dirs.caches + "c.mesh"));
  EXPECT_TRUE(exists(dirs.caches + "c.cacheCauchy"));
  EXPECT_TRUE(exists(dirs.caches + "c.cacheCauchy.Mgrid"));
}

namespace {

// A row of unit cubes along x, six tetrahedra each around the diagonal
// from corner 0 to 7 (x, y, z the bits of a corner), cut off after `count`.
void writeCubeRow(const std::string& base, int count) {
  const int corners = 4 * ((count + 5) / 6 + 1);
  const int tets[6][4] = {{0, 1, 3, 7}, {0, 1, 5, 7}, {0, 2, 3, 7},
                          {0, 2, 6, 7}, {0, 4, 5, 7}, {0, 4, 6, 7}};
  std::string node = std::to_string(corners) + " 3 0 0\n", ele = std::to_string(count) + " 4 0\n";
  for (int v = 0; v < corners; ++v)
    node += std::to_string(v + 1) + " " + std::to_string(v / 4) + " " + std::to_string(v % 2) +
            " " + std::to_string(v / 2 % 2) + "\n";
  for (int e = 0; e < count; ++e) {
    ele += std::to_string(e + 1);
    for (int k : tets[e % 6])
      ele += " " + std::to_string(4 * (e / 6 + k % 2) + k / 2 % 2 + 2 * (k / 4) + 1);
    ele += "\n";
  }
  writeFile(base + ".node", node);
  writeFile(base + ".ele", ele);
  writeFile(base + ".config", "LEVEL 1\n");
}

}  // namespace

TEST(RunPreprocess, GreenTensorLimitOfTetrahedra) {
  ModelDirs dirs;
  writeCubeRow(dirs.models + "limit", 25000);
  writeCubeRow(dirs.models + "over", 25001);
  std::unique_ptr<::Run> limit = loadRun("limit", false, 2);
  ASSERT_EQ(limit->hierarchy->elements[0].size(), 25000u);
  EXPECT_NE(captureStdout([&] { limit->preprocess(true); }).find("*** Finished Preprocessing."),
            std::string::npos);
  EXPECT_FALSE(limit->simulation);
  std::unique_ptr<::Run> over = loadRun("over", false, 2);
  EXPECT_EXIT((dup2(2, 1), over->preprocess(true)), testing::ExitedWithCode(1),
              "\nERROR: Too many Tetrahedron for nonlinear Green Tensor!\n");
}

// A hierarchy that would not fit the memory is refused before it is
// built; a coarsest level too large for its dense inverse gets the sparse
// factor; a vertex no element uses is held fixed.
TEST(RunPreprocess, RefusesOrRepairsWhatWouldBreakTheSystem) {
  // Level 1 read as well: the corners again and a vertex beyond x = 1 that
  // no level-0 element holds (level 0 has no face masks, so none extends
  // beyond its surface).
  const std::string outside = twoLevelCubeNode("9 1.5 0.5 0.5 0\n");
  const std::string tetrahedra =
      "1 1 2 4 8\n2 1 2 6 8\n3 1 3 4 8\n4 1 3 7 8\n5 1 5 6 8\n6 1 5 7 8\n";
  const std::string outsideEle = "6 4 0\n" + tetrahedra + "7 4 0\n" + tetrahedra + "7 2 4 6 9\n";
  const struct {
    const char* config;
    std::string node, ele;  // empty: the cube's
    uint64_t memory;        // 0: the machine's
    std::string err;
  } rows[] = {
      // The cube's level 0 has 24 unknowns; 23 fit (3 23 x 23 doubles in 1/8).
      {"LEVEL 1", "", "", 8 * 24 * 23 * 23, ""},
      // 6 * 8^2 finest tetrahedra of 1850 bytes while the finest matrix is
      // assembled: more than their 1760 bytes each and the coarse inverse
      // of 24 unknowns (3 * 24 * 24 doubles) while it is factored.
      {"LEVEL 3", "", "", 384 * 1850, ""},
      // Refused before the refinement with the figure preprocessing would
      // name: the fixed vertices, unknown until then, are counted free.
      {"LEVEL 3", "", "", 384 * 1850 - 1,
       "[Run] Error: Model \"m\" refined to LEVEL 3 needs about 1 MB (0 MB for the dense inverse"
       " of its coarsest level, at most 24 unknowns), more than the 0 MB this process may use; it"
       " is not loaded (use a lower LEVEL)\n"},
      // Memory for the assembly of the 6 tetrahedra alone: a dense inverse
      // fits 8 unknowns, so the 24 take a sparse factor, which does not fit
      // beside them.
      {"LEVEL 1", "", "", 6 * 1850,
       "[Run, preprocess] Error: The model needs about 1 MB (0 MB for the sparse factor of its"
       " coarsest level, 24 unknowns), more than the 0 MB this process may use; it is not loaded"
       " (use a coarser mesh file or a lower LEVEL)\n"},
      {"LEVEL 2", "9 3 0 0\n" + std::string(kCubeNode + 8) + "9 3 3 3\n", "", 0,
       "[Run, sortVertices] Warning: 1 vertices belong to no element (the first: vertex 9 of"
       " level 1); they are held fixed\n"},
      // Left to the smoother of its level, the body still moves.
      {"LEVEL 2 READ_HIERARCHY", outside, outsideEle, 0,
       "[TetHierarchy, calcRestriction] Warning: Vertex 9 of level 1 of \"MODELS/m.node\" lies"
       " outside level 0 (no interpolation); the coarser levels leave it out, only smoothing on"
       " level 1 moves it\n"},
  };
  const auto saved = physicalMemory;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.config) + " " + std::to_string(row.memory));
    static uint64_t memory;
    memory = row.memory;
    if (row.memory) physicalMemory = [] { return memory; };
    ModelDirs dirs;
    dirs.cube("m", row.config);
    if (!row.node.empty()) writeFile(dirs.models + "m.node", row.node);
    if (!row.ele.empty()) writeFile(dirs.models + "m.ele", row.ele);
    std::string err = row.err;
    if (err.find("MODELS/") != std::string::npos) err.replace(err.find("MODELS/"), 7, dirs.models);
    Loaded l = loadCaptured("m");
    if (!l.run->refused) l.output.err += captureBoth([&] { l.run->preprocess(true); }).err;
    physicalMemory = saved;
    EXPECT_EQ(l.output.err, err);
    const bool refused = err.find("Error") != std::string::npos;
    ASSERT_EQ(!l.run->simulation, refused);
    if (refused) continue;
    Simulation& sim = *l.run->simulation;
    captureBoth([&] {
      sim.addGravity();
      for (int s = 0; s < 3; ++s) sim.computeStep(false, false, 0, false);
    });
    EXPECT_GT(sim.maxVertexNorm(), 0.0);  // false for NaN
  }
}
