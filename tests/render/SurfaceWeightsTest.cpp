#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Capture.h"
#include "FiniteElement.h"
#include "SurfaceMesh.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "Vertex.h"

using zolt::test::Point;

namespace {

// A surface of loose points bound to the finest level of a mesh.
struct Bound {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> h;
  SurfaceMesh s;
  std::string out;

  Bound(std::unique_ptr<TetHierarchy> mesh, const std::vector<Point>& points) : h(std::move(mesh)) {
    for (const Point& p : points) s.restPositions.insert(s.restPositions.end(), p.begin(), p.end());
    s.finishMesh();
    s.attachMesh(h.get());
    out = zolt::test::captureStdout([&] { s.generateWeights(cache().c_str(), false, 2.0f); });
  }
  std::string cache() const { return dir.file("model.cacheSurface"); }
  const std::vector<FiniteElement*>& elements() const { return h->elements[h->nLevels - 1]; }
  const float* node(uint32_t k) const { return h->vertices[h->nLevels - 1][k]->restPosition; }
};

std::unique_ptr<TetHierarchy> centredBox(int n, int levels = 1) {
  auto h = zolt::test::box(n, n, n, 1.0f, levels);
  double centre[3];
  h->setCenterOfGravity(centre);
  return h;
}

// Points near the centroid of every boundary face: `depth` along the inward
// normal (negative: outside).
std::vector<Point> nearFaces(const std::vector<FiniteElement*>& elements, float depth) {
  std::vector<Point> points;
  for (const FiniteElement* e : elements)
    for (int f = 0; f < 4; ++f) {
      if (!(e->getFaceMask() & (1 << f))) continue;
      double g[3];
      static_cast<const Tetrahedron*>(e)->faceCentroid(f, g);
      const float* o = e->getVertex(f)->restPosition;  // the corner opposite face f
      const double s = depth / std::hypot(o[0] - g[0], o[1] - g[1], o[2] - g[2]);
      points.push_back({float(g[0] + s * (o[0] - g[0])), float(g[1] + s * (o[1] - g[1])),
                        float(g[2] + s * (o[2] - g[2]))});
    }
  return points;
}

// Skinned positions under u(X) = A X + b given at the nodes, against u at
// the rest position.
void expectAffineFollow(Bound& b, const float A[3][3], const float t[3], float tolerance) {
  const auto& nodes = b.h->vertices[b.h->nLevels - 1];
  for (size_t k = 0; k < nodes.size(); ++k) {
    const float* x = nodes[k]->restPosition;
    for (int r = 0; r < 3; ++r)
      b.s.nodeDisplacements[3 * k + r] = A[r][0] * x[0] + A[r][1] * x[1] + A[r][2] * x[2] + t[r];
  }
  b.s.skinVertices();
  for (uint32_t i = 0; i < b.s.vertexCount; ++i) {
    const float* p = &b.s.restPositions[3 * i];
    for (int r = 0; r < 3; ++r) {
      const float u = A[r][0] * p[0] + A[r][1] * p[1] + A[r][2] * p[2] + t[r];
      ASSERT_NEAR(b.s.positions[3 * i + r] - p[r], u, tolerance) << "vertex " << i << " axis " << r;
    }
  }
}

}  // namespace

TEST(SurfaceWeights, WeightsAreTheElementShapeFunctions) {
  auto mesh = centredBox(2);
  std::vector<Point> points = nearFaces(mesh->elements[0], -0.3f);
  Bound b(std::move(mesh), points);
  // The four nodes name one element; its polynomials give the same floats.
  for (size_t i = 0; i < points.size(); ++i) {
    const uint32_t* n = &b.s.nodeIndices[4 * i];
    int found = 0;
    for (FiniteElement* e : b.elements()) {
      int local[4], matched = 0;
      for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 4; ++k)
          if (e->getVertex(k)->index == static_cast<int>(n[j])) local[j] = k, ++matched;
      if (matched != 4) continue;
      ++found;
      for (int j = 0; j < 4; ++j) {
        const double v =
            e->getShapeFunctions()[local[j]].eval(points[i][0], points[i][1], points[i][2]);
        EXPECT_EQ(b.s.weights[4 * i + j], static_cast<float>(v)) << i;
      }
      // n[3] is the corner opposite the face n[0..2].
      EXPECT_TRUE(e->getFaceMask() & (1 << local[3])) << i;
    }
    EXPECT_EQ(found, 1) << i;
  }
}

TEST(SurfaceWeights, SkinnedVerticesFollowAffineDisplacements) {
  auto mesh = centredBox(3, 2);
  std::vector<Point> points = nearFaces(mesh->elements[1], 0.02f);
  const size_t inside = points.size();  // convex weights for these
  for (const Point& p : nearFaces(mesh->elements[1], -0.4f)) points.push_back(p);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> far(-3.0f, 3.0f);
  for (int i = 0; i < 50; ++i) points.push_back({far(rng), far(rng), far(rng)});
  Bound b(std::move(mesh), points);
  ASSERT_EQ(b.s.weights.size(), 4 * points.size());
  for (size_t i = 0; i < 4 * inside; ++i) EXPECT_GE(b.s.weights[i], -1e-6f) << i / 4;
  const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const float zero[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  const float stretch[3][3] = {{0.1f, 0.02f, -0.03f}, {0.0f, -0.05f, 0.04f}, {0.02f, 0.01f, 0.2f}};
  const float move[3] = {0.3f, -0.2f, 0.1f}, none[3] = {0, 0, 0};
  expectAffineFollow(b, zero, move, 1e-6f);  // a translation moves every vertex alike
  expectAffineFollow(b, stretch, move, 5e-6f);
  expectAffineFollow(b, identity, none, 5e-5f);  // the weights reproduce the point
}

TEST(SurfaceWeights, OctantsAndTheirBuckets) {
  const struct {
    Point p;
    int octant;
  } points[] = {{{0, 0, 0}, 0},  {{-0.0f, 1, 1}, 0}, {{-1e-7f, 1, 1}, 1},
                {{1, -2, 0}, 2}, {{-1, -1, -1}, 7},  {{5, 0, -1}, 4}};
  for (const auto& row : points) EXPECT_EQ(SurfaceMesh::octantOf(row.p.data()), row.octant);

  // A tetrahedron spanning x in [lo, hi], all else positive: bucket 0 holds
  // it when hi >= -0.03, bucket 1 when lo < 0.03.
  const struct {
    float lo, hi;
    bool inPositive, inNegative;
  } rows[] = {{-1, -0.03f, true, true}, {-1, -0.031f, false, true}, {-1, 0, true, true},
              {0.0299f, 1, true, true}, {0.03f, 1, true, false},    {-0.5f, 0.5f, true, true}};
  for (const auto& row : rows) {
    auto h = zolt::test::meshFromCorners(
        {{row.lo, 1, 1}, {row.hi, 1, 1}, {row.lo, 2, 1}, {row.lo, 1, 2}}, {{0, 1, 2, 3}});
    const auto buckets = SurfaceMesh::octantBuckets(h->elements[0]);
    EXPECT_EQ(buckets[0].size(), row.inPositive ? 1u : 0u) << row.lo << " " << row.hi;
    EXPECT_EQ(buckets[1].size(), row.inNegative ? 1u : 0u) << row.lo << " " << row.hi;
    for (int o = 2; o < 8; ++o) EXPECT_TRUE(buckets[o].empty());
  }
}

TEST(SurfaceWeights, EmptyOctantFallsBackToAnyBoundaryFace) {
  // The mesh lies in the positive octant only; the vertices do not.
  auto mesh = zolt::test::box(2, 2, 2, 0.5f);
  for (Vertex* v : mesh->vertices[0])
    for (float& c : v->restPosition) c += 0.1f;
  Bound b(std::move(mesh), {{-0.5f, -0.5f, -0.5f}, {-1, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}});
  EXPECT_EQ(b.out.find("no face found"), std::string::npos) << b.out;
  EXPECT_TRUE(std::filesystem::exists(b.cache() + ".weight"));
  const float A[3][3] = {{0.2f, 0, 0.1f}, {0, 0.3f, 0}, {-0.1f, 0, 0.1f}};
  const float t[3] = {1, 2, 3};
  expectAffineFollow(b, A, t, 1e-5f);
}

TEST(SurfaceWeights, NoBoundaryFaceLeavesTheSurfaceUnboundAndUnsaved) {
  auto empty = std::make_unique<TetHierarchy>(1);
  empty->vertices[0].push_back(new Vertex);
  Bound b(std::move(empty), {{0, 0, 0}, {1, 1, 1}});
  EXPECT_NE(b.out.find(" Error: no face found!! \n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(b.cache() + ".weight"));
  b.s.nodeDisplacements.assign(3, 1.0f);
  b.s.skinVertices();
  EXPECT_EQ(b.s.positions, b.s.restPositions);
}
