#include "Iteration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "BinaryIO.h"
#include "FullMatrix.h"
#include "StructuredGrids.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"

using zolt::test::fillRandom;

namespace {

// Random sparse SPD matrix: a random symmetric pattern made diagonally
// dominant.
std::unique_ptr<PackedMatrix<double>> randomSpd(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<std::vector<double>> a(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (rng() % 4 == 0) a[i][j] = a[j][i] = u(rng);
  SparseMatrix<double> s(n, n);
  for (int i = 0; i < n; ++i) {
    double sum = 0;
    for (int j = 0; j < n; ++j) sum += std::fabs(a[i][j]);
    a[i][i] = sum + 0.5 + std::fabs(u(rng));
    for (int j = 0; j < n; ++j) s.setElem(i, j, a[i][j]);
  }
  return std::make_unique<PackedMatrix<double>>(s);
}

// Dense Gaussian elimination with partial pivoting: the reference solve.
std::vector<double> denseSolve(const Matrix<double>& A, const Vector<double>& b) {
  const int n = A.nRow;
  std::vector<std::vector<double>> m(n, std::vector<double>(n + 1));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) m[i][j] = A(i, j);
    m[i][n] = b[i];
  }
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(m[i][k]) > std::fabs(m[p][k])) p = i;
    std::swap(m[k], m[p]);
    for (int i = k + 1; i < n; ++i) {
      double f = m[i][k] / m[k][k];
      for (int j = k; j <= n; ++j) m[i][j] -= f * m[k][j];
    }
  }
  std::vector<double> x(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = m[i][n];
    for (int j = i + 1; j < n; ++j) s -= m[i][j] * x[j];
    x[i] = s / m[i][i];
  }
  return x;
}

double residualSqr(const Matrix<double>& A, const Vector<double>& x, const Vector<double>& b) {
  Vector<double> y(b.n);
  A.mult(x, y);
  double s = 0;
  for (int i = 0; i < b.n; ++i) s += (b[i] - y[i]) * (b[i] - y[i]);
  return s;
}

// Counts the sweeps a solver asks for.
class CountingPacked : public PackedMatrix<double> {
 public:
  using PackedMatrix<double>::PackedMatrix;
  mutable int sweeps = 0;
  void gaussSeidelStep(Vector<double>& x, const Vector<double>& b, const double& omega,
                       double& resSqr) const override {
    ++sweeps;
    PackedMatrix<double>::gaussSeidelStep(x, b, omega, resSqr);
  }
};

}  // namespace

TEST(CGPreDiag, AgreesWithDenseSolve) {
  for (unsigned seed : {1u, 2u, 3u}) {
    auto A = randomSpd(60, seed);
    Vector<double> b(60), x(60);
    fillRandom(b, seed + 10);
    CGPreDiag<double> cg(*A, b, x, 200, 1e-24);
    cg.absolute = true;
    cg.solve();
    auto ref = denseSolve(*A, b);
    for (int i = 0; i < 60; ++i) EXPECT_NEAR(x[i], ref[i], 1e-9);
  }
}

TEST(CGPreDiag, InverseDiagonalThreshold) {
  SparseMatrix<double> s(3, 3);
  s.setElem(0, 0, 1e-4);
  s.setElem(1, 1, 0.99e-4);
  s.setElem(2, 2, 4.0);
  PackedMatrix<double> A(s);
  Vector<double> b(3), x(3);
  CGPreDiag<double> cg(A, b, x, 1, 1e-4);
  EXPECT_DOUBLE_EQ(cg.invDiag->data[0], 1e4);
  EXPECT_EQ(cg.invDiag->data[1], 1.0);
  EXPECT_EQ(cg.invDiag->data[2], 0.25);
  EXPECT_FALSE(cg.absolute);
  EXPECT_EQ(cg.maxAbsA, 4.0);
}

TEST(CGPreDiag, StopsBeforeUpdatingWhenStartIsGoodEnough) {
  auto A = randomSpd(20, 5);
  Vector<double> b(20), x(20);
  fillRandom(x, 6);
  A->mult(x, b);
  b[3] += 1e-3;  // r.r = 1e-6 < 1e-4
  std::vector<double> before(x.data, x.data + 20);
  CGPreDiag<double> cg(*A, b, x, 40, 1e-4);
  cg.absolute = true;
  cg.solve();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(x[i], before[i]);
}

TEST(CGPreDiag, ZeroIterationsLeaveXUntouched) {
  auto A = randomSpd(20, 7);
  Vector<double> b(20), x(20);
  fillRandom(b, 8);
  CGPreDiag<double> cg(*A, b, x, 0, 1e-4);
  cg.solve();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(x[i], 0.0);
  // p = invDiag .* r was still formed.
  for (int i = 0; i < 20; ++i) EXPECT_DOUBLE_EQ(cg.p->data[i], b[i] / (*A)(i, i));
}

TEST(CGPreDiag, RelativeRuleHasAFloor) {
  auto A = randomSpd(10, 9);
  Vector<double> b(10), x(10);
  CGPreDiag<double> cg(*A, b, x, 10, 1e-6);
  cg.solve();  // b = 0, x = 0: rr = 0 < 1e-12, nothing happens
  for (int i = 0; i < 10; ++i) EXPECT_EQ(x[i], 0.0);
}

TEST(GaussSeidel, ConvergesAndNeverSweepsMoreThanMaxIter) {
  SparseMatrix<double> s(30, 30);
  for (int i = 0; i < 30; ++i) {
    s.setElem(i, i, 4.0);
    if (i > 0) s.setElem(i, i - 1, -1.0);
    if (i < 29) s.setElem(i, i + 1, -1.0);
  }
  CountingPacked A(s);
  Vector<double> b(30), x(30);
  fillRandom(b, 3);
  GaussSeidel<double> gs(A, b, x, 10, 0.0, 1.0);
  gs.absolute = true;  // eps 0: never stops early
  double before = residualSqr(A, x, b);
  gs.solve();
  EXPECT_EQ(A.sweeps, 10);
  EXPECT_LT(residualSqr(A, x, b), 1e-6 * before);

  GaussSeidel<double> loose(A, b, x, 10, 1.0, 1.0);
  loose.absolute = true;
  A.sweeps = 0;
  loose.solve();  // already below 1.0
  EXPECT_EQ(A.sweeps, 0);

  GaussSeidel<double> none(A, b, x, 0, 0.0, 1.7);
  none.solve();
  EXPECT_EQ(A.sweeps, 0);
}

TEST(Invert, AgreesWithDenseSolveAndWritesItsInverse) {
  auto A = randomSpd(25, 11);
  Vector<double> b(25), x(25);
  fillRandom(b, 12);
  testing::internal::CaptureStdout();
  Invert<double> inv(*A, b, x);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "... Inverting Matrix ... \n");
  inv.solve();
  auto ref = denseSolve(*A, b);
  for (int i = 0; i < 25; ++i) EXPECT_NEAR(x[i], ref[i], 1e-12);

  std::stringstream record;
  inv.writeToFile(record);
  EXPECT_EQ(record.str().size(), 9u + 8u * 25 * 25);

  // An inverse read back solves without inverting again.
  Vector<double> x2(25);
  auto* readBack = new FullMatrix<double>(record);
  ASSERT_FALSE(record.fail());
  testing::internal::CaptureStdout();
  Invert<double> cached(*A, b, x2, readBack);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  cached.solve();
  for (int i = 0; i < 25; ++i) EXPECT_EQ(x2[i], x[i]);
}

TEST(Iteration, OnlyInvertWritesARecord) {
  auto A = randomSpd(5, 13);
  Vector<double> b(5), x(5);
  std::stringstream s;
  CGPreDiag<double>(*A, b, x, 1, 1e-4).writeToFile(s);
  GaussSeidel<double>(*A, b, x, 1, 1e-4, 1.7).writeToFile(s);
  EXPECT_EQ(s.str().size(), 0u);
}

TEST(CGPreMgrid, OneCallMakesAtMostOneStep) {
  using namespace zolt::test;
  auto A = laplacePacked(3);
  auto R = restrictions(3, 2, 1);
  Matrix<double>* r[] = {R[0].get()};
  Vector<double> b(A->nRow), x(A->nRow);
  fillRandom(b, 21);
  CGPreMgrid<double> cg(*A, b, x, 5, 1e-6);
  testing::internal::CaptureStdout();
  cg.setupMultigrid(r, 2);
  testing::internal::GetCapturedStdout();
  cg.solve();
  // x = alpha p after the first call, with p = z from one V-cycle on b.
  double alpha = 0;
  for (int i = 0; i < x.n; ++i)
    if (std::fabs(cg.p->data[i]) > 1e-12) {
      alpha = x[i] / cg.p->data[i];
      break;
    }
  for (int i = 0; i < x.n; ++i) EXPECT_NEAR(x[i], alpha * cg.p->data[i], 1e-12);
}
