// Per-frame arrays against independent oracles: an affine displacement field,
// vector norms of Pythagorean triples, and von Mises stresses of uniaxial,
// shear and hydrostatic states.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "DrawableFrame.h"

namespace {

// A scrambled render order: render index r shows vertex (3 r + 1) mod n, a
// permutation for n not divisible by 3.
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
    const double A[3][3] = {{0.1, -0.2, 0.0}, {0.3, 0.05, 0.4}, {-0.1, 0.0, 0.2}};
    const double b[3] = {1.5, -0.5, 0.25};
    auto rest = [](int v, int k) { return double(k == 0 ? v : k == 1 ? 2 * v : -v); };
    auto u = [&](int v, int k) { return b[k] + A[k][0] * v + A[k][1] * 2 * v - A[k][2] * v; };
    std::vector<float> restArray(3 * n), positions(3 * n, -99.0f);
    // The last free vertex has no entries: the vector ends one vertex early.
    std::vector<double> values(components * (n - fixed - 1));
    for (int r = 0; r < n; ++r)
      for (int k = 0; k < 3; ++k) restArray[3 * r + k] = float(rest(l.vertexOf[r], k));
    for (int v = fixed; v < n - 1; ++v)
      for (int k = 0; k < components; ++k) values[components * (v - fixed) + k] = u(v, k);
    displacePositions(l.dofs, {values.data(), int(values.size())}, restArray.data(),
                      positions.data());
    for (int r = 0; r < n; ++r) {
      const int v = l.vertexOf[r];
      for (int k = 0; k < 3; ++k) {
        const bool moves = v >= fixed && v < n - 1;
        const double expected = !moves ? -99.0 : rest(v, k) + (k < components ? u(v, k) : 0.0);
        EXPECT_FLOAT_EQ(positions[3 * r + k], float(expected)) << components << "D " << v << k;
      }
    }
  }
}

TEST(DrawableFrame, VectorNormColouringBlendsWithoutClamping) {
  // Magnitudes for base force 5; vertex 0 is fixed.
  const struct {
    double x[3], m;
  } rows[] = {{{3, 4, 0}, 1.0},  {{0, 0, 0}, 0.0}, {{6, 8, 0}, 2.0},
              {{0, -3, 4}, 1.0}, {{1, 2, 2}, 0.6}, {{-12, 0, 16}, 4.0}};
  const int n = 7;
  const Layout l(n, 1, 3);
  std::vector<double> values(3 * (n - 1));
  for (int v = 1; v < n; ++v)
    for (int k = 0; k < 3; ++k) values[3 * (v - 1) + k] = rows[v - 1].x[k];
  std::vector<float> colours(3 * n), scalars(n, -7.0f);
  colourByVectorNorm(l.dofs, {values.data(), int(values.size())}, {kBase, kAccent, 5.0f},
                     colours.data(), scalars.data());
  for (int r = 0; r < n; ++r) {
    const int v = l.vertexOf[r];
    const double m = v == 0 ? 0.0 : rows[v - 1].m;
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(colours[3 * r + k], kBase[k] * (1 - m) + kAccent[k] * m, 1e-6) << v;
    EXPECT_NEAR(scalars[r], v == 0 ? -7.0 : m, 1e-6) << v;
  }
}

TEST(DrawableFrame, RightSideWinsWhenEveryColouringIsOn) {
  const int n = 5;
  const Layout l(n, 1, 3);
  std::vector<double> residual(12, 1.0), rightSide(12), stress(6 * n, 0.0);
  std::iota(rightSide.begin(), rightSide.end(), 0.0);
  for (int v = 0; v < n; ++v) stress[6 * v] = 100.0;  // uniaxial: m = 10
  const ColourSources all{
      true, true, true, {residual.data(), 12}, {stress.data(), 6 * n}, {rightSide.data(), 12}};
  const ColourSources rightOnly{false, false, true, {}, {}, {rightSide.data(), 12}};
  std::vector<float> c1(3 * n), s1(n, 0.0f), c2(3 * n), s2(n, 0.0f);
  colourVertices(l.dofs, all, {kBase, kAccent, 10.0f}, c1.data(), s1.data());
  colourVertices(l.dofs, rightOnly, {kBase, kAccent, 10.0f}, c2.data(), s2.data());
  EXPECT_EQ(c1, c2);
  // The fixed vertex keeps the scalar of the stress pass.
  for (int r = 0; r < n; ++r) EXPECT_FLOAT_EQ(s1[r], l.vertexOf[r] == 0 ? 10.0f : s2[r]);
}

TEST(DrawableFrame, StressColouringIsTheVonMisesStress) {
  const double t = 2.0, s = 3.0, root3 = std::sqrt(3.0);
  const struct {
    const char* name;
    double v[6], m;
  } rows[] = {{"uniaxial x", {s, 0, 0, 0, 0, 0}, s},
              {"uniaxial z", {0, 0, -s, 0, 0, 0}, s},
              {"shear xy", {0, 0, 0, t, 0, 0}, root3 * t},
              {"shear yz", {0, 0, 0, 0, -t, 0}, root3 * t},
              {"shear xz", {0, 0, 0, 0, 0, t}, root3 * t},
              {"hydrostatic", {5, 5, 5, 0, 0, 0}, 0.0},
              {"equibiaxial", {s, s, 0, 0, 0, 0}, s},
              {"principal shear", {t, -t, 0, 0, 0, 0}, root3 * t}};
  const int n = static_cast<int>(sizeof rows / sizeof rows[0]);
  const Layout l(n + 1, 2, 3);        // fixed vertices are coloured too
  std::vector<double> stress(6 * n);  // vertex n has no values
  for (int v = 0; v < n; ++v)
    for (int k = 0; k < 6; ++k) stress[6 * v + k] = rows[v].v[k];
  std::vector<float> colours(3 * (n + 1)), scalars(n + 1, -5.0f);
  colourByStress(l.dofs, {stress.data(), int(stress.size())}, {kBase, kAccent, 1.0f},
                 colours.data(), scalars.data());
  for (int r = 0; r <= n; ++r) {
    const int v = l.vertexOf[r];
    const double m = v == n ? 0.0 : rows[v].m;
    EXPECT_NEAR(scalars[r], v == n ? -5.0 : m, 1e-5) << (v == n ? "no values" : rows[v].name);
    EXPECT_NEAR(colours[3 * r], kBase[0] * (1 - m) + kAccent[0] * m, 1e-5) << v;
  }

  // Two components: three values a vertex; pure shear tau gives sqrt(3) tau.
  const Layout flat(4, 0, 2);
  std::vector<double> plane(12, 0.0);
  for (int v = 0; v < 4; ++v) plane[3 * v + 2] = 1.0 + v;
  colourByStress(flat.dofs, {plane.data(), 12}, {kBase, kAccent, 2.0f}, colours.data(),
                 scalars.data());
  for (int r = 0; r < 4; ++r) EXPECT_NEAR(scalars[r], root3 * (1.0 + flat.vertexOf[r]) / 2, 1e-5);
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
                before[3 * r + k] + (l.vertexOf[r] == 2 && k == 1 ? 0.25f : 0));
  // An offset whose square underflows still counts.
  offsets.assign(3 * n, 0.0f);
  offsets.back() = 1e-30f;
  EXPECT_TRUE(addOffsets(l.dofs, offsets.data(), positions.data()));
}

}  // namespace
