// Collision response against geometric closed forms: a penetrating vertex is
// pushed onto the surface (the nearest face of a cuboid, every violated wall
// of a box), one impulse per correction, corrections summed at the vertex
// number.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "Barrier.h"
#include "StateSimulation.h"

namespace {

using zolt::test::StateSimulation;
using P = std::array<float, 3>;

// c0..c3 the face y = lo counter-clockwise seen from below, c4..c7 above.
std::array<float, 24> cuboid(P lo, P hi) {
  return {lo[0], lo[1], lo[2], hi[0], lo[1], lo[2], hi[0], lo[1], hi[2], lo[0], lo[1], hi[2],
          lo[0], hi[1], lo[2], hi[0], hi[1], lo[2], hi[0], hi[1], hi[2], lo[0], hi[1], hi[2]};
}

const float kFlat[12] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1};
const float kReversed[12] = {0, 0, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0};
const float kCentre[3] = {1.0f, 2.0f, 3.0f};

using Make = std::function<std::unique_ptr<Barrier>()>;
const Make ground = [] { return std::make_unique<GroundBarrier>(kFlat); };
const Make reversed = [] { return std::make_unique<GroundBarrier>(kReversed); };
const Make sphere = [] { return std::make_unique<SphereBarrier>(kCentre, 0.5f); };
const Make unitCuboid = [] {
  return std::make_unique<QuaderBarrier>(cuboid({0, 0, 0}, {1, 1, 1}).data());
};
const Make unitBox = [] {
  return std::make_unique<BoxBarrier>(cuboid({0, 0, 0}, {1, 1, 1}).data());
};

TEST(BarrierCollision, PushesPenetratingVerticesOntoTheSurface) {
  struct Row {
    const char* name;
    Make make;
    P p;
    std::vector<P> pushes;
  } rows[] = {
      {"above the ground", ground, {0.5f, 0.1f, 0.5f}, {{0, -0.1f, 0}}},
      {"below the ground", ground, {0.5f, -0.1f, 0.5f}, {}},
      {"on the ground", ground, {0.5f, 0.0f, 0.5f}, {}},
      {"beyond the quad, same plane", ground, {5.0f, 0.25f, -3.0f}, {{0, -0.25f, 0}}},
      {"below the reversed ground", reversed, {0.5f, -0.1f, 0.5f}, {{0, 0.1f, 0}}},
      {"above the reversed ground", reversed, {0.5f, 0.1f, 0.5f}, {}},
      {"in the sphere on an axis", sphere, {1.3f, 2.0f, 3.0f}, {{0.2f, 0, 0}}},
      {"in the sphere, |e| = 0.3", sphere, {1.1f, 2.2f, 2.8f}, {{0.2f / 3, 0.4f / 3, -0.4f / 3}}},
      {"on the sphere", sphere, {1.0f, 1.5f, 3.0f}, {}},
      {"outside the sphere", sphere, {1.3f, 2.3f, 3.3f}, {}},
      {"at the centre: out by the radius", sphere, {1.0f, 2.0f, 3.0f}, {{0, 0.5f, 0}}},
      {"0.1 below the top, 0.3 from the rest",
       [] {
         return std::make_unique<QuaderBarrier>(cuboid({0, 0, 0}, {0.6f, 0.4f, 0.6f}).data());
       },
       {0.3f, 0.3f, 0.3f},
       {{0, 0.1f, 0}}},
      {"cuboid, near y = 0", unitCuboid, {0.5f, 0.05f, 0.4f}, {{0, -0.05f, 0}}},
      {"cuboid, near z = 0", unitCuboid, {0.5f, 0.4f, 0.02f}, {{0, 0, -0.02f}}},
      {"cuboid, near x = 1", unitCuboid, {0.75f, 0.5f, 0.5f}, {{0.25f, 0, 0}}},
      {"cuboid, near z = 1", unitCuboid, {0.5f, 0.4f, 0.93f}, {{0, 0, 0.07f}}},
      {"cuboid, near x = 0", unitCuboid, {0.05f, 0.5f, 0.5f}, {{-0.05f, 0, 0}}},
      {"cuboid centre: first face wins the tie", unitCuboid, {0.5f, 0.5f, 0.5f}, {{0, -0.5f, 0}}},
      {"outside the cuboid", unitCuboid, {0.5f, -0.01f, 0.5f}, {}},
      {"on a cuboid face", unitCuboid, {1.0f, 0.5f, 0.5f}, {}},
      {"inside the box", unitBox, {0.5f, 0.5f, 0.5f}, {}},
      {"on a box wall", unitBox, {0.5f, 1.0f, 0.5f}, {}},
      {"above the box", unitBox, {0.5f, 1.1f, 0.5f}, {{0, -0.1f, 0}}},
      {"beyond a box edge", unitBox, {1.2f, 0.5f, -0.3f}, {{0, 0, 0.3f}, {-0.2f, 0, 0}}},
      {"beyond a box corner",
       unitBox,
       {-0.1f, 1.2f, 1.3f},
       {{0, 0, -0.3f}, {0.1f, 0, 0}, {0, -0.2f, 0}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::unique_ptr<Barrier> b = r.make();
    StateSimulation sim;
    P p = r.p;
    int index = 2;  // vertex number 2 of four, corrections starting at 0.5
    std::vector<float> corrections(12, 0.5f);
    b->setCollisionData(p.data(), &index, corrections.data(), 1, &sim);
    b->handleCollisions();
    ASSERT_EQ(sim.impulses.size(), r.pushes.size());
    P sum = {0.5f, 0.5f, 0.5f};
    for (size_t k = 0; k < r.pushes.size(); ++k) {
      EXPECT_EQ(sim.impulses[k].vertex, 2);
      EXPECT_FALSE(sim.impulses[k].smooth);
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(sim.impulses[k].value[j], r.pushes[k][j], 1e-6) << k << " axis " << j;
        sum[j] += r.pushes[k][j];
      }
    }
    for (int i = 0; i < 12; ++i)
      EXPECT_NEAR(corrections[i], i / 3 == 2 ? sum[i % 3] : 0.5f, 1e-6) << i;
  }
}

}  // namespace
