#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "FiniteElement.h"
#include "ModelFixture.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

using namespace zolt::test;

TEST(Run, CubeRefinesToTheClosedFormCounts) {
  ModelDirs d;
  d.cube("cube", "LEVEL 3");
  std::unique_ptr<::Run> run;
  const std::string out =
      captureStdout([&] { run = std::make_unique<::Run>("cube", false, 0, 0); });
  EXPECT_NE(out.find("Center of object: 0.5, 0.5, 0.5\nBuild nested hierarchy ... \n"),
            std::string::npos);
  EXPECT_NE(out.find("\nVertices / Elements on level 0: 8 / 6\n"
                     "Vertices / Elements on level 1: 27 / 48\n"
                     "Vertices / Elements on level 2: 125 / 384\n\n"),
            std::string::npos);
  ASSERT_FALSE(run->refused);
  EXPECT_EQ(run->elementType, ElementType::TETRAHEDRON);  // no element keyword
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

TEST(Run, CachePathsFollowTheElementModel) {
  const char* words[] = {"cacheCauchy",    "cacheRotated",  "cacheGreen", "cachePartition",
                         "cacheCutCauchy", "cacheExplicit", "cache",      "cache"};
  ModelDirs d;
  d.cube("m", "");
  for (int model = 0; model < 8; ++model) {
    auto run = loadRun("m", false, model == 7 ? -1 : model);
    EXPECT_EQ(run->matrixCachePath, d.caches + "m." + words[model]);
    EXPECT_EQ(run->settings.hierarchyCachePath, run->matrixCachePath + ".Mgrid");
  }
}

TEST(Run, TextMeshRemovesDerivedCachesAndWritesTheMatrixCache) {
  ModelDirs d;
  d.cube("m", "");
  const std::vector<std::string> derived = {"m.cacheCauchy.Mgrid", "m.cacheVolume",
                                            "m.cacheSurface", "m.cacheSurface.weight",
                                            "m.cacheSurface.weightFur"};
  for (const std::string& f : derived) writeFile(d.caches + f, "old");
  writeFile(d.caches + "m.cacheCauchy", "old matrices");
  writeFile(d.caches + "other.cacheVolume", "kept");
  auto run = loadRun("m");
  for (const std::string& f : derived) EXPECT_FALSE(exists(d.caches + f)) << f;
  EXPECT_TRUE(exists(d.caches + "other.cacheVolume"));
  EXPECT_EQ(run->generateCache, 1);
  EXPECT_TRUE(run->newMatrixCache.is_open());
  // Replaced only when the new one is complete.
  EXPECT_EQ(readFile(d.caches + "m.cacheCauchy"), "old matrices");
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
  EXPECT_FALSE(run->newMatrixCache.is_open());
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

TEST(Run, ReadHierarchyTakesEveryLevelFromTheFiles) {
  ModelDirs d;
  writeFile(d.models + "h.config", "LEVEL 2 READ_HIERARCHY");
  writeTwoLevelCube(d.models + "h");
  auto run = loadRun("h");
  ASSERT_FALSE(run->refused);
  ASSERT_EQ(run->hierarchy->vertices[1].size(), 9u);
  EXPECT_EQ(run->hierarchy->elements[1].size(), 6u);  // not refined: read
  const Vertex* centre = run->hierarchy->vertices[1][8];
  ASSERT_EQ(centre->parents.size(), 8u);
  // The weights reproduce the position from the parents.
  float mean[3] = {0, 0, 0};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(centre->parents[k].parent, run->hierarchy->vertices[0][k]);
    for (int j = 0; j < 3; ++j)
      mean[j] += centre->parents[k].weight * centre->parents[k].parent->restPosition[j];
  }
  for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(centre->restPosition[j], mean[j]);
}

TEST(Run, UnusableModelsAreRefused) {
  ModelDirs d;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"FIXED_VERTICES 1 9", "[Run] Error: Fixed vertex 9 of model \"m\" does not exist (8"},
      {"FIXED_VERTICES 1 0", "[Run] Error: Fixed vertex below 1 of model \"m\" does not exist"},
      {"LEVEL abc", "[Run, readConfig] Error: Could not read the values of LEVEL"},
      {"FORCE_VERTICES 2 1 0 0", "[Run, readForces] Error: Could not read the values of"},
      {"FORCE_VERTICES 1 2.5 0 0 1", "[Run, readForces] Error: Could not read the values of"},
      {"LEVEL 2 BELLOW 0 0 0 1 LEVEL 2.5", "[Run, readConfig] Error: Could not read the values of"},
      {"HEXAHEDRON", "[Run] Error: \"" + d.models + "m.config\" sets HEXAHEDRON elements but"},
      {"TETRAHEDRON TRIANGLE3D", "[Run] Error: \"" + d.models + "m.config\" sets TRIANGLE3D"},
      {"SERENDIPITY_TET", "[Run] Error: \"" + d.models + "m.config\" sets SERENDIPITY_TET"},
  };
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
  int controlObject = 0, drawableObject = 0;
  auto* control = reinterpret_cast<ZoltControl*>(&controlObject);
  auto* drawable = reinterpret_cast<ZoltRenderable*>(&drawableObject);
  FrontEnd f;
  f.createControl = [&](::Run&) { return control; };
  f.createDrawable = [&](::Run&, ZoltControl* c) {
    EXPECT_EQ(c, control);
    return drawable;
  };
  f.setRenderData = [&](ZoltControl* c, ZoltRenderable* r) {
    log.push_back(c == control && r == drawable ? "linked" : "bad link");
  };
  f.startLoop = [&](ZoltControl*, ZoltRenderable*, int rate) {
    log.push_back("loop " + std::to_string(rate));
  };
  f.deleteDrawable = [&](ZoltRenderable* r) { log.push_back(r == drawable ? "drawable" : "?"); };
  f.deleteControl = [&](ZoltControl* c) { log.push_back(c == control ? "control" : "?"); };

  for (const auto& [step, rate] :
       std::vector<std::pair<const char*, int>>{{"0.05", 20}, {"0.03", 33}, {"0.3", 3}}) {
    d.cube("m", std::string("MATERIAL 1e6 0.3 1000 5 1 ") + step);
    auto run = loadRun("m");
    startSimulation(run.get(), true, true, f);
    run.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"linked", "loop " + std::to_string(rate), "drawable",
                                             "control"}));
    log.clear();
  }
  auto bare = loadRun("m");
  startSimulation(bare.get(), false, false, f);
  EXPECT_EQ(bare->control, nullptr);
  EXPECT_EQ(bare->renderable, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"loop 3"}));
}
