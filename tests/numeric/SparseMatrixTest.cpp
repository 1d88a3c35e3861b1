#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <streambuf>
#include <vector>

#include "MatrixTestDoubles.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"

using testdoubles::Call;
using testdoubles::Dense;
using testdoubles::P;
using testdoubles::Recorder;

namespace {

// Random r x c sparse matrix filled through addElem in shuffled order, so
// that rows are not sorted by column; `dense` receives the same values.
SparseMatrix<double>* randomSparse(std::mt19937& rng, int r, int c, double zeroShare,
                                   std::vector<double>& dense) {
  dense = testdoubles::randomValues(rng, r, c, zeroShare);
  std::vector<int> order(static_cast<size_t>(r) * c);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  auto* S = new SparseMatrix<double>(r, c);
  for (int k : order) S->addElem(k / c, k % c, dense[k]);
  return S;
}

SparseMatrix<P>* randomPolySparse(std::mt19937& rng, int r, int c) {
  auto* S = new SparseMatrix<P>(r, c);
  for (int i = 0; i < r; ++i)
    for (int j = c - 1; j >= 0; --j) S->setElem(i, j, testdoubles::randomPolynom(rng, 0.4));
  return S;
}

Dense<P> randomPolyDense(std::mt19937& rng, int r, int c) {
  Dense<P> D(r, c);
  for (auto& p : D.a) p = testdoubles::randomPolynom(rng, 0.4);
  return D;
}

void fill(Matrix<double>& M, double v) {
  for (int i = 0; i < M.nRow; ++i)
    for (int j = 0; j < M.nCol; ++j) M.setElem(i, j, v);
}

void expectCalls(const std::vector<Call>& got, const std::vector<Call>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].kind, want[k].kind) << k;
    EXPECT_EQ(got[k].i, want[k].i) << k;
    EXPECT_EQ(got[k].j, want[k].j) << k;
    EXPECT_EQ(got[k].v, want[k].v) << k;
  }
}

// Forwards to another buffer and marks each line, so that a death test can
// tell standard output from standard error in the child's stderr.
class MarkedBuf : public std::streambuf {
 public:
  MarkedBuf(std::streambuf* dest, const char* mark) : dest_(dest), mark_(mark) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (lineStart_)
      for (const char* m = mark_; *m; ++m) dest_->sputc(*m);
    lineStart_ = c == '\n';
    return dest_->sputc(static_cast<char>(c));
  }
  int sync() override { return dest_->pubsync(); }

 private:
  std::streambuf* dest_;
  const char* mark_;
  bool lineStart_ = true;
};

const int kR = 5, kC = 7, kM = 4;

}  // namespace

// ------------------------------------------------------------- element access

TEST(SparseMatrixElements, NewMatrixReadsZeroAndMultZeroesRows) {
  SparseMatrix<double> A(3, 4);
  EXPECT_EQ(A.nRow, 3);
  EXPECT_EQ(A.nCol, 4);
  EXPECT_FALSE(A.symmetric);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(A(i, j), 0.0);
  Vector<double> x(4), y(5);
  for (int i = 0; i < 5; ++i) y[i] = 9.0;
  A.mult(x, y);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(y[i], 0.0);
  EXPECT_EQ(y[3], 9.0);  // only the first nRow entries are written
  EXPECT_EQ(y[4], 9.0);
}

TEST(SparseMatrixElements, ZeroNegativeZeroAndNaNAreNotStored) {
  SparseMatrix<double> A(2, 2);
  A.setElem(0, 0, 0.0);
  A.setElem(0, 1, -0.0);
  A.setElem(1, 0, std::nan(""));
  A.addElem(1, 1, 0.0);
  A.addElem(1, 1, -0.0);
  A.addElem(0, 0, std::nan(""));
  EXPECT_TRUE(A.rows[0].empty());
  EXPECT_TRUE(A.rows[1].empty());
}

TEST(SparseMatrixElements, RowsKeepAppendOrder) {
  SparseMatrix<double> A(1, 5);
  A.setElem(0, 4, 1.0);
  A.addElem(0, 1, 2.0);
  A.setElem(0, 3, 3.0);
  A.addElem(0, 4, 0.5);  // found: no new entry
  ASSERT_EQ(A.rows[0].size(), 3u);
  EXPECT_EQ(A.rows[0][0].col, 4);
  EXPECT_EQ(A.rows[0][0].val, 1.5);
  EXPECT_EQ(A.rows[0][1].col, 1);
  EXPECT_EQ(A.rows[0][2].col, 3);
  EXPECT_EQ(A(0, 3), 3.0);
  EXPECT_EQ(A(0, 0), 0.0);
}

TEST(SparseMatrixElements, SetElemAppendsDuplicatesThatReadsIgnore) {
  SparseMatrix<double> A(2, 2);
  A.setElem(1, 0, 1.0);
  A.setElem(1, 0, 5.0);  // kept on purpose: setElem does not search
  ASSERT_EQ(A.rows[1].size(), 2u);
  EXPECT_EQ(A(1, 0), 1.0);  // the older entry is reached first
  A.addElem(1, 0, 2.0);
  EXPECT_EQ(A.rows[1][0].val, 3.0);
  EXPECT_EQ(A.rows[1][1].val, 5.0);
  SparseMatrix<double> D(2, 2);
  A.copyTo(D);  // appended as they come, duplicate included
  ASSERT_EQ(D.rows[1].size(), 2u);
  EXPECT_EQ(D.rows[1][0].val, 3.0);
  EXPECT_EQ(D.rows[1][1].val, 5.0);
}

TEST(SparseMatrixElements, CancelledEntryStaysButIsNotCopied) {
  SparseMatrix<double> A(2, 3);
  A.addElem(1, 2, 2.0);
  A.addElem(1, 2, -2.0);
  A.setElem(0, 1, 4.0);
  ASSERT_EQ(A.rows[1].size(), 1u);
  EXPECT_EQ(A.rows[1][0].val, 0.0);
  SparseMatrix<double> D(2, 3);
  A.copyTo(D);
  EXPECT_TRUE(D.rows[1].empty());
  EXPECT_EQ(D(0, 1), 4.0);
  int visits = 0;
  A.forEachValue([](double*, void* n) { ++*static_cast<int*>(n); }, &visits);
  EXPECT_EQ(visits, 2);
}

TEST(SparseMatrixElements, CopyToDoesNotClearDestination) {
  SparseMatrix<double> A(2, 3);
  A.setElem(1, 2, 7.0);
  A.setElem(0, 0, -1.0);
  Recorder D(3, 4);  // larger than the source
  D.a[11] = 3.0;
  A.copyTo(D);
  expectCalls(D.calls, {{Call::Set, 0, 0, -1.0}, {Call::Set, 1, 2, 7.0}});
  EXPECT_EQ(D.a[11], 3.0);
}

TEST(SparseMatrixElements, ClearEmptiesRowsAndKeepsShape) {
  SparseMatrix<double> A(3, 2);
  A.symmetric = true;
  A.setElem(0, 1, 1.0);
  A.setElem(2, 0, 2.0);
  A.clear();
  EXPECT_EQ(A.nRow, 3);
  EXPECT_EQ(A.nCol, 2);
  EXPECT_TRUE(A.symmetric);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(A.rows[i].empty());
  A.setElem(0, 1, 5.0);
  ASSERT_EQ(A.rows[0].size(), 1u);
  EXPECT_EQ(A(0, 1), 5.0);
}

TEST(SparseMatrixElements, ScaleAndForEachValueReachEveryStoredValue) {
  SparseMatrix<double> A(2, 2);
  A.setElem(0, 1, 2.0);
  A.setElem(1, 0, -3.0);
  A.scale(1.5);
  EXPECT_EQ(A(0, 1), 3.0);
  EXPECT_EQ(A(1, 0), -4.5);
  double factor = 2.0;
  A.forEachValue([](double* v, void* f) { *v *= *static_cast<double*>(f); }, &factor);
  EXPECT_EQ(A(0, 1), 6.0);
  EXPECT_EQ(A(1, 0), -9.0);
  A.scale(0.0);  // values become zero, entries stay
  EXPECT_EQ(A.rows[0].size(), 1u);
  EXPECT_EQ(A.rows[1].size(), 1u);
  EXPECT_EQ(A(1, 0), 0.0);
}

TEST(SparseMatrixElements, WriteToFileWritesNothing) {
  SparseMatrix<double> A(2, 2);
  A.setElem(0, 0, 1.0);
  std::ostringstream os;
  A.writeToFile(os);
  EXPECT_TRUE(os.good());
  EXPECT_EQ(os.str(), "");
  EXPECT_EQ(os.tellp(), std::streampos(0));
}

TEST(SparseMatrixElements, PolynomialZeroIsNotStored) {
  SparseMatrix<P> A(2, 2);
  A.setElem(0, 0, P(0.0));
  A.addElem(0, 1, P());
  EXPECT_TRUE(A.rows[0].empty());
  EXPECT_TRUE(A(1, 1).empty());
  P x;
  x.terms[1] = 2.0;  // 2x
  A.addElem(1, 0, x);
  A.addElem(1, 0, -x);  // terms vanish, the entry stays
  ASSERT_EQ(A.rows[1].size(), 1u);
  EXPECT_TRUE(A.rows[1][0].val.empty());
  A.setElem(0, 1, x);
  A.scale(P(3.0));
  EXPECT_EQ(A(0, 1).eval(0.5, 0, 0), 3.0);
}

// ------------------------------------------------------------- products

TEST(SparseMatrixProducts, MultMatchesDenseReference) {
  std::mt19937 rng(21);
  std::vector<double> a;
  std::unique_ptr<SparseMatrix<double>> A(randomSparse(rng, kR, kC, 0.5, a));
  Vector<double> x(kC), y(kR);
  for (int k = 0; k < kC; ++k) x[k] = std::uniform_real_distribution<double>(-2, 2)(rng);
  for (int i = 0; i < kR; ++i) y[i] = 123.0;
  A->mult(x, y);
  std::vector<double> xs(x.data, x.data + kC);
  testdoubles::expectNear(std::vector<double>(y.data, y.data + kR),
                          testdoubles::denseProduct(a, xs, kR, kC, 1), 1e-14);
}

TEST(SparseMatrixProducts, MultTransposedZeroesAllOfY) {
  std::mt19937 rng(22);
  std::vector<double> a;
  std::unique_ptr<SparseMatrix<double>> A(randomSparse(rng, kR, kC, 0.5, a));
  Vector<double> x(kR), y(kC + 3);  // y longer than nCol
  for (int k = 0; k < kR; ++k) x[k] = std::uniform_real_distribution<double>(-2, 2)(rng);
  for (int j = 0; j < y.n; ++j) y[j] = 77.0;
  A->multTransposed(x, y);
  std::vector<double> xs(x.data, x.data + kR);
  testdoubles::expectNear(
      std::vector<double>(y.data, y.data + kC),
      testdoubles::denseProduct(testdoubles::denseTranspose(a, kR, kC), xs, kC, kR, 1), 1e-14);
  for (int j = kC; j < y.n; ++j) EXPECT_EQ(y[j], 0.0);
}

TEST(SparseMatrixProducts, MatrixProductsMatchDenseReference) {
  using testdoubles::denseProduct;
  using testdoubles::denseTranspose;
  using testdoubles::readAll;
  std::mt19937 rng(23);
  for (int trial = 0; trial < 6; ++trial) {
    std::vector<double> a, bl, blt, br, brt;
    std::unique_ptr<SparseMatrix<double>> A(randomSparse(rng, kR, kC, 0.5, a));
    // B both as a dense double and as a sparse matrix.
    std::unique_ptr<SparseMatrix<double>> Bl(randomSparse(rng, kM, kR, 0.4, bl));
    std::unique_ptr<SparseMatrix<double>> Blt(randomSparse(rng, kR, kM, 0.4, blt));
    std::unique_ptr<SparseMatrix<double>> Br(randomSparse(rng, kC, kM, 0.4, br));
    std::unique_ptr<SparseMatrix<double>> Brt(randomSparse(rng, kM, kC, 0.4, brt));
    const bool sparseB = trial % 2;
    Dense<double> DBl(kM, kR, bl), DBlt(kR, kM, blt), DBr(kC, kM, br), DBrt(kM, kC, brt);
    const Matrix<double>& Ml = sparseB ? *Bl : static_cast<const Matrix<double>&>(DBl);
    const Matrix<double>& Mlt = sparseB ? *Blt : static_cast<const Matrix<double>&>(DBlt);
    const Matrix<double>& Mr = sparseB ? *Br : static_cast<const Matrix<double>&>(DBr);
    const Matrix<double>& Mrt = sparseB ? *Brt : static_cast<const Matrix<double>&>(DBrt);

    // Stale values in C: the left products clear it, the right ones set
    // every element.
    Dense<double> C1(kM, kC), C2(kM, kC), C3(kR, kM), C4(kR, kM);
    for (Dense<double>* C : {&C1, &C2, &C3, &C4}) fill(*C, 42.0);
    A->mult_m_left(Ml, C1);
    A->mult_m_transpose_left(Mlt, C2);
    A->mult_m_right(Mr, C3);
    A->mult_m_transpose_right(Mrt, C4);
    testdoubles::expectNear(C1.a, denseProduct(bl, a, kM, kR, kC), 1e-14);
    testdoubles::expectNear(C2.a, denseProduct(denseTranspose(blt, kR, kM), a, kM, kR, kC), 1e-14);
    testdoubles::expectNear(C3.a, denseProduct(a, br, kR, kC, kM), 1e-14);
    testdoubles::expectNear(C4.a, denseProduct(a, denseTranspose(brt, kM, kC), kR, kC, kM), 1e-14);

    // The same into sparse destinations, which keep no zero.
    SparseMatrix<double> S1(kM, kC), S2(kM, kC), S3(kR, kM), S4(kR, kM);
    S1.setElem(0, 0, 42.0);
    S2.setElem(0, 0, 42.0);
    A->mult_m_left(Ml, S1);
    A->mult_m_transpose_left(Mlt, S2);
    A->mult_m_right(Mr, S3);
    A->mult_m_transpose_right(Mrt, S4);
    testdoubles::expectNear(readAll(S1), C1.a, 0.0);
    testdoubles::expectNear(readAll(S2), C2.a, 0.0);
    testdoubles::expectNear(readAll(S3), C3.a, 0.0);
    testdoubles::expectNear(readAll(S4), C4.a, 0.0);
    for (SparseMatrix<double>* S : {&S3, &S4})
      for (int i = 0; i < S->nRow; ++i)
        for (const auto& e : S->rows[i]) EXPECT_TRUE(zolt::isNonZero(e.val));
  }
}

TEST(SparseMatrixProducts, PolynomialProductsAgreeWhenEvaluated) {
  using testdoubles::denseProduct;
  using testdoubles::denseTranspose;
  using testdoubles::evalAll;
  std::mt19937 rng(24);
  std::unique_ptr<SparseMatrix<P>> A(randomPolySparse(rng, kR, kC));
  std::unique_ptr<SparseMatrix<P>> Bl(randomPolySparse(rng, kM, kR));
  Dense<P> Blt = randomPolyDense(rng, kR, kM), Br = randomPolyDense(rng, kC, kM);
  std::unique_ptr<SparseMatrix<P>> Brt(randomPolySparse(rng, kM, kC));
  Dense<P> C1(kM, kC), C2(kM, kC), C3(kR, kM), C4(kR, kM);
  A->mult_m_left(*Bl, C1);
  A->mult_m_transpose_left(Blt, C2);
  A->mult_m_right(Br, C3);
  A->mult_m_transpose_right(*Brt, C4);
  SparseMatrix<P> S1(kM, kC);
  A->mult_m_left(*Bl, S1);
  Vector<P> x(kC), y(kR), xt(kR), yt(kC);
  for (int k = 0; k < kC; ++k) x[k] = testdoubles::randomPolynom(rng, 0.2);
  for (int k = 0; k < kR; ++k) xt[k] = testdoubles::randomPolynom(rng, 0.2);
  A->mult(x, y);
  A->multTransposed(xt, yt);

  std::uniform_real_distribution<double> u(-1.2, 1.2);
  for (int t = 0; t < 6; ++t) {
    const double px = u(rng), py = u(rng), pz = u(rng);
    auto a = evalAll(*A, px, py, pz);
    auto bl = evalAll(*Bl, px, py, pz), blt = evalAll(Blt, px, py, pz);
    auto br = evalAll(Br, px, py, pz), brt = evalAll(*Brt, px, py, pz);
    const double tol = 1e-11;
    testdoubles::expectNear(evalAll(C1, px, py, pz), denseProduct(bl, a, kM, kR, kC), tol);
    testdoubles::expectNear(evalAll(S1, px, py, pz), denseProduct(bl, a, kM, kR, kC), tol);
    testdoubles::expectNear(evalAll(C2, px, py, pz),
                            denseProduct(denseTranspose(blt, kR, kM), a, kM, kR, kC), tol);
    testdoubles::expectNear(evalAll(C3, px, py, pz), denseProduct(a, br, kR, kC, kM), tol);
    testdoubles::expectNear(evalAll(C4, px, py, pz),
                            denseProduct(a, denseTranspose(brt, kM, kC), kR, kC, kM), tol);
    std::vector<double> xv, yv, xtv, ytv;
    for (int k = 0; k < kC; ++k) xv.push_back(x[k].eval(px, py, pz));
    for (int k = 0; k < kR; ++k) yv.push_back(y[k].eval(px, py, pz));
    for (int k = 0; k < kR; ++k) xtv.push_back(xt[k].eval(px, py, pz));
    for (int k = 0; k < kC; ++k) ytv.push_back(yt[k].eval(px, py, pz));
    testdoubles::expectNear(yv, denseProduct(a, xv, kR, kC, 1), tol);
    testdoubles::expectNear(ytv, denseProduct(denseTranspose(a, kR, kC), xtv, kC, kR, 1), tol);
  }
}

// A = [[0, 2], [3, 0]] stored as (0,1) = 2 and (1,0) = 3; B = [[1, 0], [0, 4]].
TEST(SparseMatrixProducts, LeftProductHandsZeroProductsToAddElem) {
  SparseMatrix<double> A(2, 2);
  A.setElem(0, 1, 2.0);
  A.setElem(1, 0, 3.0);
  Dense<double> B(2, 2, {1, 0, 0, 4});
  Recorder C(2, 2);
  A.mult_m_left(B, C);
  expectCalls(C.calls, {{Call::Clear, -1, -1, 0.0},
                        {Call::Add, 0, 1, 2.0},
                        {Call::Add, 1, 1, 0.0},
                        {Call::Add, 0, 0, 0.0},
                        {Call::Add, 1, 0, 12.0}});
}

TEST(SparseMatrixProducts, TransposeLeftProductSkipsZeroFactors) {
  SparseMatrix<double> A(2, 2);
  A.setElem(0, 1, 2.0);
  A.setElem(1, 0, 3.0);
  Dense<double> B(2, 2, {1, 0, 0, 4});
  Recorder C(2, 2);
  A.mult_m_transpose_left(B, C);
  expectCalls(C.calls,
              {{Call::Clear, -1, -1, 0.0}, {Call::Add, 0, 1, 2.0}, {Call::Add, 1, 0, 12.0}});
}

TEST(SparseMatrixProducts, RightProductsSetEveryElementColumnByColumn) {
  SparseMatrix<double> A(2, 2);
  A.setElem(0, 1, 2.0);
  A.setElem(1, 0, 3.0);
  // A B with B = [[1, 0, 5], [0, 0, 1]]: column 1 of the product is zero.
  Dense<double> B(2, 3, {1, 0, 5, 0, 0, 1});
  Recorder C(2, 3);
  A.mult_m_right(B, C);
  expectCalls(C.calls, {{Call::Set, 0, 0, 0.0},
                        {Call::Set, 1, 0, 3.0},
                        {Call::Set, 0, 1, 0.0},
                        {Call::Set, 1, 1, 0.0},
                        {Call::Set, 0, 2, 2.0},
                        {Call::Set, 1, 2, 15.0}});
  Dense<double> Bt(3, 2, {1, 0, 0, 0, 5, 1});  // the transpose of B
  Recorder Ct(2, 3);
  A.mult_m_transpose_right(Bt, Ct);
  expectCalls(Ct.calls, C.calls);
}

// ------------------------------------------------------------- stops

using SparseMatrixDeathTest = ::testing::Test;

TEST(SparseMatrixDeathTest, GalerkinProductPrintsAndStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SparseMatrix<double> A(2, 2), C(2, 2);
  PackedMatrix<double> Pm;
  EXPECT_DEATH(
      {
        MarkedBuf marked(std::cerr.rdbuf(), "stdout: ");
        std::cout.rdbuf(&marked);
        A.mult_m_left_m_transpose_right(Pm, C, nullptr);
      },
      "stdout: \\[SparseMatrix, mult_m_left_m_transpose_right\\] Error: not implemented!\n"
      ".*Assertion `0' failed");
}

TEST(SparseMatrixDeathTest, SolverKernelsAreNotSupported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SparseMatrix<double> A(2, 2);
  Vector<double> x(2), b(2), t(2);
  double r = 0, om = 1.0;
  EXPECT_DEATH(A.gaussSeidelStep(x, b, om, r), "Assertion `0' failed");
  EXPECT_DEATH(A.residuum(x, b, t), "Assertion `0' failed");
  EXPECT_DEATH(A.scaleDiagLeft(x), "Assertion `0' failed");
}

TEST(SparseMatrixDeathTest, PolynomialMaxAbsStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SparseMatrix<P> A(2, 2);
  A.setElem(1, 1, P(2.0));
  EXPECT_DEATH((void)A.maxAbs(), "Assertion `0' failed");
  Vector<P> y(2);
  EXPECT_DEATH(A.absColumnSums(y), "Assertion `0' failed");
  EXPECT_DEATH(A.inv(), "Assertion `0' failed");
}
