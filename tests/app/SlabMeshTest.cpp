#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "Capture.h"
#include "Converters.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "ToolFiles.h"

using namespace zolt::test;
using P = std::array<double, 3>;

namespace {

P sub(const P& a, const P& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
P cross(const P& a, const P& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const P& a, const P& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

// Volumes and faces from the files alone: the tetrahedra fill the slab
// (volume 4 t) and tile it without gaps or overlaps (every inner face shared
// by exactly two of them, the faces used once cover the slab's surface).
TEST(SlabMesh, LevelsTileTheSlab) {
  const struct {
    int levels;
    float thickness;
  } rows[] = {{1, 2.5f}, {3, 0.2f}};
  for (const auto& r : rows) {
    ToolDir dir;
    ASSERT_TRUE(generateSlabMesh(dir.path("slab"), r.levels, r.thickness));
    const auto node = nodeBlocks(readFile(dir.path("slab.node")));
    const auto ele = eleBlocks(readFile(dir.path("slab.ele")));
    ASSERT_EQ(node.size(), size_t(r.levels));
    ASSERT_EQ(ele.size(), size_t(r.levels));
    for (int l = 0; l < r.levels; ++l) {
      const double t = node[l].x[1][2];  // as written
      EXPECT_FLOAT_EQ(float(t), r.thickness);
      const size_t N = size_t(1) << l;
      ASSERT_EQ(node[l].x.size(), 2 * (N + 1) * (N + 1));
      ASSERT_EQ(ele[l].v.size(), 6 * N * N);
      for (size_t i = 0; i < node[l].x.size(); ++i)
        EXPECT_EQ(node[l].x[i][2], i % 2 ? t : 0.0);  // top vertices have even numbers
      double volume = 0.0, surface = 0.0;
      std::map<std::array<long, 3>, int> faceUse;
      std::map<std::array<long, 3>, double> faceArea;
      for (const auto& c : ele[l].v) {
        P p[4];
        for (int k = 0; k < 4; ++k) p[k] = node[l].x[size_t(c[size_t(k)] - 1)];
        const double v = dot(cross(sub(p[1], p[0]), sub(p[2], p[0])), sub(p[3], p[0])) / 6.0;
        EXPECT_GT(std::fabs(v), 0.0);
        volume += std::fabs(v);
        for (int skip = 0; skip < 4; ++skip) {
          std::array<long, 3> f;
          std::array<P, 3> q;
          for (int k = 0, j = 0; k < 4; ++k)
            if (k != skip) q[size_t(j)] = p[k], f[size_t(j++)] = c[size_t(k)];
          std::sort(f.begin(), f.end());
          ++faceUse[f];
          const P n = cross(sub(q[1], q[0]), sub(q[2], q[0]));
          faceArea[f] = 0.5 * std::sqrt(dot(n, n));
        }
      }
      for (const auto& [f, uses] : faceUse) {
        EXPECT_LE(uses, 2);
        if (uses == 1) surface += faceArea[f];
      }
      EXPECT_NEAR(volume, 4.0 * t, 1e-12) << "level " << l;
      EXPECT_NEAR(surface, 8.0 + 8.0 * t, 1e-12) << "level " << l;
    }
  }
}

// The element reader of the model loader orients every tetrahedron positive.
TEST(SlabMesh, LoadsWithPositiveVolumes) {
  ToolDir dir;
  const float t = 0.2f;
  ASSERT_TRUE(generateSlabMesh(dir.path("slab"), 3, t));
  const auto node = nodeBlocks(readFile(dir.path("slab.node")));
  const double written = node[0].x[1][2];
  TetHierarchy h(3);
  std::istringstream ele(readFile(dir.path("slab.ele")));
  for (int l = 0; l < 3; ++l) {
    for (size_t i = 0; i < node[l].x.size(); ++i) {
      auto* v = new Vertex;
      v->index = int(i);
      for (int k = 0; k < 3; ++k) v->restPosition[k] = float(node[l].x[i][k]);
      v->currentPosition = v->restPosition;
      h.vertices[l].push_back(v);
    }
    Tetrahedron::read(ele, &h, l, 0);
    double sum = 0.0;
    for (FiniteElement* e : h.elements[l]) {
      EXPECT_GT(e->getCurrentVolume(), 0.0f);
      sum += e->getCurrentVolume();
    }
    EXPECT_NEAR(sum, 4.0 * written, 1e-6) << "level " << l;
  }
}

TEST(SlabMesh, RefusesLevelsAndThicknessOutOfRange) {
  const struct {
    int levels;
    float thickness;
    const char* what;
  } rows[] = {
      {0, 1.0f, "level count 0 outside 1..10"}, {11, 1.0f, "level count 11 outside 1..10"},
      {2, 0.0f, "thickness must be positive"},  {2, -1.0f, "thickness must be positive"},
      {2, NAN, "thickness must be positive"},
  };
  for (const auto& r : rows) {
    ToolDir dir;
    bool ok = true;
    const std::string err =
        captureStderr([&] { ok = generateSlabMesh(dir.path("slab"), r.levels, r.thickness); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(err,
              "[Converters, generateSlabMesh] Error: " + dir.path("slab") + ": " + r.what + "\n");
    EXPECT_FALSE(dir.exists("slab.node"));
  }
}
