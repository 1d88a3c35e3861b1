#include <gtest/gtest.h>

#include <cmath>

#include "VoxelMesh.h"

using namespace zolt::modelgen;

// Counts, volumes and the boundary area of boxes in closed form; the area
// sums the faces whose mask bit is set.
TEST(VoxelMesh, BoxesHaveTheClosedFormCountsVolumeAndSurface) {
  static const int kFaces[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
  const struct {
    int n[3];
    double h;
  } rows[] = {{{1, 1, 1}, 1.0}, {{3, 2, 1}, 0.5}, {{10, 1, 1}, 0.1}, {{2, 10, 2}, 0.1}};
  for (const auto& row : rows) {
    const int nx = row.n[0], ny = row.n[1], nz = row.n[2];
    const Vec3 hi = {nx * row.h, ny * row.h, nz * row.h};
    const TetMesh mesh = voxelise(boxShape({0, 0, 0}, hi), {{0, 0, 0}, row.h, {nx, ny, nz}});
    EXPECT_EQ(mesh.vertexCount(), (nx + 1) * (ny + 1) * (nz + 1));
    ASSERT_EQ(mesh.elementCount(), 6 * nx * ny * nz);
    double total = 0.0, area = 0.0;
    for (int e = 0; e < mesh.elementCount(); ++e) {
      EXPECT_NEAR(volume(mesh, e), row.h * row.h * row.h / 6.0, 1e-6);
      total += volume(mesh, e);
      for (int f = 0; f < 4; ++f) {
        if (!(mesh.masks[e] & (8 >> f))) continue;
        Vec3 p[3];
        for (int c = 0; c < 3; ++c) {
          const float* x = mesh.position(mesh.tets[e][kFaces[f][c]]);
          p[c] = {x[0], x[1], x[2]};
        }
        const Vec3 n = cross(p[1] - p[0], p[2] - p[0]);
        area += 0.5 * std::sqrt(dot(n, n));
      }
    }
    EXPECT_NEAR(total, hi.x * hi.y * hi.z, 1e-5);
    EXPECT_NEAR(area, 2 * (hi.x * hi.y + hi.y * hi.z + hi.z * hi.x), 1e-5);
  }
}

// Two balls apart: only the larger one's cubes are kept.
TEST(VoxelMesh, OnlyTheLargestGroupOfCubesIsKept) {
  const Implicit balls = smoothUnion(ellipsoid({-0.5, 0, 0}, {0.3, 0.3, 0.3}),
                                     ellipsoid({0.6, 0, 0}, {0.2, 0.2, 0.2}), 0.01);
  const TetMesh mesh = voxelise(balls, {{-1, -0.5, -0.5}, 0.1, {20, 10, 10}});
  ASSERT_GT(mesh.vertexCount(), 0);
  for (int v = 0; v < mesh.vertexCount(); ++v) EXPECT_LT(mesh.position(v)[0], 0.0f);
}

TEST(VoxelMesh, FittingBringsTheBoundaryToTheSurfaceAndKeepsElementsSound) {
  const Implicit f = creature();
  const double h = 0.11;
  TetMesh mesh = voxelise(f, {{-7 * h, 0, -4 * h}, h, {14, 13, 8}});
  const TetMesh grid = mesh;
  fitBoundary(mesh, f, h, 0.3, 0.0);
  double before = 0.0, after = 0.0;  // summed over the vertices that moved
  int moved = 0;
  for (int v = 0; v < mesh.vertexCount(); ++v) {
    const float *p = mesh.position(v), *q = grid.position(v);
    const double shift = std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
    EXPECT_LE(shift, 0.5 * h + 1e-6);
    if (q[1] == 0.0f) {
      EXPECT_EQ(p[1], 0.0f);  // soles stay on the floor
    }
    if (shift == 0.0) continue;
    ++moved;
    before += std::abs(f({q[0], q[1], q[2]}));
    after += std::abs(f({p[0], p[1], p[2]}));
  }
  EXPECT_GT(moved, 100);
  EXPECT_LT(after, 0.35 * before);
  for (int e = 0; e < mesh.elementCount(); ++e) {
    EXPECT_GE(volume(mesh, e), 0.3 * h * h * h / 6.0 * (1 - 1e-6));
    EXPECT_LT(readerDeterminant(mesh, e), 0.0f);
  }
}
