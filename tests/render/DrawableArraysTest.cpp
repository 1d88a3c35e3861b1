// Render arrays against geometry: a box mesh's surface is its boundary, its
// faces are counted in closed form, and the normals of a closed surface sum to
// zero (divergence theorem) while pointing away from the centre.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "DrawableArrays.h"
#include "TestMeshes.h"
#include "Vertex.h"

namespace {

using zolt::test::box;

struct Arrays {
  std::unique_ptr<TetHierarchy> mesh;
  std::vector<int> renderOf, vertexOf;
  int surfaceCount = 0;
  std::vector<float> rest, positions, normals;
  std::vector<uint32_t> triangles;
  int boundaryCount = 0;

  const std::vector<Vertex*>& vertices() const { return mesh->vertices[mesh->nLevels - 1]; }
};

Arrays build(std::unique_ptr<TetHierarchy> mesh, bool allSurface = false) {
  Arrays a;
  a.mesh = std::move(mesh);
  const auto& vs = a.vertices();
  const int n = static_cast<int>(vs.size());
  a.renderOf.resize(n);
  a.vertexOf.resize(n);
  a.surfaceCount = buildRenderOrder(vs, allSurface, a.renderOf.data(), a.vertexOf.data());
  a.rest.resize(3 * n);
  a.positions.resize(3 * n);
  attachPositions(vs, a.renderOf.data(), a.rest.data(), a.positions.data());
  a.boundaryCount =
      collectTriangles(a.mesh->elements[a.mesh->nLevels - 1], a.renderOf.data(), a.triangles);
  a.normals.assign(3 * n, 7.0f);
  computeNormals(a.positions.data(), a.triangles.data(), a.boundaryCount, a.surfaceCount,
                 a.normals.data());
  return a;
}

// On the boundary of the box [0, kx] x [0, ly] x [0, mz].
bool onBoxBoundary(const float* p, const float* extent) {
  for (int k = 0; k < 3; ++k)
    if (p[k] == 0.0f || p[k] == extent[k]) return true;
  return false;
}

struct BoxCase {
  int k, l, m, levels;
};

class RenderOrderOnBoxes : public testing::TestWithParam<BoxCase> {};

TEST_P(RenderOrderOnBoxes, SurfaceFirstStableAndInverse) {
  const BoxCase c = GetParam();
  const Arrays a = build(box(c.k, c.l, c.m, 1.0f, c.levels));
  const float extent[3] = {float(c.k), float(c.l), float(c.m)};
  const int n = static_cast<int>(a.vertices().size());

  int boundaryVertices = 0;
  for (const Vertex* v : a.vertices()) {
    const bool surface = onBoxBoundary(v->restPosition, extent);
    boundaryVertices += surface;
    EXPECT_EQ(a.renderOf[v->index] < a.surfaceCount, surface) << "vertex " << v->index;
  }
  EXPECT_EQ(a.surfaceCount, boundaryVertices);
  for (int r = 0; r < n; ++r) EXPECT_EQ(a.renderOf[a.vertexOf[r]], r);
  // Each group keeps the vertex order.
  for (int r = 1; r < n; ++r)
    if (r != a.surfaceCount) {
      EXPECT_LT(a.vertexOf[r - 1], a.vertexOf[r]) << r;
    }

  // Every vertex's current position is its entry of the drawable's array.
  for (const Vertex* v : a.vertices()) {
    const float* entry = a.positions.data() + 3 * a.renderOf[v->index];
    EXPECT_EQ(v->currentPosition, entry);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(entry[k], v->restPosition[k]);
  }

  // Two triangles per boundary square, four faces per element in all.
  const int h = 1 << (c.levels - 1);
  const int kx = c.k * h, ly = c.l * h, mz = c.m * h;
  const int elements = static_cast<int>(a.mesh->elements[c.levels - 1].size());
  EXPECT_EQ(a.boundaryCount, 4 * (kx * ly + ly * mz + kx * mz));
  EXPECT_EQ(static_cast<int>(a.triangles.size()), 3 * 4 * elements);
  for (int t = 0; t < 3 * a.boundaryCount; ++t)
    EXPECT_LT(a.triangles[t], static_cast<uint32_t>(a.surfaceCount));
}

INSTANTIATE_TEST_SUITE_P(DrawableArrays, RenderOrderOnBoxes,
                         testing::Values(BoxCase{2, 2, 2, 1}, BoxCase{3, 2, 4, 1},
                                         BoxCase{1, 1, 1, 3}, BoxCase{1, 2, 1, 2}));

TEST(DrawableArrays, TwoDimensionalModelsShowEveryVertexInVertexOrder) {
  const Arrays a = build(box(2, 2, 2), true);
  const int n = static_cast<int>(a.vertices().size());
  EXPECT_EQ(a.surfaceCount, n);
  for (int r = 0; r < n; ++r) EXPECT_EQ(a.vertexOf[r], r);
}

TEST(DrawableArrays, NormalsOfAClosedBoxPointOutwardAndSumToZero) {
  const Arrays a = build(box(3, 2, 2, 0.5f, 2));
  const float centre[3] = {0.75f, 0.5f, 0.5f}, extent[3] = {1.5f, 1.0f, 1.0f};
  double sum[3] = {0, 0, 0};
  for (int r = 0; r < a.surfaceCount; ++r) {
    const float* p = &a.rest[3 * r];
    const float* nrm = &a.normals[3 * r];
    double outward = 0.0;
    for (int k = 0; k < 3; ++k) {
      outward += nrm[k] * (p[k] - centre[k]);
      sum[k] += nrm[k];
    }
    EXPECT_GT(outward, 0.0) << "render index " << r;
    // Inside one face the normal is that face's normal.
    int faces = 0, axis = -1;
    for (int k = 0; k < 3; ++k)
      if (p[k] == 0.0f || p[k] == extent[k]) ++faces, axis = k;
    for (int k = 0; k < 3 && faces == 1; ++k) {
      if (k == axis) continue;
      EXPECT_NEAR(nrm[k], 0.0f, 1e-3f) << "render index " << r;
    }
  }
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(sum[k], 0.0, 1e-2);
  // Inner normals are left alone.
  for (size_t i = 3 * a.surfaceCount; i < a.normals.size(); ++i) EXPECT_EQ(a.normals[i], 7.0f);
}

TEST(DrawableArrays, NormalsWeighTrianglesByTwiceTheirArea) {
  // The unit tetrahedron's origin touches the faces x = 0, y = 0 and z = 0,
  // each of area 1/2: each adds 1024 * 2 * 1/2 along its outward axis.
  const Arrays a = build(zolt::test::singleTetrahedron());
  const float* origin = &a.normals[3 * a.renderOf[0]];
  EXPECT_FLOAT_EQ(origin[0], -1024.0f);
  EXPECT_FLOAT_EQ(origin[1], -1024.0f);
  EXPECT_FLOAT_EQ(origin[2], -1024.0f);
}

constexpr float kPi = 3.14159265f;

struct SphericalRow {
  float p[3];
  float u, v;  // in units of pi
};

TEST(DrawableArrays, SphericalCoordinatesAreAnglesOverPi) {
  const SphericalRow rows[] = {
      {{2, 0, 0}, 0.0f, 0.5f},  {{-1, 0, 0}, 1.0f, 0.5f},     {{0, 0, 3}, 0.5f, 0.5f},
      {{0, 4, 0}, 0.5f, 0.0f},  {{0, -1, 0}, 0.5f, 1.0f},     {{0, 0, 0}, 0.5f, 0.5f},
      {{1, 1, 0}, 0.0f, 0.25f}, {{0, 1e-10f, 0}, 0.5f, 0.0f},
  };
  const float scale = 8.0f;
  for (const SphericalRow& row : rows) {
    float t[2];
    computeTexCoords(0, scale, row.p, nullptr, row.p, 1, t);
    EXPECT_TRUE(std::isfinite(t[0]) && std::isfinite(t[1]));
    EXPECT_NEAR(t[0], row.u * scale, 1e-4f) << row.p[0] << " " << row.p[1] << " " << row.p[2];
    EXPECT_NEAR(t[1], row.v * scale, 1e-4f) << row.p[0] << " " << row.p[1] << " " << row.p[2];
  }
  // Cross-check a generic direction against the closed form in double.
  const float p[3] = {0.3f, -0.4f, 1.2f};
  float t[2];
  computeTexCoords(0, 1.0f, p, nullptr, p, 1, t);
  const double len = std::sqrt(0.09 + 0.16 + 1.44), v = std::acos(-0.4 / len);
  EXPECT_NEAR(t[1], v / kPi, 1e-5);
  EXPECT_NEAR(t[0], std::acos(0.3 / len / std::sin(v)) / kPi, 1e-5);
}

struct AxisRow {
  float normal[3];
  float u, v;  // for the position (1, 2, 3)
};

TEST(DrawableArrays, DominantAxisProjectsOntoTheOtherTwoWithTiesToXThenY) {
  const AxisRow rows[] = {
      {{1, 0, 0}, 2, 3},    {{-5, 1, 1}, -2, -3}, {{1, 1, 0}, 2, 3}, {{-1, 1, 1}, -2, -3},
      {{0, 2, 0}, 1, 3},    {{0, -2, 1}, -1, -3}, {{0, 1, 1}, 1, 3}, {{0, 0, 4}, 1, 2},
      {{1, 0, -4}, -1, -2}, {{0, 0, 0}, 2, 3},
  };
  const float p[3] = {1, 2, 3}, scale = 0.5f;
  for (const AxisRow& row : rows) {
    float t[2];
    computeTexCoords(1, scale, p, row.normal, p, 1, t);
    EXPECT_EQ(t[0], row.u * scale) << row.normal[0] << " " << row.normal[1] << " " << row.normal[2];
    EXPECT_EQ(t[1], row.v * scale) << row.normal[0] << " " << row.normal[1] << " " << row.normal[2];
  }
}

TEST(DrawableArrays, PlanarModeMapsTheRestBoxOntoTheUnitSquare) {
  const std::vector<float> rest = {-1, 2, 9, 3, 4, -9, 1, 3, 0, 3, 2, 5};
  std::vector<float> t(8);
  computeTexCoords(2, 8.0f, rest.data(), nullptr, rest.data(), 4, t.data());
  const std::vector<float> expected = {0, 0, 1, 1, 0.5f, 0.5f, 1, 0};
  for (size_t i = 0; i < t.size(); ++i) EXPECT_FLOAT_EQ(t[i], expected[i]) << i;

  // A body flat in y maps y to 0 instead of 0 / 0.
  const std::vector<float> flat = {0, 1, 0, 2, 1, 0};
  computeTexCoords(2, 1.0f, flat.data(), nullptr, flat.data(), 2, t.data());
  EXPECT_EQ(t[1], 0.0f);
  EXPECT_EQ(t[3], 0.0f);
  EXPECT_EQ(t[2], 1.0f);
}

TEST(DrawableArrays, UnknownModeGivesZeros) {
  const float p[6] = {1, 2, 3, 4, 5, 6};
  float t[4] = {9, 9, 9, 9};
  computeTexCoords(7, 1.0f, p, p, p, 2, t);
  for (float x : t) EXPECT_EQ(x, 0.0f);
}

TEST(DrawableArrays, SkinRampHitsItsAnchorsAndBrightensSmoothly) {
  uint8_t rgb[3 * kSkinRampSize];
  buildSkinRamp(rgb);
  const struct {
    int texel, r, g, b;
  } anchors[] = {{0, 117, 74, 56},     {1, 117, 74, 56},     {2, 117, 74, 56},
                 {32, 126, 83, 64},    {64, 155, 107, 86},   {96, 195, 138, 115},
                 {128, 223, 162, 136}, {160, 234, 175, 147}, {192, 236, 188, 162},
                 {224, 240, 210, 190}, {254, 243, 227, 213}, {255, 243, 227, 213}};
  for (const auto& a : anchors) {
    EXPECT_EQ(rgb[3 * a.texel], a.r) << a.texel;
    EXPECT_EQ(rgb[3 * a.texel + 1], a.g) << a.texel;
    EXPECT_EQ(rgb[3 * a.texel + 2], a.b) << a.texel;
  }
  // Every channel rises from dark to light, by at most the steepest anchor
  // slope (40 levels over 32 texels) plus rounding.
  for (int i = 1; i < kSkinRampSize; ++i)
    for (int k = 0; k < 3; ++k) {
      const int step = rgb[3 * i + k] - rgb[3 * (i - 1) + k];
      EXPECT_GE(step, 0) << i;
      EXPECT_LE(step, 2) << i;
    }
}

TEST(DrawableArrays, PointBoxOfNothingIsInverted) {
  float lo[3], hi[3];
  pointBox(nullptr, 0, lo, hi);
  for (int k = 0; k < 3; ++k) EXPECT_GT(lo[k], hi[k]);
  const float p[6] = {1, -2, 3, -4, 5, 0};
  pointBox(p, 2, lo, hi);
  EXPECT_EQ(lo[0], -4);
  EXPECT_EQ(hi[1], 5);
  EXPECT_EQ(lo[2], 0);
}

}  // namespace
