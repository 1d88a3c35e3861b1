#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "FullMatrix.h"
#include "IntegrationDomain.h"
#include "PolynomCalculus.h"
#include "SparseMatrix.h"
#include "TestMeshes.h"
#include "Tetrahedron.h"
#include "TetrahedronMatrices.h"
#include "Vertex.h"

using P = Polynom<double>;

namespace {

constexpr int X = 1, Y = 256, Z = 65536;

P linear(double c, double x, double y, double z) {
  P p;
  if (c != 0) p.terms[0] = c;
  if (x != 0) p.terms[X] = x;
  if (y != 0) p.terms[Y] = y;
  if (z != 0) p.terms[Z] = z;
  return p;
}

double constantOf(const P& p) {
  auto it = p.terms.find(0);
  return it == p.terms.end() ? 0.0 : it->second;
}

// Identical doubles; any two NaNs count as equal.
bool sameBits(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

using Point = std::array<float, 3>;

// Four vertices owned by the fixture and the element on them, in the given
// corner order.
struct Element {
  Vertex vs[4];
  Tetrahedron t;
  explicit Element(const std::array<Point, 4>& p)
      : t((place(p), &vs[0]), &vs[1], &vs[2], &vs[3], 0) {}
  void place(const std::array<Point, 4>& p) {
    for (int i = 0; i < 4; ++i) {
      vs[i].index = i;
      for (int k = 0; k < 3; ++k) vs[i].restPosition[k] = p[i][k];
    }
  }
};

// The unit tetrahedron in the order of the closed forms below.
const std::array<Point, 4> kUnit = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

std::array<Point, 4> randomCorners(std::mt19937& rng) {
  std::uniform_real_distribution<float> u(-2.0f, 2.0f);
  for (;;) {
    std::array<Point, 4> p;
    for (auto& q : p)
      for (float& c : q) c = u(rng);
    Vertex vs[4];
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 3; ++k) vs[i].restPosition[k] = p[i][k];
    Tetrahedron t(&vs[0], &vs[1], &vs[2], &vs[3], 0);
    if (std::fabs(zolt::test::restVolume(t)) > 0.05) return p;
  }
}

// The integrals by an independent route: the symbolic integration of the
// polynomial calculus applied to the element's own shape functions.
double symbolicIntegral(P p, const IntegrationDomain& dom) {
  integrateTetrahedron(p, dom);
  return constantOf(p);
}

}  // namespace

// ------------------------------------------------------------ unit element

TEST(TetrahedronMatricesUnit, ShapeFunctionsAreBarycentric) {
  Element e(kUnit);
  e.t.computeShapeFunctions();
  EXPECT_TRUE(e.t.shapeFunctionsReady);
  EXPECT_EQ(e.t.N[0], linear(1, -1, -1, -1));
  EXPECT_EQ(e.t.N[1], linear(0, 1, 0, 0));
  EXPECT_EQ(e.t.N[2], linear(0, 0, 1, 0));
  EXPECT_EQ(e.t.N[3], linear(0, 0, 0, 1));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(e.t.N[i].terms.count(0), 0u);
  e.t.testSfm();
}

TEST(TetrahedronMatricesUnit, DomainVolumeLoadMassAndGradients) {
  Element e(kUnit);
  e.t.computeShapeFunctions();
  IntegrationDomain dom;
  e.t.computeIntegrationDomain(dom);
  EXPECT_EQ(dom.det, 1.0);
  // limit[d] maps the reference vertices V0..V3 = (0,0,0), (1,0,0),
  // (0,0,1), (0,1,0) onto the corners 0..3.
  EXPECT_EQ(dom.limit[0], linear(0, 1, 0, 0));
  EXPECT_EQ(dom.limit[1], linear(0, 0, 0, 1));
  EXPECT_EQ(dom.limit[2], linear(0, 0, 1, 0));

  e.t.computeLoadMatrix(dom);
  EXPECT_EQ(e.t.getVolume(), 0.16666666666666666);
  SparseMatrix<double>* L = e.t.getLoadMatrix();
  ASSERT_NE(L, nullptr);
  ASSERT_EQ(L->nRow, 12);
  ASSERT_EQ(L->nCol, 3);
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR((*L)(r, c), r % 3 == c ? 1.0 / 24 : 0.0, 1e-15);

  FullMatrix<double> Me(12, 12);
  e.t.computeMassMatrix(Me, dom);
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 12; ++c) {
      double expected = 0.0;
      if (r % 3 == c % 3) expected = r / 3 == c / 3 ? 1.0 / 60 : 1.0 / 120;
      EXPECT_NEAR(Me(r, c), expected, 1e-15) << r << " " << c;
    }

  e.t.computeGradients(dom);
  const double expected[12] = {-1, 1, 0, 0, -1, 0, 1, 0, -1, 0, 0, 1};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(e.t.getGradients()[k], expected[k]) << k;
}

TEST(TetrahedronMatricesUnit, StrainMatrixRowsAndEngineeringShears) {
  Element e(kUnit);
  e.t.computeShapeFunctions();
  FullMatrix<P> B(6, 12);
  e.t.computeStrainMatrix(B);
  // grad N = (-1,-1,-1), (1,0,0), (0,1,0), (0,0,1).
  const double g[4][3] = {{-1, -1, -1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int i = 0; i < 4; ++i) {
    const int c = 3 * i;
    double expected[6][3] = {};
    expected[0][0] = g[i][0];
    expected[1][1] = g[i][1];
    expected[2][2] = g[i][2];
    expected[3][0] = g[i][1];
    expected[3][1] = g[i][0];
    expected[4][0] = g[i][2];
    expected[4][2] = g[i][0];
    expected[5][1] = g[i][2];
    expected[5][2] = g[i][1];
    for (int r = 0; r < 6; ++r)
      for (int d = 0; d < 3; ++d) {
        const P& entry = B.data[r * 12 + c + d];
        // Constants only; a zero derivative is the empty polynomial.
        EXPECT_EQ(entry, P(expected[r][d])) << r << " " << c + d;
      }
  }
  // Row 3 (the xy shear) written out: -1 at columns 0 and 1, 1 at 4 and 6.
  EXPECT_EQ(constantOf(B.data[3 * 12 + 4]), 1.0);
  EXPECT_EQ(constantOf(B.data[3 * 12 + 6]), 1.0);
  for (int col : {3, 7, 9, 10}) EXPECT_TRUE(B.data[3 * 12 + col].empty()) << col;
}

TEST(TetrahedronMatricesUnit, ExchangingLastTwoCornersKeepsDetAndVolume) {
  Element e(kUnit);
  Element swapped({kUnit[0], kUnit[1], kUnit[3], kUnit[2]});
  for (Element* x : {&e, &swapped}) {
    x->t.computeShapeFunctions();
    IntegrationDomain dom;
    x->t.computeIntegrationDomain(dom);
    EXPECT_EQ(dom.det, 1.0);
    x->t.computeLoadMatrix(dom);
    EXPECT_EQ(x->t.getVolume(), 0.16666666666666666);
  }
}

TEST(TetrahedronMatricesUnit, IntegrateMatrixScalesEveryTermByTheVolume) {
  Element e(kUnit);
  e.t.computeShapeFunctions();
  IntegrationDomain dom;
  e.t.computeIntegrationDomain(dom);
  FullMatrix<P> M(1, 3);
  M.setElem(0, 0, P(1.0));
  M.setElem(0, 1, P(2.0));
  M.setElem(0, 2, linear(0, 3.0, 0, 0));
  e.t.integrateMatrix(M, dom);
  EXPECT_EQ(M(0, 0), P(0.16666666666666666));
  EXPECT_EQ(M(0, 1), P(2.0 * 0.16666666666666666));
  EXPECT_EQ(M(0, 2), linear(0, 3.0 * 0.16666666666666666, 0, 0));

  PolynomMap m;
  m[{0, 0, 0}] = P(6.0);
  m[{1, 2, 3}] = linear(0, 0, 12.0, 0);
  e.t.integrateMap(m, dom);
  EXPECT_EQ(m[(std::array<int, 3>{0, 0, 0})], P(6.0 * 0.16666666666666666));
  EXPECT_EQ(m[(std::array<int, 3>{1, 2, 3})], linear(0, 0, 12.0 * 0.16666666666666666, 0));

  // The factor is the double nearest 1/6 times det.
  dom.det = 3.0;
  P p(1.0);
  scalePolynomByVolume(&p, &dom);
  EXPECT_EQ(p, P(0.16666666666666666 * 3.0));
}

// --------------------------------------------------------- general elements

TEST(TetrahedronMatrices, ShapeFunctionsAreNodalOnRandomElements) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    Element e(randomCorners(rng));
    e.t.computeShapeFunctions();
    e.t.testSfm();
    // Partition of unity at an arbitrary point.
    const double x = 0.3, y = -0.7, z = 1.1;
    double sum = 0;
    for (int i = 0; i < 4; ++i) sum += e.t.N[i].eval(x, y, z);
    EXPECT_NEAR(sum, 1.0, 1e-9);
  }
}

TEST(TetrahedronMatrices, DomainMapsReferenceVerticesOntoCorners) {
  std::mt19937 rng(11);
  IntegrationDomain dom;
  for (int trial = 0; trial < 20; ++trial) {
    const auto p = randomCorners(rng);
    Element e(p);
    e.t.computeShapeFunctions();
    const double* mapBefore = dom.map.data;
    e.t.computeIntegrationDomain(dom);
    if (trial > 0) {
      EXPECT_EQ(dom.map.data, mapBefore);  // kept, not recomputed
    }
    ASSERT_EQ(dom.map.nRow, 4);
    const double ref[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}};
    for (int j = 0; j < 4; ++j)
      for (int d = 0; d < 3; ++d)
        EXPECT_NEAR(dom.limit[d].eval(ref[j][0], ref[j][1], ref[j][2]), p[j][d], 1e-6);
    EXPECT_NEAR(dom.det, 6.0 * std::fabs(zolt::test::restVolume(e.t)), 1e-9);
  }
}

TEST(TetrahedronMatrices, LoadAndMassAreBarycentricFractionsOfTheVolume) {
  std::mt19937 rng(13);
  for (int trial = 0; trial < 30; ++trial) {
    Element e(randomCorners(rng));
    e.t.computeShapeFunctions();
    IntegrationDomain dom;
    e.t.computeIntegrationDomain(dom);
    e.t.computeLoadMatrix(dom);
    const double vol = std::fabs(zolt::test::restVolume(e.t));
    EXPECT_NEAR(e.t.getVolume(), vol, 1e-9 * vol);
    for (int i = 0; i < 4; ++i)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR((*e.t.getLoadMatrix())(3 * i + c, c), vol / 4, 1e-9);
    FullMatrix<double> Me(12, 12);
    e.t.computeMassMatrix(Me, dom);
    double total = 0;
    for (int r = 0; r < 12; ++r)
      for (int c = 0; c < 12; ++c) {
        double expected = 0.0;
        if (r % 3 == c % 3) expected = r / 3 == c / 3 ? vol / 10 : vol / 20;
        EXPECT_NEAR(Me(r, c), expected, 1e-9) << r << " " << c;
        total += Me(r, c);
      }
    // The consistent mass of the three components sums to 3 volumes.
    EXPECT_NEAR(total, 3 * vol, 1e-9);
  }
}

// The closed-form preparation gives the shape functions bit for bit, the
// gradients as computeGradients derives them, and the volume and load
// matrix of the exact integration within rounding; a flat element has no
// volume and no load. The allocation-free preparation defers the shape
// functions and the load matrix, then equal to the eager ones bit for bit;
// loadEntry answers without building the matrix, 0 before any preparation.
TEST(TetrahedronMatrices, ClosedFormPreparationMatchesTheIntegration) {
  std::mt19937 rng(19);
  for (int trial = 0; trial < 41; ++trial) {
    std::array<Point, 4> p = randomCorners(rng);
    if (trial == 40) p = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}};
    Element ref(p), e(p), lazy(p);
    ref.t.computeShapeFunctions();
    IntegrationDomain dom;
    ref.t.computeIntegrationDomain(dom);
    ref.t.computeLoadMatrix(dom);
    ref.t.computeGradients(dom);
    EXPECT_EQ(lazy.t.loadEntry(0, 0), 0.0);
    double grad[4][3], g1[4][3];
    const double volume = e.t.prepareLinear(true, grad);
    ASSERT_TRUE(sameBits(Element(p).t.prepareVolume(), volume));
    ASSERT_TRUE(sameBits(lazy.t.prepareVolume(true, g1), volume));
    EXPECT_TRUE(e.t.shapeFunctionsReady);
    EXPECT_TRUE(lazy.t.N[0].empty());
    EXPECT_EQ(volume, e.t.getVolume());
    for (int i = 0; i < 4; ++i) ASSERT_EQ(e.t.N[i], ref.t.N[i]) << trial;
    for (int k = 0; k < 12; ++k) {
      ASSERT_TRUE(sameBits(e.t.getGradients()[k], ref.t.getGradients()[k])) << trial << " " << k;
      ASSERT_TRUE(sameBits(grad[k % 4][k / 4], ref.t.getGradients()[k])) << trial << " " << k;
      ASSERT_TRUE(sameBits(g1[k % 4][k / 4], grad[k % 4][k / 4]));
      ASSERT_TRUE(sameBits(lazy.t.getGradients()[k], e.t.getGradients()[k]));
    }
    const double v = ref.t.getVolume();
    EXPECT_NEAR(volume, v, 1e-13 * v) << trial;
    for (int r = 0; r < 12; ++r)
      for (int c = 0; c < 3; ++c) {
        const double load = (*ref.t.getLoadMatrix())(r, c);
        EXPECT_NEAR((*e.t.getLoadMatrix())(r, c), load, 1e-13 * v) << trial;
        ASSERT_TRUE(sameBits(lazy.t.loadEntry(r, c), (*e.t.getLoadMatrix())(r, c))) << trial;
        // A zero load is no stored entry, in both.
        EXPECT_EQ(e.t.getLoadMatrix()->rows[r].size(), ref.t.getLoadMatrix()->rows[r].size());
      }
    // The deferred matrix and shape functions, built once loadEntry is done.
    for (int r = 0; r < 12; ++r)
      ASSERT_EQ(lazy.t.getLoadMatrix()->rows[r].size(), e.t.getLoadMatrix()->rows[r].size());
    for (int i = 0; i < 4; ++i) ASSERT_EQ(lazy.t.getShapeFunctions()[i], e.t.N[i]) << trial;
  }
}

// The element integrals are exactly (bit for bit) the symbolic integrals of
// the polynomial calculus applied to the element's shape functions.
TEST(TetrahedronMatrices, IntegralsEqualTheSymbolicIntegrationExactly) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 203; ++trial) {
    std::array<Point, 4> p = randomCorners(rng);
    // Flat and nearly flat elements too: infinite and huge coefficients.
    if (trial == 200) p = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}};
    if (trial == 201) p = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 1e-7f}}};
    if (trial == 202) p = {{{0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    Element e(p);
    e.t.computeShapeFunctions();
    IntegrationDomain dom;
    e.t.computeIntegrationDomain(dom);
    e.t.computeLoadMatrix(dom);
    ASSERT_TRUE(sameBits(e.t.getVolume(), symbolicIntegral(P(1.0), dom)));
    for (int i = 0; i < 4; ++i) {
      const double c = symbolicIntegral(e.t.N[i], dom);
      for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(sameBits((*e.t.getLoadMatrix())(3 * i + k, k), c)) << trial << " " << i;
    }
    FullMatrix<double> Me(12, 12);
    e.t.computeMassMatrix(Me, dom);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        const double c = symbolicIntegral(e.t.N[i] * e.t.N[j], dom);
        for (int k = 0; k < 3; ++k)
          ASSERT_TRUE(sameBits(Me(3 * i + k, 3 * j + k), c)) << trial << " " << i << " " << j;
      }
  }
}

// The Jacobian determinant and the strain entries are those of the
// polynomial calculus (derivatives, rule of Sarrus), bit for bit.
TEST(TetrahedronMatrices, DeterminantAndStrainEqualThePolynomialCalculusExactly) {
  std::mt19937 rng(19);
  IntegrationDomain dom;
  FullMatrix<P> B(6, 12);
  for (int trial = 0; trial < 200; ++trial) {
    std::array<Point, 4> p = randomCorners(rng);
    if (trial == 0) p = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}};  // flat
    Element e(p);
    e.t.computeShapeFunctions();
    e.t.computeIntegrationDomain(dom);
    P J[3][3];
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) J[a][b] = derivative(dom.limit[a], b);
    const double det = std::fabs(constantOf(determinant3x3(
        J[0][0], J[0][1], J[0][2], J[1][0], J[1][1], J[1][2], J[2][0], J[2][1], J[2][2])));
    ASSERT_TRUE(sameBits(dom.det, det)) << trial;

    e.t.computeStrainMatrix(B);
    for (int i = 0; i < 4; ++i) {
      const P dx = derivativeX(e.t.N[i]), dy = derivativeY(e.t.N[i]), dz = derivativeZ(e.t.N[i]);
      const int c = 3 * i;
      ASSERT_EQ(B(0, c), dx);
      ASSERT_EQ(B(1, c + 1), dy);
      ASSERT_EQ(B(2, c + 2), dz);
      ASSERT_EQ(B(3, c), dy);
      ASSERT_EQ(B(3, c + 1), dx);
      ASSERT_EQ(B(4, c), dz);
      ASSERT_EQ(B(4, c + 2), dx);
      ASSERT_EQ(B(5, c + 1), dz);
      ASSERT_EQ(B(5, c + 2), dy);
    }
  }
}

// Shape functions of higher degree (not linear ones) take the general road
// and still integrate exactly.
TEST(TetrahedronMatrices, QuadraticShapeFunctionsIntegrateSymbolically) {
  Element e(kUnit);
  e.t.computeShapeFunctions();
  IntegrationDomain dom;
  e.t.computeIntegrationDomain(dom);
  P quadratic;
  quadratic.terms[2 * X] = 1.0;  // x^2
  quadratic.terms[X + Y] = 3.0;  // 3xy
  e.t.N[1] = quadratic;
  FullMatrix<double> Me(12, 12);
  e.t.computeMassMatrix(Me, dom);
  // Over the unit tetrahedron: x^a y^b z^c integrates to a! b! c! / (a+b+c+3)!.
  // N1^2 = x^4 + 6 x^3 y + 9 x^2 y^2.
  const double n11 = 24.0 / 5040 + 6 * 6.0 / 5040 + 9 * 4.0 / 5040;
  EXPECT_NEAR(Me(3, 3), n11, 1e-15);
  EXPECT_TRUE(sameBits(Me(3, 3), symbolicIntegral(quadratic * quadratic, dom)));
  e.t.computeLoadMatrix(dom);
  EXPECT_NEAR((*e.t.getLoadMatrix())(3, 0), 2.0 / 120 + 3.0 / 120, 1e-15);
  EXPECT_TRUE(sameBits((*e.t.getLoadMatrix())(3, 0), symbolicIntegral(quadratic, dom)));
}

TEST(TetrahedronMatrices, RecomputedShapeFunctionsKeepNoStaleTerms) {
  Element e({{{0.5f, 0.25f, 0.0f}, {1.5f, 0.0f, 0.5f}, {0.0f, 1.0f, 0.0f}, {0.25f, 0.0f, 2.0f}}});
  e.t.computeShapeFunctions();
  // Move the corners onto the unit element: N1 = x has no constant term.
  e.place(kUnit);
  e.t.computeShapeFunctions();
  EXPECT_EQ(e.t.N[1], linear(0, 1, 0, 0));
  EXPECT_EQ(e.t.N[0], linear(1, -1, -1, -1));
}

TEST(TetrahedronMatrices, RepeatedLoadMatrixAndGradientsReplaceTheirResults) {
  Element e(kUnit);
  e.t.computeShapeFunctions();
  IntegrationDomain dom;
  e.t.computeIntegrationDomain(dom);
  e.t.computeLoadMatrix(dom);
  e.t.computeGradients(dom);
  e.t.computeLoadMatrix(dom);  // the sanitizer build sees any leak
  e.t.computeGradients(dom);
  EXPECT_EQ(e.t.getLoadMatrix()->rows[0].size(), 1u);
  EXPECT_EQ(e.t.getGradients()[1], 1.0);
}

TEST(TetrahedronMatrices, FlatElementHasZeroDeterminantAndVolume) {
  Element e({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}});
  e.t.computeShapeFunctions();
  IntegrationDomain dom;
  e.t.computeIntegrationDomain(dom);
  EXPECT_EQ(dom.det, 0.0);
  e.t.computeLoadMatrix(dom);
  EXPECT_EQ(e.t.getVolume(), 0.0);
}

TEST(TetrahedronMatrices, GetShapeFunctionsComputesOnFirstUse) {
  Element e(kUnit);
  Polynom<double>* n = e.t.getShapeFunctions();
  EXPECT_TRUE(e.t.shapeFunctionsReady);
  EXPECT_EQ(n, e.t.N);
  EXPECT_EQ(n[3], linear(0, 0, 0, 1));
}

// Refined children: every child has one eighth of the parent's volume.
TEST(TetrahedronMatrices, RefinedChildrenShareTheVolumeEqually) {
  auto h = zolt::test::singleTetrahedron(2);
  double sum = 0;
  IntegrationDomain dom;
  for (FiniteElement* child : h->elements[1]) {
    child->computeShapeFunctions();
    child->computeIntegrationDomain(dom);
    child->computeLoadMatrix(dom);
    EXPECT_NEAR(child->getVolume(), 1.0 / 48, 1e-12);
    sum += child->getVolume();
  }
  EXPECT_NEAR(sum, 1.0 / 6, 1e-12);
}
