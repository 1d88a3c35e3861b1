#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "Vertex.h"

using zolt::test::Point;

namespace {

using Elements = std::vector<FiniteElement*>;

// A mesh with its current positions attached on the finest level.
struct Scene {
  std::unique_ptr<TetHierarchy> h;
  std::vector<float> current;
  explicit Scene(std::unique_ptr<TetHierarchy> mesh) : h(std::move(mesh)) {
    zolt::test::attachCurrentPositions(*h, h->nLevels - 1, current);
  }
  const Elements& finest() const { return h->elements[h->nLevels - 1]; }
  FiniteElement* at(int i) const { return finest()[i]; }
  Elements pick(Point direction, Point origin, bool nearestOnly = false, float depth = 0.0f) const {
    return h->pickElements(direction.data(), origin.data(), nearestOnly, depth);
  }
};

// Thin slabs whose entry faces lie in the planes x = x0, entered at x0 by
// rays along +x at y = z = 0.25, in list order of xs.
Scene slabs(const std::vector<float>& xs) {
  std::vector<Point> positions;
  std::vector<zolt::test::Corners> corners;
  for (float x : xs) {
    const int b = static_cast<int>(positions.size());
    positions.insert(positions.end(), {{x, 0, 0}, {x, 2, 0}, {x, 0, 2}, {x + 0.25f, 0, 0}});
    corners.push_back({b, b + 1, b + 2, b + 3});
  }
  return Scene(zolt::test::meshFromCorners(positions, corners));
}

// Barycentric coordinates in double, as ratios of signed volumes.
double det3(const double* a, const double* b, const double* c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}
double volume(const double* p0, const double* p1, const double* p2, const double* p3) {
  double a[3], b[3], c[3];
  for (int k = 0; k < 3; ++k) {
    a[k] = p1[k] - p0[k];
    b[k] = p2[k] - p0[k];
    c[k] = p3[k] - p0[k];
  }
  return det3(a, b, c);
}
double smallestBarycentric(const double p[4][3], const double* x) {
  const double v = volume(p[0], p[1], p[2], p[3]);
  double smallest = 1e300;
  for (int i = 0; i < 4; ++i) {
    const double* q[4] = {p[0], p[1], p[2], p[3]};
    q[i] = x;
    smallest = std::min(smallest, volume(q[0], q[1], q[2], q[3]) / v);
  }
  return smallest;
}

// Sampling oracle: elements with a sample point on the ray strictly inside
// (all barycentric coordinates >= inner), and those with one inside the
// element grown by `outer`.
struct Sampled {
  std::set<FiniteElement*> inside, near;
  int sampledElements = 0;
};
Sampled sampleRay(const Scene& s, const Point& direction, const Point& origin) {
  const double inner = 1e-4, outer = 2e-3;
  const int nSamples = 4000;
  double d[3];
  const double len =
      std::sqrt(double(direction[0]) * direction[0] + double(direction[1]) * direction[1] +
                double(direction[2]) * direction[2]);
  for (int k = 0; k < 3; ++k) d[k] = direction[k] / len;
  Sampled out;
  for (FiniteElement* e : s.finest()) {
    if (static_cast<Tetrahedron*>(e)->cut) continue;
    double p[4][3], lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
      lo[k] = 1e300;
      hi[k] = -1e300;
    }
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 3; ++k) {
        p[i][k] = e->getVertex(i)->currentPosition[k];
        lo[k] = std::min(lo[k], p[i][k] - 0.05);
        hi[k] = std::max(hi[k], p[i][k] + 0.05);
      }
    // The ray's stretch inside the widened bounding box.
    double t0 = 0.0, t1 = 1e8;
    for (int k = 0; k < 3; ++k) {
      if (d[k] == 0.0) {
        if (origin[k] < lo[k] || origin[k] > hi[k]) t1 = -1.0;
        continue;
      }
      double a = (lo[k] - origin[k]) / d[k], b = (hi[k] - origin[k]) / d[k];
      if (a > b) std::swap(a, b);
      t0 = std::max(t0, a);
      t1 = std::min(t1, b);
    }
    if (t0 > t1) continue;
    ++out.sampledElements;
    for (int j = 0; j <= nSamples; ++j) {
      const double t = t0 + (t1 - t0) * j / nSamples;
      const double x[3] = {origin[0] + t * d[0], origin[1] + t * d[1], origin[2] + t * d[2]};
      const double b = smallestBarycentric(p, x);
      if (b >= -outer) out.near.insert(e);
      if (b >= inner) {
        out.inside.insert(e);
        break;
      }
    }
  }
  return out;
}

bool isSubsequence(const Elements& part, const Elements& whole) {
  auto it = whole.begin();
  for (FiniteElement* e : part) {
    it = std::find(it, whole.end(), e);
    if (it == whole.end()) return false;
    ++it;
  }
  return true;
}

Point centroidX(const FiniteElement* e) {
  Point c = {0, 0, 0};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) c[k] += e->getVertex(i)->currentPosition[k] / 4;
  return c;
}

}  // namespace

// ------------------------------------------------------------ against an oracle

TEST(TetHierarchyPick, HitSetsMatchASampledOracleOnRandomRays) {
  // Refined, sheared and jittered box; every seventh element cut away.
  Scene s(zolt::test::box(3, 2, 2, 1.0f, 2));
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> jitter(-0.06f, 0.06f);
  for (size_t i = 0; i < s.current.size(); i += 3) {
    s.current[i] += 0.2f * s.current[i + 2] + jitter(rng);
    s.current[i + 1] += jitter(rng);
    s.current[i + 2] += jitter(rng);
  }
  for (size_t i = 0; i < s.finest().size(); i += 7) static_cast<Tetrahedron*>(s.at(i))->cut = 1;

  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  int inside = 0, ambiguous = 0;
  for (int ray = 0; ray < 150; ++ray) {
    const Point target = {-0.2f + 3.8f * unit(rng), -0.2f + 2.4f * unit(rng),
                          -0.2f + 2.4f * unit(rng)};
    Point origin;
    if (ray % 3 == 0) {
      origin = {3.0f * unit(rng), 2.0f * unit(rng), 2.0f * unit(rng)};
    } else {
      const Point g = {gauss(rng), gauss(rng), gauss(rng)};
      const float r = 6.0f / std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
      origin = {1.5f + r * g[0], 1.0f + r * g[1], 1.0f + r * g[2]};
    }
    const float scale = std::pow(10.0f, 2.0f * unit(rng) - 1.0f);
    const Point direction = {scale * (target[0] - origin[0]), scale * (target[1] - origin[1]),
                             scale * (target[2] - origin[2])};

    const Elements picked = s.pick(direction, origin);
    const Sampled oracle = sampleRay(s, direction, origin);
    const std::set<FiniteElement*> pickedSet(picked.begin(), picked.end());
    ASSERT_EQ(pickedSet.size(), picked.size()) << "ray " << ray;
    for (FiniteElement* e : oracle.inside) EXPECT_TRUE(pickedSet.count(e)) << "ray " << ray;
    for (FiniteElement* e : picked) EXPECT_TRUE(oracle.near.count(e)) << "ray " << ray;
    // In element list order.
    std::vector<long> positions;
    for (FiniteElement* e : picked)
      positions.push_back(std::find(s.finest().begin(), s.finest().end(), e) - s.finest().begin());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    inside += static_cast<int>(oracle.inside.size());
    ambiguous += static_cast<int>(oracle.near.size() - oracle.inside.size());

    // The nearest is one of the hits, null without any; any depth window
    // keeps list order and holds it; a huge one holds every hit.
    const Elements nearest = s.pick(direction, origin, true, 0.0f);
    ASSERT_EQ(nearest.size(), 1u);
    if (picked.empty()) {
      EXPECT_EQ(nearest[0], nullptr);
    } else {
      EXPECT_TRUE(pickedSet.count(nearest[0]));
    }
    const Elements window = s.pick(direction, origin, true, 0.3f);
    EXPECT_TRUE(isSubsequence(window, picked));
    if (!picked.empty()) {
      EXPECT_NE(std::find(window.begin(), window.end(), nearest[0]), window.end());
    }
    EXPECT_EQ(s.pick(direction, origin, true, 1e9f), picked);
  }
  // The oracle decided almost every case.
  EXPECT_GT(inside, 1500);
  EXPECT_LT(ambiguous, inside / 50);
}

TEST(TetHierarchyPick, NearestAgreesWithTheOracleAlongAxes) {
  // Along x through the refined box: the nearest element lies in the first
  // layer of cubes the ray enters.
  Scene s(zolt::test::box(3, 1, 1, 1.0f, 2));
  const Elements fromRight = s.pick({-1, 0, 0}, {5, 0.3f, 0.6f}, true, 0.0f);
  ASSERT_NE(fromRight[0], nullptr);
  EXPECT_GT(centroidX(fromRight[0])[0], 2.5f);
  const Elements fromLeft = s.pick({1, 0, 0}, {-5, 0.3f, 0.6f}, true, 0.0f);
  ASSERT_NE(fromLeft[0], nullptr);
  EXPECT_LT(centroidX(fromLeft[0])[0], 0.5f);
}

TEST(TetHierarchyPick, DirectionComesFirst) {
  Scene s(zolt::test::box(3, 1, 1));
  const Point u = {5, 0.5f, 0.3f}, v = {-1, 0, 0};
  // Direction u from v enters the box at x = 0; direction v from u at x = 3.
  const Elements a = s.pick(u, v, true, 0.0f);
  const Elements b = s.pick(v, u, true, 0.0f);
  ASSERT_NE(a[0], nullptr);
  ASSERT_NE(b[0], nullptr);
  EXPECT_LT(centroidX(a[0])[0], 1.0f);
  EXPECT_GT(centroidX(b[0])[0], 2.0f);
}

// ------------------------------------------------------------ result rules

TEST(TetHierarchyPick, AllHitsInListOrder) {
  Scene s = slabs({1.5f, 2.5f, 1.0f, 2.0f});
  EXPECT_EQ(s.pick({1, 0, 0}, {0, 0.25f, 0.25f}), Elements(s.finest()));
  EXPECT_EQ(s.pick({0, 1, 0}, {0, 0.25f, 0.25f}), Elements());
}

TEST(TetHierarchyPick, NearestOnly) {
  Scene s = slabs({1.5f, 2.5f, 1.0f, 2.0f});
  EXPECT_EQ(s.pick({1, 0, 0}, {0, 0.25f, 0.25f}, true, 0.0f), Elements({s.at(2)}));
  EXPECT_EQ(s.pick({-1, 0, 0}, {3, 0.25f, 0.25f}, true, 0.0f), Elements({s.at(1)}));
  // Nothing hit: one null entry.
  EXPECT_EQ(s.pick({1, 0, 0}, {3, 0.25f, 0.25f}, true, 0.0f), Elements({nullptr}));
}

TEST(TetHierarchyPick, DepthWindow) {
  Scene s = slabs({1.5f, 2.5f, 1.0f, 2.0f});
  // Entries at 1.0, 1.5, 2.0, 2.5: the window [1, 2) excludes the entry at 2.
  EXPECT_EQ(s.pick({1, 0, 0}, {0, 0.25f, 0.25f}, true, 1.0f), Elements({s.at(0), s.at(2)}));
  EXPECT_EQ(s.pick({1, 0, 0}, {0, 0.25f, 0.25f}, true, 1.0625f),
            Elements({s.at(0), s.at(2), s.at(3)}));
  // Distances along the normalised ray: the direction's length is irrelevant.
  EXPECT_EQ(s.pick({1000, 0, 0}, {0, 0.25f, 0.25f}, true, 1.0f), Elements({s.at(0), s.at(2)}));
  EXPECT_EQ(s.pick({0.001f, 0, 0}, {0, 0.25f, 0.25f}, true, 1.0f), Elements({s.at(0), s.at(2)}));
  // Nothing hit: empty.
  EXPECT_EQ(s.pick({1, 0, 0}, {3, 0.25f, 0.25f}, true, 0.2f), Elements());
}

TEST(TetHierarchyPick, OriginInsideIsEnteredAtZero) {
  Scene s = slabs({1.5f, 2.5f, 1.0f, 2.0f});
  // Inside the slab at 1.0, which comes after the slab at 1.5 in the list.
  EXPECT_EQ(s.pick({1, 0, 0}, {1.05f, 0.25f, 0.25f}, true, 0.0f), Elements({s.at(2)}));
  EXPECT_EQ(s.pick({1, 0, 0}, {1.05f, 0.25f, 0.25f}, true, 0.3f), Elements({s.at(2)}));
  EXPECT_EQ(s.pick({1, 0, 0}, {1.05f, 0.25f, 0.25f}, true, 0.5f), Elements({s.at(0), s.at(2)}));
}

TEST(TetHierarchyPick, CutElementsAreSkipped) {
  Scene s = slabs({1.5f, 2.5f, 1.0f, 2.0f});
  static_cast<Tetrahedron*>(s.at(2))->cut = 1;
  EXPECT_EQ(s.pick({1, 0, 0}, {0, 0.25f, 0.25f}), Elements({s.at(0), s.at(1), s.at(3)}));
  EXPECT_EQ(s.pick({1, 0, 0}, {0, 0.25f, 0.25f}, true, 0.0f), Elements({s.at(0)}));
  EXPECT_EQ(s.pick({1, 0, 0}, {1.05f, 0.25f, 0.25f}, true, 0.0f), Elements({s.at(0)}));
}

TEST(TetHierarchyPick, UsesCurrentPositions) {
  Scene s = slabs({1.0f});
  EXPECT_EQ(s.pick({0, 0, 1}, {1.1f, 0.25f, -1}).size(), 1u);
  // Moved away along x: the ray now misses.
  for (size_t i = 0; i < s.current.size(); i += 3) s.current[i] += 10.0f;
  EXPECT_EQ(s.pick({0, 0, 1}, {1.1f, 0.25f, -1}).size(), 0u);
  EXPECT_EQ(s.pick({0, 0, 1}, {11.1f, 0.25f, -1}).size(), 1u);
}

// ------------------------------------------------------------ boundary cases

TEST(TetHierarchyPick, BehindTheOriginIsNoHit) {
  Scene s(zolt::test::singleTetrahedron());
  EXPECT_TRUE(s.pick({1, 1, 1}, {2, 2, 2}).empty());
  EXPECT_EQ(s.pick({-1, -1, -1}, {2, 2, 2}).size(), 1u);
}

TEST(TetHierarchyPick, ParallelToAFacePlane) {
  Scene s(zolt::test::singleTetrahedron());
  // Parallel to the face z = 0: beside it misses, above it hits.
  EXPECT_TRUE(s.pick({1, 0, 0}, {-1, 0.2f, -0.5f}).empty());
  EXPECT_EQ(s.pick({1, 0, 0}, {-1, 0.2f, 0.2f}).size(), 1u);

  // Beside a refined cube along -x, where the rate of some elements'
  // coordinate is -0 rather than 0: still no hit.
  Scene cube(zolt::test::unitCube(2));
  EXPECT_TRUE(cube.pick({-1, 0, 0}, {3, -0.25f, 0.75f}).empty());
  EXPECT_TRUE(cube.pick({-1, 0, 0}, {3, 0.75f, -0.25f}).empty());
  const Elements through = cube.pick({-1, 0, 0}, {3, 0.25f, 0.75f});
  EXPECT_FALSE(through.empty());
  EXPECT_EQ(cube.pick({-1, 0, 0}, {3, 0.25f, 0.75f}, true, 1e9f), through);
}

TEST(TetHierarchyPick, TouchingAVertexOrAnEdgeMisses) {
  Scene s(zolt::test::singleTetrahedron());
  // Through the corner (1, 0, 0) only.
  EXPECT_TRUE(s.pick({0, 1, 0}, {1, -1, 0}).empty());
  // Across the edge (1, 0, 0)-(0, 0, 1) at its midpoint only.
  EXPECT_TRUE(s.pick({0, 1, 0}, {0.5f, -1, 0.5f}).empty());
  // Just inside the edge.
  EXPECT_EQ(s.pick({0, 1, 0}, {0.5f, -1, 0.25f}).size(), 1u);
}

TEST(TetHierarchyPick, EntriesFromTheFarLimitOnAreNoHits) {
  Scene s(zolt::test::meshFromCorners({{0, 0, 0}, {1000, 0, 0}, {0, 1000, 0}, {0, 0, 1000}},
                                      {{0, 1, 2, 3}}));
  EXPECT_EQ(s.pick({1, 0, 0}, {-9e7f, 100, 100}).size(), 1u);
  EXPECT_EQ(s.pick({1, 0, 0}, {-99999000.0f, 100, 100}).size(), 1u);
  EXPECT_TRUE(s.pick({1, 0, 0}, {-1.0001e8f, 100, 100}).empty());
  EXPECT_TRUE(s.pick({1, 0, 0}, {-1.1e8f, 100, 100}).empty());
}

TEST(TetHierarchyPick, FlatElementsAreNeverHit) {
  // Sound behaviour: an element flattened at its current positions has no
  // inside; without the check every ray would hit it.
  Scene s = slabs({1.0f, 2.0f});
  s.h->vertices[0][7]->currentPosition[0] = 2.0f;  // the apex of the second slab
  Elements all = s.pick({1, 0, 0}, {0, 0.25f, 0.25f});
  EXPECT_EQ(all, Elements({s.at(0)}));
  EXPECT_TRUE(s.pick({1, 0, 0}, {0, 5, 5}).empty());
}

TEST(TetHierarchyPick, ZeroDirectionHitsNothing) {
  // Sound behaviour: no ray, no hit (a NaN ray would pass every test).
  Scene s = slabs({1.0f});
  EXPECT_TRUE(s.pick({0, 0, 0}, {1.05f, 0.25f, 0.25f}).empty());
  EXPECT_EQ(s.pick({0, 0, 0}, {1.05f, 0.25f, 0.25f}, true, 0.0f), Elements({nullptr}));
  EXPECT_TRUE(s.pick({0, 0, 0}, {1.05f, 0.25f, 0.25f}, true, 0.2f).empty());
}
