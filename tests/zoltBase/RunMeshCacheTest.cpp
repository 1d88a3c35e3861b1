// Binary mesh cache: a written cache reads back to the same hierarchy, and a
// damaged one is refused so that the text files are read and the cache is
// rewritten.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unordered_map>

#include "FiniteElement.h"
#include "ModelFixture.h"
#include "Sealed.h"
#include "Simulation.h"
#include "TetHierarchy.h"

using namespace zolt::test;

namespace {

const char* const kConfig = "LEVEL 2 FIXED_VERTICES 2 1 2";

std::unique_ptr<::Run> loadPreprocessed(const std::string& name) {
  std::unique_ptr<::Run> run = loadRun(name);
  captureBoth([&] { run->preprocess(false); });
  return run;
}

// Every field the cache stores, level by level, as text.
std::string describe(const TetHierarchy& h) {
  std::string out;
  for (int l = 0; l < h.nLevels; ++l) {
    std::unordered_map<const Vertex*, size_t> coarse;
    if (l > 0)
      for (size_t i = 0; i < h.vertices[l - 1].size(); ++i) coarse[h.vertices[l - 1][i]] = i;
    for (const Vertex* v : h.vertices[l]) {
      out +=
          std::to_string(v->index) + " " + std::to_string(v->fixed) + std::to_string(v->onSurface);
      for (float x : v->restPosition) out += " " + std::to_string(x);
      for (const InterpolationEntry& p : v->parents)
        out += " p" + std::to_string(coarse.at(p.parent)) + ":" + std::to_string(p.weight);
      out += "\n";
    }
    out += "removed " + std::to_string(h.removed[l].size()) + "\n";
    for (const FiniteElement* e : h.elements[l]) {
      for (int k = 0; k < 4; ++k) out += std::to_string(e->getVertex(k)->index) + " ";
      out += std::to_string(e->getFaceMask()) + " " + std::to_string(e->getStiffness()) + " " +
             std::to_string(e->getDensity()) + "\n";
    }
  }
  return out;
}

// Loaded, preprocessed with its simulation, and stepped under gravity: the
// largest displacement after five steps, and what loading printed.
double loadAndStep(const std::string& name, bool rebuild, std::unique_ptr<::Run>& run,
                   std::string* printed = nullptr) {
  Loaded l = loadCaptured(name, rebuild);
  const CapturedOutput pre = captureBoth([&] { l.run->preprocess(true); });
  if (printed) *printed = l.output.out + l.output.err + pre.out + pre.err;
  run = std::move(l.run);
  Simulation& sim = *run->simulation;
  sim.addGravity();
  for (int i = 0; i < 5; ++i) sim.computeStep(false, false, 0, false);
  return sim.maxVertexNorm();
}

}  // namespace

TEST(RunMeshCache, RoundTripKeepsEveryStoredField) {
  ModelDirs dirs;
  dirs.cube("c", kConfig);
  const std::unique_ptr<::Run> first = loadPreprocessed("c");
  ASSERT_FALSE(first->meshFromCache);
  const std::unique_ptr<::Run> second = loadRun("c");
  ASSERT_TRUE(second->meshFromCache);
  EXPECT_EQ(describe(*first->hierarchy), describe(*second->hierarchy));
  EXPECT_EQ(first->settings.fixedCount, second->settings.fixedCount);
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(first->renderSettings.centre[c], second->renderSettings.centre[c]);
}

// One flipped bit at ten seeded places: the cache is rebuilt to the clean
// hierarchy. An edited .node is picked up.
TEST(RunMeshCache, DamagedOrMismatchedCacheIsRebuilt) {
  ModelDirs dirs;
  dirs.cube("c", kConfig);
  const std::string clean = describe(*loadPreprocessed("c")->hierarchy);
  const std::string path = dirs.caches + "c.mesh";
  const std::string file = readFile(path);
  const std::string good = payloadOf(file);
  auto setI32 = [](std::string s, size_t at, int32_t v) {
    s.replace(at, 4, reinterpret_cast<const char*>(&v), 4);
    return s;
  };
  const struct {
    const char* what;
    std::string bytes;
    std::string config;
  } cases[] = {
      {"header only", good.substr(0, 52), kConfig},
      {"truncated in level 0", good.substr(0, 72), kConfig},
      {"truncated by one byte", good.substr(0, good.size() - 1), kConfig},
      {"trailing bytes", good + "\x7f\x01\x02\x03\x04", kConfig},
      {"vertex count raised", setI32(good, 52, 9), kConfig},
      {"vertex count huge", setI32(good, 52, 0x7fffffff), kConfig},
      {"vertex number out of range", setI32(good, 68, 1000), kConfig},
      {"fixed count disagrees", setI32(good, 16, 5), kConfig},
      {"level count changed", good, "LEVEL 3 FIXED_VERTICES 2 1 2"},
      {"unsealed first format", good.substr(12), kConfig},
      {"truncated header", good.substr(0, 30), kConfig},
      {"another element type", setI32(good, 44, 4), kConfig},
  };
  // Every rebuild says so in one line naming the cache.
  auto saysRebuilt = [&](const std::string& all) {
    return occurrences(all, "the mesh is rebuilt\n") == 1 &&
           occurrences(all, "esh cache \"" + path + "\"") == 1;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(path, sealedFile(c.bytes));
    dirs.cube("c", c.config);
    Loaded l = loadCaptured("c");
    const std::unique_ptr<::Run>& damaged = l.run;
    captureBoth([&] { damaged->preprocess(false); });
    EXPECT_TRUE(saysRebuilt(l.output.out + l.output.err)) << l.output.out << l.output.err;
    EXPECT_FALSE(damaged->meshFromCache);
    ASSERT_TRUE(damaged->hierarchy);
    // The rebuilt cache is accepted by the next load.
    EXPECT_TRUE(loadRun("c")->meshFromCache);
    dirs.cube("c", kConfig);
  }
  for (size_t bit : seededBits(0, file.size(), 7)) {
    SCOPED_TRACE(bit);
    writeFile(path, flipped(file, bit));
    Loaded l = loadCaptured("c");
    EXPECT_FALSE(l.run->meshFromCache);
    EXPECT_TRUE(saysRebuilt(l.output.err) && occurrences(l.output.err, "Checksum mismatch") == 1);
    captureBoth([&] { l.run->preprocess(false); });
    EXPECT_EQ(describe(*l.run->hierarchy), clean);
    EXPECT_EQ(readFile(path), file);
  }
  // A moved vertex in .node is picked up; the next load reads its new cache.
  writeFile(dirs.models + "c.node",
            "8 3 0 0\n1 0 0 0\n2 1 0 0\n3 0 1 0\n4 1 1 0\n5 0 0 1\n6 1 0 1\n7 0 1 1\n8 1.25 1 1\n");
  const std::string moved = describe(*loadPreprocessed("c")->hierarchy);
  EXPECT_NE(moved, clean);
  const std::unique_ptr<::Run> again = loadRun("c");
  EXPECT_TRUE(again->meshFromCache && describe(*again->hierarchy) == moved);
}

// An edit of a configuration entry that shapes the cached mesh or matrices
// gives, from the old caches, what a rebuild gives, and says so in one line
// naming the mesh cache; other edits keep the caches and rebuild nothing.
// So does a load after the matrix cache was lost.
TEST(RunMeshCache, ConfigurationEditsGiveTheRebuiltResult) {
  const std::string b = kConfig;
  // Finest element 1 five times stiffer and denser; a classification of 1
  // leaves it so, cached or not.
  std::string params = "48\n5 5\n";
  for (int e = 1; e < 48; ++e) params += "1 1\n";
  params += "27\n0\n";
  const std::string one = b + " BOX_CLASSIFICATION -10 10 -10 10 -10 10 1 2";
  const struct {
    const char* what;
    std::string before, after;
    bool rebuilt, twoLevels;
    // Set: a VOLUME_CLASSIFICATION entry is added whose stiffness table
    // holds this before the edit and `tableAfter` after it.
    std::string table = "", tableAfter = "";
    std::string params = "";    // the model's .params
    bool loseMatrices = false;  // the matrix cache is removed before the second load
  } rows[] = {
      {"FIXED_VERTICES added", "LEVEL 2", "LEVEL 2 FIXED_VERTICES 4 1 2 3 4", true, false},
      {"FIXED_VERTICES moved", b, "LEVEL 2 FIXED_VERTICES 2 1 3", true, false},
      {"SCALE", b, b + " SCALE 2 1 0.5", true, false},
      {"SWAP_X_Y", b, b + " SWAP_X_Y", true, false},
      {"READ_HIERARCHY", b, b + " READ_HIERARCHY", true, true},
      {"BOX_CLASSIFICATION removed", b + " BOX_CLASSIFICATION 0 0.6 0 0.6 0 1 5 2", b, true, false},
      {"GRAVITY", b, b + " GRAVITY 0 0 -3", false, false},
      // A path keyword without its value takes SCALE as the path.
      {"TEXTURE_PATH given its value", b + " TEXTURE_PATH SCALE 2 2 2",
       b + " TEXTURE_PATH tex.tga SCALE 2 2 2", true, false},
      // The number ends where SCALE starts.
      {"glued SCALE", b + " GRAVITY 0 0 -3SCALE 2 2 2", b + " GRAVITY 0 0 -3SCALE 2 1 1", true,
       false},
      // Neither pass softens the cube while BELLOW is the texture's name.
      {"BELLOW no longer a path", b + " TEXTURE_PATH BELLOW 0 0 0 0.5",
       b + " TEXTURE_PATH t.tga BELLOW 0 0 0 0.5", true, false},
      {"transfer table edited", b, b, true, false, "1 1 1 1", "1 1 1 5"},
      {"transfer table kept", b, b, false, false, "1 1 1 2", "1 1 1 2"},
      {"BOX_CLASSIFICATION of 1 over .params", one, one, false, false, "", "", params},
      {"BOX_CLASSIFICATION of 1, matrices lost", one, one, false, false, "", "", params, true},
      {"BOX_CLASSIFICATION of 1 added", b, one, true, false, "", "", params},
      {"VOLUME_CLASSIFICATION of 1 over .params", b, b, false, false, "1 1 1 1", "1 1 1 1", params},
      {"VOLUME_CLASSIFICATION of 1, matrices lost", b, b, false, false, "1 1 1 1", "1 1 1 1",
       params, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ModelDirs dirs;
    // Sample 3 over the whole cube.
    const std::string m = dirs.models, volume = " VOLUME_CLASSIFICATION 0 0 0 0 0 0 2 1 1 " + m +
                                                "v.raw " + m + "s.txt " + m + "d.txt";
    const std::string entry = row.table.empty() ? "" : volume;
    writeFile(m + "v.raw", "\x03\x03");
    writeFile(m + "d.txt", "1 1 1 1");
    writeFile(m + "s.txt", row.table);
    dirs.cube("c", row.before + entry);
    if (row.twoLevels) writeTwoLevelCube(dirs.models + "c");
    if (!row.params.empty()) writeFile(m + "c.params", row.params);
    std::unique_ptr<::Run> first, edited, rebuilt;
    loadAndStep("c", false, first);
    writeFile(dirs.models + "c.config", row.after + entry);
    writeFile(m + "s.txt", row.tableAfter);
    if (row.loseMatrices) std::remove((dirs.caches + "c.cacheCauchy").c_str());
    std::string printed;
    const double u = loadAndStep("c", false, edited, &printed);
    EXPECT_EQ(edited->meshFromCache == 0, row.rebuilt);
    const std::string line = "[Run, readMesh] Mesh cache \"" + dirs.caches +
                             "c.mesh\" was written for other model files or configuration entries";
    EXPECT_EQ(printed.find(line) != std::string::npos, row.rebuilt) << printed;
    if (!row.rebuilt && !row.loseMatrices) {
      EXPECT_EQ(printed.find("ebuil"), std::string::npos) << printed;
    }
    const double reference = loadAndStep("c", true, rebuilt);
    EXPECT_EQ(describe(*edited->hierarchy), describe(*rebuilt->hierarchy));
    EXPECT_EQ(edited->settings.fixedCount, rebuilt->settings.fixedCount);
    EXPECT_NEAR(u, reference, 1e-9 * reference);
    EXPECT_GT(reference, 0.0);
  }
}

// Two models of one mesh file that differ only in a MESH placement: a
// matrix or hierarchy cache of one, copied over the other's, is refused in
// one line, and the load gives the other's own result.
TEST(RunMeshCache, CachesOfAnotherMeshPlacementAreRebuilt) {
  const struct {
    std::vector<std::string> copied;
    std::string line;
  } rows[] = {
      {{".cacheCauchy", ".cacheCauchy.Mgrid"}, "WARNING: Model files changed!"},
      {{".cacheCauchy.Mgrid"}, "b.cacheCauchy.Mgrid\" was written for another model"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    ModelDirs dirs;
    dirs.cube("c", "LEVEL 2");
    const std::string entry = "LEVEL 2 FIXED_VERTICES 4 1 2 3 4 MESH c ";
    writeFile(dirs.models + "a.config", entry + "1 0 0 3  0 1 0 0  0 0 1 0  0 0 0 1");
    writeFile(dirs.models + "b.config", entry + "2 0 0 3  0 1 0 0  0 0 1 0  0 0 0 1");
    std::unique_ptr<::Run> a, b, copied;
    const double ua = loadAndStep("a", false, a);
    const double ub = loadAndStep("b", false, b);
    ASSERT_GT(std::abs(ua - ub), 1e-3 * ub);
    for (const std::string& cache : row.copied)
      writeFile(dirs.caches + "b" + cache, readFile(dirs.caches + "a" + cache));
    std::string printed;
    const double u = loadAndStep("b", false, copied, &printed);
    EXPECT_NE(copied->meshFromCache, 0);
    EXPECT_NE(printed.find(row.line), std::string::npos) << printed;
    EXPECT_NEAR(u, ub, 1e-9 * ub);
  }
}
