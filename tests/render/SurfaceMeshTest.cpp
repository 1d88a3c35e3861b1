#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SurfaceMesh.h"
#include "SurfaceShapes.h"

using F = std::vector<float>;

namespace {

double dot3(const float* a, const float* b) {
  return double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
}

}  // namespace

TEST(SurfaceMesh, VertexNormalsOfAClosedSurface) {
  SurfaceMesh m;
  zolt::test::uvSphere(m, 24, 32, 2.0f);
  ASSERT_EQ(m.vertexCount, 2u + 23u * 32u);
  // Unit normals that point outward, close to the radial direction.
  for (uint32_t i = 0; i < m.vertexCount; ++i) {
    const float* n = &m.normals[3 * i];
    const float* p = &m.restPositions[3 * i];
    EXPECT_NEAR(dot3(n, n), 1.0, 1e-6);
    EXPECT_GT(dot3(n, p) / std::sqrt(dot3(p, p)), 0.99) << i;
  }
  // Area-weighted sums: the vector area of a closed surface is zero, and
  // each triangle adds its doubled vector area to three corners.
  m.accumulateFaceNormals(true);
  double sum[3] = {0, 0, 0}, total = 0;
  for (uint32_t i = 0; i < m.vertexCount; ++i) {
    for (int k = 0; k < 3; ++k) sum[k] += m.normals[3 * i + k];
    total += std::sqrt(dot3(&m.normals[3 * i], &m.normals[3 * i]));
  }
  for (double s : sum) EXPECT_NEAR(s / total, 0.0, 1e-6);
  // 3 x 2 x area of the sphere, up to the faceting.
  EXPECT_NEAR(total, 6.0 * 4.0 * 3.14159265 * 4.0, 0.02 * total);
}

TEST(SurfaceMesh, SeamCopiesShareTheSumOfTheirNormals) {
  const uint32_t none = SurfaceMesh::kNoSeamCopy;
  const struct {
    uint32_t first, second, third;
    F expected;
  } rows[] = {
      {0, 2, none, {4, 0, 0, 0, 2, 0, 4, 0, 0, 0, 0, 1}},
      {1, 3, 0, {1, 2, 1, 1, 2, 1, 3, 0, 0, 1, 2, 1}},
  };
  for (const auto& row : rows) {
    SurfaceMesh m;
    m.normals = {1, 0, 0, 0, 2, 0, 3, 0, 0, 0, 0, 1};
    m.seamFirst = {row.first};
    m.seamSecond = {row.second};
    m.seamThird = {row.third};
    m.mergeSeamNormals();
    EXPECT_EQ(m.normals, row.expected) << row.first << " " << row.second;
  }
}

TEST(SurfaceMesh, ProjectionOntoAFacePlane) {
  const struct {
    float a[3], b[3], c[3], p[3];
    float q[3], distance;
  } rows[] = {
      {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {0.25f, 0.5f, 5}, {0.25f, 0.5f, 1}, 4},
      {{0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {3, -2, -1}, {3, -2, 1}, 2},  // other winding
      {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {1.f / 3, 1.f / 3, 1.f / 3}, 2 / std::sqrt(3.f)},
  };
  for (const auto& r : rows) {
    float q[3], distance = -1;
    SurfaceMesh::projectOntoFacePlane(r.a, r.b, r.c, r.p, q, distance);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], r.q[k], 1e-6);
    EXPECT_NEAR(distance, r.distance, 1e-6);
    EXPECT_NEAR(SurfaceMesh::pointPlaneDistance(r.a, r.b, r.c, r.p), r.distance, 1e-6);
  }
}
