// The view rotation against rotation matrices composed in a different
// order: for a rotation R, turning about R's own screen axes equals
// Rx(a) Ry(b) R.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>

#include "ViewRotation.h"

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

using M3 = std::array<std::array<double, 3>, 3>;

M3 multiply(const M3& a, const M3& b) {
  M3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

M3 aboutX(double d) {
  const double c = std::cos(d * kDeg), s = std::sin(d * kDeg);
  return M3{{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
}

M3 aboutY(double d) {
  const double c = std::cos(d * kDeg), s = std::sin(d * kDeg);
  return M3{{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}};
}

M3 aboutZ(double d) {
  const double c = std::cos(d * kDeg), s = std::sin(d * kDeg);
  return M3{{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
}

TEST(ViewRotation, TurnsAboutTheScreenAxes) {
  const struct { double x, y; } turns[] = {{0, 0.4}, {30, 0}, {-12.5, 47}, {90, 90}, {180, -33}};
  const M3 start = multiply(aboutZ(20), multiply(aboutY(-35), aboutX(70)));
  for (const auto& t : turns) {
    float R[16] = {0};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) R[4 * j + i] = float(start[i][j]);
    R[12] = 1.5f;  // the translation column stays
    R[15] = 1.0f;
    rotateViewMatrix(R, float(t.x), float(t.y));
    const M3 expected = multiply(aboutX(t.x), multiply(aboutY(t.y), start));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(R[4 * j + i], expected[i][j], 1e-6) << t.x << " " << t.y << " " << i << j;
    EXPECT_EQ(R[12], 1.5f);
    EXPECT_EQ(R[15], 1.0f);
  }
}

TEST(ViewRotation, ThousandRandomTurnsStayOrthonormal) {
  float R[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  std::srand(7);
  for (int n = 0; n < 1000; ++n)
    rotateViewMatrix(R, std::rand() % 3600 / 10.0f - 180.0f, std::rand() % 3600 / 10.0f - 180.0f);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double dot = 0.0;
      for (int k = 0; k < 3; ++k) dot += double(R[4 * a + k]) * R[4 * b + k];
      EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-4) << a << b;
    }
}

}  // namespace
