#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "FiniteElement.h"
#include "ModelFixture.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

using namespace zolt::test;

// The console lines of this load are checked with zolt_headless. A load
// from the text files removes the model's derived caches and opens the
// matrix cache for writing.
TEST(Run, CubeRefinesToTheClosedFormCountsAndResetsItsCaches) {
  ModelDirs d;
  d.cube("cube", "LEVEL 3");
  const std::vector<std::string> derived = {"cube.cacheCauchy.Mgrid", "cube.cacheVolume",
                                            "cube.cacheSurface", "cube.cacheSurface.weight",
                                            "cube.cacheSurface.weightFur"};
  for (const std::string& f : derived) writeFile(d.caches + f, "old");
  writeFile(d.caches + "cube.cacheCauchy", "old matrices");
  writeFile(d.caches + "other.cacheVolume", "kept");
  auto run = loadRun("cube");
  ASSERT_FALSE(run->refused);
  for (const std::string& f : derived) EXPECT_FALSE(exists(d.caches + f)) << f;
  EXPECT_TRUE(exists(d.caches + "other.cacheVolume"));
  EXPECT_EQ(run->generateCache, 1);
  EXPECT_TRUE(run->matrixCache.is_open());
  EXPECT_EQ(readFile(d.caches + "cube.cacheCauchy"), "");  // truncated for writing
  for (int l = 0; l < 3; ++l) {
    const size_t n = size_t(1) << l;
    EXPECT_EQ(run->hierarchy->vertices[l].size(), (n + 1) * (n + 1) * (n + 1));
    double volume = 0.0;
    for (const FiniteElement* e : run->hierarchy->elements[l]) {
      EXPECT_GT(restVolume(*e), 0.0);
      volume += restVolume(*e);
    }
    EXPECT_NEAR(volume, 1.0, 1e-12) << l;
  }
  for (const Vertex* v : run->hierarchy->vertices[2])
    for (int k = 0; k < 3; ++k) EXPECT_LE(std::fabs(v->restPosition[k]), 0.5f);
}

TEST(Run, UnwritableMatrixCacheIsReportedAndLoadingGoesOn) {
  ModelDirs d;
  d.cube("m", "LEVEL 2");
  cachesPath = d.dir.file("missing/");
  std::unique_ptr<::Run> run;
  const std::string out = captureStdout([&] { run = std::make_unique<::Run>("m", false, 0, 0); });
  EXPECT_NE(out.find("[Run] Error opening file \"" + cachesPath + "m.cacheCauchy\" for writing\n"),
            std::string::npos);
  EXPECT_FALSE(run->refused);
  EXPECT_TRUE(run->matrixCache.fail());
  EXPECT_EQ(run->hierarchy->elements[1].size(), 48u);
}

TEST(Run, MeshEntriesAppendTheirFilesToLevelZero) {
  ModelDirs d;
  // Entry b is moved by +2 in x; SCALE then doubles every x.
  d.cube("a", "");
  d.cube("b", "");
  writeFile(d.models + "pair.config",
            "MESH a 1 0 0 0  0 1 0 0  0 0 1 0  0 0 0 1\n"
            "MESH b 1 0 0 2  0 1 0 0  0 0 1 0  0 0 0 1\n"
            "SCALE 2 1 1\n");
  auto run = loadRun("pair");
  ASSERT_FALSE(run->refused);
  const auto& vertices = run->hierarchy->vertices[0];
  const auto& elements = run->hierarchy->elements[0];
  ASSERT_EQ(vertices.size(), 16u);
  ASSERT_EQ(elements.size(), 12u);
  // Centre of both cubes: x = (0 + 2 + 4 + 6) / 4 after scaling.
  EXPECT_DOUBLE_EQ(run->renderSettings.centre[0], 3.0);
  EXPECT_EQ(vertices[9]->restPosition[0] + 3.0f, 6.0f);  // b's vertex 2 at x = (1 + 2) * 2
  for (size_t e = 0; e < 12; ++e)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(elements[e]->getVertex(i)->index >= 8, e >= 6) << e;
}

// Level 1: the cube's corners again in reverse order (each with its corner
// as only parent) plus the centre, interpolated from all eight corners; six
// tetrahedra share the centre. Level-0 numbers of DEFORMATION move to the
// nearest finest vertex.
TEST(Run, ReadHierarchyTakesEveryLevelFromTheFiles) {
  ModelDirs d;
  std::string node = std::string(kCubeNode) + "9 3 0 1\n";
  for (int i = 1, j = 7; i <= 8; ++i, --j)
    node += std::to_string(i) + " " + std::to_string(j & 1) + " " + std::to_string(j >> 1 & 1) +
            " " + std::to_string(j >> 2) + " 1 " + std::to_string(j + 1) + " 1\n";
  node += "9 0.5 0.5 0.5 8 1 0.125 2 0.125 3 0.125 4 0.125 5 0.125 6 0.125 7 0.125 8 0.125\n";
  std::string ele = kCubeEle;
  ele += "6 4 0\n1 1 2 4 9\n2 1 2 6 9\n3 1 3 4 9\n4 1 3 7 9\n5 1 5 6 9\n6 1 5 7 9\n";
  writeFile(d.models + "h.config", "LEVEL 2 READ_HIERARCHY DEFORMATION 2 1 0.5 0 0 7 0 0 1");
  writeFile(d.models + "h.node", node);
  writeFile(d.models + "h.ele", ele);
  auto run = loadRun("h");
  ASSERT_FALSE(run->refused);
  const std::vector<Vertex*>& coarse = run->hierarchy->vertices[0];
  const std::vector<Vertex*>& fine = run->hierarchy->vertices[1];
  ASSERT_EQ(fine.size(), 9u);
  EXPECT_EQ(run->hierarchy->elements[1].size(), 6u);  // not refined: read
  for (int k = 0; k < 8; ++k) EXPECT_EQ(fine[k]->parents.at(0).parent, coarse[7 - k]) << k;
  const Vertex* centre = fine[8];
  ASSERT_EQ(centre->parents.size(), 8u);
  // The weights reproduce the position from the parents.
  float mean[3] = {0, 0, 0};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(centre->parents[k].parent, coarse[k]);
    for (int j = 0; j < 3; ++j)
      mean[j] += centre->parents[k].weight * centre->parents[k].parent->restPosition[j];
  }
  for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(centre->restPosition[j], mean[j]);
  const std::vector<VertexForce>& targets = run->settings.deformations;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].vertex, fine[7]);  // corner 0 listed last
  EXPECT_EQ(targets[1].vertex, fine[1]);  // corner 6 listed second
  EXPECT_EQ(targets[1].value[2], 1.0);
}

TEST(Run, UnusableModelsAreRefused) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"FIXED_VERTICES 1 9", "[Run] Error: Fixed vertex 9 of model \"m\" does not exist (8"},
      {"FIXED_VERTICES 1 0", "[Run] Error: Fixed vertex below 1 of model \"m\" does not exist"},
      {"LEVEL abc", "[Run, readConfig] Error: Could not read the values of LEVEL"},
      {"FORCE_VERTICES 2 1 0 0", "[Run, readForces] Error: Could not read the values of"},
      {"HEXAHEDRON", "[Run] Error: Model \"m\" has no elements on level 0"},
  };
  ModelDirs d;
  for (const auto& [config, message] : rows) {
    d.cube("m", config);
    const auto [run, o] = loadCaptured("m");
    EXPECT_TRUE(run->refused) << config;
    EXPECT_EQ(o.err.rfind(message, 0), 0u) << config << ": " << o.err;
    EXPECT_EQ(o.out.find("Using cache file"), std::string::npos) << config;
  }
}

TEST(Run, StartSimulationLinksTheFrontEndAndFreesItInOrder) {
  ModelDirs d;
  std::vector<std::string> log;
  int objects[2];
  auto* control = reinterpret_cast<ZoltControl*>(&objects[0]);
  auto* drawable = reinterpret_cast<ZoltRenderable*>(&objects[1]);
  FrontEnd f;
  f.createControl = [&](::Run&) { return control; };
  f.createDrawable = [&](::Run&, ZoltControl* c) { return c == control ? drawable : nullptr; };
  f.setRenderData = [&](ZoltControl* c, ZoltRenderable* r) {
    log.push_back(c == control && r == drawable ? "linked" : "bad link");
  };
  f.startLoop = [&](ZoltControl*, ZoltRenderable*, int rate) {
    log.push_back("loop " + std::to_string(rate));
  };
  f.deleteDrawable = [&](ZoltRenderable* r) { log.push_back(r == drawable ? "drawable" : "?"); };
  f.deleteControl = [&](ZoltControl* c) { log.push_back(c == control ? "control" : "?"); };

  // 1 / 0.03 truncates to 33 frames per second.
  d.cube("m", "MATERIAL 1e6 0.3 1000 5 1 0.03");
  for (bool frontEnd : {true, false}) {
    log.clear();
    auto run = loadRun("m");
    startSimulation(run.get(), frontEnd, frontEnd, f);
    EXPECT_EQ(run->control != nullptr, frontEnd);
    EXPECT_EQ(run->renderable != nullptr, frontEnd);
    run.reset();
    EXPECT_EQ(log, frontEnd ? (std::vector<std::string>{"linked", "loop 33", "drawable", "control"})
                            : std::vector<std::string>{"loop 33"});
  }
}
