#include <gtest/gtest.h>

#include <cmath>

#include "ImplicitShape.h"

using namespace zolt::modelgen;

TEST(ImplicitShape, ValuesAreDistancesOfTheClosedForms) {
  const Implicit box = boxShape({0, 0, 0}, {1, 1, 1});
  const Implicit rounded = roundedBox({0, 0, 0}, {1, 1, 1}, 0.2);
  const Implicit sphere = ellipsoid({1, 2, 3}, {0.5, 0.5, 0.5});
  // Long axis x turned by a quarter turn: now along y.
  const Implicit needle = ellipsoid({0, 0, 0}, {0.5, 0.1, 0.1}, M_PI / 2);
  const struct {
    const Implicit* shape;
    Vec3 p;
    double expected;
  } rows[] = {
      {&box, {0.5, 0.5, 0.5}, -0.5},    {&box, {0.5, 0.9, 0.5}, -0.1},
      {&box, {2, 0.5, 0.5}, 1.0},       {&box, {2, 2, 0.5}, std::sqrt(2.0)},
      {&box, {1, 1, 1}, 0.0},           {&rounded, {1, 1, 1}, std::sqrt(3.0) * 0.2 - 0.2},
      {&rounded, {0.5, 1.3, 0.5}, 0.3}, {&sphere, {1, 2, 3}, -0.5},
      {&sphere, {1, 2, 4}, 0.5},        {&needle, {0, 0.5, 0}, 0.0},
      {&needle, {0, -0.5, 0}, 0.0},     {&needle, {0.1, 0, 0}, 0.0},
      {&needle, {0, 0, 0}, -0.1},
  };
  for (const auto& row : rows)
    EXPECT_NEAR((*row.shape)(row.p), row.expected, 1e-12)
        << row.p.x << " " << row.p.y << " " << row.p.z;
  const Vec3 g = gradient(sphere, {1.3, 2.4, 3.0});
  EXPECT_NEAR(g.x, 0.6, 1e-8);
  EXPECT_NEAR(g.y, 0.8, 1e-8);
  EXPECT_NEAR(g.z, 0.0, 1e-8);
}

TEST(ImplicitShape, SmoothUnionIsTheMinimumAwayFromTheBlendAndNeverAbove) {
  const Implicit a = ellipsoid({0, 0, 0}, {1, 1, 1});
  const Implicit b = ellipsoid({1.5, 0, 0}, {1, 1, 1});
  const Implicit both = smoothUnion(a, b, 0.2);
  for (double x = -1.5; x <= 3.0; x += 0.05) {
    const Vec3 p = {x, 0.3, 0.1};
    const double da = a(p), db = b(p);
    EXPECT_LE(both(p), std::min(da, db) + 1e-15);
    if (std::abs(da - db) >= 0.2) {
      EXPECT_NEAR(both(p), std::min(da, db), 1e-15);
    }
  }
  const Implicit floored = aboveFloor(a, 0.0);
  EXPECT_GT(floored({0, -0.1, 0}), 0.0);
  EXPECT_LT(floored({0, 0.1, 0}), 0.0);
}

TEST(ImplicitShape, CreatureIsAboutOnePointTwoLongSymmetricAndStandsOnTheFloor) {
  const Implicit f = creature();
  double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
  int asymmetric = 0;
  for (double x = -1.0; x <= 1.0; x += 0.01)
    for (double y = -0.1; y <= 1.6; y += 0.01)
      for (double z = 0.0; z <= 0.5; z += 0.02) {
        const double value = f({x, y, z});
        asymmetric += value != f({x, y, -z});
        if (value >= 0.0) continue;
        x0 = std::min(x0, x), x1 = std::max(x1, x);
        y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
  EXPECT_EQ(asymmetric, 0);
  EXPECT_NEAR(x1 - x0, 1.2, 0.1);
  EXPECT_GT(y0, 0.0);
  EXPECT_LT(y0, 0.02);
  EXPECT_GT(y1 - y0, 1.0);  // the ears stand up
}
