// Barrier planes against the faces they bound, and barrier motion: a moving
// barrier advances by its velocity per frame and resetPosition brings it back
// bit for bit.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "Barrier.h"
#include "Capture.h"
#include "RecordingSimulation.h"

namespace {

// Faces by their corners, independent of the plane table: c0..c3 the bottom,
// c4..c7 the top, c4 above c0.
constexpr int kFaces[6][4] = {{0, 1, 2, 3}, {0, 4, 5, 1}, {1, 5, 6, 2},
                              {2, 6, 7, 3}, {0, 3, 7, 4}, {4, 5, 6, 7}};

// A cube of edge `edge` centred at `m`, rotated about z then x; the bottom
// face runs counter-clockwise seen from outside.
std::array<float, 24> rotatedCube(const double* m, double edge, double a, double b) {
  const double unit[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1},
                             {0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}};
  std::array<float, 24> c;
  for (int i = 0; i < 8; ++i) {
    const double x = (unit[i][0] - 0.5) * edge, y = (unit[i][1] - 0.5) * edge,
                 z = (unit[i][2] - 0.5) * edge;
    const double x1 = std::cos(a) * x - std::sin(a) * y, y1 = std::sin(a) * x + std::cos(a) * y;
    const double y2 = std::cos(b) * y1 - std::sin(b) * z, z2 = std::sin(b) * y1 + std::cos(b) * z;
    c[3 * i] = float(m[0] + x1);
    c[3 * i + 1] = float(m[1] + y2);
    c[3 * i + 2] = float(m[2] + z2);
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
  const double m1[3] = {0.5, 0.5, 0.5}, m2[3] = {-3.0, 2.0, 7.5};
  struct Row {
    const char* name;
    const double* centre;
    double edge, a, b;
  } rows[] = {
      {"unit cube", m1, 1.0, 0.0, 0.0},
      {"rotated small cube", m2, 0.3, 0.7, -0.4},
      {"rotated large cube", m1, 4.0, 2.1, 1.3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::array<float, 24> c = rotatedCube(r.centre, r.edge, r.a, r.b);
    QuaderBarrier q(c.data());
    BoxBarrier box(c.data());
    const double tol = 2e-6 * (1.0 + std::abs(r.centre[2]) + r.edge);
    for (int k = 0; k < 6; ++k) {
      const float* n = q.normals[k];
      EXPECT_NEAR(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1.0, 1e-6) << k;
      for (int i : kFaces[k]) {
        const double p[3] = {c[3 * i], c[3 * i + 1], c[3 * i + 2]};
        EXPECT_NEAR(side(n, q.offsets[k], p), 0.0, tol) << "plane " << k << " corner " << i;
      }
      // The centre lies half an edge inside every face: outward normals for
      // the cuboid, inward (the same plane, negated) for the box.
      EXPECT_NEAR(side(n, q.offsets[k], r.centre), -0.5 * r.edge, tol) << k;
      EXPECT_NEAR(side(box.normals[k], box.offsets[k], r.centre), 0.5 * r.edge, tol) << k;
      for (int j = 0; j < 3; ++j) EXPECT_EQ(box.normals[k][j], -n[j]) << k;
    }
  }
}

// Moving barriers: the points that define them, advanced per frame.
struct Motion {
  const char* name;
  Barrier* barrier;
  float* points;
  int nPoints;
  int* stepCount;
};

// Every plane still passes through its corners after a move.
void expectPlanesOnCorners(const Barrier* b) {
  if (const auto* g = dynamic_cast<const GroundBarrier*>(b))
    for (const auto& c : g->corners) {
      const double p[3] = {c[0], c[1], c[2]};
      EXPECT_NEAR(side(g->normal, g->offset, p), 0.0, 1e-5);
    }
  if (const auto* q = dynamic_cast<const QuaderBarrier*>(b))
    for (int k = 0; k < 6; ++k)
      for (int i : kFaces[k]) {
        const double p[3] = {q->corners[i][0], q->corners[i][1], q->corners[i][2]};
        EXPECT_NEAR(side(q->normals[k], q->offsets[k], p), 0.0, 1e-5) << k;
      }
}

TEST(BarrierGeometry, MovesByTheVelocityPerFrameAndResetsExactly) {
  const float ground[12] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1};
  const float centre[3] = {0.3f, -1.1f, 2.0f};
  const double m[3] = {1.0, 2.0, 3.0};
  const std::array<float, 24> cube = rotatedCube(m, 2.0, 0.3, 0.2);
  GroundBarrier g(ground);
  SphereBarrier s(centre, 0.5f);
  QuaderBarrier q(cube.data());
  Motion rows[] = {
      {"ground", &g, &g.corners[0][0], 4, &g.stepCount},
      {"sphere", &s, s.centre, 1, &s.stepCount},
      {"cuboid", &q, &q.corners[0][0], 8, &q.stepCount},
  };
  const float dt = 0.05f;
  const float velocities[2][3] = {{1.0f * dt, 0.0f, 0.0f}, {0.3f * dt, -2.0f * dt, 0.7f * dt}};
  for (const Motion& r : rows) {
    SCOPED_TRACE(r.name);
    float start[24];
    std::memcpy(start, r.points, sizeof(float) * 3 * r.nPoints);
    float offsetsAtStart[6] = {};
    if (auto* qq = dynamic_cast<QuaderBarrier*>(r.barrier))
      std::memcpy(offsetsAtStart, qq->offsets, 24);
    if (auto* gg = dynamic_cast<GroundBarrier*>(r.barrier)) offsetsAtStart[0] = gg->offset;

    r.barrier->move();  // not moving yet: stays
    EXPECT_EQ(std::memcmp(start, r.points, sizeof(float) * 3 * r.nPoints), 0);

    for (const auto& v : velocities) {
      r.barrier->setMoving(v[0], v[1], v[2]);
      for (int frame = 1; frame <= 37; ++frame) {
        r.barrier->move();
        for (int i = 0; i < 3 * r.nPoints; ++i)
          ASSERT_NEAR(r.points[i], start[i] + frame * double(v[i % 3]), 1e-5)
              << "frame " << frame << " coordinate " << i;
      }
      EXPECT_EQ(*r.stepCount, 37);
      expectPlanesOnCorners(r.barrier);
      r.barrier->resetPosition();
      EXPECT_EQ(*r.stepCount, 0);
      EXPECT_EQ(std::memcmp(start, r.points, sizeof(float) * 3 * r.nPoints), 0);
      if (auto* qq = dynamic_cast<QuaderBarrier*>(r.barrier)) {
        EXPECT_EQ(std::memcmp(offsetsAtStart, qq->offsets, 24), 0);
      }
      if (auto* gg = dynamic_cast<GroundBarrier*>(r.barrier)) {
        EXPECT_EQ(gg->offset, offsetsAtStart[0]);
      }
    }
  }
}

TEST(BarrierGeometry, MovedSpherePushesFromItsNewCentre) {
  // MOVE_BARRIER 1 0 0 with a time step of 0.05: 0.05 in x per frame.
  const float centre[3] = {0.0f, 0.0f, 0.0f};
  SphereBarrier s(centre, 0.5f);
  s.setMoving(1.0f * 0.05f, 0.0f * 0.05f, 0.0f * 0.05f);
  for (int i = 0; i < 4; ++i) s.move();
  zolt::test::RecordingSimulation sim;
  float p[3] = {0.55f, 0.0f, 0.0f};  // outside the sphere at rest
  int index = 0;
  float correction[3] = {0, 0, 0};
  s.setCollisionData(p, &index, correction, 1, &sim);
  s.handleCollisions();
  ASSERT_EQ(sim.impulses.size(), 1u);
  EXPECT_NEAR(correction[0], 0.7f - 0.55f, 1e-6);
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
