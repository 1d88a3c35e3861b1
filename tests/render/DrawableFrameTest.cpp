// Per-frame arrays against independent oracles: an affine displacement field,
// vector norms with a known Pythagorean length, and von Mises stresses of
// uniaxial, shear and hydrostatic states.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "DrawableFrame.h"

namespace {

// A layout with a scrambled render order: render index r shows vertex
// (3 r + 1) mod n, which is a permutation for n not divisible by 3.
struct Layout {
  std::vector<int> vertexOf;
  DofLayout dofs;
  Layout(int n, int fixed, int components) : vertexOf(n) {
    for (int r = 0; r < n; ++r) vertexOf[r] = (3 * r + 1) % n;
    dofs = {vertexOf.data(), n, fixed, components};
  }
};

const float kBase[3] = {0.2f, 0.4f, 0.6f};
const float kAccent[3] = {1.0f, 0.0f, 0.5f};

TEST(DrawableFrame, AffineFieldMovesFreeVerticesToRestPlusU) {
  for (int components : {3, 2}) {
    const int n = 8, fixed = 3;
    const Layout l(n, fixed, components);
    // Rest position of vertex v: (v, 2v, -v); u(p) = A p + b on free vertices.
    const double A[3][3] = {{0.1, -0.2, 0.0}, {0.3, 0.05, 0.4}, {-0.1, 0.0, 0.2}};
    const double b[3] = {1.5, -0.5, 0.25};
    auto restOf = [](int v, int k) { return float(k == 0 ? v : k == 1 ? 2 * v : -v); };
    std::vector<float> rest(3 * n), positions(3 * n, -99.0f);
    std::vector<double> u(components * (n - fixed));
    for (int r = 0; r < n; ++r)
      for (int k = 0; k < 3; ++k) rest[3 * r + k] = restOf(l.vertexOf[r], k);
    for (int v = fixed; v < n; ++v)
      for (int k = 0; k < components; ++k) {
        double value = b[k];
        for (int j = 0; j < 3; ++j) value += A[k][j] * restOf(v, j);
        u[components * (v - fixed) + k] = value;
      }
    displacePositions(l.dofs, {u.data(), int(u.size())}, rest.data(), positions.data());
    for (int r = 0; r < n; ++r) {
      const int v = l.vertexOf[r];
      for (int k = 0; k < 3; ++k) {
        double expected = -99.0;  // fixed vertices keep their entry
        if (v >= fixed) {
          expected = restOf(v, k);
          if (k < components) {
            expected += b[k];
            for (int j = 0; j < 3; ++j) expected += A[k][j] * restOf(v, j);
          }
        }
        EXPECT_FLOAT_EQ(positions[3 * r + k], float(expected))
            << components << "D vertex " << v << " component " << k;
      }
    }
  }
}

TEST(DrawableFrame, VerticesBeyondAShortVectorKeepTheirPositions) {
  const Layout l(5, 0, 3);
  std::vector<float> rest(15, 1.0f), positions(15, 0.0f);
  const std::vector<double> u(3 * 4, 2.0);  // no entries for vertex 4
  displacePositions(l.dofs, {u.data(), int(u.size())}, rest.data(), positions.data());
  for (int r = 0; r < 5; ++r)
    EXPECT_EQ(positions[3 * r], l.vertexOf[r] == 4 ? 0.0f : 3.0f) << "vertex " << l.vertexOf[r];
}

struct NormRow {
  double x[3];
  double m;  // expected magnitude for base force 5
};

TEST(DrawableFrame, VectorNormColouringBlendsWithoutClamping) {
  const NormRow rows[] = {{{3, 4, 0}, 1.0},  {{0, 0, 0}, 0.0}, {{6, 8, 0}, 2.0},
                          {{0, -3, 4}, 1.0}, {{1, 2, 2}, 0.6}, {{-12, 0, 16}, 4.0}};
  const int n = 7, fixed = 1;  // vertex 0 is fixed
  const Layout l(n, fixed, 3);
  std::vector<double> values(3 * (n - fixed));
  for (int v = 1; v < n; ++v)
    for (int k = 0; k < 3; ++k) values[3 * (v - 1) + k] = rows[v - 1].x[k];
  std::vector<float> colours(3 * n, -1.0f), scalars(n, -7.0f);
  const ColourBlend blend{kBase, kAccent, 5.0f};
  colourByVectorNorm(l.dofs, {values.data(), int(values.size())}, blend, colours.data(),
                     scalars.data());
  for (int r = 0; r < n; ++r) {
    const int v = l.vertexOf[r];
    const double m = v == 0 ? 0.0 : rows[v - 1].m;
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(colours[3 * r + k], kBase[k] * (1 - m) + kAccent[k] * m, 1e-6) << "vertex " << v;
    EXPECT_NEAR(scalars[r], v == 0 ? -7.0 : m, 1e-6) << "vertex " << v;
  }
}

TEST(DrawableFrame, TwoComponentNormsIgnoreTheThirdSlot) {
  const Layout l(4, 0, 2);
  const std::vector<double> values = {3, 4, 5, 12, 0, 0, 8, 6};
  std::vector<float> colours(12), scalars(4);
  colourByVectorNorm(l.dofs, {values.data(), 8}, {kBase, kAccent, 1.0f}, colours.data(),
                     scalars.data());
  const double expected[4] = {5, 13, 0, 10};
  for (int r = 0; r < 4; ++r) EXPECT_NEAR(scalars[r], expected[l.vertexOf[r]], 1e-5);
}

TEST(DrawableFrame, RightSideWinsWhenEveryColouringIsOn) {
  const int n = 5;
  const Layout l(n, 1, 3);
  std::vector<double> residual(12, 1.0), rightSide(12), stress(6 * n, 0.0);
  for (size_t i = 0; i < rightSide.size(); ++i) rightSide[i] = 0.5 * double(i);
  for (int v = 0; v < n; ++v) stress[6 * v] = 100.0;  // uniaxial: m = 10
  ColourSources all{
      true, true, true, {residual.data(), 12}, {stress.data(), 6 * n}, {rightSide.data(), 12}};
  ColourSources rightOnly{false, false, true, {}, {}, {rightSide.data(), 12}};
  const ColourBlend blend{kBase, kAccent, 10.0f};
  std::vector<float> c1(3 * n), s1(n, 0.0f), c2(3 * n), s2(n, 0.0f);
  colourVertices(l.dofs, all, blend, c1.data(), s1.data());
  colourVertices(l.dofs, rightOnly, blend, c2.data(), s2.data());
  EXPECT_EQ(c1, c2);
  // The fixed vertex keeps the scalar the stress pass gave it.
  for (int r = 0; r < n; ++r) EXPECT_FLOAT_EQ(s1[r], l.vertexOf[r] == 0 ? 10.0f : s2[r]);
}

struct StressRow {
  const char* name;
  double s[6];
  double m;  // von Mises stress for base force 1
};

TEST(DrawableFrame, StressColouringIsTheVonMisesStress) {
  const double tau = 2.0, sigma = 3.0, root3 = std::sqrt(3.0);
  const StressRow rows[] = {
      {"uniaxial x", {sigma, 0, 0, 0, 0, 0}, sigma},
      {"uniaxial y", {0, sigma, 0, 0, 0, 0}, sigma},
      {"uniaxial z", {0, 0, -sigma, 0, 0, 0}, sigma},
      {"shear xy", {0, 0, 0, tau, 0, 0}, root3 * tau},
      {"shear yz", {0, 0, 0, 0, -tau, 0}, root3 * tau},
      {"shear xz", {0, 0, 0, 0, 0, tau}, root3 * tau},
      {"hydrostatic", {5, 5, 5, 0, 0, 0}, 0.0},
      {"biaxial equal", {sigma, sigma, 0, 0, 0, 0}, sigma},
      {"pure shear as principal", {tau, -tau, 0, 0, 0, 0}, root3 * tau},
  };
  const int n = static_cast<int>(sizeof rows / sizeof rows[0]);
  const Layout l(n + 1, 2, 3);        // fixed vertices are coloured too
  std::vector<double> stress(6 * n);  // vertex n has no values
  for (int v = 0; v < n; ++v)
    for (int k = 0; k < 6; ++k) stress[6 * v + k] = rows[v].s[k];
  std::vector<float> colours(3 * (n + 1)), scalars(n + 1, -5.0f);
  colourByStress(l.dofs, {stress.data(), int(stress.size())}, {kBase, kAccent, 1.0f},
                 colours.data(), scalars.data());
  for (int r = 0; r <= n; ++r) {
    const int v = l.vertexOf[r];
    if (v == n) {
      for (int k = 0; k < 3; ++k) EXPECT_EQ(colours[3 * r + k], kBase[k]);
      EXPECT_EQ(scalars[r], -5.0f);
      continue;
    }
    EXPECT_NEAR(scalars[r], rows[v].m, 1e-5) << rows[v].name;
    EXPECT_NEAR(colours[3 * r], kBase[0] * (1 - rows[v].m) + kAccent[0] * rows[v].m, 1e-5)
        << rows[v].name;
  }
}

TEST(DrawableFrame, TwoDimensionalStressReadsThreeValuesAVertex) {
  const Layout l(4, 0, 2);
  // Pure shear tau at vertex v = 1 + v: sqrt(3) tau.
  std::vector<double> stress(12, 0.0);
  for (int v = 0; v < 4; ++v) stress[3 * v + 2] = 1.0 + v;
  std::vector<float> colours(12), scalars(4);
  colourByStress(l.dofs, {stress.data(), 12}, {kBase, kAccent, 2.0f}, colours.data(),
                 scalars.data());
  for (int r = 0; r < 4; ++r)
    EXPECT_NEAR(scalars[r], std::sqrt(3.0) * (1.0 + l.vertexOf[r]) / 2.0, 1e-5);
}

TEST(DrawableFrame, OffsetsMoveByVertexAndZeroOffsetsTouchNothing) {
  const int n = 5;
  const Layout l(n, 0, 3);
  std::vector<float> positions(3 * n), offsets(3 * n, 0.0f);
  std::iota(positions.begin(), positions.end(), 0.5f);
  const std::vector<float> before = positions;
  EXPECT_FALSE(addOffsets(l.dofs, offsets.data(), positions.data()));
  EXPECT_EQ(positions, before);

  offsets[3 * 2 + 1] = 0.25f;  // vertex 2, y
  EXPECT_TRUE(addOffsets(l.dofs, offsets.data(), positions.data()));
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(positions[3 * r + k],
                before[3 * r + k] + (l.vertexOf[r] == 2 && k == 1 ? 0.25f : 0.0f));

  // An offset whose square underflows still counts.
  std::fill(offsets.begin(), offsets.end(), 0.0f);
  offsets[3 * n - 1] = 1e-30f;
  EXPECT_TRUE(addOffsets(l.dofs, offsets.data(), positions.data()));
}

}  // namespace
