#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <random>

#include "IntegrationDomain.h"
#include "PolynomCalculus.h"

using P = Polynom<double>;

namespace {

constexpr int X = 1, Y = 256, Z = 65536;

int key(int ex, int ey, int ez) { return ex * X + ey * Y + ez * Z; }

P term(int k, double c) {
  P p;
  p.terms.emplace(k, c);
  return p;
}

// Polynomial from {exponents -> coefficient}, built without the calculus.
using Expo = std::array<int, 3>;
using Poly = std::map<Expo, double>;

P fromPoly(const Poly& q) {
  P p;
  for (const auto& [e, c] : q)
    if (c < 0 || c > 0) p.terms[key(e[0], e[1], e[2])] = c;
  return p;
}

Poly randomPoly(std::mt19937& rng, int nTerms, int maxExp) {
  std::uniform_int_distribution<int> e(0, maxExp);
  std::uniform_int_distribution<int> c(-8, 8);
  Poly q;
  for (int t = 0; t < nTerms; ++t) q[{e(rng), e(rng), e(rng)}] += c(rng) * 0.25;
  return q;
}

double evalPoly(const Poly& q, double x, double y, double z) {
  double s = 0;
  for (const auto& [e, c] : q) s += c * std::pow(x, e[0]) * std::pow(y, e[1]) * std::pow(z, e[2]);
  return s;
}

double constantOf(const P& p) {
  auto it = p.terms.find(0);
  return it == p.terms.end() ? 0.0 : it->second;
}

// x, y, z in the reference coordinates and det 1: the reference tetrahedron.
void setReference(IntegrationDomain& d) {
  d.det = 1.0;
  for (int v = 0; v < 3; ++v) d.limit[v] = term(1 << (8 * v), 1.0);
}

// The domain lives here for the duration of one test.
struct Reference {
  IntegrationDomain d;
  Reference() { setReference(d); }
};

// The element p0..p3 as the image of the reference tetrahedron under
// (r, s, t) -> p0 + r (p1 - p0) + s (p2 - p0) + t (p3 - p0).
void setMapped(IntegrationDomain& d, const double p[4][3]) {
  double a[3][3];
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) a[k][i] = p[i + 1][k] - p[0][k];
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  d.det = std::fabs(det);
  for (int k = 0; k < 3; ++k) {
    P l;
    if (p[0][k] != 0) l.terms[0] = p[0][k];
    for (int i = 0; i < 3; ++i)
      if (a[k][i] != 0) l.terms[1 << (8 * i)] = a[k][i];
    d.limit[k] = l;
  }
}

double factorial(int n) { return n <= 1 ? 1.0 : n * factorial(n - 1); }

}  // namespace

TEST(AddTerm, ZeroToMissingKeyChangesNothing) {
  P p = term(key(1, 0, 0), 2.0);
  addTerm(p, key(0, 1, 0), 0.0);
  EXPECT_EQ(p, term(key(1, 0, 0), 2.0));
}

TEST(AddTerm, OppositeCoefficientRemovesTheTerm) {
  P p = term(key(1, 2, 0), 0.75);
  addTerm(p, key(1, 2, 0), -0.75);
  EXPECT_TRUE(p.empty());
}

TEST(AddTerm, AddsToExistingAndCreatesMissing) {
  P p = term(key(0, 0, 1), 1.5);
  addTerm(p, key(0, 0, 1), 1.0);
  addTerm(p, key(2, 0, 0), -3.0);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p.terms.at(key(0, 0, 1)), 2.5);
  EXPECT_EQ(p.terms.at(key(2, 0, 0)), -3.0);
}

TEST(Coefficient, InsertsZeroTermForMissingKey) {
  P p;
  double& c = coefficient(p, key(0, 3, 0));
  EXPECT_EQ(c, 0.0);
  EXPECT_EQ(p.size(), 1u);
  c = 4.0;
  EXPECT_EQ(p, term(key(0, 3, 0), 4.0));
}

TEST(Coefficient, GivesAccessToExistingTerm) {
  P p = term(key(1, 1, 1), -2.0);
  coefficient(p, key(1, 1, 1)) *= 3.0;
  EXPECT_EQ(p, term(key(1, 1, 1), -6.0));
  EXPECT_EQ(p.size(), 1u);
}

TEST(Derivative, OfConstantIsEmpty) {
  const P c(3.5);
  EXPECT_TRUE(derivativeX(c).empty());
  EXPECT_TRUE(derivativeY(c).empty());
  EXPECT_TRUE(derivativeZ(c).empty());
}

TEST(Derivative, OfXSquaredY) {
  const P p = term(258, 1.0);  // x^2 y
  EXPECT_EQ(derivativeX(p), term(257, 2.0));
  EXPECT_EQ(derivativeY(p), term(2, 1.0));
  EXPECT_TRUE(derivativeZ(p).empty());
}

TEST(Derivative, MatchesTermwiseRuleOnRandomPolynomials) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    const Poly q = randomPoly(rng, 8, 4);
    for (int v = 0; v < 3; ++v) {
      Poly expected;
      for (const auto& [exps, c] : q) {
        if (exps[v] == 0) continue;
        Expo e = exps;
        const double f = c * e[v];
        --e[v];
        expected[e] += f;
      }
      const P got = derivative(fromPoly(q), v);
      EXPECT_EQ(got, fromPoly(expected)) << "variable " << v;
    }
    EXPECT_EQ(derivativeX(fromPoly(q)), derivative(fromPoly(q), 0));
    EXPECT_EQ(derivativeY(fromPoly(q)), derivative(fromPoly(q), 1));
    EXPECT_EQ(derivativeZ(fromPoly(q)), derivative(fromPoly(q), 2));
  }
}

TEST(Determinant3x3, OfIdentityIsOne) {
  const P one(1.0), zero;
  EXPECT_EQ(determinant3x3(one, zero, zero, zero, one, zero, zero, zero, one), P(1.0));
}

TEST(Determinant3x3, WithZeroRowIsEmpty) {
  const P a = term(key(1, 0, 0), 2.0), b = term(key(0, 1, 1), -1.0), c(3.0), zero;
  EXPECT_TRUE(determinant3x3(a, b, c, zero, zero, zero, c, a, b).empty());
}

TEST(Determinant3x3, OfConstantsMatchesCofactorExpansion) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> d(-9, 9);
  for (int trial = 0; trial < 100; ++trial) {
    double m[3][3];
    P pm[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        m[i][j] = d(rng) * 0.5;
        pm[i][j] = P(m[i][j]);
      }
    // Expansion along the second column: a different summation than Sarrus.
    const double expected = -m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                            m[1][1] * (m[0][0] * m[2][2] - m[0][2] * m[2][0]) -
                            m[2][1] * (m[0][0] * m[1][2] - m[0][2] * m[1][0]);
    const P got = determinant3x3(pm[0][0], pm[0][1], pm[0][2], pm[1][0], pm[1][1], pm[1][2],
                                 pm[2][0], pm[2][1], pm[2][2]);
    EXPECT_EQ(got, P(expected));
  }
}

TEST(Determinant3x3, OfPolynomialsMatchesNumericDeterminantAtPoints) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    Poly q[3][3];
    P pm[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        q[i][j] = randomPoly(rng, 3, 2);
        pm[i][j] = fromPoly(q[i][j]);
      }
    const P det = determinant3x3(pm[0][0], pm[0][1], pm[0][2], pm[1][0], pm[1][1], pm[1][2],
                                 pm[2][0], pm[2][1], pm[2][2]);
    for (int s = 0; s < 5; ++s) {
      const double x = u(rng), y = u(rng), z = u(rng);
      double m[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = evalPoly(q[i][j], x, y, z);
      const double expected = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                              m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                              m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
      EXPECT_NEAR(det.eval(x, y, z), expected, 1e-11);
    }
  }
}

TEST(IntegrateZ, OfOneUpToPlaneIsThePlane) {
  P p(1.0);
  const P upper = fromPoly({{{0, 0, 0}, 1.0}, {{1, 0, 0}, -1.0}, {{0, 1, 0}, -1.0}});
  integrateZ(p, upper);
  EXPECT_EQ(p, upper);
}

TEST(IntegrateZ, MatchesClosedFormAntiderivatives) {
  // int_0^x z dz = x^2 / 2; int_0^(1-x-y) z^2 dz = (1-x-y)^3 / 3.
  P p = term(key(0, 0, 1), 1.0);
  integrateZ(p, term(key(1, 0, 0), 1.0));
  EXPECT_EQ(p, term(key(2, 0, 0), 0.5));

  P q = term(key(0, 0, 2), 3.0);
  const P upper = fromPoly({{{0, 0, 0}, 1.0}, {{1, 0, 0}, -1.0}, {{0, 1, 0}, -1.0}});
  integrateZ(q, upper);
  P cube = upper;
  cube *= upper;
  cube *= upper;
  EXPECT_EQ(q, cube);
}

TEST(IntegrateY, MatchesClosedFormAntiderivative) {
  // int_0^(1-x) x y^2 dy = x (1-x)^3 / 3.
  P p = term(key(1, 2, 0), 3.0);
  integrateY(p, fromPoly({{{0, 0, 0}, 1.0}, {{1, 0, 0}, -1.0}}));
  EXPECT_EQ(p,
            fromPoly({{{1, 0, 0}, 1.0}, {{2, 0, 0}, -3.0}, {{3, 0, 0}, 3.0}, {{4, 0, 0}, -1.0}}));
}

TEST(IntegrateY, LeavesOtherVariablesAsFactors) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    const Poly q = randomPoly(rng, 5, 3);
    const Poly up = randomPoly(rng, 2, 1);
    P p = fromPoly(q);
    integrateY(p, fromPoly(up));
    // Oracle: sum over terms of c x^a z^c * upper^(b+1) / (b+1).
    for (int s = 0; s < 5; ++s) {
      const double x = u(rng), y = u(rng), z = u(rng);
      const double top = evalPoly(up, x, y, z);
      double expected = 0;
      for (const auto& [e, c] : q)
        expected +=
            c * std::pow(x, e[0]) * std::pow(z, e[2]) * std::pow(top, e[1] + 1) / (e[1] + 1);
      EXPECT_NEAR(p.eval(x, y, z), expected, 1e-10);
    }
  }
}

TEST(IntegrateTetrahedron, OfOneOverReferenceIsExactlyOneSixth) {
  P p(1.0);
  integrateTetrahedron(p, Reference().d);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(constantOf(p), 0.16666666666666666);
}

TEST(IntegrateTetrahedron, OfXAndXYOverReference) {
  P x = term(key(1, 0, 0), 1.0), xy = term(key(1, 1, 0), 1.0);
  integrateTetrahedron(x, Reference().d);
  integrateTetrahedron(xy, Reference().d);
  // The expanded powers cancel: exact up to a few units of rounding.
  EXPECT_NEAR(constantOf(x), 1.0 / 24.0, 1e-15 / 24.0);
  EXPECT_NEAR(constantOf(xy), 1.0 / 120.0, 1e-14 / 120.0);
}

TEST(IntegrateTetrahedron, OfMonomialsMatchesFactorialFormula) {
  for (int a = 0; a <= 4; ++a)
    for (int b = 0; a + b <= 4; ++b)
      for (int c = 0; a + b + c <= 4; ++c) {
        P p = term(key(a, b, c), 1.0);
        integrateTetrahedron(p, Reference().d);
        const double expected =
            factorial(a) * factorial(b) * factorial(c) / factorial(a + b + c + 3);
        ASSERT_EQ(p.size(), 1u);
        EXPECT_NEAR(constantOf(p), expected, 1e-12 * expected) << a << " " << b << " " << c;
      }
}

TEST(IntegrateTetrahedron, OfEmptyIsEmpty) {
  P p;
  integrateTetrahedron(p, Reference().d);
  EXPECT_TRUE(p.empty());
}

TEST(IntegrateTetrahedron, ZeroDeterminantGivesEmpty) {
  IntegrationDomain d;
  setReference(d);
  d.det = 0.0;
  P p = fromPoly({{{0, 0, 0}, 1.0}, {{1, 1, 0}, 2.0}});
  integrateTetrahedron(p, d);
  EXPECT_TRUE(p.empty());
}

TEST(IntegrateTetrahedron, ScalesWithDeterminant) {
  IntegrationDomain d;
  setReference(d);
  d.det = 4.0;
  P p = term(key(0, 0, 1), 1.0);
  integrateTetrahedron(p, d);
  EXPECT_DOUBLE_EQ(constantOf(p), 4.0 / 24.0);
}

// On a mapped element: int x^n = vol * n! 3! / (n+3)! * h_n(x_0..x_3), with
// h_n the complete homogeneous symmetric polynomial of the corner values;
// int x y = vol / 20 * (sum x_i sum y_i + sum x_i y_i).
TEST(IntegrateTetrahedron, OverMappedElementMatchesBarycentricFormulas) {
  const double p[4][3] = {{0.5, -1.0, 2.0}, {3.0, 0.25, 1.5}, {1.0, 2.5, 2.25}, {0.75, 0.5, 4.0}};
  IntegrationDomain d;
  setMapped(d, p);
  const double vol = d.det / 6.0;
  ASSERT_GT(vol, 0.1);

  P one(1.0);
  integrateTetrahedron(one, d);
  EXPECT_NEAR(constantOf(one), vol, 1e-13);

  for (int v = 0; v < 3; ++v) {
    const double xs[4] = {p[0][v], p[1][v], p[2][v], p[3][v]};
    double h1 = 0, h2 = 0, h3 = 0;
    for (int i = 0; i < 4; ++i) {
      h1 += xs[i];
      for (int j = i; j < 4; ++j) {
        h2 += xs[i] * xs[j];
        for (int k = j; k < 4; ++k) h3 += xs[i] * xs[j] * xs[k];
      }
    }
    const int e1[3] = {v == 0, v == 1, v == 2};
    P lin = term(key(e1[0], e1[1], e1[2]), 1.0);
    P sq = term(key(2 * e1[0], 2 * e1[1], 2 * e1[2]), 1.0);
    P cu = term(key(3 * e1[0], 3 * e1[1], 3 * e1[2]), 1.0);
    integrateTetrahedron(lin, d);
    integrateTetrahedron(sq, d);
    integrateTetrahedron(cu, d);
    EXPECT_NEAR(constantOf(lin), vol / 4.0 * h1, 1e-12);
    EXPECT_NEAR(constantOf(sq), vol / 10.0 * h2, 1e-12);
    EXPECT_NEAR(constantOf(cu), vol / 20.0 * h3, 1e-11);
  }

  double sx = 0, sy = 0, sxy = 0;
  for (int i = 0; i < 4; ++i) {
    sx += p[i][0];
    sy += p[i][1];
    sxy += p[i][0] * p[i][1];
  }
  P xy = term(key(1, 1, 0), 1.0);
  integrateTetrahedron(xy, d);
  EXPECT_NEAR(constantOf(xy), vol / 20.0 * (sx * sy + sxy), 1e-12);
}

TEST(IntegrateTetrahedron, IsLinear) {
  std::mt19937 rng(13);
  const double p[4][3] = {{0, 0, 0}, {2, 0, 0}, {0, 0, 3}, {0, 1, 0}};
  IntegrationDomain d;
  setMapped(d, p);
  for (int trial = 0; trial < 20; ++trial) {
    const Poly q = randomPoly(rng, 6, 2);
    double sum = 0;
    for (const auto& [e, c] : q) {
      P t = term(key(e[0], e[1], e[2]), c);
      integrateTetrahedron(t, d);
      sum += constantOf(t);
    }
    P whole = fromPoly(q);
    integrateTetrahedron(whole, d);
    EXPECT_LE(whole.size(), 1u);
    EXPECT_NEAR(constantOf(whole), sum, 1e-12);
  }
}
