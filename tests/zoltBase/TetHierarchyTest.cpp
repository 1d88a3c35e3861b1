#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "Capture.h"
#include "CountingNew.h"
#include "PackedMatrix.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "Vertex.h"

using zolt::test::restVolume;

using zolt::test::captureStdout;

namespace {

// Distinct edges of a level, as unordered vertex pairs.
std::set<std::pair<Vertex*, Vertex*>> edgesOf(const std::vector<FiniteElement*>& elements) {
  std::set<std::pair<Vertex*, Vertex*>> edges;
  for (const FiniteElement* e : elements)
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) {
        Vertex* a = e->getVertex(i);
        Vertex* b = e->getVertex(j);
        edges.insert(a < b ? std::make_pair(a, b) : std::make_pair(b, a));
      }
  return edges;
}

std::array<float, 3> pos(const Vertex* v) {
  return {v->restPosition[0], v->restPosition[1], v->restPosition[2]};
}

void normalOf(const Vertex* a, const Vertex* b, const Vertex* c, double n[3]) {
  const double u[3] = {double(b->restPosition[0]) - a->restPosition[0],
                       double(b->restPosition[1]) - a->restPosition[1],
                       double(b->restPosition[2]) - a->restPosition[2]};
  const double w[3] = {double(c->restPosition[0]) - a->restPosition[0],
                       double(c->restPosition[1]) - a->restPosition[1],
                       double(c->restPosition[2]) - a->restPosition[2]};
  n[0] = u[1] * w[2] - u[2] * w[1];
  n[1] = u[2] * w[0] - u[0] * w[2];
  n[2] = u[0] * w[1] - u[1] * w[0];
}

}  // namespace

// ---------------------------------------------------------------- construction

TEST(TetHierarchy, EmptyConstruction) {
  TetHierarchy h(3);
  EXPECT_EQ(h.nLevels, 3);
  EXPECT_EQ(h.startLevel, 0);
  for (int l = 0; l < 3; ++l) {
    EXPECT_TRUE(h.vertices[l].empty());
    EXPECT_TRUE(h.elements[l].empty());
    EXPECT_TRUE(h.removed[l].empty());
  }
  EXPECT_EQ(h.restriction, nullptr);
  EXPECT_EQ(h.partitionOfElement, nullptr);
  EXPECT_EQ(h.nPartitions, 0);
}

TEST(TetHierarchy, ConstructionOverGivenListsTakesThemOver) {
  auto* vs = new std::vector<Vertex*>[2];
  auto* es = new std::vector<FiniteElement*>[2];
  for (int l = 0; l < 2; ++l) {
    for (int i = 0; i < 4; ++i) {
      vs[l].push_back(new Vertex);
      vs[l].back()->index = i;
    }
    es[l].push_back(new Tetrahedron(vs[l][0], vs[l][1], vs[l][2], vs[l][3], 0));
  }
  TetHierarchy h(2, vs, es);
  EXPECT_EQ(h.nLevels, 2);
  EXPECT_EQ(h.startLevel, 2);
  EXPECT_EQ(h.vertices, vs);
  EXPECT_EQ(h.elements, es);
  EXPECT_TRUE(h.removed[0].empty());
  EXPECT_TRUE(h.removed[1].empty());
  // Every level counts as supplied: nothing is refined.
  h.buildNestedHierarchy();
  EXPECT_EQ(h.vertices[1].size(), 4u);
  EXPECT_EQ(h.elements[1].size(), 1u);
}

TEST(TetHierarchy, OwnsRestrictionsAndPartitions) {
  // Released by the destructor; the address sanitizer build checks it.
  auto h = zolt::test::singleTetrahedron(3);
  h->restriction = new PackedMatrix<double>* [2] { new PackedMatrix<double>(), nullptr };
  h->partitionOfElement = new uint8_t[64]();
  h->nPartitions = 1;
  h->removed[0].push_back(h->vertices[0][0]);
  h.reset();
}

// ------------------------------------------------------------------ refinement

TEST(TetHierarchyRefine, SingleLevelDoesNothing) {
  auto h = zolt::test::singleTetrahedron(1);
  h->buildNestedHierarchy();
  EXPECT_EQ(h->vertices[0].size(), 4u);
  EXPECT_EQ(h->elements[0].size(), 1u);
}

TEST(TetHierarchyRefine, CountsOfSingleTetrahedron) {
  auto h = zolt::test::singleTetrahedron(3);
  EXPECT_EQ(h->vertices[1].size(), 10u);
  EXPECT_EQ(h->elements[1].size(), 8u);
  EXPECT_EQ(h->vertices[2].size(), 35u);
  EXPECT_EQ(h->elements[2].size(), 64u);
}

TEST(TetHierarchyRefine, CountsOfCube) {
  auto h = zolt::test::unitCube(4);
  EXPECT_EQ(h->vertices[0].size(), 8u);
  EXPECT_EQ(h->elements[0].size(), 6u);
  EXPECT_EQ(h->vertices[1].size(), 27u);
  EXPECT_EQ(h->elements[1].size(), 48u);
  EXPECT_EQ(h->vertices[2].size(), 125u);
  EXPECT_EQ(h->elements[2].size(), 384u);
  EXPECT_EQ(h->vertices[3].size(), 729u);
  EXPECT_EQ(h->elements[3].size(), 3072u);
}

TEST(TetHierarchyRefine, NewLevelHasOneVertexPerOldVertexAndEdge) {
  auto h = zolt::test::box(2, 1, 1, 1.0f, 3);
  for (int l = 0; l + 1 < h->nLevels; ++l) {
    const size_t nEdges = edgesOf(h->elements[l]).size();
    EXPECT_EQ(h->vertices[l + 1].size(), h->vertices[l].size() + nEdges);
    EXPECT_EQ(h->elements[l + 1].size(), 8 * h->elements[l].size());
  }
}

TEST(TetHierarchyRefine, CopiesKeepIndexAndInterpolateFromTheirOriginal) {
  auto h = zolt::test::box(2, 2, 2);
  // Make the copies distinguishable. Vertex 13 is the inner grid point: no
  // boundary face of the new level touches it, so its byte is the copy's.
  float current[3] = {1, 2, 3};
  h->vertices[0][2]->fixed = 1;
  h->vertices[0][5]->currentPosition = current;
  ASSERT_EQ(h->vertices[0][13]->onSurface, 0);
  h->vertices[0][13]->onSurface = 1;
  // A two-level hierarchy over the same level 0.
  TetHierarchy h2(2);
  std::swap(h2.vertices[0], h->vertices[0]);
  std::swap(h2.elements[0], h->elements[0]);
  h2.refineLevel(0);

  const auto& coarse = h2.vertices[0];
  const auto& fine = h2.vertices[1];
  for (size_t i = 0; i < coarse.size(); ++i) {
    const Vertex* c = coarse[i];
    const Vertex* f = fine[i];
    EXPECT_NE(c, f);
    EXPECT_EQ(f->index, c->index);
    EXPECT_EQ(f->fixed, c->fixed);
    EXPECT_EQ(f->onSurface, c->onSurface);
    EXPECT_EQ(pos(f), pos(c));
    EXPECT_EQ(f->currentPosition, c->currentPosition);
    ASSERT_EQ(f->parents.size(), 1u);
    EXPECT_EQ(f->parents[0].parent, c);
    EXPECT_EQ(f->parents[0].weight, 1.0f);
  }
  EXPECT_EQ(fine[2]->fixed, 1);
  EXPECT_EQ(fine[5]->currentPosition, current);
  EXPECT_EQ(fine[13]->onSurface, 1);
}

TEST(TetHierarchyRefine, MidpointsAreEdgeMidpointsAtTheirIndex) {
  auto h = zolt::test::box(1, 2, 1, 0.5f, 3);
  for (int l = 0; l + 1 < h->nLevels; ++l) {
    const auto& coarse = h->vertices[l];
    const auto& fine = h->vertices[l + 1];
    const auto edges = edgesOf(h->elements[l]);
    std::set<std::pair<Vertex*, Vertex*>> seen;
    for (size_t i = 0; i < fine.size(); ++i) {
      const Vertex* v = fine[i];
      EXPECT_EQ(v->index, static_cast<int>(i));
      if (i < coarse.size()) continue;
      EXPECT_EQ(v->fixed, 0);
      EXPECT_EQ(v->currentPosition, nullptr);
      ASSERT_EQ(v->parents.size(), 2u);
      EXPECT_EQ(v->parents[0].weight, 0.5f);
      EXPECT_EQ(v->parents[1].weight, 0.5f);
      Vertex* a = v->parents[0].parent;
      Vertex* b = v->parents[1].parent;
      auto key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
      EXPECT_EQ(edges.count(key), 1u);
      EXPECT_TRUE(seen.insert(key).second) << "edge split twice";
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(v->restPosition[k], (a->restPosition[k] + b->restPosition[k]) * 0.5f);
    }
    EXPECT_EQ(seen.size(), edges.size());
    // No two vertices of a level at the same place: shared midpoints once.
    std::set<std::array<float, 3>> places;
    for (const Vertex* v : fine) places.insert(pos(v));
    EXPECT_EQ(places.size(), fine.size());
  }
}

TEST(TetHierarchyRefine, ChildrenAreEighthsWithTheParentOrientation) {
  std::unique_ptr<TetHierarchy> meshes[] = {zolt::test::singleTetrahedron(3),
                                            zolt::test::box(2, 1, 1, 1.0f, 3)};
  for (auto& h : meshes) {
    for (int l = 0; l + 1 < h->nLevels; ++l) {
      const auto& parents = h->elements[l];
      const auto& children = h->elements[l + 1];
      for (size_t p = 0; p < parents.size(); ++p) {
        const double v = restVolume(*parents[p]);
        EXPECT_GT(v, 0.0);
        for (size_t c = 8 * p; c < 8 * p + 8; ++c) {
          EXPECT_EQ(restVolume(*children[c]), v / 8.0);
          // The children lie inside their parent.
          for (int k = 0; k < 4; ++k) {
            const Vertex* cv = children[c]->getVertex(k);
            bool found = false;
            for (const auto& pa : cv->parents)
              for (int j = 0; j < 4; ++j) found = found || pa.parent == parents[p]->getVertex(j);
            EXPECT_TRUE(found);
          }
        }
      }
    }
  }
}

TEST(TetHierarchyRefine, ChildIdsArePositions) {
  auto h = zolt::test::unitCube(2);
  for (size_t i = 0; i < h->elements[1].size(); ++i)
    EXPECT_EQ(static_cast<Tetrahedron*>(h->elements[1][i])->id, static_cast<int>(i));
}

TEST(TetHierarchyRefine, FaceMasksMatchTheRefinedBoundary) {
  std::unique_ptr<TetHierarchy> meshes[] = {zolt::test::singleTetrahedron(4),
                                            zolt::test::box(2, 2, 1, 1.0f, 3)};
  for (auto& h : meshes) {
    for (int l = 1; l < h->nLevels; ++l) {
      const auto& elements = h->elements[l];
      const std::vector<uint8_t> oracle = zolt::test::boundaryMasks(elements);
      for (size_t i = 0; i < elements.size(); ++i) {
        EXPECT_EQ(elements[i]->getFaceMask(), oracle[i]) << "level " << l << " element " << i;
        // The element's own recomputation agrees.
        auto* t = static_cast<Tetrahedron*>(elements[i]);
        const uint8_t inherited = t->faceMask;
        t->computeFaceMask(elements.begin(), elements.end());
        EXPECT_EQ(t->faceMask, inherited);
      }
    }
  }
}

TEST(TetHierarchyRefine, SurfaceVerticesAreThoseOnTheCubeSurface) {
  auto h = zolt::test::unitCube(3);
  for (int l = 0; l < 3; ++l) {
    for (const Vertex* v : h->vertices[l]) {
      bool onCubeSurface = false;
      for (int k = 0; k < 3; ++k)
        onCubeSurface = onCubeSurface || v->restPosition[k] == 0.0f || v->restPosition[k] == 1.0f;
      EXPECT_EQ(v->onSurface != 0, onCubeSurface) << "level " << l << " vertex " << v->index;
    }
  }
}

TEST(TetHierarchyRefine, BoundaryFacesCloseTheCubeOutward) {
  auto h = zolt::test::unitCube(3);
  for (int l = 0; l < 3; ++l) {
    std::vector<Vertex*> faces;
    for (const FiniteElement* e : h->elements[l]) e->collectBoundaryFaces(faces);
    EXPECT_EQ(faces.size(), 3u * 12u * (1u << (2 * l)));  // 2 per square, 4x per level
    double area = 0, flux[3] = {0, 0, 0}, divergence = 0;
    for (size_t f = 0; f < faces.size(); f += 3) {
      double n[3];
      normalOf(faces[f], faces[f + 1], faces[f + 2], n);
      double centre[3];
      for (int k = 0; k < 3; ++k)
        centre[k] = (double(faces[f]->restPosition[k]) + faces[f + 1]->restPosition[k] +
                     faces[f + 2]->restPosition[k]) /
                    3.0;
      // Points away from the cube centre.
      EXPECT_GT(n[0] * (centre[0] - 0.5) + n[1] * (centre[1] - 0.5) + n[2] * (centre[2] - 0.5),
                0.0);
      area += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      for (int k = 0; k < 3; ++k) flux[k] += 0.5 * n[k];
      divergence += 0.5 * (n[0] * centre[0] + n[1] * centre[1] + n[2] * centre[2]);
    }
    EXPECT_NEAR(area, 6.0, 1e-12);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(flux[k], 0.0, 1e-12);
    // The divergence theorem: the integral of x . n over the surface is 3 V.
    EXPECT_NEAR(divergence, 3.0, 1e-12);
  }
}

TEST(TetHierarchyRefine, InnerFacesPairUp) {
  auto h = zolt::test::box(1, 1, 2, 1.0f, 2);
  for (int l = 0; l < 2; ++l) {
    std::vector<Vertex*> faces;
    for (const FiniteElement* e : h->elements[l]) e->collectInnerFaces(faces);
    std::map<std::array<Vertex*, 3>, int> count;
    for (size_t f = 0; f < faces.size(); f += 3) {
      std::array<Vertex*, 3> key = {faces[f], faces[f + 1], faces[f + 2]};
      std::sort(key.begin(), key.end());
      ++count[key];
    }
    for (const auto& entry : count) EXPECT_EQ(entry.second, 2);
  }
}

TEST(TetHierarchyRefineDeathTest, RefusesToOverwriteABuiltLevel) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto h = zolt::test::singleTetrahedron(2);
  EXPECT_DEATH(h->refineLevel(0),
               "Assertion `fine.empty\\(\\) && elements\\[l \\+ 1\\].empty\\(\\)' failed\\.");
}

// Out of memory at any allocation of a refinement: std::bad_alloc reaches the
// caller and the hierarchy still owns all it built (the sanitizer build's
// leak check sees a lost midpoint); refined again, the level is whole.
TEST(TetHierarchyRefine, FailedAllocationLeavesNothingBehind) {
  using namespace zolt::test;
  const auto clearFine = [](TetHierarchy& h) {
    for (FiniteElement* e : h.elements[1]) delete e;
    for (Vertex* v : h.vertices[1]) delete v;
    // Without their capacity, as a level never built.
    std::vector<FiniteElement*>().swap(h.elements[1]);
    std::vector<Vertex*>().swap(h.vertices[1]);
  };
  const auto refineArmed = [](TetHierarchy& h, long fail) {
    bool threw = false;
    armedRun(fail, [&] {
      try {
        h.refineLevel(0);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    });
    return threw;
  };
  auto counted = unitCube(2);
  clearFine(*counted);
  ASSERT_FALSE(refineArmed(*counted, -1));
  const long total = allocations;
  ASSERT_GT(total, 48);
  for (long fail = 0; fail < total; ++fail) {
    auto h = unitCube(2);
    clearFine(*h);
    EXPECT_TRUE(refineArmed(*h, fail)) << fail;
    clearFine(*h);
    h->refineLevel(0);
    EXPECT_EQ(h->vertices[1].size(), 27u) << fail;
    EXPECT_EQ(h->elements[1].size(), 48u) << fail;
  }
  // Freed elements stay in the pool's slabs, where they would still point
  // at a lost vertex.
  counted.reset();
  Tetrahedron::trimPool();
}

// ------------------------------------------------------------------- centring

TEST(TetHierarchyCenter, MovesTheCornerMeanToTheOrigin) {
  auto h = zolt::test::box(3, 1, 2, 0.5f, 2);
  // Shift the body away from the origin.
  for (int l = 0; l < 2; ++l)
    for (Vertex* v : h->vertices[l]) {
      v->restPosition[0] += 10.0f;
      v->restPosition[1] -= 4.0f;
      v->restPosition[2] += 0.25f;
    }
  std::vector<std::array<float, 3>> before;
  for (int l = 0; l < 2; ++l)
    for (const Vertex* v : h->vertices[l]) before.push_back(pos(v));

  // The corner mean, a vertex counted once per element.
  double expected[3] = {0, 0, 0};
  int n = 0;
  for (const FiniteElement* e : h->elements[0])
    for (int i = 0; i < 4; ++i, ++n)
      for (int k = 0; k < 3; ++k) expected[k] += e->getVertex(i)->restPosition[k];
  for (double& c : expected) c /= n;

  double center[3];
  EXPECT_EQ(captureStdout([&] { h->setCenterOfGravity(center); }), "\nSet Center of gravity\n");
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(center[k], expected[k], 1e-12);

  double mean[3] = {0, 0, 0};
  for (const FiniteElement* e : h->elements[0])
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 3; ++k) mean[k] += e->getVertex(i)->restPosition[k];
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(mean[k] / n, 0.0, 1e-5);

  // Every vertex of every level moved by the same float shift.
  size_t i = 0;
  for (int l = 0; l < 2; ++l)
    for (const Vertex* v : h->vertices[l]) {
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(v->restPosition[k], before[i][k] - static_cast<float>(center[k]));
      ++i;
    }
}

TEST(TetHierarchyCenter, SharedVerticesWeighOncePerElement) {
  // Two elements sharing the face (0,0,0), (1,0,0), (0,1,0).
  auto h = zolt::test::meshFromCorners({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, -3}},
                                       {{0, 1, 2, 3}, {0, 1, 2, 4}});
  double center[3];
  captureStdout([&] { h->setCenterOfGravity(center); });
  // Eight corners: the three shared ones twice.
  EXPECT_DOUBLE_EQ(center[0], 2.0 / 8.0);
  EXPECT_DOUBLE_EQ(center[1], 2.0 / 8.0);
  EXPECT_DOUBLE_EQ(center[2], -2.0 / 8.0);
  EXPECT_EQ(h->vertices[0][4]->restPosition[2], -3.0f + 0.25f);
}

TEST(TetHierarchyCenter, EmptyStartLevelMovesNothing) {
  TetHierarchy h(2);
  auto* v = new Vertex;
  v->restPosition[0] = 5.0f;
  h.vertices[1].push_back(v);
  double center[3] = {1, 2, 3};
  EXPECT_EQ(captureStdout([&] { h.setCenterOfGravity(center); }), "\nSet Center of gravity\n");
  EXPECT_EQ(center[0], 0.0);
  EXPECT_EQ(center[1], 0.0);
  EXPECT_EQ(center[2], 0.0);
  EXPECT_EQ(v->restPosition[0], 5.0f);
}

TEST(TetHierarchyCenter, UsesTheStartLevel) {
  auto h = zolt::test::singleTetrahedron(2);
  h->startLevel = 1;
  double center[3];
  captureStdout([&] { h->setCenterOfGravity(center); });
  // Level 1 corner mean of the unit tetrahedron's 8 children: the centroid.
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(center[k], 0.25);
}

// ----------------------------------------------------------------- test meshes

TEST(TestMeshes, BoxCounts) {
  auto h = zolt::test::box(3, 2, 1, 2.0f);
  EXPECT_EQ(h->vertices[0].size(), 4u * 3u * 2u);
  EXPECT_EQ(h->elements[0].size(), 6u * 6u);
  double volume = 0;
  for (const FiniteElement* e : h->elements[0]) volume += restVolume(*e);
  EXPECT_DOUBLE_EQ(volume, 3 * 2 * 1 * 8.0);
}
