#include "Polynom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

using P = Polynom<double>;

namespace {

P term(int key, double c) {
  P p;
  if (c < 0 || c > 0) p.terms[key] = c;
  return p;
}

P randomPolynom(std::mt19937& rng, int maxTerms) {
  std::uniform_int_distribution<int> nTerms(0, maxTerms), e(0, 3);
  std::uniform_real_distribution<double> c(-2.0, 2.0);
  P p;
  int n = nTerms(rng);
  for (int t = 0; t < n; ++t) p += term(e(rng) | (e(rng) << 8) | (e(rng) << 16), c(rng));
  return p;
}

// Independent evaluation: every key decoded by hand.
double evalByHand(const P& p, double x, double y, double z) {
  double s = 0;
  for (const auto& [k, c] : p) {
    double m = c;
    for (int i = 0; i < (k & 255); ++i) m *= x;
    for (int i = 0; i < ((k >> 8) & 255); ++i) m *= y;
    for (int i = 0; i < ((k >> 16) & 255); ++i) m *= z;
    s += m;
  }
  return s;
}

bool hasZeroTerm(const P& p) {
  for (const auto& kv : p)
    if (!(kv.second < 0 || kv.second > 0)) return true;
  return false;
}

bool bitIdentical(const P& a, const P& b) {
  if (a.size() != b.size()) return false;
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib)
    if (ia->first != ib->first || std::memcmp(&ia->second, &ib->second, sizeof(double)) != 0)
      return false;
  return true;
}

}  // namespace

TEST(PolynomZeroInvariant, ConstantsOfZeroAreEmpty) {
  EXPECT_TRUE(P(0.0).empty());
  EXPECT_TRUE(P(-0.0).empty());
  EXPECT_TRUE(P(std::numeric_limits<double>::quiet_NaN()).empty());
  EXPECT_TRUE(P().empty());
  P c(2.5);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c.begin()->first, 0);
  EXPECT_EQ(c.begin()->second, 2.5);
}

TEST(PolynomZeroInvariant, CancellingTermsAreRemoved) {
  P x = term(1, 1.0);
  P xPlus1 = x;
  xPlus1 += P(1.0);
  P prod = xPlus1 * (x - P(1.0));
  EXPECT_EQ(prod, term(2, 1.0) - P(1.0));
  EXPECT_EQ(prod.terms.count(1), 0u);

  P p = term(1, 3.0);
  p += term(258, -1.5);
  P neg = term(1, -3.0);
  neg += term(258, 1.5);
  p += neg;
  EXPECT_TRUE(p.empty());
  EXPECT_EQ(p, P(0.0));

  P cancelled = term(1, 1.0);
  cancelled += term(256, 2.0);
  cancelled += term(256, -2.0);
  EXPECT_EQ(cancelled, term(1, 1.0));
}

TEST(PolynomZeroInvariant, NaNAndSignedZeroProductsAreNotStored) {
  P nan = term(1, 1.0);
  nan.terms[1] = std::numeric_limits<double>::quiet_NaN();  // forced in by hand
  P prod = nan * term(256, 1.0);
  EXPECT_TRUE(prod.empty());
  P negZero = term(1, -1e-200) * term(1, 1e-200);  // underflows to -0.0
  EXPECT_TRUE(negZero.empty());
  P viaCompound = term(1, -1e-200);
  viaCompound *= term(1, 1e-200);
  EXPECT_TRUE(viaCompound.empty());
}

TEST(PolynomAlgebra, EmptyOperandGivesEmptyProduct) {
  P a = term(1, 2.0);
  EXPECT_TRUE((a * P()).empty());
  EXPECT_TRUE((P() * a).empty());
  P b = a;
  b *= P();
  EXPECT_TRUE(b.empty());
  P c;
  c *= a;
  EXPECT_TRUE(c.empty());
}

TEST(PolynomAlgebra, KeysAddUnderMultiplication) {
  P xyz = term(257, 1.0) * term(65536, 1.0);
  ASSERT_EQ(xyz.size(), 1u);
  EXPECT_EQ(xyz.begin()->first, 1 + 256 + 65536);
}

TEST(PolynomAlgebra, SumDifferenceAndProductEvaluateToValues) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  for (int trial = 0; trial < 300; ++trial) {
    P a = randomPolynom(rng, 8), b = randomPolynom(rng, 8);
    double x = u(rng), y = u(rng), z = u(rng);
    double va = evalByHand(a, x, y, z), vb = evalByHand(b, x, y, z);
    P sum = a;
    sum += b;
    P diff = a - b;
    P prod = a * b;
    EXPECT_NEAR(evalByHand(sum, x, y, z), va + vb, 1e-9);
    EXPECT_NEAR(evalByHand(diff, x, y, z), va - vb, 1e-9);
    EXPECT_NEAR(evalByHand(prod, x, y, z), va * vb, 1e-8);
    EXPECT_NEAR(prod.eval(x, y, z), va * vb, 1e-8);
    EXPECT_FALSE(hasZeroTerm(sum) || hasZeroTerm(diff) || hasZeroTerm(prod));
  }
}

TEST(PolynomAlgebra, CompoundProductIsBitIdenticalToProduct) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    P a = randomPolynom(rng, 8), b = randomPolynom(rng, 8);
    if (trial % 3 == 0) b += P(1.25);  // constant term: the node-reusing path
    P viaCompound = a;
    viaCompound *= b;
    EXPECT_TRUE(bitIdentical(viaCompound, a * b)) << "trial " << trial;
    EXPECT_FALSE(hasZeroTerm(viaCompound));
  }
}

TEST(PolynomAlgebra, CopiesAreIndependent) {
  P a = term(1, 1.0);
  P b = a;
  b += term(1, 1.0);
  EXPECT_EQ(a, term(1, 1.0));
  EXPECT_EQ(b, term(1, 2.0));
  P& self = a;
  a = self;
  EXPECT_EQ(a, term(1, 1.0));
}

TEST(PolynomThreads, TwoThreadsAllocateAtOnce) {
  auto work = [](int seed, double* out) {
    std::mt19937 rng(seed);
    double total = 0;
    for (int i = 0; i < 2000; ++i) {
      P a = randomPolynom(rng, 6), b = randomPolynom(rng, 6);
      P c = a * b;
      c += a;
      total += evalByHand(c, 0.5, -0.25, 0.75) -
               (evalByHand(a, 0.5, -0.25, 0.75) * evalByHand(b, 0.5, -0.25, 0.75) +
                evalByHand(a, 0.5, -0.25, 0.75));
    }
    *out = total;
  };
  double r1 = 1, r2 = 1;
  std::thread t1(work, 1, &r1), t2(work, 2, &r2);
  t1.join();
  t2.join();
  EXPECT_NEAR(r1, 0.0, 1e-6);
  EXPECT_NEAR(r2, 0.0, 1e-6);
}

using PolynomDeathTest = ::testing::Test;

TEST(PolynomDeathTest, OrderAndAbsoluteValueStop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  P a(1.0), b(2.0);
  EXPECT_DEATH(fabs(a), "Assertion `0' failed");
  EXPECT_DEATH((void)(a < b), "Assertion `0' failed");
  EXPECT_DEATH((void)(a > b), "Assertion `0' failed");
  EXPECT_DEATH(a / b, "Assertion `0' failed");
}
