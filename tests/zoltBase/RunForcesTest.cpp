#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "DeformationForce.h"
#include "FiniteElement.h"
#include "ModelFixture.h"
#include "TetHierarchy.h"

using namespace zolt::test;

namespace {

const std::vector<Vertex*>& finest(const ::Run& run) {
  return run.hierarchy->vertices[run.hierarchy->nLevels - 1];
}

const std::vector<FiniteElement*>& finestElements(const ::Run& run) {
  return run.hierarchy->elements[run.hierarchy->nLevels - 1];
}

Loaded loadCube(const ModelDirs& d, const std::string& config) {
  d.cube("m", config);
  return loadCaptured("m");
}

// The cube's six tetrahedra in file order have centroid x (uncentred)
// 0.75, 0.75, 0.5, 0.25, 0.5, 0.25: each runs 0, one edge, one face
// diagonal, 7, and x comes first on the first two.
const float kCentroidX[6] = {0.75f, 0.75f, 0.5f, 0.25f, 0.5f, 0.25f};

}  // namespace

TEST(RunForces, ForceVerticesAndDeformations) {
  ModelDirs d;
  Loaded plain = loadCube(d, "LEVEL 3 FORCE_VERTICES 1 5 0 0 -10");
  ASSERT_EQ(plain.run->settings.forces.size(), 1u);
  const VertexForce& f = plain.run->settings.forces[0];
  EXPECT_EQ(f.vertex, finest(*plain.run)[4]);
  EXPECT_EQ(f.vertex->index, 4);
  EXPECT_EQ(std::vector<double>(f.value, f.value + 3), (std::vector<double>{0, 0, -10}));

  Loaded swapped = loadCube(d, "SWAP_X_Y DEFORMATION 1 5 1 2 3");
  ASSERT_EQ(swapped.run->settings.deformations.size(), 1u);
  const double* v = swapped.run->settings.deformations[0].value;
  EXPECT_EQ(std::vector<double>(v, v + 3), (std::vector<double>{2, 1, 3}));

  // Vertex numbers that name no vertex are skipped with a message.
  Loaded bad = loadCube(d, "LEVEL 2 FORCE_VERTICES 3 0 1 1 1 28 1 1 1 27 0 1 0");
  ASSERT_FALSE(bad.run->refused);
  ASSERT_EQ(bad.run->settings.forces.size(), 1u);
  EXPECT_EQ(bad.run->settings.forces[0].vertex, finest(*bad.run)[26]);
  EXPECT_EQ(bad.output.err,
            "[Run, readForces] Warning: FORCE_VERTICES vertex 0 does not exist; skipped\n"
            "[Run, readForces] Warning: FORCE_VERTICES vertex 28 does not exist; skipped\n");
}

TEST(RunForces, ReadHierarchyMovesLevelZeroNumbersToTheNearestFinestVertex) {
  // Level 1 holds the cube's corners in reverse order.
  ModelDirs d;
  const std::string node = std::string(kCubeNode) +
                           "8 3 0 0\n1 1 1 1\n2 0 1 1\n3 1 0 1\n4 0 0 1\n"
                           "5 1 1 0\n6 0 1 0\n7 1 0 0\n8 0 0 0\n";
  const std::string ele = std::string(kCubeEle) +
                          "6 4 0\n1 8 7 5 1\n2 8 7 3 1\n3 8 6 5 1\n"
                          "4 8 6 2 1\n5 8 4 3 1\n6 8 4 2 1\n";
  writeFile(d.models + "h.config", "LEVEL 2 READ_HIERARCHY DEFORMATION 2 1 0.5 0 0 7 0 0 1");
  writeFile(d.models + "h.node", node);
  writeFile(d.models + "h.ele", ele);
  auto run = loadRun("h");
  ASSERT_FALSE(run->refused);
  const std::vector<VertexForce>& targets = run->settings.deformations;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].vertex, run->hierarchy->vertices[1][7]);  // corner 0 listed last
  EXPECT_EQ(targets[1].vertex, run->hierarchy->vertices[1][1]);  // corner 6 listed second
  EXPECT_EQ(targets[1].value[2], 1.0);
}

TEST(RunForces, ForcePlaneSelectsTheVerticesOfOneHeight) {
  const struct {
    const char* config;
    int count;
  } rows[] = {
      // The top face of the twice refined cube: a 5 x 5 grid.
      {"LEVEL 3 FORCE_PLANE 1 0 -1 0", 25},
      {"LEVEL 3 SCALE 1 2 1 FORCE_PLANE 1 0 -1 0", 25},
      {"LEVEL 3 FORCE_PLANE 0.3 0 -1 0", 0},
      {"LEVEL 2 FORCE_PLANE 0 1 2 3 FORCE_PLANE 1 1 2 3", 18},
      // The first FORCE_PLANE is the texture's name in both passes.
      {"LEVEL 3 TEXTURE_PATH FORCE_PLANE 1 0 -1 0 FORCE_PLANE 1 0 -1 0", 25},
  };
  ModelDirs d;
  for (const auto& row : rows) {
    Loaded l = loadCube(d, row.config);
    const std::vector<VertexForce>& forces = l.run->settings.forces;
    EXPECT_EQ(static_cast<int>(forces.size()), row.count) << row.config;
    const std::string added = "Added " + std::to_string(row.count) + " force vectors!\n";
    EXPECT_NE(l.output.out.find(row.count == 18 ? "Added 9 force vectors!\n" : added),
              std::string::npos)
        << row.config;
    std::set<float> heights;
    for (const VertexForce& f : forces) heights.insert(f.vertex->restPosition[1]);
    EXPECT_LE(heights.size(), 2u) << row.config;
  }
}

TEST(RunForces, BoxClassificationIncludesItsBounds) {
  const struct {
    const char *x0, *x1;
    int count;
  } rows[] = {{"0.75", "1", 2}, {"0.7500001", "1", 0}, {"0", "0.75", 6},
              {"0", "0.25", 2}, {"0.25", "0.5", 4},    {"0.5", "0.5", 2}};
  ModelDirs d;
  for (const auto& row : rows) {
    const std::string config =
        std::string("BOX_CLASSIFICATION ") + row.x0 + " " + row.x1 + " -1 2 -1 2 2.5 0.5";
    Loaded l = loadCube(d, config);
    int count = 0;
    for (int e = 0; e < 6; ++e) {
      const FiniteElement* el = finestElements(*l.run)[e];
      const bool inside = kCentroidX[e] >= std::stof(row.x0) && kCentroidX[e] <= std::stof(row.x1);
      EXPECT_EQ(el->getStiffness(), inside ? 2.5f : 1.0f) << config << " " << e;
      EXPECT_EQ(el->getDensity(), inside ? 0.5f : 1.0f) << config << " " << e;
      count += inside;
    }
    EXPECT_EQ(count, row.count) << config;
  }
}

TEST(RunForces, VolumeClassificationReadsTablesAndSamples) {
  ModelDirs d;
  const std::string volume = d.models + "v.raw", stiff = d.models + "s.txt",
                    dense = d.models + "d.txt";
  writeFile(volume, std::string("\x03\xc8", 2));  // samples 3 and 200
  std::string table;
  for (int i = 0; i < 256; ++i) table += std::to_string(0.5 * i) + " ";
  writeFile(stiff, table);
  writeFile(dense, "9 8 7 6");  // entry 200 stays 1
  const std::string words = " " + volume + " " + stiff + " " + dense;
  Loaded l = loadCube(d, "VOLUME_CLASSIFICATION 0 0 0 0 0 0 2 1 1" + words);
  EXPECT_NE(l.output.out.find("Set Stiffness/density from volume \"" + volume +
                              "\" using transfer functions " + stiff + " and " + dense + "\n"),
            std::string::npos);
  // Two samples across x: centroids left of the middle take the first.
  for (int e = 0; e < 6; ++e) {
    const bool left = kCentroidX[e] < 0.5f;
    EXPECT_EQ(finestElements(*l.run)[e]->getStiffness(), left ? 1.5f : 100.0f) << e;
    EXPECT_EQ(finestElements(*l.run)[e]->getDensity(), left ? 6.0f : 1.0f) << e;
  }

  // A flat box (xmin moved onto xmax) or an empty grid is refused.
  for (const char* box : {"1 0 0 0 0 0 2 1 1", "0 -1 0 0 0 0 2 1 1", "0 0 0 0 0 0 0 1 1"}) {
    Loaded flat = loadCube(d, std::string("VOLUME_CLASSIFICATION ") + box + words);
    EXPECT_FALSE(flat.run->refused);
    for (const FiniteElement* e : finestElements(*flat.run)) EXPECT_EQ(e->getStiffness(), 1.0f);
    EXPECT_EQ(flat.output.err.rfind("[Run, classifyByVolume] Error: ", 0), 0u) << box;
  }
}

TEST(RunForces, BellowPushesTheNeighboursWithTheMagnitude) {
  ModelDirs d;
  Loaded l = loadCube(d, "LEVEL 2 BELLOW 0.01 0 -0.01 40");
  const ::Run& run = *l.run;
  const Vertex* centre = nullptr;
  for (const Vertex* v : finest(run))
    if (v->restPosition[0] == 0 && v->restPosition[1] == 0 && v->restPosition[2] == 0) centre = v;
  ASSERT_NE(centre, nullptr);
  std::set<const Vertex*> neighbours;
  for (const FiniteElement* e : finestElements(run)) {
    bool around = false;
    for (int i = 0; i < 4; ++i) around = around || e->getVertex(i) == centre;
    EXPECT_EQ(e->getStiffness(), around ? 0.001f : 1.0f);
    EXPECT_EQ(e->getDensity(), around ? 0.01f : 1.0f);
    for (int i = 0; around && i < 4; ++i)
      if (e->getVertex(i) != centre) neighbours.insert(e->getVertex(i));
  }
  const std::vector<VertexForce>& forces = run.settings.forces;
  ASSERT_EQ(forces.size(), neighbours.size());
  std::set<const Vertex*> pushed;
  for (const VertexForce& f : forces) {
    pushed.insert(f.vertex);
    const double norm =
        std::sqrt(f.value[0] * f.value[0] + f.value[1] * f.value[1] + f.value[2] * f.value[2]);
    EXPECT_NEAR(norm, 40.0, 40.0 * 1e-6);
    // Away from the centre, which sits at the origin.
    double along = 0.0;
    for (int k = 0; k < 3; ++k) along += f.value[k] * f.vertex->restPosition[k];
    const float* p = f.vertex->restPosition;
    const double parallel = norm * std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    EXPECT_NEAR(along, parallel, 1e-5 * parallel);
  }
  EXPECT_EQ(pushed, neighbours);
}

TEST(RunForces, RadialForceListsAnElementOncePerPassingNode) {
  ModelDirs d;
  Loaded radial = loadCube(d, "RADIAL_FORCE 1 0 0 0 5");
  const DeformationForce& r = *radial.run->settings.deformationForce;
  EXPECT_EQ(r.type, 6);
  EXPECT_EQ(r.param[1], 5.0f);
  // Every node with x <= 0 (uncentred x = 0) lists its element once more.
  std::vector<const FiniteElement*> expected;
  for (const FiniteElement* e : finestElements(*radial.run))
    for (int i = 0; i < 4; ++i)
      if (e->getVertex(i)->restPosition[0] < 0) expected.push_back(e);
  ASSERT_EQ(expected.size(), 12u);
  EXPECT_EQ(std::vector<const FiniteElement*>(r.elements->begin(), r.elements->end()), expected);

  // A later field keyword replaces the type; in 2D only two components are set.
  Loaded wind = loadCube(d, "2D SPHERICAL_FORCE 1 2 3 0.5 0.1 WIND_FORCE 4 5 6 0.5 0.25");
  const DeformationForce& w = *wind.run->settings.deformationForce;
  EXPECT_EQ(w.type, 3);
  EXPECT_EQ(std::vector<float>(w.vector, w.vector + 3), (std::vector<float>{4, 5, 0}));
}

TEST(RunForces, ImplantCentreAndMask) {
  ModelDirs d;
  // Soft: the four tetrahedra with centroid x <= 0.5; stiff: the first two,
  // whose corners are vertices 0, 1, 3, 5 and 7.
  Loaded l = loadCube(d, "BOX_CLASSIFICATION -1 0.5 -1 2 -1 2 0.05 1 IMPLANT 1 2 0.5");
  DeformationForce& f = *l.run->settings.deformationForce;
  EXPECT_EQ(f.type, 5);
  EXPECT_EQ(f.param[2], 0.5f);
  const std::vector<FiniteElement*>& all = finestElements(*l.run);
  EXPECT_EQ(*f.elements, (std::vector<FiniteElement*>{all[2], all[3], all[4], all[5]}));
  double centre[3] = {0, 0, 0};
  for (int e = 2; e < 6; ++e)
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 3; ++k) centre[k] += all[e]->getVertex(i)->restPosition[k] / 16.0;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(f.vector[k], centre[k], 1e-6) << k;
  // Per listed element and node: 1 when no stiff element holds the vertex.
  const std::set<int> stiff = {0, 1, 3, 5, 7};
  ASSERT_EQ(f.nodeMask.size(), 16u);
  for (int e = 0; e < 4; ++e)
    for (int i = 0; i < 4; ++i) {
      const int v = (*f.elements)[e]->getVertex(i)->index;
      EXPECT_EQ(f.nodeMask[4 * e + i], stiff.count(v) ? 0 : 1) << e << " " << i;
    }

  // Without a soft element the keyword is skipped.
  Loaded none = loadCube(d, "IMPLANT 1 2 3");
  EXPECT_EQ(none.run->settings.deformationForce->type, 0);
  EXPECT_EQ(none.run->settings.deformationForce->elements, nullptr);
  EXPECT_TRUE(none.run->settings.deformationForce->nodeMask.empty());
  EXPECT_EQ(none.output.err,
            "[Run, readForces] Error: IMPLANT skipped: no finest-level element has a stiffness "
            "of at most 0.1\n");
}

// Absurd force values and volumes smaller than their sample counts are
// refused in one line, quickly; what was set before stays.
TEST(RunForces, OutOfRangeValuesAndOversizedVolumesAreRefused) {
  ModelDirs d;
  const std::string big = " refused: every value must be finite and at most 1e+06 in magnitude";
  // Sample 3 everywhere; entry 3 of the tables is 0 or -1.
  const std::string volume = d.models + "v.raw", zero = d.models + "zero.txt",
                    negative = d.models + "negative.txt", ones = d.models + "none.txt";
  writeFile(volume, "\x03\x03");
  writeFile(zero, "1 1 1 0");
  writeFile(negative, "1 1 1 -1");
  writeFile(ones, "1 1 1 1");
  const std::string grid = "VOLUME_CLASSIFICATION 0 0 0 0 0 0 2 1 1 ";
  const std::string skipped =
      ": every factor used must be positive and finite; classification skipped";
  const struct {
    std::string config;
    float vector0;
    std::string err;
    size_t forces = 0;
  } rows[] = {
      {"SPHERICAL_FORCE 0 0 0 1e7 0.1", 0,
       "readForces] Error: SPHERICAL_FORCE 0 0 0 1e+07 0.1" + big},
      {"WIND_FORCE 1 0 0 0.5 0.25 WIND_FORCE 1e30 0 0 0.5 0.25", 1,
       "readForces] Error: WIND_FORCE 1e+30 0 0 0.5 0.25" + big},
      {"BOX_CLASSIFICATION -1 2 -1 2 -1 2 2 -1", 0,
       "readForces] Error: BOX_CLASSIFICATION stiffness 2 and density -1 refused: both factors"
       " must be positive and finite"},
      // 8e18 samples claimed of a device without end.
      {"VOLUME_CLASSIFICATION 0 0 0 0 0 0 2000000000 2000000000 2 /dev/zero " + d.models +
           "none.txt " + d.models + "none.txt",
       0,
       "classifyByVolume] Error: \"/dev/zero\" holds 0 bytes, fewer than the 2000000000 x"
       " 2000000000 x 2 samples; classification skipped"},
      {grid + volume + " " + zero + " " + ones, 0,
       "classifyByVolume] Error: Entry 3 of \"" + zero + "\" is 0" + skipped},
      {grid + volume + " " + ones + " " + negative, 0,
       "classifyByVolume] Error: Entry 3 of \"" + negative + "\" is -1" + skipped},
      {grid + d.models + "missing.raw " + ones + " " + ones, 0,
       "classifyByVolume] Error: Volume file \"" + d.models +
           "missing.raw\" does not open; classification skipped"},
      {grid + volume + " " + d.models + "missing.txt " + ones, 0,
       "classifyByVolume] Error: Transfer table \"" + d.models +
           "missing.txt\" does not open; classification skipped"},
      {grid + volume + " " + ones + " " + d.models, 0,
       "classifyByVolume] Error: Transfer table \"" + d.models +
           "\" is a directory; classification skipped"},
      {"BELLOW 0 0 0 1e30", 0, "readForces] Error: BELLOW 0 0 0 1e+30" + big},
      // Four of the cube's vertices lie in the plane y = 0.
      {"FORCE_PLANE 0 1e30 0 0", 0, "readForces] Error: FORCE_PLANE 0 1e+30 0 0" + big},
      {"VORTEX_FORCE 1 0 0 VORTEX_FORCE 0 -1e30 0", 1,
       "readForces] Error: VORTEX_FORCE 0 -1e+30 0" + big},
      // The entry of vertex 3 stays.
      {"FORCE_VERTICES 3 1 1e30 0 0 2 0 -1e7 0 3 0 0 1", 0,
       "readForces] Error: FORCE_VERTICES vertex 1 1e+30 0 0" + big + " (2 entries skipped)", 1},
  };
  for (const auto& row : rows) {
    const double start = monotonicSeconds();
    Loaded l = loadCube(d, row.config);
    EXPECT_LT(monotonicSeconds() - start, 1.0) << row.config;
    EXPECT_FALSE(l.run->refused) << row.config;
    EXPECT_EQ(l.output.err, "[Run, " + row.err + "\n") << row.config;
    EXPECT_EQ(l.run->settings.deformationForce->vector[0], row.vector0) << row.config;
    EXPECT_EQ(l.run->settings.forces.size(), row.forces) << row.config;
    for (const FiniteElement* e : finestElements(*l.run)) EXPECT_EQ(e->getStiffness(), 1.0f);
    // From the caches the first load wrote: what is refused is said again.
    captureBoth([&] { l.run->preprocess(false); });
    Loaded warm = loadCaptured("m");
    EXPECT_NE(warm.run->meshFromCache, 0) << row.config;
    EXPECT_EQ(warm.output.err, "[Run, " + row.err + "\n") << row.config;
  }
}
