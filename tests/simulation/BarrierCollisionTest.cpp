// Collision response of the barriers against geometric oracles: a pushed
// vertex lands on the surface it penetrated, moving along that surface's
// normal, with one impulse per correction and the corrections summed into the
// correction array at the vertex number.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "Barrier.h"
#include "RecordingSimulation.h"

namespace {

using zolt::test::Impulse;
using zolt::test::RecordingSimulation;
using P = std::array<float, 3>;

// c0..c3 the face y = lo.y counter-clockwise seen from below, c4..c7 above.
std::array<float, 24> cuboid(P lo, P hi) {
  return {lo[0], lo[1], lo[2], hi[0], lo[1], lo[2], hi[0], lo[1], hi[2], lo[0], lo[1], hi[2],
          lo[0], hi[1], lo[2], hi[0], hi[1], lo[2], hi[0], hi[1], hi[2], lo[0], hi[1], hi[2]};
}

struct Outcome {
  std::vector<Impulse> impulses;
  P correction;  // what the array holds at the vertex number afterwards
};

// One watched vertex at p with vertex number 2 of a four-vertex array whose
// entries start at `start`.
Outcome collide(Barrier& b, P p, P start = {0.0f, 0.0f, 0.0f}) {
  RecordingSimulation sim;
  int index = 2;
  std::vector<float> corrections(12, -7.0f);
  for (int j = 0; j < 3; ++j) corrections[6 + j] = start[j];
  b.setCollisionData(p.data(), &index, corrections.data(), 1, &sim);
  b.handleCollisions();
  for (int v : {0, 1, 3})
    for (int j = 0; j < 3; ++j) EXPECT_EQ(corrections[3 * v + j], -7.0f) << "other vertex touched";
  for (const Impulse& i : sim.impulses) {
    EXPECT_EQ(i.vertex, 2);
    EXPECT_FALSE(i.smooth);
  }
  return {sim.impulses, {corrections[6], corrections[7], corrections[8]}};
}

void expectPushes(const Outcome& o, const std::vector<P>& pushes, const char* name) {
  SCOPED_TRACE(name);
  ASSERT_EQ(o.impulses.size(), pushes.size());
  P sum = {0.0f, 0.0f, 0.0f};
  for (size_t k = 0; k < pushes.size(); ++k)
    for (int j = 0; j < 3; ++j) {
      EXPECT_NEAR(o.impulses[k].value[j], pushes[k][j], 1e-6) << "impulse " << k << " axis " << j;
      sum[j] += pushes[k][j];
    }
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(o.correction[j], sum[j], 1e-6) << "axis " << j;
}

TEST(GroundBarrier, PushesTheSolidSideOntoThePlane) {
  const float flat[12] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1};
  const float reversed[12] = {0, 0, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0};
  struct Row {
    const char* name;
    const float* corners;
    P p;
    std::vector<P> pushes;
  } rows[] = {
      {"above the flat ground", flat, {0.5f, 0.1f, 0.5f}, {{0.0f, -0.1f, 0.0f}}},
      {"below the flat ground", flat, {0.5f, -0.1f, 0.5f}, {}},
      {"on the flat ground", flat, {0.5f, 0.0f, 0.5f}, {}},
      {"beyond the quad, same plane", flat, {5.0f, 0.25f, -3.0f}, {{0.0f, -0.25f, 0.0f}}},
      {"below the reversed ground", reversed, {0.5f, -0.1f, 0.5f}, {{0.0f, 0.1f, 0.0f}}},
      {"above the reversed ground", reversed, {0.5f, 0.1f, 0.5f}, {}},
      {"on the reversed ground", reversed, {0.2f, 0.0f, 0.9f}, {}},
  };
  for (const Row& r : rows) {
    GroundBarrier g(r.corners);
    expectPushes(collide(g, r.p), r.pushes, r.name);
  }
}

TEST(GroundBarrier, TiltedPlaneLandsPenetratingVerticesOnIt) {
  // The plane through the corners, in double, independent of the barrier.
  const double c[4][3] = {{0, 0, 0}, {1, 0.5, 0}, {1, 0.8, 1}, {0, 0.3, 1}};
  float corners[12];
  for (int i = 0; i < 12; ++i) corners[i] = static_cast<float>(c[i / 3][i % 3]);
  const double e1[3] = {c[1][0] - c[0][0], c[1][1] - c[0][1], c[1][2] - c[0][2]};
  const double e3[3] = {c[3][0] - c[0][0], c[3][1] - c[0][1], c[3][2] - c[0][2]};
  // Orientation of the plane's solid side: (c1-c0) x (c2-c0) points out of it.
  const double e2[3] = {c[2][0] - c[0][0], c[2][1] - c[0][1], c[2][2] - c[0][2]};
  double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                 e1[0] * e2[1] - e1[1] * e2[0]};
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (double& x : n) x /= len;

  GroundBarrier g(corners);
  int penetrating = 0;
  for (int i = 0; i < 40; ++i) {
    const P p = {0.1f * (i % 7) - 0.2f, 0.07f * (i % 11) - 0.2f, 0.13f * (i % 5) - 0.1f};
    const double s = n[0] * p[0] + n[1] * p[1] + n[2] * p[2];  // the plane passes through 0
    if (std::abs(s) < 1e-5) continue;                          // too close to call in float
    const Outcome o = collide(g, p);
    if (s > 0) {
      EXPECT_TRUE(o.impulses.empty()) << i;
      continue;
    }
    ++penetrating;
    ASSERT_EQ(o.impulses.size(), 1u) << i;
    const double* w = o.impulses[0].value.data();
    const double q[3] = {p[0] + w[0], p[1] + w[1], p[2] + w[2]};
    EXPECT_NEAR(n[0] * q[0] + n[1] * q[1] + n[2] * q[2], 0.0, 1e-6) << "lands on the plane " << i;
    EXPECT_NEAR(w[0] * e1[0] + w[1] * e1[1] + w[2] * e1[2], 0.0, 1e-6) << "along the normal " << i;
    EXPECT_NEAR(w[0] * e3[0] + w[1] * e3[1] + w[2] * e3[2], 0.0, 1e-6) << "along the normal " << i;
  }
  EXPECT_GT(penetrating, 5);
}

TEST(SphereBarrier, PushesInsideVerticesOntoTheSurface) {
  const float centre[3] = {1.0f, 2.0f, 3.0f};
  struct Row {
    const char* name;
    P e;  // vertex minus centre
    bool pushed;
  } rows[] = {
      {"inside on an axis", {0.3f, 0.0f, 0.0f}, true},
      {"inside off the axes", {0.1f, 0.2f, -0.2f}, true},
      {"just inside", {0.0f, 0.0f, -0.4999f}, true},
      {"on the surface", {0.0f, -0.5f, 0.0f}, false},
      {"outside", {0.6f, 0.0f, 0.0f}, false},
      {"outside off the axes", {0.3f, 0.3f, 0.3f}, false},
  };
  SphereBarrier s(centre, 0.5f);
  for (const Row& r : rows) {
    const P p = {centre[0] + r.e[0], centre[1] + r.e[1], centre[2] + r.e[2]};
    // Closed form: the radial projection onto the sphere.
    const double d[3] = {double(p[0]) - centre[0], double(p[1]) - centre[1],
                         double(p[2]) - centre[2]};
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    std::vector<P> pushes;
    if (r.pushed)
      pushes.push_back({float(d[0] * (0.5 / len - 1)), float(d[1] * (0.5 / len - 1)),
                        float(d[2] * (0.5 / len - 1))});
    expectPushes(collide(s, p), pushes, r.name);
  }
}

TEST(SphereBarrier, VertexAtTheCentreLeavesByTheRadius) {
  const float centre[3] = {-1.0f, 0.5f, 2.0f};
  SphereBarrier s(centre, 0.25f);
  const Outcome o = collide(s, {centre[0], centre[1], centre[2]});
  ASSERT_EQ(o.impulses.size(), 1u);
  const std::array<double, 3>& w = o.impulses[0].value;
  for (double x : w) EXPECT_TRUE(std::isfinite(x));
  EXPECT_DOUBLE_EQ(std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]), 0.25);
}

TEST(QuaderBarrier, PushesOnceThroughTheLeastPenetratedFace) {
  // Oracle for axis-aligned cuboids: the nearest face, found by distances.
  struct Row {
    const char* name;
    P lo, hi, p;
    std::vector<P> pushes;
  } rows[] = {
      {"0.1 below the top, 0.3 from the rest",
       {0, 0, 0},
       {0.6f, 0.4f, 0.6f},
       {0.3f, 0.3f, 0.3f},
       {{0, 0.1f, 0}}},
      {"near the bottom", {0, 0, 0}, {1, 1, 1}, {0.5f, 0.05f, 0.4f}, {{0, -0.05f, 0}}},
      {"near the top", {0, 0, 0}, {1, 1, 1}, {0.5f, 0.9f, 0.4f}, {{0, 0.1f, 0}}},
      {"near z = 0", {0, 0, 0}, {1, 1, 1}, {0.5f, 0.4f, 0.02f}, {{0, 0, -0.02f}}},
      {"near z = 1", {0, 0, 0}, {1, 1, 1}, {0.5f, 0.4f, 0.93f}, {{0, 0, 0.07f}}},
      {"near x = 0", {0, 0, 0}, {1, 1, 1}, {0.05f, 0.5f, 0.5f}, {{-0.05f, 0, 0}}},
      {"near x = 1", {0, 0, 0}, {1, 1, 1}, {0.75f, 0.5f, 0.5f}, {{0.25f, 0, 0}}},
      {"centre: the first face wins the tie",
       {0, 0, 0},
       {1, 1, 1},
       {0.5f, 0.5f, 0.5f},
       {{0, -0.5f, 0}}},
      {"shifted cuboid", {-2, 1, 3}, {-1, 3, 4}, {-1.6f, 2.0f, 3.5f}, {{-0.4f, 0, 0}}},
      {"outside in x", {0, 0, 0}, {1, 1, 1}, {1.2f, 0.5f, 0.5f}, {}},
      {"outside in y only", {0, 0, 0}, {1, 1, 1}, {0.5f, -0.01f, 0.5f}, {}},
      {"on a face", {0, 0, 0}, {1, 1, 1}, {1.0f, 0.5f, 0.5f}, {}},
  };
  for (const Row& r : rows) {
    QuaderBarrier q(cuboid(r.lo, r.hi).data());
    expectPushes(collide(q, r.p), r.pushes, r.name);
  }
}

TEST(BoxBarrier, PushesOncePerViolatedWall) {
  // Walls in plane order: y = 0, z = 0, x = 1, z = 1, x = 0, y = 1.
  struct Row {
    const char* name;
    P p;
    std::vector<P> pushes;
  } rows[] = {
      {"inside", {0.5f, 0.5f, 0.5f}, {}},
      {"on a wall", {0.5f, 1.0f, 0.5f}, {}},
      {"below", {0.5f, -0.2f, 0.5f}, {{0, 0.2f, 0}}},
      {"above", {0.5f, 1.1f, 0.5f}, {{0, -0.1f, 0}}},
      {"before z = 0", {0.5f, 0.5f, -0.3f}, {{0, 0, 0.3f}}},
      {"beyond z = 1", {0.5f, 0.5f, 1.25f}, {{0, 0, -0.25f}}},
      {"before x = 0", {-0.4f, 0.5f, 0.5f}, {{0.4f, 0, 0}}},
      {"beyond x = 1", {1.5f, 0.5f, 0.5f}, {{-0.5f, 0, 0}}},
      {"beyond an edge", {1.2f, 0.5f, -0.3f}, {{0, 0, 0.3f}, {-0.2f, 0, 0}}},
      {"beyond a corner", {-0.1f, 1.2f, 1.3f}, {{0, 0, -0.3f}, {0.1f, 0, 0}, {0, -0.2f, 0}}},
  };
  BoxBarrier b(cuboid({0, 0, 0}, {1, 1, 1}).data());
  for (const Row& r : rows) expectPushes(collide(b, r.p), r.pushes, r.name);
}

TEST(BarrierCollision, CorrectionsAddUpAtTheVertexNumbers) {
  // Three watched vertices, numbered out of order; two share a number.
  const float corners[12] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1};  // pushes y > 0 down
  GroundBarrier g(corners);
  RecordingSimulation sim;
  float positions[9] = {0, 0.5f, 0, 0, -1.0f, 0, 0, 0.25f, 0};
  int indices[3] = {4, 1, 4};
  std::vector<float> corrections(15, 0.0f);
  corrections[13] = 1.0f;
  g.setCollisionData(positions, indices, corrections.data(), 3, &sim);
  g.handleCollisions();
  ASSERT_EQ(sim.impulses.size(), 2u);
  EXPECT_EQ(sim.impulses[0].vertex, 4);
  EXPECT_EQ(sim.impulses[1].vertex, 4);
  std::vector<float> expected(15, 0.0f);
  expected[13] = 1.0f - 0.5f - 0.25f;
  EXPECT_EQ(corrections, expected);
  // Positions are read, never moved: the frame applies the corrections.
  EXPECT_EQ(positions[1], 0.5f);
}

}  // namespace
