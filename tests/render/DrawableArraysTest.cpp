// Render arrays against geometry: a box's surface is its boundary, its faces
// count in closed form, the normals of a closed surface sum to zero
// (divergence theorem) and point away from the centre; texture coordinates
// against angles and boxes.

#include <gtest/gtest.h>

#include <cmath>

#include "DrawableArrays.h"
#include "TestMeshes.h"
#include "Vertex.h"

namespace {

struct BoxCase {
  int k, l, m, levels;
};

TEST(DrawableArrays, BoxSurfaceFirstThenInnerWithBoundaryTrianglesFirst) {
  for (const BoxCase c : {BoxCase{2, 2, 2, 1}, BoxCase{3, 2, 4, 1}, BoxCase{1, 2, 1, 3}}) {
    auto mesh = zolt::test::box(c.k, c.l, c.m, 0.5f, c.levels);
    const auto& vs = mesh->vertices[c.levels - 1];
    const int n = static_cast<int>(vs.size());
    std::vector<int> renderOf(n), vertexOf(n);
    const int surface = buildRenderOrder(vs, false, renderOf.data(), vertexOf.data());
    std::vector<float> rest(3 * n), positions(3 * n), normals(3 * n, 7.0f);
    attachPositions(vs, renderOf.data(), rest.data(), positions.data());
    std::vector<uint32_t> tris;
    const int boundary = collectTriangles(mesh->elements[c.levels - 1], renderOf.data(), tris);
    computeNormals(positions.data(), tris.data(), boundary, surface, normals.data());

    const float extent[3] = {0.5f * c.k, 0.5f * c.l, 0.5f * c.m};
    double sum[3] = {0, 0, 0};
    int boundaryVertices = 0;
    for (const Vertex* v : vs) {
      const int r = renderOf[v->index];
      const float* p = v->restPosition;
      bool onBoundary = false;
      for (int k = 0; k < 3; ++k) onBoundary |= p[k] == 0.0f || p[k] == extent[k];
      boundaryVertices += onBoundary;
      EXPECT_EQ(r < surface, onBoundary) << "vertex " << v->index;
      EXPECT_EQ(vertexOf[r], v->index);
      EXPECT_EQ(v->currentPosition, &positions[3 * r]);
      double outward = 0.0;
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(positions[3 * r + k], p[k]);
        outward += normals[3 * r + k] * (p[k] - extent[k] / 2);
        if (onBoundary) sum[k] += normals[3 * r + k];
      }
      if (onBoundary)
        EXPECT_GT(outward, 0.0) << "vertex " << v->index;
      else
        EXPECT_EQ(normals[3 * r], 7.0f);  // inner normals are left alone
    }
    EXPECT_EQ(surface, boundaryVertices);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(sum[k], 0.0, 1e-2);
    // Each group keeps the vertex order.
    for (int r = 1; r < n; ++r) EXPECT_TRUE(r == surface || vertexOf[r - 1] < vertexOf[r]) << r;

    // Two triangles per boundary square, four faces per element in all.
    const int h = 1 << (c.levels - 1), kx = c.k * h, ly = c.l * h, mz = c.m * h;
    EXPECT_EQ(boundary, 4 * (kx * ly + ly * mz + kx * mz));
    EXPECT_EQ(tris.size(), 12 * mesh->elements[c.levels - 1].size());
    for (int i = 0; i < 3 * boundary; ++i) EXPECT_LT(tris[i], uint32_t(surface));
  }
}

TEST(DrawableArrays, TwoDimensionalModelsShowEveryVertexInVertexOrder) {
  auto mesh = zolt::test::box(2, 2, 2);
  const int n = static_cast<int>(mesh->vertices[0].size());
  std::vector<int> renderOf(n), vertexOf(n);
  EXPECT_EQ(buildRenderOrder(mesh->vertices[0], true, renderOf.data(), vertexOf.data()), n);
  for (int r = 0; r < n; ++r) EXPECT_EQ(vertexOf[r], r);
}

TEST(DrawableArrays, TextureCoordinatesOfTheThreeModes) {
  const float kPi = 3.14159265f, scale = 8.0f;
  // Spherical: (u, v) in units of pi; the origin and the y axis stay finite.
  const struct {
    float p[3], u, v;
  } spherical[] = {{{2, 0, 0}, 0, 0.5f},  {{-1, 0, 0}, 1, 0.5f},    {{0, 0, 3}, 0.5f, 0.5f},
                   {{0, 4, 0}, 0.5f, 0},  {{0, -1, 0}, 0.5f, 1},    {{0, 0, 0}, 0.5f, 0.5f},
                   {{1, 1, 0}, 0, 0.25f}, {{0, 1e-10f, 0}, 0.5f, 0}};
  for (const auto& row : spherical) {
    float t[2];
    computeTexCoords(0, scale, row.p, nullptr, row.p, 1, t);
    EXPECT_NEAR(t[0], row.u * scale, 1e-4f) << row.p[0] << " " << row.p[1] << " " << row.p[2];
    EXPECT_NEAR(t[1], row.v * scale, 1e-4f) << row.p[0] << " " << row.p[1] << " " << row.p[2];
  }
  const float p[3] = {0.3f, -0.4f, 1.2f};
  float t[2];
  computeTexCoords(0, 1.0f, p, nullptr, p, 1, t);
  const double v = std::acos(-0.4 / 1.3);
  EXPECT_NEAR(t[0], std::acos(0.3 / 1.3 / std::sin(v)) / kPi, 1e-5);
  EXPECT_NEAR(t[1], v / kPi, 1e-5);

  // Dominant normal axis for the position (1, 2, 3); ties go to x, then y.
  const struct {
    float normal[3], u, v;
  } dominant[] = {{{1, 0, 0}, 2, 3},    {{-5, 1, 1}, -2, -3}, {{1, 1, 0}, 2, 3},
                  {{-1, 1, 1}, -2, -3}, {{0, -2, 1}, -1, -3}, {{0, 1, 1}, 1, 3},
                  {{1, 0, -4}, -1, -2}, {{0, 0, 0}, 2, 3}};
  const float q[3] = {1, 2, 3};
  for (const auto& row : dominant) {
    computeTexCoords(1, 0.5f, q, row.normal, q, 1, t);
    EXPECT_EQ(t[0], row.u * 0.5f) << row.normal[0] << " " << row.normal[1] << " " << row.normal[2];
    EXPECT_EQ(t[1], row.v * 0.5f) << row.normal[0] << " " << row.normal[1] << " " << row.normal[2];
  }

  // Planar: the rest box onto the unit square; a flat extent maps to 0.
  const std::vector<float> rest = {-1, 2, 9, 3, 4, -9, 1, 3, 0, 3, 2, 5};
  std::vector<float> uv(8);
  computeTexCoords(2, scale, rest.data(), nullptr, rest.data(), 4, uv.data());
  EXPECT_EQ(uv, (std::vector<float>{0, 0, 1, 1, 0.5f, 0.5f, 1, 0}));
  const float flat[6] = {0, 1, 0, 2, 1, 0};
  computeTexCoords(2, 1.0f, flat, nullptr, flat, 2, uv.data());
  EXPECT_EQ(std::vector<float>(uv.begin(), uv.begin() + 4), (std::vector<float>{0, 0, 1, 0}));
}

TEST(DrawableArrays, SkinRampHitsItsAnchorsAndBrightensSmoothly) {
  uint8_t rgb[3 * kSkinRampSize];
  buildSkinRamp(rgb);
  const struct {
    int texel, r, g, b;
  } anchors[] = {{0, 117, 74, 56},     {2, 117, 74, 56},     {32, 126, 83, 64},
                 {64, 155, 107, 86},   {96, 195, 138, 115},  {128, 223, 162, 136},
                 {160, 234, 175, 147}, {192, 236, 188, 162}, {224, 240, 210, 190},
                 {254, 243, 227, 213}, {255, 243, 227, 213}};
  for (const auto& a : anchors) {
    const int got[3] = {rgb[3 * a.texel], rgb[3 * a.texel + 1], rgb[3 * a.texel + 2]};
    EXPECT_EQ(got[0], a.r) << a.texel;
    EXPECT_EQ(got[1], a.g) << a.texel;
    EXPECT_EQ(got[2], a.b) << a.texel;
  }
  // Every channel rises, by at most the steepest anchor slope (40 levels
  // over 32 texels) plus rounding.
  for (int i = 3; i < 3 * kSkinRampSize; ++i) {
    EXPECT_GE(rgb[i], rgb[i - 3]) << i / 3;
    EXPECT_LE(rgb[i] - rgb[i - 3], 2) << i / 3;
  }
}

TEST(DrawableArrays, RevealedVerticesJoinTheSurfaceWithTheirData) {
  // Six vertices, three on the surface; every per-vertex value is the vertex.
  const int n = 6;
  std::vector<int> renderOf = {0, 3, 1, 4, 2, 5}, vertexOf(n);
  for (int v = 0; v < n; ++v) vertexOf[renderOf[v]] = v;
  std::vector<float> p3(3 * n), t2(2 * n), s1(n);
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < 3; ++k) p3[3 * r + k] = float(vertexOf[r]);
    t2[2 * r] = t2[2 * r + 1] = s1[r] = float(vertexOf[r]);
  }
  std::vector<float> r3 = p3, n3 = p3, c3 = p3;
  const RenderSlots slots{renderOf.data(), vertexOf.data(), p3.data(), r3.data(),
                          n3.data(),       t2.data(),       c3.data(), s1.data()};
  std::vector<int> newOfOld;
  // Vertex 5 swaps with vertex 1 at render 3; vertex 2 is surface already;
  // vertex 3 sits right after the range.
  EXPECT_EQ(moveIntoSurface(slots, n, 3, {5, 2, 3}, newOfOld), 5);
  EXPECT_EQ(newOfOld, (std::vector<int>{0, 1, 2, 5, 4, 3}));
  for (int r = 0; r < n; ++r) {
    const float v = float(vertexOf[r]);
    EXPECT_EQ(renderOf[vertexOf[r]], r);
    for (const std::vector<float>* a : {&p3, &r3, &n3, &c3}) EXPECT_EQ((*a)[3 * r + 2], v) << r;
    EXPECT_EQ(t2[2 * r + 1], v);
    EXPECT_EQ(s1[r], v);
  }

  // Two boundary and three inner triangles, renumbered by that move to
  // (0 1 5), (5 4 3), (2 4 0). Revealed faces: (4 0 2) is (2 4 0) turned;
  // (5 4 3) reaches beyond the surface; (0 4 2) has the other winding.
  std::vector<uint32_t> tris = {0, 1, 2, 1, 2, 0, 0, 1, 3, 3, 4, 5, 2, 4, 0};
  int boundary = 2;
  reworkTriangles(tris, boundary, newOfOld, {4, 0, 2, 5, 4, 3, 0, 4, 2}, 5);
  EXPECT_EQ(boundary, 3);
  EXPECT_EQ(tris, (std::vector<uint32_t>{0, 1, 2, 1, 2, 0, 2, 4, 0, 0, 1, 5, 5, 4, 3}));
}

}  // namespace
