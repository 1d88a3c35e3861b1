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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(path, sealedFile(c.bytes));
    dirs.cube("c", c.config);
    const std::unique_ptr<::Run> damaged = loadPreprocessed("c");
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
