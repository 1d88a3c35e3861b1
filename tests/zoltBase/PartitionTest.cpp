#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Capture.h"
#include "FiniteElement.h"
#include "Matrix.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Vertex.h"

using zolt::test::Corners;
using zolt::test::Point;

namespace {

using Output = zolt::test::CapturedOutput;

template <class F>
Output capture(F f) {
  return zolt::test::captureBoth(f);
}

// One unit cube (6 tetrahedra) at every offset, as separate bodies.
std::unique_ptr<TetHierarchy> separatedCubes(const std::vector<Point>& offsets, int nLevels) {
  auto cube = zolt::test::unitCube();
  std::vector<Point> positions;
  std::vector<Corners> corners;
  for (const Point& o : offsets) {
    const int base = static_cast<int>(positions.size());
    for (const Vertex* v : cube->vertices[0])
      positions.push_back(
          {v->restPosition[0] + o[0], v->restPosition[1] + o[1], v->restPosition[2] + o[2]});
    for (const FiniteElement* e : cube->elements[0]) {
      Corners c;
      for (int i = 0; i < 4; ++i) c[i] = base + e->getVertex(i)->index;
      corners.push_back(c);
    }
  }
  return zolt::test::meshFromCorners(positions, corners, nLevels);
}

Point centroid(const FiniteElement* e) {
  Point c = {0, 0, 0};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) c[k] += e->getVertex(i)->restPosition[k] / 4.0f;
  return c;
}

}  // namespace

TEST(TetHierarchyPartitions, SeparatedBodiesGetDistinctPartitions) {
  // Eight bodies, spaced unevenly per axis so that every cut of the initial
  // codebook falls between them.
  std::vector<Point> offsets;
  for (float z : {0.0f, 100.0f})
    for (float y : {0.0f, 200.0f})
      for (float x : {0.0f, 400.0f}) offsets.push_back({x, y, z});
  auto h = separatedCubes(offsets, 2);
  const std::vector<FiniteElement*>& finest = h->elements[1];
  ASSERT_EQ(finest.size(), 8u * 48u);

  const Output o = capture([&] { h->buildPartitions(8); });
  EXPECT_EQ(
      o.out.rfind("Build 8 Partitions\nLoop Unrolling disabled\nPartial Searches enabled\n", 0),
      0u);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(h->nPartitions, 8);
  ASSERT_NE(h->partitionOfElement, nullptr);

  std::vector<std::set<int>> perBody(offsets.size());
  for (size_t i = 0; i < finest.size(); ++i) {
    const Point c = centroid(finest[i]);
    const int body = (c[0] > 200) + 2 * (c[1] > 100) + 4 * (c[2] > 50);
    perBody[body].insert(h->partitionOfElement[i]);
  }
  std::set<int> used;
  for (const auto& s : perBody) {
    EXPECT_EQ(s.size(), 1u);
    used.insert(s.begin(), s.end());
  }
  EXPECT_EQ(used.size(), 8u);
  for (int p : used) EXPECT_LT(p, 8);
}

TEST(TetHierarchyPartitions, PartitionsAreCompact) {
  // Every element's corner sum lies nearer to its own partition's mean than
  // to any other partition's mean, up to the limited search.
  auto h = zolt::test::box(6, 3, 2, 1.0f, 2);
  capture([&] { h->buildPartitions(20); });
  const auto& finest = h->elements[1];
  std::vector<std::array<double, 3>> mean(20, {0, 0, 0});
  std::vector<int> count(20, 0);
  for (size_t i = 0; i < finest.size(); ++i) {
    const int p = h->partitionOfElement[i];
    ASSERT_LT(p, 20);
    const Point c = centroid(finest[i]);
    for (int k = 0; k < 3; ++k) mean[p][k] += c[k];
    ++count[p];
  }
  int nonEmpty = 0;
  for (int p = 0; p < 20; ++p)
    if (count[p]) {
      ++nonEmpty;
      for (int k = 0; k < 3; ++k) mean[p][k] /= count[p];
    }
  EXPECT_GE(nonEmpty, 18);
  auto dist2 = [](const Point& c, const std::array<double, 3>& m) {
    return (c[0] - m[0]) * (c[0] - m[0]) + (c[1] - m[1]) * (c[1] - m[1]) +
           (c[2] - m[2]) * (c[2] - m[2]);
  };
  int farther = 0;
  for (size_t i = 0; i < finest.size(); ++i) {
    const Point c = centroid(finest[i]);
    const double own = dist2(c, mean[h->partitionOfElement[i]]);
    for (int p = 0; p < 20; ++p)
      if (count[p] && dist2(c, mean[p]) < own - 1e-9) {
        ++farther;
        break;
      }
  }
  EXPECT_LE(farther, static_cast<int>(finest.size()) / 50);
}

TEST(TetHierarchyPartitions, AtMost256) {
  auto h = zolt::test::box(4, 4, 4, 1.0f, 2);
  ASSERT_EQ(h->elements[1].size(), 3072u);
  const Output o = capture([&] { h->buildPartitions(300); });
  EXPECT_EQ(o.out.rfind("Build 300 Partitions\n", 0), 0u);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(h->nPartitions, 256);
  ASSERT_NE(h->partitionOfElement, nullptr);
  const std::set<int> used(h->partitionOfElement, h->partitionOfElement + 3072);
  EXPECT_LE(used.size(), 256u);
  EXPECT_GE(used.size(), 240u);
}

TEST(TetHierarchyPartitions, FewerElementsThanPartitions) {
  auto h = zolt::test::meshFromCorners({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}},
                                       {{0, 1, 2, 3}, {1, 2, 3, 4}});
  const Output o = capture([&] { h->buildPartitions(8); });
  EXPECT_EQ(o.err,
            " (!!) Quantize() : You cannot generate more quantization points than data points!\n"
            "    Number of Quantization points was reduced to 2\n");
  // Both entries end on their vectors: the first pass has no error, and is
  // the only one.
  EXPECT_EQ(o.out,
            "Build 8 Partitions\nLoop Unrolling disabled\nPartial Searches enabled\n"
            "\r2/2\n\r0K/0K\r0K/0K\n");
  EXPECT_EQ(h->nPartitions, 8);
  ASSERT_NE(h->partitionOfElement, nullptr);
  EXPECT_EQ(std::set<int>({h->partitionOfElement[0], h->partitionOfElement[1]}),
            std::set<int>({0, 1}));
}

TEST(TetHierarchyPartitions, CountsBelowTwoBuildNothing) {
  auto h = zolt::test::unitCube(2);
  for (int n : {1, 0}) {
    const Output o = capture([&] { h->buildPartitions(n); });
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(h->nPartitions, n);
    EXPECT_EQ(h->partitionOfElement, nullptr);
  }
}

TEST(TetHierarchyPartitions, NoElementsBuildsNothing) {
  // Sound behaviour: an empty finest level gets no codebook and no array.
  TetHierarchy h(2);
  Output o = capture([&] { h.buildPartitions(8); });
  EXPECT_EQ(o.out, "Build 8 Partitions\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(h.nPartitions, 8);
  EXPECT_EQ(h.partitionOfElement, nullptr);
  o = capture([&] { h.buildPartitions(1000); });
  EXPECT_EQ(h.nPartitions, 256);
  EXPECT_EQ(h.partitionOfElement, nullptr);
}

// ------------------------------------------------------------ renumbering

TEST(SortPointsByCoordinateSum, RenumbersTheFinestLevelFromTheCoarseCount) {
  auto h = zolt::test::singleTetrahedron(2);
  auto& finest = h->vertices[1];
  ASSERT_EQ(finest.size(), 10u);
  // Vertex i at position index - 2; the first two vertices are left alone.
  const uint32_t first = 2;
  Vector<double> positions(3 * 8);
  const double sums[8] = {9, 8, 5, -1, 3, 5, 0, 2};
  std::vector<Vertex*> at(8);
  for (Vertex* v : finest)
    if (v->index >= 2) {
      const int s = v->index - 2;
      positions.data[3 * s] = sums[s] - 1.0;
      positions.data[3 * s + 1] = 0.5;
      positions.data[3 * s + 2] = 0.5;
      at[s] = v;
    }
  Vertex* v0 = finest[0];
  Vertex* v1 = finest[1];
  sortPointsByCoordinateSum(*h, positions, first, 3);

  EXPECT_EQ(v0->index, 0);
  EXPECT_EQ(v1->index, 1);
  // Positions 0 and 1 (below the coarse count 4 - 2) keep their numbers;
  // the rest in ascending sum, equal sums (the two 5s) in their old order.
  EXPECT_EQ(at[0]->index, 2);
  EXPECT_EQ(at[1]->index, 3);
  const std::vector<int> order = {3, 6, 7, 4, 2, 5};
  for (size_t r = 0; r < order.size(); ++r) EXPECT_EQ(at[order[r]]->index, 4 + int(r)) << r;
}

TEST(SortPointsByCoordinateSum, TwoDimensionalKeys) {
  auto h = zolt::test::singleTetrahedron(2);
  auto& finest = h->vertices[1];
  Vector<double> positions(2 * 10);
  std::vector<Vertex*> at(10);
  for (Vertex* v : finest) {
    positions.data[2 * v->index] = -v->index;
    positions.data[2 * v->index + 1] = 0.25 * v->index;
    at[v->index] = v;
  }
  sortPointsByCoordinateSum(*h, positions, 0, 2);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(at[i]->index, i);
  // Sums fall with the index: positions 4..9 reverse.
  for (int i = 4; i < 10; ++i) EXPECT_EQ(at[i]->index, 13 - i);
}
