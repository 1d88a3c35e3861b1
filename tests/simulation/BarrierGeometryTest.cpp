// Barrier planes against the faces they bound, and motion: a moving barrier
// advances by its velocity per frame and resetPosition restores it bit for bit.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "Barrier.h"
#include "Capture.h"

namespace {

// Faces by their corners, independent of the plane table.
constexpr int kFaces[6][4] = {{0, 1, 2, 3}, {0, 4, 5, 1}, {1, 5, 6, 2},
                              {2, 6, 7, 3}, {0, 3, 7, 4}, {4, 5, 6, 7}};

// A cube of edge e centred at m, rotated by a about axis 2 and b about axis 0.
std::array<float, 24> rotatedCube(const double* m, double e, double a, double b) {
  const int unit[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1},
                          {0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}};
  std::array<float, 24> c;
  for (int i = 0; i < 8; ++i) {
    const double x = (unit[i][0] - 0.5) * e, y = (unit[i][1] - 0.5) * e, z = (unit[i][2] - 0.5) * e;
    const double y1 = std::sin(a) * x + std::cos(a) * y;
    c[3 * i] = float(m[0] + std::cos(a) * x - std::sin(a) * y);
    c[3 * i + 1] = float(m[1] + std::cos(b) * y1 - std::sin(b) * z);
    c[3 * i + 2] = float(m[2] + std::sin(b) * y1 + std::cos(b) * z);
  }
  return c;
}

double side(const float* n, float offset, const double* p) {
  return n[0] * p[0] + n[1] * p[1] + n[2] * p[2] + offset;
}

TEST(BarrierGeometry, GroundOfTheUnitSquare) {
  const float c[12] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1};
  GroundBarrier g(c);
  EXPECT_EQ(g.normal[0], 0.0f);
  EXPECT_EQ(g.normal[1], -1.0f);
  EXPECT_EQ(g.normal[2], 0.0f);
  EXPECT_EQ(g.offset, 0.0f);
}

TEST(BarrierGeometry, CuboidPlanesBoundTheirFaces) {
  const double m[2][3] = {{0.5, 0.5, 0.5}, {-3.0, 2.0, 7.5}};
  const double shape[2][3] = {{1.0, 0.0, 0.0}, {0.3, 0.7, -0.4}};  // edge, angles
  for (int r = 0; r < 2; ++r) {
    const std::array<float, 24> c = rotatedCube(m[r], shape[r][0], shape[r][1], shape[r][2]);
    QuaderBarrier q(c.data());
    BoxBarrier box(c.data());
    for (int k = 0; k < 6; ++k) {
      const float* n = q.normals[k];
      EXPECT_NEAR(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1.0, 1e-6);
      for (int i : kFaces[k]) {
        const double p[3] = {c[3 * i], c[3 * i + 1], c[3 * i + 2]};
        EXPECT_NEAR(side(n, q.offsets[k], p), 0.0, 2e-5) << r << " plane " << k << " corner " << i;
      }
      // The centre is half an edge inside: outward normals for the cuboid,
      // the same planes negated for the box.
      EXPECT_NEAR(side(n, q.offsets[k], m[r]), -0.5 * shape[r][0], 2e-5) << r << " " << k;
      EXPECT_NEAR(side(box.normals[k], box.offsets[k], m[r]), 0.5 * shape[r][0], 2e-5);
    }
  }
}

TEST(BarrierGeometry, MovesByTheVelocityPerFrameAndResetsExactly) {
  // MOVE_BARRIER 1 -2 0.7 with a time step of 0.05.
  const float v[3] = {0.05f, -0.1f, 0.035f};
  const float ground[12] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1}, centre[3] = {0.3f, -1.1f, 2.0f};
  const double m[3] = {1.0, 2.0, 3.0};
  GroundBarrier g(ground);
  SphereBarrier s(centre, 0.5f);
  QuaderBarrier q(rotatedCube(m, 2.0, 0.3, 0.2).data());
  struct Row {
    Barrier* barrier;
    float* points;
    int nPoints;
    float* offsets;
    const float* normals;
    int nOffsets;
  } rows[] = {{&g, &g.corners[0][0], 4, &g.offset, g.normal, 1},
              {&s, s.centre, 1, &s.radius, nullptr, 0},
              {&q, &q.corners[0][0], 8, q.offsets, &q.normals[0][0], 6}};
  for (const Row& r : rows) {
    float points[24], offsets[6];
    std::memcpy(points, r.points, 12 * r.nPoints);
    std::memcpy(offsets, r.offsets, 4 * r.nOffsets);
    r.barrier->move();  // not moving yet
    EXPECT_EQ(std::memcmp(points, r.points, 12 * r.nPoints), 0);
    r.barrier->setMoving(v[0], v[1], v[2]);
    for (int frame = 1; frame <= 37; ++frame) {
      r.barrier->move();
      for (int i = 0; i < 3 * r.nPoints; ++i)
        ASSERT_NEAR(r.points[i], points[i] + frame * double(v[i % 3]), 1e-5) << frame << " " << i;
    }
    // A translation by 37 v shifts each plane's offset by -37 n . v.
    for (int k = 0; k < r.nOffsets; ++k) {
      const float* n = r.normals + 3 * k;
      EXPECT_NEAR(r.offsets[k], offsets[k] - 37 * (n[0] * v[0] + n[1] * v[1] + n[2] * v[2]), 1e-5);
    }
    r.barrier->resetPosition();
    EXPECT_EQ(std::memcmp(points, r.points, 12 * r.nPoints), 0);
    EXPECT_EQ(std::memcmp(offsets, r.offsets, 4 * r.nOffsets), 0);
  }
}

TEST(BarrierGeometry, BoxDoesNotMove) {
  const double m[3] = {0.0, 0.0, 0.0};
  const std::array<float, 24> c = rotatedCube(m, 1.0, 0.4, 0.1);
  BoxBarrier b(c.data());
  float offsets[6];
  std::memcpy(offsets, b.offsets, sizeof(offsets));
  const std::string out = zolt::test::captureStdout([&] {
    b.setMoving(0.05f, 0.0f, 0.0f);
    b.move();
    b.resetPosition();
  });
  EXPECT_EQ(out, "[BoxBarrier, setMoving] Not implemented yet! \n");
  EXPECT_EQ(std::memcmp(c.data(), b.corners, sizeof(b.corners)), 0);
  EXPECT_EQ(std::memcmp(offsets, b.offsets, sizeof(offsets)), 0);
}

}  // namespace
