#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "Matrix.h"
#include "MatrixTestDoubles.h"
#include "PackedMatrix.h"
#include "RecordBytes.h"
#include "SparseMatrix.h"

using testdoubles::Call;
using testdoubles::Dense;
using testdoubles::P;
using testdoubles::Recorder;

using zolt::test::PipeBuf;
using zolt::test::bytesOf;

namespace {

const char* const kGuardStop = "Assertion `0' failed\\.";

std::string mTestOutput(const Matrix<double>& m) {
  testing::internal::CaptureStdout();
  m.mTest();
  return testing::internal::GetCapturedStdout();
}

std::string failLine(const Matrix<double>& m) {
  std::ostringstream os;
  os << "M-Test failed (Matrix = " << static_cast<const void*>(&m) << ")!\n";
  return os.str();
}

// Strictly diagonally dominant random matrix: well conditioned.
std::vector<double> wellConditioned(std::mt19937& rng, int n) {
  std::vector<double> a = testdoubles::randomValues(rng, n, n, 0.3);
  for (int i = 0; i < n; ++i) a[static_cast<size_t>(i) * n + i] = (i % 2 ? -1.0 : 1.0) * (n + 1.0);
  return a;
}

void expectIdentity(const std::vector<double>& a, int n, double tol) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(a[static_cast<size_t>(i) * n + j], i == j ? 1.0 : 0.0, tol) << i << "," << j;
}

}  // namespace

// ------------------------------------------------------------- Vector

TEST(VectorForms, DefaultIsEmptyAndNotOwning) {
  Vector<double> v;
  EXPECT_EQ(v.n, 0);
  EXPECT_EQ(v.data, nullptr);
  EXPECT_FALSE(v.owns);
}

TEST(VectorForms, SizedIsZeroedAndOwned) {
  Vector<double> v(5);
  EXPECT_EQ(v.n, 5);
  EXPECT_TRUE(v.owns);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(v[i], 0.0);
  Vector<P> p(3);
  EXPECT_TRUE(p.owns);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(p[i].empty());
}

TEST(VectorForms, ViewIsNotFreed) {
  // Stack storage: freeing it would crash in every build.
  double storage[3] = {1.0, 2.0, 3.0};
  {
    Vector<double> v;
    v.view(storage, 3);
    EXPECT_FALSE(v.owns);
    EXPECT_EQ(v.n, 3);
    v[1] = 7.0;
  }
  {
    Vector<double> v;  // a view built field by field, as the multigrid does
    v.n = 3;
    v.data = storage;
    v.owns = false;
  }
  EXPECT_EQ(storage[1], 7.0);
}

TEST(VectorForms, RepointingFreesOwnedArray) {
  // The leak checker of the sanitizer build catches a missed free.
  double storage[2] = {4.0, 5.0};
  Vector<double> v(10);
  v.view(storage, 2);
  EXPECT_EQ(v.data, storage);
  EXPECT_EQ(v.n, 2);
  EXPECT_FALSE(v.owns);
  v.resize(4);
  EXPECT_TRUE(v.owns);
  EXPECT_EQ(storage[0], 4.0);
}

TEST(VectorRecord, ThreeEntriesAreTheHandWritten28Bytes) {
  Vector<double> v(3);
  v[0] = 1.0;
  v[1] = 2.0;
  v[2] = 3.0;
  std::ostringstream os;
  v.writeToFile(os);
  std::string want = bytesOf({3, 0, 0, 0,                      //
                              0, 0, 0, 0, 0, 0, 0xF0, 0x3F,    // 1.0
                              0, 0, 0, 0, 0, 0, 0x00, 0x40,    // 2.0
                              0, 0, 0, 0, 0, 0, 0x08, 0x40});  // 3.0
  ASSERT_EQ(os.str().size(), 28u);
  EXPECT_EQ(os.str(), want);
}

TEST(VectorRecord, EmptyVectorIsFourZeroBytes) {
  Vector<double> v;
  std::ostringstream os;
  v.writeToFile(os);
  EXPECT_EQ(os.str(), bytesOf({0, 0, 0, 0}));
  std::istringstream is(os.str());
  Vector<double> r(is);
  EXPECT_TRUE(is.good());
  EXPECT_EQ(r.n, 0);
}

TEST(VectorRecord, RoundTripLeavesStreamJustAfterRecord) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1e6, 1e6);
  Vector<double> v(17);
  for (int i = 0; i < v.n; ++i) v[i] = u(rng);
  v[3] = -0.0;
  v[4] = std::numeric_limits<double>::infinity();
  std::stringstream s;
  v.writeToFile(s);
  s << "TAIL";
  Vector<double> r(s);
  ASSERT_FALSE(s.fail());
  EXPECT_EQ(s.tellg(), std::streampos(4 + 8 * 17));
  ASSERT_EQ(r.n, v.n);
  EXPECT_TRUE(r.owns);
  EXPECT_EQ(std::memcmp(r.data, v.data, sizeof(double) * v.n), 0);
  std::string tail;
  s >> tail;
  EXPECT_EQ(tail, "TAIL");
}

TEST(VectorRecord, EveryTruncationIsRefused) {
  Vector<double> v(3);
  v[0] = 1.0;
  v[1] = 2.0;
  v[2] = 3.0;
  std::ostringstream os;
  v.writeToFile(os);
  const std::string rec = os.str();
  for (size_t len = 0; len < rec.size(); ++len) {
    std::istringstream is(rec.substr(0, len));
    Vector<double> r(is);
    EXPECT_TRUE(is.fail()) << len;
    EXPECT_EQ(r.n, 0) << len;
    EXPECT_EQ(r.data, nullptr) << len;
  }
}

TEST(VectorRecord, NegativeCountIsRefused) {
  std::istringstream is(bytesOf({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(64, '\0'));
  Vector<double> r(is);
  EXPECT_TRUE(is.fail());
  EXPECT_EQ(r.n, 0);
  EXPECT_EQ(r.data, nullptr);
}

TEST(VectorRecord, ReadFromFileReplacesContentsOrEmpties) {
  Vector<double> src(2);
  src[0] = 5.0;
  src[1] = 6.0;
  std::ostringstream os;
  src.writeToFile(os);
  Vector<double> v(7);
  std::istringstream good(os.str());
  EXPECT_TRUE(v.readFromFile(good));
  ASSERT_EQ(v.n, 2);
  EXPECT_EQ(v[1], 6.0);
  std::istringstream bad(os.str().substr(0, 11));
  EXPECT_FALSE(v.readFromFile(bad));
  EXPECT_EQ(v.n, 0);
  EXPECT_EQ(v.data, nullptr);
}

TEST(VectorRecord, UnseekableStreamReadsAndRefusesHugeCounts) {
  Vector<double> src(2);
  src[0] = -1.5;
  src[1] = 8.25;
  std::ostringstream os;
  src.writeToFile(os);
  {
    PipeBuf buf(os.str());
    std::istream is(&buf);
    Vector<double> r(is);
    ASSERT_FALSE(is.fail());
    ASSERT_EQ(r.n, 2);
    EXPECT_EQ(r[0], -1.5);
    EXPECT_EQ(r[1], 8.25);
  }
  {
    // Claims 2^31 - 1 entries but carries one: refused without trusting the
    // count for an allocation.
    PipeBuf buf(bytesOf({0xFF, 0xFF, 0xFF, 0x7F}) + os.str().substr(4, 8));
    std::istream is(&buf);
    Vector<double> r(is);
    EXPECT_TRUE(is.fail());
    EXPECT_EQ(r.n, 0);
  }
}

// ------------------------------------------------------------- guards

using MatrixGuardsDeathTest = ::testing::Test;

TEST(MatrixGuardsDeathTest, SevenSolverKernelsStopOnBaseKinds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Dense<double> A(2, 2);
  Vector<double> x(2), b(2), t(2);
  double r = 0, om = 1.0;
  EXPECT_DEATH(A.scaleDiagLeft(x), kGuardStop);
  EXPECT_DEATH(A.scaleDiagRight(x), kGuardStop);
  EXPECT_DEATH(A.gaussSeidelStep(x, b, om, r), kGuardStop);
  EXPECT_DEATH(A.gaussSeidelBackStep(x, b, om, r), kGuardStop);
  EXPECT_DEATH(A.jacobiStep(x, b, om, t, r), kGuardStop);
  EXPECT_DEATH(A.residuum(x, b, t), kGuardStop);
  EXPECT_DEATH((void)A.residuumSqrSum(x, b), kGuardStop);
}

TEST(MatrixGuardsDeathTest, PolynomialMatricesStopWhereAbsoluteValuesAreNeeded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Dense<P> A(2, 2);  // all zero: even a zero element needs its absolute value
  Vector<P> y(2);
  EXPECT_DEATH((void)A.maxAbs(), kGuardStop);
  EXPECT_DEATH(A.probeSymmetry(), kGuardStop);
  EXPECT_DEATH(A.mTest(), kGuardStop);
  EXPECT_DEATH(A.absColumnSums(y), kGuardStop);
  EXPECT_DEATH(A.inv(), kGuardStop);
}

// ------------------------------------------------------------- addScaled

TEST(MatrixAddScaled, GeneralMatrixMatchesDenseReference) {
  std::mt19937 rng(1);
  const int r = 5, c = 7;
  auto a = testdoubles::randomValues(rng, r, c, 0.3);
  auto b = testdoubles::randomValues(rng, r + 1, c + 2, 0.5);  // B may be larger
  Dense<double> A(r, c, a), B(r + 1, c + 2, b);
  const double s = -1.75;
  A.addScaled(B, s);
  std::vector<double> want(a);
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) want[i * c + j] += b[i * (c + 2) + j] * s;
  testdoubles::expectNear(A.a, want, 0.0);
}

TEST(MatrixAddScaled, ZeroElementsOfGeneralMatrixMakeNoCall) {
  Recorder A(3, 3);
  Dense<double> Z(3, 3, {0.0, -0.0, std::nan(""), 0, 0, 0, 0, 0, 0});
  A.addScaled(Z, 2.0);
  EXPECT_TRUE(A.calls.empty());
  Dense<double> B(3, 3, {0, 0, 1.5, 0, 0, 0, -2.0, 0, 0});
  A.addScaled(B, 2.0);
  ASSERT_EQ(A.calls.size(), 2u);
  EXPECT_EQ(A.calls[0].kind, Call::Add);
  EXPECT_EQ(A.calls[0].i, 0);
  EXPECT_EQ(A.calls[0].j, 2);
  EXPECT_EQ(A.calls[0].v, 3.0);
  EXPECT_EQ(A.calls[1].i, 2);
  EXPECT_EQ(A.calls[1].j, 0);
  EXPECT_EQ(A.calls[1].v, -4.0);
}

TEST(MatrixAddScaled, SparseReceiverMatchesDenseReference) {
  std::mt19937 rng(2);
  const int n = 6;
  auto a = testdoubles::randomValues(rng, n, n, 0.6);
  auto b = testdoubles::randomValues(rng, n, n, 0.6);
  SparseMatrix<double> A(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) A.setElem(i, j, a[i * n + j]);
  Dense<double> B(n, n, b);
  A.addScaled(B, 0.5);
  std::vector<double> want(a);
  for (size_t k = 0; k < want.size(); ++k) want[k] += b[k] * 0.5;
  testdoubles::expectNear(testdoubles::readAll(A), want, 0.0);
}

TEST(MatrixAddScaled, PolynomialsAgreeWhenEvaluated) {
  std::mt19937 rng(3);
  const int r = 3, c = 4;
  Dense<P> A(r, c), B(r, c);
  for (auto& p : A.a) p = testdoubles::randomPolynom(rng, 0.3);
  for (auto& p : B.a) p = testdoubles::randomPolynom(rng, 0.3);
  const P s = testdoubles::randomPolynom(rng, 0.0);
  Dense<P> A0(r, c, A.a);
  A.addScaled(B, s);
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  for (int t = 0; t < 5; ++t) {
    double x = u(rng), y = u(rng), z = u(rng);
    auto a0 = testdoubles::evalAll(A0, x, y, z), bv = testdoubles::evalAll(B, x, y, z);
    const double sv = s.eval(x, y, z);
    for (size_t k = 0; k < a0.size(); ++k) a0[k] += bv[k] * sv;
    testdoubles::expectNear(testdoubles::evalAll(A, x, y, z), a0, 1e-12);
  }
}

namespace {

// Packed B from random values; rows come out sorted by column.
PackedMatrix<double> packedFrom(const std::vector<double>& b, int r, int c) {
  SparseMatrix<double> S(r, c);
  for (int i = 0; i < r; ++i)
    for (int j = c - 1; j >= 0; --j) S.setElem(i, j, b[i * c + j]);
  return PackedMatrix<double>(S);
}

bool listed(const std::vector<int>& l, int k) {
  return std::find(l.begin(), l.end(), k) != l.end();
}

}  // namespace

TEST(MatrixAddScaled, PackedMatrixMatchesDenseReference) {
  std::mt19937 rng(13);
  const int r = 6, c = 5;
  auto a = testdoubles::randomValues(rng, r, c, 0.3);
  auto b = testdoubles::randomValues(rng, r + 2, c, 0.5);  // B may have more rows
  PackedMatrix<double> B = packedFrom(b, r + 2, c);
  Dense<double> A(r, c, a);
  A.addScaled(B, 2.5);
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) a[i * c + j] += 2.5 * b[i * c + j];
  testdoubles::expectNear(A.a, a, 0.0);
}

TEST(MatrixAddScaled, PackedStoredZeroStillMakesACall) {
  SparseMatrix<double> S(2, 2);
  S.setElem(0, 1, 1.0);
  S.setElem(1, 0, 2.0);
  PackedMatrix<double> B(S);
  B.rowStart[0][0].val = 0.0;
  Recorder A(2, 2);
  A.addScaled(B, 3.0);
  ASSERT_EQ(A.calls.size(), 2u);
  EXPECT_EQ(A.calls[0].kind, Call::Add);
  EXPECT_EQ(A.calls[0].i, 0);
  EXPECT_EQ(A.calls[0].j, 1);
  EXPECT_EQ(A.calls[0].v, 0.0);
  EXPECT_EQ(A.calls[1].v, 6.0);
}

TEST(MatrixAddScaledExcept, SkipsListedRowAndColumn) {
  std::vector<double> ones(16, 1.0);
  PackedMatrix<double> B = packedFrom(ones, 4, 4);
  Dense<double> A(4, 4);
  A.addScaledExcept(B, 2.0, {1});
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(A(i, j), i == 1 || j == 1 ? 0.0 : 2.0) << i << "," << j;
}

TEST(MatrixAddScaledExcept, MatchesMembershipReferenceForRandomLists) {
  std::mt19937 rng(14);
  const int n = 10;
  std::bernoulli_distribution pick(0.3);
  for (int t = 0; t < 30; ++t) {
    std::vector<int> ex;
    for (int k = 0; k < n; ++k)
      if (pick(rng)) ex.push_back(k);
    auto a = testdoubles::randomValues(rng, n, n, 0.5);
    auto b = testdoubles::randomValues(rng, n, n, 0.4);
    PackedMatrix<double> B = packedFrom(b, n, n);
    Dense<double> A(n, n, a);
    A.addScaledExcept(B, -0.5, ex);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (!listed(ex, i) && !listed(ex, j)) a[i * n + j] += -0.5 * b[i * n + j];
    testdoubles::expectNear(A.a, a, 0.0);
  }
}

TEST(MatrixAddScaledExcept, EmptyListEqualsAddScaled) {
  std::mt19937 rng(15);
  auto a = testdoubles::randomValues(rng, 5, 5, 0.3);
  auto b = testdoubles::randomValues(rng, 5, 5, 0.3);
  PackedMatrix<double> B = packedFrom(b, 5, 5);
  Dense<double> A1(5, 5, a), A2(5, 5, a);
  A1.addScaled(B, 0.75);
  A2.addScaledExcept(B, 0.75, {});
  EXPECT_EQ(A1.a, A2.a);
}

// ------------------------------------------------------------- addDiag

TEST(MatrixAddDiag, MatchesDenseReference) {
  std::mt19937 rng(4);
  const int n = 5;
  auto a = testdoubles::randomValues(rng, n, n, 0.2);
  Dense<double> A(n, n, a);
  Vector<double> d(n + 2);  // longer than nRow: the tail is not used
  for (int i = 0; i < d.n; ++i) d[i] = i + 0.5;
  A.addDiag(d, -3.0);
  for (int i = 0; i < n; ++i) a[i * n + i] += -3.0 * d[i];
  testdoubles::expectNear(A.a, a, 0.0);
}

TEST(MatrixAddDiag, ExceptSkipsListedIndices) {
  Recorder A(4, 4);
  Vector<double> d(4);
  for (int i = 0; i < 4; ++i) d[i] = 10.0 + i;
  A.addDiagExcept(d, 2.0, {0, 2});
  ASSERT_EQ(A.calls.size(), 2u);
  EXPECT_EQ(A.calls[0].i, 1);
  EXPECT_EQ(A.calls[0].j, 1);
  EXPECT_EQ(A.calls[0].v, 22.0);
  EXPECT_EQ(A.calls[1].i, 3);
  EXPECT_EQ(A.calls[1].j, 3);
  EXPECT_EQ(A.calls[1].v, 26.0);
}

TEST(MatrixAddDiag, ExceptMatchesReferenceForRandomLists) {
  std::mt19937 rng(5);
  const int n = 9;
  std::bernoulli_distribution pick(0.35);
  for (int t = 0; t < 20; ++t) {
    std::vector<int> ex;
    for (int i = 0; i < n + 3; ++i)  // entries beyond nRow are harmless
      if (pick(rng)) ex.push_back(i);
    auto a = testdoubles::randomValues(rng, n, n, 0.5);
    Dense<double> A(n, n, a);
    Vector<double> d(n);
    for (int i = 0; i < n; ++i) d[i] = std::uniform_real_distribution<double>(-1, 1)(rng);
    A.addDiagExcept(d, 1.25, ex);
    for (int i = 0; i < n; ++i)
      if (std::find(ex.begin(), ex.end(), i) == ex.end()) a[i * n + i] += 1.25 * d[i];
    testdoubles::expectNear(A.a, a, 0.0);
  }
}

TEST(MatrixAddDiag, ExceptWithEmptyListEqualsAddDiag) {
  std::mt19937 rng(6);
  auto a = testdoubles::randomValues(rng, 4, 4, 0.0);
  Dense<double> A(4, 4, a), B(4, 4, a);
  Vector<double> d(4);
  for (int i = 0; i < 4; ++i) d[i] = 1.0 / (i + 3);
  A.addDiag(d, 0.7);
  B.addDiagExcept(d, 0.7, {});
  EXPECT_EQ(A.a, B.a);
}

TEST(MatrixAddDiag, PolynomialsAgreeWhenEvaluated) {
  std::mt19937 rng(7);
  const int n = 3;
  Dense<P> A(n, n);
  for (auto& p : A.a) p = testdoubles::randomPolynom(rng, 0.4);
  Dense<P> A0(n, n, A.a);
  Vector<P> d(n);
  for (int i = 0; i < n; ++i) d[i] = testdoubles::randomPolynom(rng, 0.0);
  const P s = testdoubles::randomPolynom(rng, 0.0);
  A.addDiagExcept(d, s, {1});
  const double x = 0.3, y = -0.7, z = 1.1;
  auto want = testdoubles::evalAll(A0, x, y, z);
  for (int i : {0, 2}) want[i * n + i] += s.eval(x, y, z) * d[i].eval(x, y, z);
  testdoubles::expectNear(testdoubles::evalAll(A, x, y, z), want, 1e-12);
}

// ------------------------------------------------- whole-matrix computations

TEST(MatrixMaxAbs, MatchesReferenceAndIsZeroWhenEmpty) {
  std::mt19937 rng(8);
  auto a = testdoubles::randomValues(rng, 4, 6, 0.3);
  a[13] = -3.5;  // the largest magnitude is negative
  Dense<double> A(4, 6, a);
  EXPECT_EQ(A.maxAbs(), 3.5);
  SparseMatrix<double> S(3, 3);
  S.setElem(1, 2, -0.25);
  EXPECT_EQ(S.maxAbs(), 0.25);
  EXPECT_EQ(Dense<double>(0, 5).maxAbs(), 0.0);
  EXPECT_EQ(Dense<double>(5, 0).maxAbs(), 0.0);
  EXPECT_EQ(SparseMatrix<double>(0, 0).maxAbs(), 0.0);
}

TEST(MatrixAbsColumnSums, MatchesReferenceAndLeavesTailAlone) {
  std::mt19937 rng(9);
  const int r = 5, c = 4;
  auto a = testdoubles::randomValues(rng, r, c, 0.3);
  Dense<double> A(r, c, a);
  Vector<double> y(c + 3);
  for (int j = 0; j < y.n; ++j) y[j] = 100.0 + j;  // stale values must be replaced
  A.absColumnSums(y);
  for (int j = 0; j < c; ++j) {
    double s = 0;
    for (int i = 0; i < r; ++i) s += std::fabs(a[i * c + j]);
    EXPECT_DOUBLE_EQ(y[j], s);
  }
  for (int j = c; j < y.n; ++j) EXPECT_EQ(y[j], 100.0 + j);
}

TEST(MatrixProbeSymmetry, AcceptsWithinTolerances) {
  Dense<double> A(2, 2, {3.0, 1.0, 1.00005, 2.0});  // relative difference 5e-5
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  A.probeSymmetry();
  Dense<double> B(2, 2, {0.0, 9e-7, 0.0, 0.0});  // absolute difference below 1e-6
  B.probeSymmetry();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

using MatrixProbeSymmetryDeathTest = ::testing::Test;

TEST(MatrixProbeSymmetryDeathTest, StopsOnAsymmetricPair) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Dense<double> A(2, 2, {3.0, 1.0, 1.0002, 2.0});  // relative difference 2e-4
  EXPECT_DEATH(A.probeSymmetry(), "Assertion `abs/mx < 1e-4' failed\\.");
  Dense<double> B(3, 3, {0, 0, 0, 0, 0, 2e-6, 0, 0, 0});  // beyond 1e-6 against a zero
  EXPECT_DEATH(B.probeSymmetry(), "Assertion `abs/mx < 1e-4' failed\\.");
}

TEST(MatrixMTest, PrintsOneLineOnStandardOutput) {
  EXPECT_EQ(mTestOutput(Dense<double>(0, 3)), "M-Test passed\n");
  EXPECT_EQ(mTestOutput(Dense<double>(2, 2, {1, -1, -1, 1})), "M-Test passed\n");
  Dense<double> I(2, 2, {1, 0, 0, 1});
  EXPECT_EQ(mTestOutput(I), failLine(I));  // once, not once per row
  SparseMatrix<double> S(2, 3);
  S.setElem(1, 2, 0.5);
  EXPECT_EQ(mTestOutput(S), failLine(S));
}

TEST(MatrixMTest, ThresholdIsStrictlyGreaterThan1em6) {
  EXPECT_EQ(mTestOutput(Dense<double>(1, 1, {1e-6})), "M-Test passed\n");
  EXPECT_EQ(mTestOutput(Dense<double>(1, 1, {-1e-6})), "M-Test passed\n");
  Dense<double> above(1, 1, {1.0000001e-6});
  EXPECT_EQ(mTestOutput(above), failLine(above));
  Dense<double> below(1, 1, {-1.0000001e-6});
  EXPECT_EQ(mTestOutput(below), failLine(below));
}

// ------------------------------------------------------------- inv

TEST(MatrixInv, RandomDenseTimesInverseIsIdentity) {
  std::mt19937 rng(10);
  for (int n = 1; n <= 9; ++n) {
    auto a = wellConditioned(rng, n);
    Dense<double> A(n, n, a);
    A.inv();
    expectIdentity(testdoubles::denseProduct(a, A.a, n, n, n), n, 1e-12);
    expectIdentity(testdoubles::denseProduct(A.a, a, n, n, n), n, 1e-12);
  }
}

TEST(MatrixInv, RandomSparseTimesInverseIsIdentity) {
  std::mt19937 rng(12);
  for (int n = 1; n <= 8; ++n) {
    auto a = wellConditioned(rng, n);
    SparseMatrix<double> A(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) A.setElem(i, j, a[i * n + j]);
    A.inv();
    expectIdentity(testdoubles::denseProduct(a, testdoubles::readAll(A), n, n, n), n, 1e-12);
  }
}

TEST(MatrixInv, OneByOneIsReciprocal) {
  for (double a : {4.0, 3.0, -0.1, 1e-300}) {
    Dense<double> A(1, 1, {a});
    A.inv();
    EXPECT_EQ(A.a[0], 1.0 / a);
  }
}

TEST(MatrixInv, ExchangesPivotRows) {
  // Column 0 has its only non-zero in row 1: row 0 is eliminated against
  // row 1, so the multiplier (0) is written into row 0.
  Recorder A(2, 2);
  A.a = {0, 1, 1, 0};
  A.inv();
  EXPECT_EQ(A.a, (std::vector<double>{0, 1, 1, 0}));
  EXPECT_EQ(A.count(Call::Clear), 1);
  int firstSetRow = -1;
  for (const Call& c : A.calls)
    if (c.kind == Call::Set) {
      firstSetRow = c.i;
      break;
    }
  EXPECT_EQ(firstSetRow, 0);
}

TEST(MatrixInv, TieGoesToTheRowFirstInThePermutation) {
  // Step 0 pivots on row 2 (permutation becomes 2, 1, 0). In step 1 rows 1
  // and 0 both have scaled ratio 1; row 1 comes first in the permutation, so
  // row 0 is eliminated and receives the multiplier 2/3 in column 1.
  Recorder A(3, 3);
  A.a = {1, 2, 0, 1, 3, 0, 4, 0, 1};
  A.inv();
  std::vector<Call> sets;
  for (const Call& c : A.calls) {
    if (c.kind == Call::Clear) break;
    if (c.kind == Call::Set) sets.push_back(c);
  }
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].i, 1);
  EXPECT_EQ(sets[0].j, 0);
  EXPECT_EQ(sets[0].v, 0.25);
  EXPECT_EQ(sets[1].i, 0);
  EXPECT_EQ(sets[1].j, 0);
  EXPECT_EQ(sets[2].i, 0);
  EXPECT_EQ(sets[2].j, 1);
  EXPECT_EQ(sets[2].v, 2.0 / 3.0);
  testdoubles::expectNear(A.a, {3, -2, 0, -1, 1, 0, -12, 8, 1}, 1e-14);
}

TEST(MatrixInv, ZeroColumnGivesNonFiniteValuesSilently) {
  Dense<double> A(2, 2, {0, 1, 0, 2});
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  A.inv();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  for (double v : A.a) EXPECT_FALSE(std::isfinite(v)) << v;
}

using MatrixInvDeathTest = ::testing::Test;

TEST(MatrixInvDeathTest, NonSquareStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Dense<double> A(2, 3);
  EXPECT_DEATH(A.inv(), "Assertion `N == A\\.nCol' failed\\.");
  SparseMatrix<double> S(3, 2);
  EXPECT_DEATH(S.inv(), "Assertion `N == A\\.nCol' failed\\.");
}
