#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FullMatrix.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "ProgressBar.h"
#include "RecordBytes.h"
#include "ScatterStream.h"
#include "SparseMatrix.h"

using zolt::test::PipeBuf;
using zolt::test::bytesOf;

namespace {

using Dense = std::vector<std::vector<double>>;

Dense zeros(int r, int c) { return Dense(r, std::vector<double>(c, 0.0)); }

// Random dense matrix with roughly `fill` of its elements non-zero.
Dense randomDense(std::mt19937& g, int r, int c, double fill) {
  std::uniform_real_distribution<double> u(-1.0, 1.0), p(0.0, 1.0);
  Dense a = zeros(r, c);
  for (auto& row : a)
    for (double& v : row)
      if (p(g) < fill) v = u(g);
  return a;
}

PackedMatrix<double> pack(const Dense& a, int nCol) {
  SparseMatrix<double> s(static_cast<int>(a.size()), nCol);
  // Append columns in descending order so that packing has to sort.
  for (int i = 0; i < s.nRow; ++i)
    for (int j = nCol - 1; j >= 0; --j) s.setElem(i, j, a[i][j]);
  return PackedMatrix<double>(s);
}

Dense product(const Dense& a, const Dense& b) {
  Dense c = zeros(static_cast<int>(a.size()), static_cast<int>(b[0].size()));
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t k = 0; k < b.size(); ++k)
      for (size_t j = 0; j < b[0].size(); ++j) c[i][j] += a[i][k] * b[k][j];
  return c;
}

Dense transpose(const Dense& a) {
  Dense t = zeros(static_cast<int>(a[0].size()), static_cast<int>(a.size()));
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < a[0].size(); ++j) t[j][i] = a[i][j];
  return t;
}

void expectMatches(const Matrix<double>& m, const Dense& ref, double tol = 1e-12) {
  for (int i = 0; i < m.nRow; ++i)
    for (int j = 0; j < m.nCol; ++j) EXPECT_NEAR(m(i, j), ref[i][j], tol) << i << "," << j;
}

void fill(Vector<double>& v, std::mt19937& g) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int i = 0; i < v.n; ++i) v.data[i] = u(g);
}

// Weighted graph Laplacian plus a small shift: SPD and only weakly dominant,
// so relaxation converges slowly and every sweep is visible.
Dense randomSpd(std::mt19937& g, int n) {
  std::uniform_real_distribution<double> w(0.1, 1.0), p(0.0, 1.0);
  Dense a = zeros(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (j == i + 1 || p(g) < 0.1) {
        const double v = w(g);
        a[i][j] = a[j][i] = -v;
        a[i][i] += v;
        a[j][j] += v;
      }
  for (int i = 0; i < n; ++i) a[i][i] += 0.01;
  return a;
}

class RecordingBar : public ProgressBar {
 public:
  std::vector<std::string> calls;
  int steps = 0;
  void setTotal(unsigned int n) override {
    calls.push_back("setTotal " + std::to_string(n));
    ProgressBar::setTotal(n);
  }
  void start() override { calls.push_back("start"); }
  void step() override {
    if (calls.empty() || calls.back() != "step") calls.push_back("step");
    ++steps;
  }
  void finish() override { calls.push_back("finish"); }
};

std::vector<int> cols(const PackedMatrix<double>& m, int i) {
  std::vector<int> c;
  for (int k = 0; k < m.rowLen[i]; ++k) c.push_back(m.rowStart[i][k].col);
  return c;
}

void expectEmpty(const PackedMatrix<double>& m) {
  EXPECT_EQ(m.nRow, 0);
  EXPECT_EQ(m.nCol, 0);
  EXPECT_EQ(m.nnz, 0);
  EXPECT_FALSE(m.symmetric);
}

}  // namespace

// ----------------------------------------------------------------- packing

TEST(PackedMatrix, PackingSortsRowsAndKeepsDuplicates) {
  SparseMatrix<double> s(3, 6);
  s.setElem(0, 5, 5.0);
  s.setElem(0, 1, 1.0);
  s.setElem(0, 3, 3.0);
  s.rows[2].push_back({4, 7.0});
  s.rows[2].push_back({2, 2.0});
  s.rows[2].push_back({4, 8.0});
  PackedMatrix<double> p(s);
  ASSERT_EQ(p.nnz, 6);
  EXPECT_FALSE(p.symmetric);
  EXPECT_EQ(p.scatterStream, nullptr);
  EXPECT_EQ(cols(p, 0), std::vector<int>({1, 3, 5}));
  EXPECT_EQ(p.rowLen[1], 0);
  EXPECT_EQ(cols(p, 2), std::vector<int>({2, 4, 4}));
  EXPECT_EQ(p(2, 4), p.rowStart[2][1].val);  // the entry that sorts first
  EXPECT_EQ(p.rowStart[2][1].val + p.rowStart[2][2].val, 15.0);
  EXPECT_EQ(p(0, 3), 3.0);
  EXPECT_EQ(p(1, 3), 0.0);
  EXPECT_EQ(p(0, 0), 0.0);
}

TEST(PackedMatrix, CopyIsIndependentAndCarriesTheFlag) {
  std::mt19937 g(1);
  Dense a = randomDense(g, 7, 5, 0.4);
  PackedMatrix<double> p = pack(a, 5);
  p.symmetric = true;
  PackedMatrix<double> c(p);
  EXPECT_TRUE(c.symmetric);
  EXPECT_EQ(c.nnz, p.nnz);
  EXPECT_NE(c.entries, p.entries);
  for (int i = 0; i < 7; ++i) ASSERT_EQ(c.rowLen[i], p.rowLen[i]);
  EXPECT_EQ(std::memcmp(c.entries, p.entries, sizeof(MatrixEntry<double>) * p.nnz), 0);
  c.scale(2.0);
  expectMatches(p, a, 0.0);
}

TEST(PackedMatrix, OwnsItsScatterStreamButNeverCopiesIt) {
  PackedMatrix<double> p = pack({{1, 2}, {0, 3}}, 2);
  p.scatterStream = new ScatterStream;  // freed by the destructor (the leak check sees it)
  p.scatterStream->data.assign(64, 1);
  PackedMatrix<double> c(p);
  EXPECT_EQ(c.scatterStream, nullptr);
  std::unique_ptr<PackedMatrix<double>> t(PackedMatrix<double>::transposed(p));
  EXPECT_EQ(t->scatterStream, nullptr);
}

TEST(PackedMatrix, TransposedDropsStoredZerosAndSortsRows) {
  SparseMatrix<double> s(2, 3);
  s.setElem(0, 2, 3.0);
  s.setElem(0, 0, 1.0);
  s.setElem(1, 1, 5.0);
  s.setElem(1, 0, 4.0);
  PackedMatrix<double> p(s);
  p.setElem(1, 1, 0.0);  // stored zero
  std::unique_ptr<PackedMatrix<double>> t(PackedMatrix<double>::transposed(p));
  EXPECT_EQ(t->nRow, 3);
  EXPECT_EQ(t->nCol, 2);
  EXPECT_EQ(t->nnz, 3);
  expectMatches(*t, {{1, 4}, {0, 0}, {3, 0}}, 0.0);
  EXPECT_EQ(cols(*t, 0), std::vector<int>({0, 1}));
  EXPECT_EQ(t->rowLen[1], 0);

  p.symmetric = true;
  std::unique_ptr<PackedMatrix<double>> c(PackedMatrix<double>::transposed(p));
  EXPECT_TRUE(c->symmetric);
  EXPECT_EQ(c->nRow, 2);
  EXPECT_EQ(c->nnz, 4);  // the copy keeps the stored zero
}

// ---------------------------------------------------------- element access

TEST(PackedMatrix, AbsentElementsAndStoredZeros) {
  PackedMatrix<double> p = pack({{1, 0, 2}, {0, 3, 0}}, 3);
  p.setElem(0, 2, 0.0);
  EXPECT_EQ(p.nnz, 3);
  EXPECT_EQ(p(0, 2), 0.0);
  p.addElem(0, 2, 0.5);
  EXPECT_EQ(p(0, 2), 0.5);

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  p.addElem(1, 2, 4.0);
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(err, "[PackedMatrix, addElem] Error: Tried to add inexistent element (1, 2)!\n");
  EXPECT_EQ(out, "");
  expectMatches(p, {{1, 0, 0.5}, {0, 3, 0}}, 0.0);
}

TEST(PackedMatrixDeathTest, SetElemOutsideThePatternStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  PackedMatrix<double> p = pack({{1, 0}, {0, 1}}, 2);
  EXPECT_DEATH(p.setElem(0, 1, 2.0),
               "\\[PackedMatrix, setElem\\] Error: Tried to set inexistent element \\(0, 1\\)!\n"
               "(.|\n)*Assertion `0' failed\\.");
}

TEST(PackedMatrix, ForEachValueMirrorsTheLowerTriangleWhenSymmetric) {
  SparseMatrix<double> s(3, 3);
  s.setElem(0, 0, 1.0);
  s.setElem(0, 1, 2.0);
  s.setElem(1, 0, 99.0);
  s.setElem(1, 1, 3.0);
  s.setElem(2, 1, 98.0);  // mirror (1, 2) is not stored
  s.setElem(2, 2, 4.0);
  PackedMatrix<double> p(s);
  p.symmetric = true;
  int calls = 0;
  auto times10 = [](double* v, void* arg) {
    *v *= 10.0;
    ++*static_cast<int*>(arg);
  };
  p.forEachValue(times10, &calls);
  EXPECT_EQ(calls, 4);
  expectMatches(p, {{10, 20, 0}, {20, 30, 0}, {0, 0, 40}}, 0.0);
  EXPECT_EQ(p.nnz, 6);

  p.symmetric = false;
  calls = 0;
  p.forEachValue(times10, &calls);
  EXPECT_EQ(calls, 6);
}

// ---------------------------------------------------------------- kernels

TEST(PackedMatrix, VectorKernelsMatchDenseReference) {
  std::mt19937 g(3);
  const int r = 17, c = 11;
  Dense a = randomDense(g, r, c, 0.3);
  PackedMatrix<double> p = pack(a, c);
  Vector<double> x(c), xr(r), b(r), y(r), yt(c + 3), res(r);
  fill(x, g);
  fill(xr, g);
  fill(b, g);
  for (int j = c; j < c + 3; ++j) yt.data[j] = 42.0;
  p.mult(x, y);
  p.multTransposed(xr, yt);
  p.residuum(x, b, res);
  double sqr = 0.0;
  for (int i = 0; i < r; ++i) {
    double s = 0.0;
    for (int j = 0; j < c; ++j) s += a[i][j] * x.data[j];
    EXPECT_NEAR(y.data[i], s, 1e-13);
    EXPECT_NEAR(res.data[i], b.data[i] - s, 1e-13);
    sqr += (b.data[i] - s) * (b.data[i] - s);
  }
  EXPECT_NEAR(p.residuumSqrSum(x, b), sqr, 1e-12);
  for (int j = 0; j < c; ++j) {
    double s = 0.0;
    for (int i = 0; i < r; ++i) s += a[i][j] * xr.data[i];
    EXPECT_NEAR(yt.data[j], s, 1e-13);
  }
  for (int j = c; j < c + 3; ++j) EXPECT_EQ(yt.data[j], 0.0);
}

TEST(PackedMatrix, ValueOperationsMatchDenseReference) {
  std::mt19937 g(4);
  const int r = 8, c = 6;
  Dense a = randomDense(g, r, c, 0.5);
  PackedMatrix<double> p = pack(a, c);
  Vector<double> dl(r), dr(c), sums(c + 2);
  fill(dl, g);
  fill(dr, g);
  sums.data[c] = sums.data[c + 1] = 7.0;
  double mx = 0.0;
  for (auto& row : a)
    for (double v : row) mx = std::max(mx, std::fabs(v));
  EXPECT_EQ(p.maxAbs(), mx);
  p.absColumnSums(sums);
  for (int j = 0; j < c; ++j) {
    double s = 0.0;
    for (int i = 0; i < r; ++i) s += std::fabs(a[i][j]);
    EXPECT_NEAR(sums.data[j], s, 1e-14);
  }
  EXPECT_EQ(sums.data[c], 0.0);  // every element of y is zeroed

  p.scale(-3.0);
  p.scaleDiagLeft(dl);
  p.scaleDiagRight(dr);
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) a[i][j] = a[i][j] * -3.0 * dl.data[i] * dr.data[j];
  expectMatches(p, a, 0.0);

  FullMatrix<double> f(r, c);
  p.copyTo(f);
  expectMatches(f, a, 0.0);
  p.clear();
  EXPECT_EQ(p.maxAbs(), 0.0);
  EXPECT_GT(p.nnz, 0);
  EXPECT_EQ(PackedMatrix<double>().maxAbs(), 0.0);
}

TEST(PackedMatrix, GaussSeidelOnDiagonalMatrixSolvesInOneSweep) {
  PackedMatrix<double> p = pack({{2, 0}, {0, 4}}, 2);
  Vector<double> x(2), b(2);
  x.data[0] = 1.0;
  x.data[1] = -1.0;
  b.data[0] = 6.0;
  b.data[1] = 8.0;
  double res = -1.0;
  p.gaussSeidelStep(x, b, 1.0, res);
  EXPECT_EQ(x.data[0], 3.0);
  EXPECT_EQ(x.data[1], 2.0);
  EXPECT_EQ(res, 4.0 * 4.0 + 12.0 * 12.0);  // residuals before the updates
  p.gaussSeidelBackStep(x, b, 1.0, res);
  EXPECT_EQ(res, 0.0);  // reset at every sweep
}

TEST(PackedMatrix, SweepsMatchDenseReference) {
  std::mt19937 g(5);
  const int n = 15;
  Dense a = randomSpd(g, n);
  PackedMatrix<double> p = pack(a, n);
  Vector<double> b(n), x0(n);
  fill(b, g);
  fill(x0, g);
  for (double omega : {1.0, 1.7}) {
    for (int dir = 0; dir < 2; ++dir) {
      std::vector<double> ref(x0.data, x0.data + n);
      double refRes = 0.0;
      for (int s = 0; s < n; ++s) {
        const int i = dir == 0 ? s : n - 1 - s;
        double r = b.data[i];
        for (int j = 0; j < n; ++j) r -= a[i][j] * ref[j];
        refRes += r * r;
        ref[i] += omega * r / a[i][i];
      }
      Vector<double> x(n);
      std::copy(x0.data, x0.data + n, x.data);
      double res;
      if (dir == 0)
        p.gaussSeidelStep(x, b, omega, res);
      else
        p.gaussSeidelBackStep(x, b, omega, res);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x.data[i], ref[i], 1e-12);
      EXPECT_NEAR(res, refRes, 1e-10);
    }

    // Jacobi: every row uses the old x.
    std::vector<double> ref(n);
    double refRes = 0.0;
    for (int i = 0; i < n; ++i) {
      double r = b.data[i];
      for (int j = 0; j < n; ++j) r -= a[i][j] * x0.data[j];
      refRes += r * r;
      ref[i] = x0.data[i] + omega * r / a[i][i];
    }
    Vector<double> x(n), tmp(n);
    std::copy(x0.data, x0.data + n, x.data);
    double res;
    p.jacobiStep(x, b, omega, tmp, res);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(x.data[i], ref[i], 1e-12);
    EXPECT_NEAR(res, refRes, 1e-10);
  }
}

TEST(PackedMatrix, JacobiDoesNotDependOnRowOrder) {
  std::mt19937 g(6);
  const int n = 12;
  Dense a = randomSpd(g, n);
  std::vector<int> perm(n);
  for (int i = 0; i < n; ++i) perm[i] = n - 1 - i;
  std::shuffle(perm.begin(), perm.end(), g);
  Dense pa = zeros(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) pa[perm[i]][perm[j]] = a[i][j];
  PackedMatrix<double> p = pack(a, n), q = pack(pa, n);
  Vector<double> x(n), b(n), px(n), pb(n), tmp(n);
  fill(x, g);
  fill(b, g);
  for (int i = 0; i < n; ++i) {
    px.data[perm[i]] = x.data[i];
    pb.data[perm[i]] = b.data[i];
  }
  double r1, r2;
  p.jacobiStep(x, b, 0.8, tmp, r1);
  q.jacobiStep(px, pb, 0.8, tmp, r2);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(px.data[perm[i]], x.data[i], 1e-14);
  EXPECT_NEAR(r1, r2, 1e-12);
}

TEST(PackedMatrix, GaussSeidelReducesEnergyErrorEverySweep) {
  std::mt19937 g(7);
  const int n = 40;
  Dense a = randomSpd(g, n);
  PackedMatrix<double> p = pack(a, n);
  Vector<double> xs(n), b(n);
  fill(xs, g);
  p.mult(xs, b);
  auto energy = [&](const Vector<double>& x) {
    double e = 0.0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        e += (x.data[i] - xs.data[i]) * a[i][j] * (x.data[j] - xs.data[j]);
    return e;
  };
  for (double omega : {1.0, 1.7})
    for (int dir = 0; dir < 2; ++dir) {
      Vector<double> x(n);
      double last = energy(x), res;
      for (int sweep = 0; sweep < 20; ++sweep) {
        if (dir == 0)
          p.gaussSeidelStep(x, b, omega, res);
        else
          p.gaussSeidelBackStep(x, b, omega, res);
        const double e = energy(x);
        EXPECT_LT(e, last) << "omega " << omega << " dir " << dir << " sweep " << sweep;
        last = e;
      }
    }
}

TEST(PackedMatrix, SweepLeavesARowWithoutDiagonalUnchanged) {
  PackedMatrix<double> p = pack({{2, 0}, {1, 0}}, 2);
  Vector<double> x(2), b(2), tmp(2);
  x.data[1] = 5.0;
  b.data[0] = 4.0;
  b.data[1] = 3.0;
  double res;
  p.gaussSeidelStep(x, b, 1.0, res);
  EXPECT_EQ(x.data[0], 2.0);
  EXPECT_EQ(x.data[1], 5.0);
  EXPECT_EQ(res, 16.0 + 1.0);
  p.jacobiStep(x, b, 1.0, tmp, res);
  EXPECT_EQ(x.data[1], 5.0);
  EXPECT_TRUE(std::isfinite(x.data[0]));
}

// ---------------------------------------------------------------- products

TEST(PackedMatrix, MatrixProductsMatchDenseReference) {
  std::mt19937 g(8);
  const int r = 6, c = 5, m = 4;
  Dense a = randomDense(g, r, c, 0.4);
  PackedMatrix<double> p = pack(a, c);
  auto full = [](const Dense& d) {
    auto f = std::make_unique<FullMatrix<double>>(static_cast<int>(d.size()),
                                                  static_cast<int>(d[0].size()));
    for (int i = 0; i < f->nRow; ++i)
      for (int j = 0; j < f->nCol; ++j) f->setElem(i, j, d[i][j]);
    return f;
  };
  Dense bl = randomDense(g, m, r, 0.6), btl = randomDense(g, r, m, 0.6);
  Dense br = randomDense(g, c, m, 0.6), btr = randomDense(g, m, c, 0.6);
  FullMatrix<double> C1(m, c), C2(m, c), C3(r, m), C4(r, m);
  C1.setElem(0, 0, 100.0);  // cleared first
  p.mult_m_left(*full(bl), C1);
  p.mult_m_transpose_left(*full(btl), C2);
  p.mult_m_right(*full(br), C3);
  p.mult_m_transpose_right(*full(btr), C4);
  expectMatches(C1, product(bl, a));
  expectMatches(C2, product(transpose(btl), a));
  expectMatches(C3, product(a, br));
  expectMatches(C4, product(a, transpose(btr)));
}

TEST(PackedMatrix, GalerkinProductMatchesDenseReference) {
  std::mt19937 g(9);
  const int nf = 14, nc = 5;
  Dense pd = randomDense(g, nc, nf, 0.35);
  pd[2].assign(nf, 0.0);  // an empty row of P
  PackedMatrix<double> P = pack(pd, nf);
  for (bool sym : {false, true}) {
    Dense a = randomDense(g, nf, nf, 0.3);
    if (sym)
      for (int i = 0; i < nf; ++i)
        for (int j = 0; j < i; ++j) a[i][j] = a[j][i];
    PackedMatrix<double> A = pack(a, nf);
    A.symmetric = sym;
    Dense ref = product(product(pd, a), transpose(pd));
    FullMatrix<double> C(nc, nc);
    C.setElem(2, 2, 7.0);  // not cleared: row 2 of C receives nothing
    ref[2][2] = 7.0;
    RecordingBar bar;
    A.mult_m_left_m_transpose_right(P, C, &bar);
    expectMatches(C, ref);
    const std::vector<std::string> expected = {"setTotal 5", "start", "step", "finish"};
    EXPECT_EQ(bar.calls, expected);
    EXPECT_EQ(bar.steps, nc);

    SparseMatrix<double> S(nc, nc);
    A.mult_m_left_m_transpose_right(P, S, nullptr);
    ref[2][2] = 0.0;
    expectMatches(S, ref);
    for (int i = 0; i < nc; ++i) {
      for (const auto& e : S.rows[i]) EXPECT_TRUE(e.val != 0.0);  // only non-zero sums
      for (size_t k = 0; k < S.rows[i].size(); ++k)
        for (size_t l = k + 1; l < S.rows[i].size(); ++l)
          EXPECT_NE(S.rows[i][k].col, S.rows[i][l].col);  // each element set once
    }
  }
}

TEST(PackedMatrix, SymmetricGalerkinComputesOnlyTheUpperTriangle) {
  std::mt19937 g(10);
  const int nf = 9, nc = 4;
  Dense pd = randomDense(g, nc, nf, 0.5);
  Dense a = randomDense(g, nf, nf, 0.5);  // not symmetric, but declared so
  PackedMatrix<double> P = pack(pd, nf), A = pack(a, nf);
  A.symmetric = true;
  Dense ref = product(product(pd, a), transpose(pd));
  FullMatrix<double> C(nc, nc);
  A.mult_m_left_m_transpose_right(P, C, nullptr);
  for (int i = 0; i < nc; ++i)
    for (int j = i; j < nc; ++j) {
      EXPECT_NEAR(C(i, j), ref[i][j], 1e-12);
      EXPECT_EQ(C(j, i), C(i, j));
    }
}

// ------------------------------------------------------------------ record

TEST(PackedMatrixRecord, GoldenBytes) {
  SparseMatrix<double> s(3, 4);
  s.setElem(0, 3, -2.0);
  s.setElem(0, 0, 1.0);
  s.setElem(2, 1, 0.5);
  PackedMatrix<double> p(s);
  p.symmetric = true;
  std::stringstream f;
  p.writeToFile(f);
  const std::string expected = bytesOf({
      0x01, 0x03, 0, 0, 0, 0x04, 0, 0, 0, 0x03, 0,    0,    0,  // symmetric, nRow, nCol, nnz
      0x02, 0,    0, 0,                                         // row 0: two entries
      0x00, 0,    0, 0, 0, 0,    0, 0, 0, 0,    0xf0, 0x3f,     // {0, 1.0}
      0x03, 0,    0, 0, 0, 0,    0, 0, 0, 0,    0x00, 0xc0,     // {3, -2.0}
      0x00, 0,    0, 0,                                         // row 1: empty
      0x01, 0,    0, 0,                                         // row 2: one entry
      0x01, 0,    0, 0, 0, 0,    0, 0, 0, 0,    0xe0, 0x3f,     // {1, 0.5}
  });
  EXPECT_EQ(f.str().size(), 13u + 4 * 3 + 12 * 3);
  EXPECT_EQ(f.str(), expected);
}

TEST(PackedMatrixRecord, EmptyMatrixIsThirteenZeroBytes) {
  std::stringstream f;
  PackedMatrix<double>().writeToFile(f);
  EXPECT_EQ(f.str(), std::string(13, '\0'));
  PackedMatrix<double> back(f);
  EXPECT_TRUE(f.good());
  expectEmpty(back);
}

TEST(PackedMatrixRecord, RoundTripIsBitExactAndStopsAfterTheRecord) {
  std::mt19937 g(11);
  Dense a = randomDense(g, 23, 19, 0.2);
  a[4].assign(19, 0.0);
  PackedMatrix<double> p = pack(a, 19);
  p.symmetric = true;
  p.entries[0].val = std::nan("0x7");
  p.entries[1].val = -0.0;
  p.entries[2].val = 4.9e-324;
  std::stringstream f;
  p.writeToFile(f);
  const std::streamoff size = 13 + 4 * 23 + 12 * p.nnz;
  EXPECT_EQ(static_cast<std::streamoff>(f.str().size()), size);
  f.write("Z", 1);
  PackedMatrix<double> q(f);
  ASSERT_TRUE(f.good());
  EXPECT_EQ(f.tellg(), size);
  EXPECT_EQ(f.get(), 'Z');
  EXPECT_TRUE(q.symmetric);
  ASSERT_EQ(q.nRow, 23);
  EXPECT_EQ(q.nCol, 19);
  ASSERT_EQ(q.nnz, p.nnz);
  for (int i = 0; i < 23; ++i) {
    ASSERT_EQ(q.rowLen[i], p.rowLen[i]);
    for (int k = 0; k < p.rowLen[i]; ++k) {
      EXPECT_EQ(q.rowStart[i][k].col, p.rowStart[i][k].col);
      EXPECT_EQ(std::memcmp(&q.rowStart[i][k].val, &p.rowStart[i][k].val, 8), 0);
    }
  }
  // Reading again replaces the content.
  std::stringstream f2;
  PackedMatrix<double>().writeToFile(f2);
  ASSERT_TRUE(q.readFromFile(f2));
  expectEmpty(q);
}

TEST(PackedMatrixRecord, ReadingAnotherPatternDropsTheRecordedCoarsePlan) {
  // A plan recorded for the old pattern must not be replayed on the new one.
  std::mt19937 g(12);
  const int nf = 8, nc = 3;
  Dense rd = randomDense(g, nc, nf, 0.6);
  PackedMatrix<double> R = pack(rd, nf);
  PackedMatrix<double> fine = pack(randomDense(g, nf, nf, 0.9), nf);
  Dense full(nc, std::vector<double>(nc, 1.0));
  PackedMatrix<double> coarse = pack(full, nc);
  testing::internal::CaptureStdout();
  Multigrid<double>::galerkinProduct(fine, R, coarse, true);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(fine.scatterStream, nullptr);

  Dense a = randomDense(g, nf, nf, 0.2);  // fewer stored values than before
  std::stringstream f;
  pack(a, nf).writeToFile(f);
  ASSERT_TRUE(fine.readFromFile(f));
  EXPECT_EQ(fine.scatterStream, nullptr);
  testing::internal::CaptureStdout();
  Multigrid<double>::galerkinProduct(fine, R, coarse, true);
  testing::internal::GetCapturedStdout();
  expectMatches(coarse, product(product(rd, a), transpose(rd)));
}

namespace {

std::string goodRecord() {
  SparseMatrix<double> s(3, 4);
  s.setElem(0, 0, 1.0);
  s.setElem(0, 3, 2.0);
  s.setElem(2, 1, 3.0);
  std::stringstream f;
  PackedMatrix<double>(s).writeToFile(f);
  return f.str();
}

void putI32(std::string& rec, size_t at, int32_t v) {
  for (int k = 0; k < 4; ++k)
    rec[at + k] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * k)) & 0xff);
}

bool readsBack(const std::string& rec) {
  std::stringstream f(rec);
  PackedMatrix<double> m(f);
  const bool ok = !f.fail();
  if (!ok) expectEmpty(m);
  std::stringstream f2(rec);
  PackedMatrix<double> m2 = PackedMatrix<double>(SparseMatrix<double>(2, 2));
  EXPECT_EQ(m2.readFromFile(f2), ok);  // a filled matrix is replaced or emptied
  if (!ok) expectEmpty(m2);
  return ok;
}

}  // namespace

TEST(PackedMatrixRecord, RejectsInconsistentRecords) {
  const std::string good = goodRecord();  // rows at 13 (count 2), 41 (count 0), 45 (count 1)
  ASSERT_EQ(good.size(), 13u + 12 + 36);
  EXPECT_TRUE(readsBack(good));
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(readsBack(good.substr(0, n))) << n;

  auto edited = [&](size_t at, int32_t v) {
    std::string r = good;
    putI32(r, at, v);
    return r;
  };
  EXPECT_FALSE(readsBack(edited(1, -1)));                         // nRow
  EXPECT_FALSE(readsBack(edited(5, -4)));                         // nCol
  EXPECT_FALSE(readsBack(edited(9, -3)));                         // nnz
  EXPECT_FALSE(readsBack(edited(9, 2) + std::string(12, '\0')));  // counts run beyond nnz
  EXPECT_FALSE(readsBack(edited(9, 4) + std::string(12, '\0')));  // counts end below nnz
  EXPECT_FALSE(readsBack(edited(9, 0x7fffffff)));                 // more than the bytes left
  EXPECT_FALSE(readsBack(edited(13, -1)));                        // negative row count
  EXPECT_FALSE(readsBack(edited(17, 4)));                         // column == nCol
  EXPECT_FALSE(readsBack(edited(29, -1)));                        // negative column
  EXPECT_FALSE(readsBack(edited(5, 3)));                          // column 3 now out of range
  std::string badFlag = good;
  badFlag[0] = 2;
  EXPECT_FALSE(readsBack(badFlag));
}

TEST(PackedMatrixRecord, UnseekableStreamIsNotTrustedForSizes) {
  std::string rec = goodRecord();
  {
    PipeBuf buf(rec);
    std::istream in(&buf);
    PackedMatrix<double> m;
    ASSERT_TRUE(m.readFromFile(in));
    EXPECT_EQ(m.nnz, 3);
    EXPECT_EQ(m(0, 3), 2.0);
  }
  // Huge header, a few bytes of data: fails without allocating what it claims.
  putI32(rec, 1, 0x7ffffff0);
  putI32(rec, 9, 0x7ffffff0);
  PipeBuf buf(rec);
  std::istream in(&buf);
  PackedMatrix<double> m(in);
  EXPECT_TRUE(in.fail());
  expectEmpty(m);
}
