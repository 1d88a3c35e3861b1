#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "Converters.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "ToolFiles.h"

using namespace zolt::test;

// From the files alone: the tetrahedra fill the slab (volume 4 t) and tile
// it (no face used more than twice, the faces used once have the slab's
// surface area 8 + 8 t).
TEST(SlabMesh, LevelsTileTheSlab) {
  const std::pair<int, float> rows[] = {{1, 2.5f}, {3, 0.2f}};
  for (const auto& [levels, thickness] : rows) {
    TempDir dir;
    ASSERT_TRUE(generateSlabMesh(dir.file("slab"), levels, thickness));
    const auto node = blocks(readFile(dir.file("slab.node")), true);
    const auto ele = blocks(readFile(dir.file("slab.ele")), false);
    ASSERT_EQ(node.size(), size_t(levels));
    ASSERT_EQ(ele.size(), size_t(levels));
    for (size_t l = 0; l < node.size(); ++l) {
      const size_t N = size_t(1) << l;
      const double t = node[l].v[1][2];  // the top of vertex 2, as written
      EXPECT_FLOAT_EQ(float(t), thickness);
      ASSERT_EQ(node[l].v.size(), 2 * (N + 1) * (N + 1));
      ASSERT_EQ(ele[l].v.size(), 6 * N * N);
      double volume = 0.0, surface = 0.0;
      std::map<std::array<long, 3>, std::pair<int, double>> faces;  // uses, area
      for (size_t e = 0; e < ele[l].v.size(); ++e) {
        Point p[4];
        for (size_t k = 0; k < 4; ++k) p[k] = corner(node[l], ele[l], e, k);
        volume += std::fabs(signedVolume(p[0], p[1], p[2], p[3]));
        for (int skip = 0; skip < 4; ++skip) {
          std::array<long, 3> f;
          for (int k = 0, j = 0; k < 4; ++k)
            if (k != skip) f[size_t(j++)] = long(ele[l].v[e][size_t(k)]);
          std::sort(f.begin(), f.end());
          const Point& a = p[skip == 0 ? 1 : 0];
          const Point& b = p[skip <= 1 ? 2 : 1];
          const Point& c = p[skip <= 2 ? 3 : 2];
          const Point n{(b[1] - a[1]) * (c[2] - a[2]) - (b[2] - a[2]) * (c[1] - a[1]),
                        (b[2] - a[2]) * (c[0] - a[0]) - (b[0] - a[0]) * (c[2] - a[2]),
                        (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])};
          auto& use = faces[f];
          ++use.first;
          use.second = 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        }
      }
      for (const auto& [f, use] : faces) {
        EXPECT_LE(use.first, 2);
        if (use.first == 1) surface += use.second;
      }
      EXPECT_NEAR(volume, 4.0 * t, 1e-12) << "level " << l;
      EXPECT_NEAR(surface, 8.0 + 8.0 * t, 1e-12) << "level " << l;
    }
  }
}

// The model loader's element reader orients every tetrahedron positive.
TEST(SlabMesh, LoadsWithPositiveVolumes) {
  TempDir dir;
  ASSERT_TRUE(generateSlabMesh(dir.file("slab"), 3, 0.2f));
  const auto node = blocks(readFile(dir.file("slab.node")), true);
  std::istringstream ele(readFile(dir.file("slab.ele")));
  TetHierarchy h(3);
  for (int l = 0; l < 3; ++l) {
    for (size_t i = 0; i < node[size_t(l)].v.size(); ++i) {
      auto* v = new Vertex;
      v->index = int(i);
      for (int k = 0; k < 3; ++k) v->restPosition[k] = float(node[size_t(l)].v[i][size_t(k)]);
      v->currentPosition = v->restPosition;
      h.vertices[l].push_back(v);
    }
    Tetrahedron::read(ele, &h, l, 0);
    double sum = 0.0;
    for (FiniteElement* e : h.elements[l]) {
      EXPECT_GT(e->getCurrentVolume(), 0.0f);
      sum += e->getCurrentVolume();
    }
    EXPECT_NEAR(sum, 4.0 * node[0].v[1][2], 1e-6) << "level " << l;
  }
}
