#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "Capture.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "Vertex.h"

using zolt::test::restVolume;

using zolt::test::captureStdout;

namespace {

using P = Polynom<double>;

// Four free vertices with the given rest positions, owned by the fixture.
struct Corners {
  Vertex vs[4];
  Corners(std::initializer_list<std::array<float, 3>> ps) {
    int i = 0;
    for (const auto& p : ps) {
      vs[i].index = i;
      for (int k = 0; k < 3; ++k) vs[i].restPosition[k] = p[k];
      ++i;
    }
  }
  Vertex* operator[](int i) { return &vs[i]; }
};

// The unit tetrahedron in the stored orientation: (0,0,0), (1,0,0),
// (0,0,1), (0,1,0) has positive volume.
Corners unitCorners() { return Corners{{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}}; }

P linear(double c, double x, double y, double z) {
  P p;
  if (c != 0) p.terms[0] = c;
  if (x != 0) p.terms[1] = x;
  if (y != 0) p.terms[256] = y;
  if (z != 0) p.terms[65536] = z;
  return p;
}

// Barycentric coordinates of the corners of unitCorners().
void setUnitShapeFunctions(Tetrahedron& t) {
  t.N[0] = linear(1, -1, -1, -1);
  t.N[1] = linear(0, 1, 0, 0);
  t.N[2] = linear(0, 0, 0, 1);
  t.N[3] = linear(0, 0, 1, 0);
}

void cross(const float* a, const float* b, const float* c, double n[3]) {
  const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
  const double w[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
  n[0] = u[1] * w[2] - u[2] * w[1];
  n[1] = u[2] * w[0] - u[0] * w[2];
  n[2] = u[0] * w[1] - u[1] * w[0];
}

}  // namespace

// ---------------------------------------------------------------- construction

TEST(Tetrahedron, ConstructorDefaults) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 5);
  EXPECT_EQ(t.flag, 0);
  EXPECT_EQ(t.cut, 0);
  EXPECT_EQ(t.faceMask, 5);
  EXPECT_EQ(t.getFaceMask(), 5);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t.getVertex(i), c[i]);
    EXPECT_EQ(t.neighbour[i], nullptr);
    EXPECT_TRUE(t.N[i].empty());
  }
  EXPECT_EQ(t.getLoadMatrix(), nullptr);
  EXPECT_EQ(t.getGradients(), nullptr);
  EXPECT_EQ(t.getStiffness(), 1.0f);
  EXPECT_EQ(t.getDensity(), 1.0f);
  EXPECT_FALSE(t.shapeFunctionsReady);
  EXPECT_EQ(t.degreeOfFreedom(), 4);
}

TEST(Tetrahedron, ConstructorMarksCornersOfSurfaceFaces) {
  for (int mask = 0; mask < 16; ++mask) {
    Corners c = unitCorners();
    Tetrahedron t(c[0], c[1], c[2], c[3], static_cast<uint8_t>(mask));
    for (int i = 0; i < 4; ++i) {
      // Corner i lies on every face except the one opposite it.
      const bool expected = (mask & ~(1 << i) & 15) != 0;
      EXPECT_EQ(c[i]->onSurface != 0, expected) << "mask " << mask << " corner " << i;
    }
  }
}

TEST(Tetrahedron, StiffnessAndDensityAccessors) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  t.setStiffness(2.5f);
  t.setDensity(0.125f);
  EXPECT_EQ(t.getStiffness(), 2.5f);
  EXPECT_EQ(t.getDensity(), 0.125f);
  EXPECT_EQ(t.stiffness, 2.5f);
  EXPECT_EQ(t.density, 0.125f);
}

// --------------------------------------------------------------------- volumes

TEST(TetrahedronVolume, CurrentVolumeOfUnitElement) {
  Corners c = unitCorners();
  float pos[4][3];
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 3; ++k) pos[i][k] = c[i]->restPosition[k];
    c[i]->currentPosition = pos[i];
  }
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  EXPECT_FLOAT_EQ(t.getCurrentVolume(), 1.0f / 6.0f);
  EXPECT_GT(t.getCurrentVolume(), 0.0f);
  // Exchanging two corners flips the sign.
  Tetrahedron flipped(c[0], c[1], c[3], c[2], 0);
  EXPECT_FLOAT_EQ(flipped.getCurrentVolume(), -1.0f / 6.0f);
  // Current, not rest, positions count.
  pos[1][0] = 3.0f;
  EXPECT_FLOAT_EQ(t.getCurrentVolume(), 0.5f);
}

TEST(TetrahedronVolume, CurrentVolumeMatchesDeterminantOnGeneralElements) {
  auto h = zolt::test::box(2, 1, 1, 0.75f);
  std::vector<float> storage;
  zolt::test::attachCurrentPositions(*h, 0, storage);
  for (FiniteElement* e : h->elements[0]) {
    EXPECT_NEAR(e->getCurrentVolume(), restVolume(*e), 1e-7);
    EXPECT_GT(e->getCurrentVolume(), 0.0f);
  }
}

TEST(TetrahedronVolume, DisplacedVolumeMovesFreeVerticesOnly) {
  Corners c = unitCorners();
  // Indices: corner 0 -> 0 (fixed with nFixed 1), corners 1..3 -> 1..3,
  // owning blocks 0..2.
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  double u[12] = {0};  // room for nFixed 0
  EXPECT_FLOAT_EQ(t.getDisplacedVolume(u, 1), 1.0f / 6.0f);
  u[0] = 1.0;  // corner 1 (block 0) moves from x = 1 to x = 2
  EXPECT_FLOAT_EQ(t.getDisplacedVolume(u, 1), 2.0f / 6.0f);
  // With nFixed 0 corner 0 owns block 0 instead and moves to x = 1: the
  // element (1,0,0) (1,0,0) ... is flat.
  EXPECT_FLOAT_EQ(t.getDisplacedVolume(u, 0), 0.0f);
  // Pushing corner 3 (block 2 with nFixed 1) through the opposite face
  // inverts the element.
  double w[12] = {0};
  w[7] = -2.0;
  EXPECT_FLOAT_EQ(t.getDisplacedVolume(w, 1), -1.0f / 6.0f);
  // With nFixed 4 every corner is fixed.
  EXPECT_FLOAT_EQ(t.getDisplacedVolume(w, 4), 1.0f / 6.0f);
}

// ----------------------------------------------------------------- topology

TEST(TetrahedronFaces, VertexAndFaceIndex) {
  Corners c = unitCorners();
  Vertex other;
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(t.vertexIndex(c[i]), i);
  EXPECT_EQ(t.vertexIndex(&other), -1);
  EXPECT_EQ(t.faceIndex(c[1], c[2], c[3]), 0);
  EXPECT_EQ(t.faceIndex(c[3], c[0], c[2]), 1);
  EXPECT_EQ(t.faceIndex(c[1], c[3], c[0]), 2);
  EXPECT_EQ(t.faceIndex(c[2], c[1], c[0]), 3);
  EXPECT_EQ(t.faceIndex(c[0], &other, c[1]), -1);
  // Repeated corners span no face: the smallest face without them.
  EXPECT_EQ(t.faceIndex(c[1], c[1], c[1]), 0);
  EXPECT_EQ(t.faceIndex(c[0], c[0], c[1]), 2);
}

TEST(TetrahedronFaces, FaceVertexOrder) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  const int expected[4][3] = {{1, 3, 2}, {0, 2, 3}, {0, 3, 1}, {0, 1, 2}};
  for (int f = 0; f < 4; ++f)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(t.faceVertex(f, k), c[expected[f][k]]);
  EXPECT_EQ(t.faceVertex(-1, 0), nullptr);
  EXPECT_EQ(t.faceVertex(4, 0), nullptr);
  EXPECT_EQ(t.faceVertex(0, 3), nullptr);
  EXPECT_EQ(t.faceVertex(0, -1), nullptr);
}

TEST(TetrahedronFaces, EveryFaceWindsOutward) {
  auto h = zolt::test::box(2, 2, 1, 0.5f);
  for (FiniteElement* e : h->elements[0]) {
    auto* t = static_cast<Tetrahedron*>(e);
    double centre[3];
    t->centroid(centre);
    for (int f = 0; f < 4; ++f) {
      double n[3], fc[3];
      cross(t->faceVertex(f, 0)->restPosition, t->faceVertex(f, 1)->restPosition,
            t->faceVertex(f, 2)->restPosition, n);
      t->faceCentroid(f, fc);
      const double out =
          n[0] * (fc[0] - centre[0]) + n[1] * (fc[1] - centre[1]) + n[2] * (fc[2] - centre[2]);
      EXPECT_GT(out, 0.0) << "face " << f;
    }
  }
}

TEST(TetrahedronFaces, CentroidsAndAreas) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  double m[3];
  t.centroid(m);
  EXPECT_DOUBLE_EQ(m[0], 0.25);
  EXPECT_DOUBLE_EQ(m[1], 0.25);
  EXPECT_DOUBLE_EQ(m[2], 0.25);
  // Face 0 is the slanted face through (1,0,0), (0,0,1), (0,1,0).
  t.faceCentroid(0, m);
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(m[k], 1.0 / 3.0);
  t.faceCentroid(3, m);  // (0,0,0), (1,0,0), (0,0,1)
  EXPECT_DOUBLE_EQ(m[0], 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(m[1], 0.0);
  EXPECT_DOUBLE_EQ(m[2], 1.0 / 3.0);
  m[0] = m[1] = m[2] = 7;
  t.faceCentroid(4, m);
  EXPECT_EQ(m[0], 0.0);
  EXPECT_EQ(m[1], 0.0);
  EXPECT_EQ(m[2], 0.0);

  EXPECT_DOUBLE_EQ(t.faceArea(0), std::sqrt(3.0) / 2.0);
  for (int f = 1; f < 4; ++f) EXPECT_DOUBLE_EQ(t.faceArea(f), 0.5);
  EXPECT_EQ(t.faceArea(-1), 0.0);
  EXPECT_EQ(t.faceArea(4), 0.0);
}

TEST(TetrahedronFaces, CollectBoundaryAndInnerFacesInFaceOrder) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 5);  // faces 0 and 2 on the surface
  std::vector<Vertex*> boundary, inner;
  t.collectBoundaryFaces(boundary);
  t.collectInnerFaces(inner);
  // Order bit 8, 4, 1, 2.
  const std::vector<Vertex*> expectedBoundary = {c[0], c[3], c[1], c[1], c[3], c[2]};
  const std::vector<Vertex*> expectedInner = {c[0], c[1], c[2], c[0], c[2], c[3]};
  EXPECT_EQ(boundary, expectedBoundary);
  EXPECT_EQ(inner, expectedInner);

  Tetrahedron all(c[0], c[1], c[2], c[3], 15);
  std::vector<Vertex*> out = {c[3]};  // appended, not replaced
  all.collectBoundaryFaces(out);
  const std::vector<Vertex*> expectedAll = {c[3], c[0], c[1], c[2], c[0], c[3], c[1],
                                            c[1], c[3], c[2], c[0], c[2], c[3]};
  EXPECT_EQ(out, expectedAll);
  out.clear();
  all.collectInnerFaces(out);
  EXPECT_TRUE(out.empty());
}

// ------------------------------------------------------------------ face mask

TEST(TetrahedronFaceMask, MatchesFaceCountOracle) {
  auto h = zolt::test::box(2, 1, 2);
  const auto& elements = h->elements[0];
  const std::vector<uint8_t> oracle = zolt::test::boundaryMasks(elements);
  for (size_t i = 0; i < elements.size(); ++i) {
    auto* t = static_cast<Tetrahedron*>(elements[i]);
    t->faceMask = 0;
    t->computeFaceMask(elements.begin(), elements.end());
    EXPECT_EQ(t->getFaceMask(), oracle[i]) << "element " << i;
  }
}

TEST(TetrahedronFaceMask, OnlyElementsSharingThreeCornersCount) {
  Vertex v[6];
  Tetrahedron a(&v[0], &v[1], &v[2], &v[3], 0);
  Tetrahedron sameCorners(&v[3], &v[2], &v[1], &v[0], 0);
  Tetrahedron sharesFace0(&v[1], &v[2], &v[3], &v[4], 0);
  Tetrahedron sharesEdge(&v[0], &v[1], &v[4], &v[5], 0);
  std::vector<FiniteElement*> range = {&a, &sameCorners, &sharesEdge};
  a.computeFaceMask(range.begin(), range.end());
  EXPECT_EQ(a.getFaceMask(), 15);
  range.push_back(&sharesFace0);
  a.computeFaceMask(range.begin(), range.end());
  EXPECT_EQ(a.getFaceMask(), 14);
  // An empty range makes every face a surface face.
  a.computeFaceMask(range.end(), range.end());
  EXPECT_EQ(a.getFaceMask(), 15);
}

// ----------------------------------------------------------------- neighbours

TEST(TetrahedronNeighbours, FindAndCheck) {
  Vertex v[6];
  Tetrahedron a(&v[0], &v[1], &v[2], &v[3], 0);
  Tetrahedron b(&v[4], &v[1], &v[2], &v[3], 0);  // across face 0
  Tetrahedron c(&v[0], &v[5], &v[2], &v[3], 0);  // across face 1
  Tetrahedron d(&v[0], &v[1], &v[4], &v[5], 0);  // an edge only
  const std::vector<FiniteElement*> list = {&a, &b, &c, &d};

  std::ostringstream expected;
  expected << "Neighbor missing on face 0: " << static_cast<const void*>(&b) << "\n"
           << "Neighbor missing on face 1: " << static_cast<const void*>(&c) << "\n";
  EXPECT_EQ(captureStdout([&] { a.checkNeighbors(list); }), expected.str());

  a.findNeighbors(list);
  EXPECT_EQ(a.neighbour[0], &b);
  EXPECT_EQ(a.neighbour[1], &c);
  EXPECT_EQ(a.neighbour[2], nullptr);
  EXPECT_EQ(a.neighbour[3], nullptr);
  EXPECT_EQ(captureStdout([&] { a.checkNeighbors(list); }), "");

  a.setNeighbour(0, &d);
  std::ostringstream again;
  again << "Neighbor missing on face 0: " << static_cast<const void*>(&b) << "\n";
  EXPECT_EQ(captureStdout([&] { a.checkNeighbors(list); }), again.str());
}

TEST(TetrahedronNeighbours, CollectAroundEdgeFindsEveryElementOfTheEdge) {
  auto h = zolt::test::box(2, 2, 2);
  const auto& elements = h->elements[0];
  for (FiniteElement* e : elements) static_cast<Tetrahedron*>(e)->findNeighbors(elements);
  // The body diagonal edge of the middle grid point (1,1,1) to (2,2,2), and
  // an axis edge (1,1,1) - (2,1,1).
  const auto& vs = h->vertices[0];
  auto id = [](int i, int j, int n) { return i + 3 * (j + 3 * n); };
  const std::pair<int, int> edges[] = {
      {id(1, 1, 1), id(2, 2, 2)}, {id(1, 1, 1), id(2, 1, 1)}, {id(1, 1, 1), id(1, 2, 2)}};
  for (auto [ia, ib] : edges) {
    Vertex* a = vs[ia];
    Vertex* b = vs[ib];
    std::set<FiniteElement*> expected;
    Tetrahedron* start = nullptr;
    for (FiniteElement* e : elements) {
      auto* t = static_cast<Tetrahedron*>(e);
      if (t->vertexIndex(a) >= 0 && t->vertexIndex(b) >= 0) {
        expected.insert(e);
        if (!start) start = t;
      }
    }
    ASSERT_NE(start, nullptr);
    std::vector<FiniteElement*> out;
    start->collectAroundEdge(a, b, out);
    EXPECT_EQ(out.front(), start);
    EXPECT_EQ(std::set<FiniteElement*>(out.begin(), out.end()), expected);
    EXPECT_EQ(out.size(), expected.size());  // each once
  }
}

// ------------------------------------------------------------- point location

TEST(TetrahedronContainsPoint, InsideOutsideAndTolerance) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  setUnitShapeFunctions(t);
  const float inside[3] = {0.1f, 0.2f, 0.3f};
  const float corner[3] = {0.0f, 0.0f, 1.0f};
  const float outside[3] = {0.5f, 0.5f, 0.5f};
  const float negative[3] = {-0.01f, 0.1f, 0.1f};
  EXPECT_TRUE(t.containsPoint(inside));
  EXPECT_TRUE(t.containsPoint(corner));
  EXPECT_FALSE(t.containsPoint(outside));
  EXPECT_FALSE(t.containsPoint(negative));

  // A smallest value of exactly -1e-6 passes, -1.1e-6 does not.
  const float p[3] = {0.0f, 0.25f, 0.25f};
  t.N[1] = linear(-1e-6, 1, 0, 0);
  EXPECT_TRUE(t.containsPoint(p));
  t.N[1] = linear(-1.1e-6, 1, 0, 0);
  EXPECT_FALSE(t.containsPoint(p));
}

TEST(TetrahedronContainsPoint, EmptyShapeFunctionsAreNotTested) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  const float far[3] = {10.0f, -10.0f, 5.0f};
  EXPECT_TRUE(t.containsPoint(far));
  setUnitShapeFunctions(t);
  EXPECT_FALSE(t.containsPoint(far));
}

TEST(TetrahedronContainsPoint, BeyondBoundaryAcceptsOnlySurfaceSides) {
  Corners c = unitCorners();
  // Beyond face 0 (the slanted face x + y + z = 1): N0 < 0 only.
  const float beyond0[3] = {0.5f, 0.5f, 0.5f};
  // Beyond face 1 (x = 0): N1 < 0 only.
  const float beyond1[3] = {-0.25f, 0.25f, 0.25f};
  for (int mask = 0; mask < 16; ++mask) {
    Tetrahedron t(c[0], c[1], c[2], c[3], static_cast<uint8_t>(mask));
    setUnitShapeFunctions(t);
    EXPECT_EQ(t.containsPointBeyondBoundary(beyond0), (mask & 1) != 0) << mask;
    EXPECT_EQ(t.containsPointBeyondBoundary(beyond1), (mask & 2) != 0) << mask;
    const float inside[3] = {0.2f, 0.2f, 0.2f};
    EXPECT_TRUE(t.containsPointBeyondBoundary(inside));
  }
  // A value between -1e-6 and 0 counts as 0 even across an inner face.
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  setUnitShapeFunctions(t);
  const float p[3] = {0.0f, 0.25f, 0.25f};
  t.N[1] = linear(-0.9e-6, 1, 0, 0);
  EXPECT_TRUE(t.containsPointBeyondBoundary(p));
  t.N[1] = linear(-1.1e-6, 1, 0, 0);
  EXPECT_FALSE(t.containsPointBeyondBoundary(p));
}

// -------------------------------------------------------------- shape functions

namespace {
class CountingTetrahedron : public Tetrahedron {
 public:
  using Tetrahedron::Tetrahedron;
  int computed = 0;
  void computeShapeFunctions() override {
    ++computed;
    setUnitShapeFunctions(*this);
    shapeFunctionsReady = true;
  }
};
}  // namespace

TEST(TetrahedronShapeFunctions, ComputedOnceOnFirstUse) {
  Corners c = unitCorners();
  CountingTetrahedron t(c[0], c[1], c[2], c[3], 0);
  Polynom<double>* n = t.getShapeFunctions();
  EXPECT_EQ(t.computed, 1);
  EXPECT_EQ(n, t.N);
  EXPECT_EQ(n[1], linear(0, 1, 0, 0));
  EXPECT_EQ(t.getShapeFunctions(), t.N);
  EXPECT_EQ(t.computed, 1);
}

TEST(TetrahedronShapeFunctions, SelfTestPassesOnBarycentricFunctions) {
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  setUnitShapeFunctions(t);
  t.testSfm();
  t.N[2] = linear(1e-6, 0, 0, 1);  // within the tolerance
  t.testSfm();
}

TEST(TetrahedronShapeFunctionsDeathTest, SelfTestStopsOnWrongFunctions) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Corners c = unitCorners();
  Tetrahedron t(c[0], c[1], c[2], c[3], 0);
  setUnitShapeFunctions(t);
  std::swap(t.N[2], t.N[3]);
  EXPECT_DEATH(t.testSfm(),
               "Assertion `std::fabs\\(value - expected\\) <= kShapeTolerance' failed\\.");
  setUnitShapeFunctions(t);
  t.N[0].terms[0] = std::nan("");
  EXPECT_DEATH(t.testSfm(),
               "Assertion `std::fabs\\(value - expected\\) <= kShapeTolerance' failed\\.");
}

// ------------------------------------------------------------------ refinement

TEST(TetrahedronRefine, EightChildrenWithMidpointsAndMasks) {
  auto h = zolt::test::singleTetrahedron(1);
  auto* parent = static_cast<Tetrahedron*>(h->elements[0][0]);
  parent->faceMask = 15;
  // The corner copies as the hierarchy would place them.
  std::vector<Vertex*> next;
  for (Vertex* v : h->vertices[0]) {
    auto* copy = new Vertex(*v);
    next.push_back(copy);
  }
  std::vector<FiniteElement*> children = {nullptr};  // ids follow positions
  EdgeMidpointMap midpoints;
  int nextIndex = 4;
  parent->refine(children, next, midpoints, nextIndex);
  EXPECT_EQ(nextIndex, 10);
  ASSERT_EQ(midpoints.size(), 6u);
  ASSERT_EQ(children.size(), 9u);

  std::set<int> indices;
  for (const auto& [key, m] : midpoints) {
    Vertex* a = key.first;
    Vertex* b = key.second;
    EXPECT_TRUE(std::less<Vertex*>()(a, b));
    indices.insert(m->index);
    ASSERT_EQ(m->parents.size(), 2u);
    EXPECT_EQ(m->parents[0].weight, 0.5f);
    EXPECT_EQ(m->parents[1].weight, 0.5f);
    EXPECT_EQ(std::set<Vertex*>({m->parents[0].parent, m->parents[1].parent}),
              std::set<Vertex*>({a, b}));
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(m->restPosition[k], 0.5f * (a->restPosition[k] + b->restPosition[k]));
    EXPECT_EQ(m->fixed, 0);
    EXPECT_EQ(m->currentPosition, nullptr);
  }
  EXPECT_EQ(indices, std::set<int>({4, 5, 6, 7, 8, 9}));

  const double parentVolume = restVolume(*parent);
  std::set<Vertex*> corners(next.begin(), next.end());
  const uint8_t expectedMasks[8] = {14, 13, 11, 7, 4, 2, 1, 8};
  for (int i = 0; i < 8; ++i) {
    auto* child = static_cast<Tetrahedron*>(children[i + 1]);
    EXPECT_EQ(child->id, i + 1);
    EXPECT_EQ(restVolume(*child), parentVolume / 8);
    EXPECT_EQ(child->getFaceMask(), expectedMasks[i]);
    // Corner children hold one copied corner, the octahedron children none.
    int nCopies = 0;
    for (int k = 0; k < 4; ++k) nCopies += corners.count(child->getVertex(k));
    EXPECT_EQ(nCopies, i < 4 ? 1 : 0);
  }
  for (int i = 1; i < 9; ++i) delete children[i];
  for (const auto& entry : midpoints) delete entry.second;
  for (Vertex* v : next) delete v;
}

TEST(TetrahedronRefine, SharedEdgeGetsOneMidpoint) {
  // Two elements sharing only the edge v0 - v1.
  auto h = zolt::test::meshFromCorners(
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, -1, 0}, {0, 0, -1}},
      {{0, 1, 2, 3}, {0, 1, 4, 5}});
  std::vector<Vertex*> next;
  for (Vertex* v : h->vertices[0]) next.push_back(new Vertex(*v));
  std::vector<FiniteElement*> children;
  EdgeMidpointMap midpoints;
  int nextIndex = 6;
  for (FiniteElement* e : h->elements[0]) e->refine(children, next, midpoints, nextIndex);
  EXPECT_EQ(midpoints.size(), 11u);
  EXPECT_EQ(nextIndex, 17);
  Vertex* m = midpoints.at(makeEdgeKey(h->vertices[0][0], h->vertices[0][1]));
  int users = 0;
  for (FiniteElement* c : children)
    for (int k = 0; k < 4; ++k) users += c->getVertex(k) == m;
  EXPECT_EQ(users, 8);  // 4 children of each element hold that midpoint
  for (FiniteElement* c : children) delete c;
  for (const auto& entry : midpoints) delete entry.second;
  for (Vertex* v : next) delete v;
}

TEST(TetrahedronRefine, ChildMasksAreParentMasksRestricted) {
  for (int mask = 0; mask < 16; ++mask) {
    auto h = zolt::test::singleTetrahedron(1);
    auto* parent = static_cast<Tetrahedron*>(h->elements[0][0]);
    parent->faceMask = static_cast<uint8_t>(mask);
    std::vector<Vertex*> next;
    for (Vertex* v : h->vertices[0]) next.push_back(new Vertex(*v));
    std::vector<FiniteElement*> children;
    EdgeMidpointMap midpoints;
    int nextIndex = 4;
    parent->refine(children, next, midpoints, nextIndex);
    // A child face is a surface face exactly when it lies in a surface face
    // of the parent: all three corners on that parent face.
    for (FiniteElement* ce : children) {
      auto* child = static_cast<Tetrahedron*>(ce);
      uint8_t expected = 0;
      for (int f = 0; f < 4; ++f) {
        for (int pf = 0; pf < 4; ++pf) {
          if (!(mask & (1 << pf))) continue;
          // Parent face pf: corners with coordinate sum test on the unit
          // element; use barycentric N_pf == 0 instead: the corner opposite.
          bool inFace = true;
          for (int k = 0; k < 3; ++k) {
            const float* p = child->faceVertex(f, k)->restPosition;
            const float* q = parent->getVertex(pf)->restPosition;
            // On the unit element the face opposite a corner is where that
            // corner's barycentric coordinate vanishes.
            double bary;
            if (q[0] == 1)
              bary = p[0];
            else if (q[1] == 1)
              bary = p[1];
            else if (q[2] == 1)
              bary = p[2];
            else
              bary = 1.0 - p[0] - p[1] - p[2];
            inFace = inFace && bary == 0.0;
          }
          if (inFace) expected |= static_cast<uint8_t>(1 << f);
        }
      }
      EXPECT_EQ(child->getFaceMask(), expected) << "parent mask " << mask;
    }
    for (FiniteElement* c : children) delete c;
    for (const auto& entry : midpoints) delete entry.second;
    for (Vertex* v : next) delete v;
  }
}

// ---------------------------------------------------------------------- reader

namespace {

// A hierarchy of `levels` levels whose level `level` holds the given vertices.
std::unique_ptr<TetHierarchy> withVertices(const std::vector<std::array<float, 3>>& ps,
                                           int levels = 1, int level = 0) {
  auto h = std::make_unique<TetHierarchy>(levels);
  for (size_t i = 0; i < ps.size(); ++i) {
    auto* v = new Vertex;
    v->index = static_cast<int>(i);
    for (int k = 0; k < 3; ++k) v->restPosition[k] = ps[i][k];
    h->vertices[level].push_back(v);
  }
  return h;
}

Tetrahedron* element(TetHierarchy& h, int level, int i) {
  return static_cast<Tetrahedron*>(h.elements[level][i]);
}

}  // namespace

TEST(TetrahedronRead, KeepsNegativeOrientationAndSwapsOtherwise) {
  // Corners 1..4: (0,0,0), (1,0,0), (0,0,1), (0,1,0) have d < 0.
  auto h = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}});
  std::istringstream in("2 4 0\n0 1 2 3 4\n1 1 2 4 3\n");
  Tetrahedron::read(in, h.get(), 0, 0);
  ASSERT_EQ(h->elements[0].size(), 2u);
  const auto& vs = h->vertices[0];
  for (int e = 0; e < 2; ++e) {
    Tetrahedron* t = element(*h, 0, e);
    EXPECT_EQ(t->getVertex(0), vs[0]);
    EXPECT_EQ(t->getVertex(1), vs[1]);
    EXPECT_EQ(t->getVertex(2), vs[2]);
    EXPECT_EQ(t->getVertex(3), vs[3]);
    EXPECT_EQ(t->id, e);
    EXPECT_EQ(t->getFaceMask(), 0);
    EXPECT_GT(restVolume(*t), 0.0);
  }
}

TEST(TetrahedronRead, FlatRecordIsSwapped) {
  auto h = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  std::istringstream in("1 4 1\n7 1 2 3 4 8\n");
  Tetrahedron::read(in, h.get(), 0, 0);
  Tetrahedron* t = element(*h, 0, 0);
  EXPECT_EQ(t->getVertex(2), h->vertices[0][3]);
  EXPECT_EQ(t->getVertex(3), h->vertices[0][2]);
  EXPECT_EQ(t->getFaceMask(), 4);
}

TEST(TetrahedronRead, SwapExchangesMaskBitsFourAndEight) {
  // Positive orientation: every record is swapped.
  const int masks[][2] = {{12, 12}, {0, 0}, {8, 4}, {4, 8}, {5, 9}, {3, 3}, {15, 15}, {9, 5}};
  for (auto [in, out] : masks) {
    auto h = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    std::istringstream text("1 4 1\n0 1 2 3 4 " + std::to_string(in) + "\n");
    Tetrahedron::read(text, h.get(), 0, 0);
    EXPECT_EQ(element(*h, 0, 0)->getFaceMask(), out) << in;
    EXPECT_GT(restVolume(*element(*h, 0, 0)), 0.0);
  }
  // No swap: the mask stays.
  auto h = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}});
  std::istringstream text("1 4 1\n0 1 2 3 4 8\n");
  Tetrahedron::read(text, h.get(), 0, 0);
  EXPECT_EQ(element(*h, 0, 0)->getFaceMask(), 8);
}

TEST(TetrahedronRead, MaskSetsSurfaceVerticesAfterTheSwap) {
  auto h = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  // Bit 8 names face (1, 2, 3) of the record; after the swap it is stored
  // as bit 4 of (V0, V1, V3) = the same three vertices.
  std::istringstream text("1 4 1\n0 1 2 3 4 8\n");
  Tetrahedron::read(text, h.get(), 0, 0);
  const auto& vs = h->vertices[0];
  EXPECT_EQ(vs[0]->onSurface, 1);
  EXPECT_EQ(vs[1]->onSurface, 1);
  EXPECT_EQ(vs[2]->onSurface, 1);
  EXPECT_EQ(vs[3]->onSurface, 0);
}

TEST(TetrahedronRead, OffsetIdsAndStartLevel) {
  // Level 1 of 3 holds 2 unused vertices, then a unit element.
  auto h = withVertices({{5, 5, 5}, {6, 6, 6}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}}, 3, 1);
  std::istringstream first("1 4 0\n1 1 2 3 4\n");
  Tetrahedron::read(first, h.get(), 1, 2);
  std::istringstream second("2 4 0\n1 4 3 2 1\n2 1 2 4 3\n");
  Tetrahedron::read(second, h.get(), 1, 2);
  ASSERT_EQ(h->elements[1].size(), 3u);
  EXPECT_EQ(h->startLevel, 1);
  for (int e = 0; e < 3; ++e) {
    Tetrahedron* t = element(*h, 1, e);
    EXPECT_EQ(t->id, e);
    for (int k = 0; k < 4; ++k) EXPECT_GE(t->getVertex(k)->index, 2);
    EXPECT_GT(restVolume(*t), 0.0);
  }
  EXPECT_EQ(element(*h, 1, 0)->getVertex(0), h->vertices[1][2]);
  // Ids continue from the last element, whatever its value.
  element(*h, 1, 2)->id = 40;
  std::istringstream third("1 4 0\n1 1 2 3 4\n");
  Tetrahedron::read(third, h.get(), 1, 2);
  EXPECT_EQ(element(*h, 1, 3)->id, 41);
  // A lower level does not lower the start level.
  auto h0 = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}}, 3, 0);
  h0->startLevel = 2;
  std::istringstream fourth("0 4 0\n");
  Tetrahedron::read(fourth, h0.get(), 0, 0);
  EXPECT_EQ(h0->startLevel, 2);
  EXPECT_TRUE(h0->elements[0].empty());
}

namespace {

// Runs the reader on `text` in a child whose standard output goes to
// standard error, where the death test sees it.
void readToStderr(const std::string& text, int vertexOffset = 0, const char* source = nullptr) {
  auto h = withVertices({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}});
  std::istringstream in(text);
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  Tetrahedron::read(in, h.get(), 0, vertexOffset, source);
}

}  // namespace

TEST(TetrahedronReadDeathTest, WrongNumberOfVertices) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(readToStderr("1 3 0\n0 1 2 3\n"), testing::ExitedWithCode(1),
              "^Error: Wrong number of vertices!\n$");
  EXPECT_EXIT(readToStderr("1 5 0\n0 1 2 3 4 4\n"), testing::ExitedWithCode(1),
              "^Error: Wrong number of vertices!\n$");
}

TEST(TetrahedronReadDeathTest, WrongNumberOfExtras) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(readToStderr("1 4 2\n0 1 2 3 4 0 0\n"), testing::ExitedWithCode(1),
              "^Error: Wrong number of extras!\n$");
  EXPECT_EXIT(readToStderr("1 4 -1\n0 1 2 3 4\n"), testing::ExitedWithCode(1),
              "^Error: Wrong number of extras!\n$");
}

TEST(TetrahedronReadDeathTest, UnreadableHeader) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(readToStderr("one 4 0\n"), testing::ExitedWithCode(1),
              "^Error: Could not read the element header!\n$");
  EXPECT_EXIT(readToStderr("1 4"), testing::ExitedWithCode(1),
              "^Error: Could not read the element header!\n$");
}

TEST(TetrahedronReadDeathTest, NegativeElementCount) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(readToStderr("-1 4 0\n"), testing::ExitedWithCode(1),
              "^Error: Wrong number of elements!\n$");
}

TEST(TetrahedronReadDeathTest, TruncatedOrGarbledRecord) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(readToStderr("2 4 0\n0 1 2 3 4\n1 1 2 3\n"), testing::ExitedWithCode(1),
              "^Error: Could not read an element!\n$");
  EXPECT_EXIT(readToStderr("1 4 1\n0 1 2 3 4\n"), testing::ExitedWithCode(1),
              "^Error: Could not read an element!\n$");
  EXPECT_EXIT(readToStderr("1 4 0\n0 1 x 3 4\n"), testing::ExitedWithCode(1),
              "^Error: Could not read an element!\n$");
}

TEST(TetrahedronReadDeathTest, VertexNumberOutOfRange) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(readToStderr("1 4 0\n0 1 2 3 5\n"), testing::ExitedWithCode(1),
              "^Error: Vertex number out of range!\n$");
  EXPECT_EXIT(
      readToStderr("1 4 0\n0 0 2 3 4\n"), testing::ExitedWithCode(1),
      "^Error: Vertex number out of range! \\(vertex numbers start at 1: the file seems to number "
      "them from 0 \\(TetGen's -z\\)\\)\n$");
  EXPECT_EXIT(readToStderr("1 4 0\n0 1 2 3 4\n", 1), testing::ExitedWithCode(1),
              "^Error: Vertex number out of range!\n$");
  EXPECT_EXIT(readToStderr("1 4 0\n0 2 2 3 2147483647\n", 1), testing::ExitedWithCode(1),
              "^Error: Vertex number out of range!\n$");
  EXPECT_EXIT(readToStderr("1 4 0\n0 -2147483647 2 3 4\n", -5), testing::ExitedWithCode(1),
              "^Error: Vertex number out of range!\n$");
}

TEST(TetrahedronReadDeathTest, NumbersCountWithinTheRecordAndMessagesNameTheSource) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Numbers count within the record's own vertices: 0 names none of them.
  EXPECT_EXIT(
      readToStderr("1 4 0\n0 0 1 2 3\n", 1), testing::ExitedWithCode(1),
      "^Error: Vertex number out of range! \\(vertex numbers start at 1: the file seems to number "
      "them from 0 \\(TetGen's -z\\)\\)\n$");
  // With a source the line names the file, the level and the element.
  EXPECT_EXIT(readToStderr("2 4 0\n0 1 2 3 4\n1 1 2 3 5\n", 0, "m.ele"), testing::ExitedWithCode(1),
              "^Error: Vertex number out of range! \\(\"m\\.ele\", level 0, element 2\\)\n$");
}
