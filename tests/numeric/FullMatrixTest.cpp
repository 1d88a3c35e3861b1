#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FullMatrix.h"
#include "PackedMatrix.h"
#include "ProgressBar.h"
#include "RecordBytes.h"
#include "SparseMatrix.h"

using zolt::test::PipeBuf;
using zolt::test::bytesOf;

namespace {

using Poly = Polynom<double>;

void setRows(Matrix<double>& m, std::initializer_list<std::initializer_list<double>> rows) {
  int i = 0;
  for (const auto& row : rows) {
    int j = 0;
    for (double v : row) m.setElem(i, j++, v);
    ++i;
  }
}

void expectEq(const Matrix<double>& m, std::initializer_list<std::initializer_list<double>> rows,
              double tol = 0.0) {
  int i = 0;
  for (const auto& row : rows) {
    int j = 0;
    for (double v : row) {
      EXPECT_NEAR(m(i, j), v, tol) << i << "," << j;
      ++j;
    }
    ++i;
  }
}

void randomFill(FullMatrix<double>& m, std::mt19937& g) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int k = 0; k < m.nRow * m.nCol; ++k) m.data[k] = u(g);
}

void putI32(std::string& rec, size_t at, int32_t v) {
  for (int k = 0; k < 4; ++k)
    rec[at + k] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * k)) & 0xff);
}

class CountingBar : public ProgressBar {
 public:
  int calls = 0;
  void setTotal(unsigned int) override { ++calls; }
  void start() override { ++calls; }
  void step() override { ++calls; }
  void finish() override { ++calls; }
};

}  // namespace

// ---------------------------------------------------------------- record

TEST(FullMatrixRecord, TwoByThreeExampleIsFiftySevenBytes) {
  FullMatrix<double> m(2, 3);
  setRows(m, {{1, 2, 3}, {4, 5, 6}});
  std::stringstream f;
  m.writeToFile(f);
  const std::string expected = bytesOf({
      0x00, 0x02, 0, 0, 0, 0x03, 0,    0,    0,  // symmetric, nRow, nCol
      0,    0,    0, 0, 0, 0,    0xf0, 0x3f,     // 1.0
      0,    0,    0, 0, 0, 0,    0x00, 0x40,     // 2.0
      0,    0,    0, 0, 0, 0,    0x08, 0x40,     // 3.0
      0,    0,    0, 0, 0, 0,    0x10, 0x40,     // 4.0
      0,    0,    0, 0, 0, 0,    0x14, 0x40,     // 5.0
      0,    0,    0, 0, 0, 0,    0x18, 0x40,     // 6.0
  });
  ASSERT_EQ(f.str().size(), 57u);
  EXPECT_EQ(f.str(), expected);

  f.write("Z", 1);
  FullMatrix<double> back(f);
  ASSERT_TRUE(f.good());
  EXPECT_EQ(f.tellg(), 57);
  EXPECT_EQ(f.get(), 'Z');
  EXPECT_FALSE(back.symmetric);
  ASSERT_EQ(back.nRow, 2);
  ASSERT_EQ(back.nCol, 3);
  expectEq(back, {{1, 2, 3}, {4, 5, 6}});
}

TEST(FullMatrixRecord, EmptyShapesWriteTheHeaderOnly) {
  for (int cols : {0, 4}) {
    FullMatrix<double> m(0, cols);
    std::stringstream f;
    m.writeToFile(f);
    EXPECT_EQ(f.str().size(), 9u);
    FullMatrix<double> back(f);
    EXPECT_TRUE(f.good());
    EXPECT_EQ(back.nCol, cols);
    Vector<double> x(4), y(2);
    y.data[0] = 3.0;
    back.mult(x, y);
    EXPECT_EQ(y.data[0], 3.0);
  }
}

TEST(FullMatrixRecord, RoundTripIsBitExact) {
  std::mt19937 g(1);
  FullMatrix<double> m(7, 5);
  randomFill(m, g);
  m.symmetric = true;
  m.data[0] = std::nan("0x3");
  m.data[1] = -0.0;
  m.data[2] = 4.9e-324;
  std::stringstream f;
  m.writeToFile(f);
  FullMatrix<double> back(f);
  ASSERT_TRUE(f.good());
  EXPECT_TRUE(back.symmetric);
  ASSERT_EQ(back.nRow * back.nCol, 35);
  EXPECT_EQ(std::memcmp(back.data, m.data, 35 * sizeof(double)), 0);
}

TEST(FullMatrixRecord, RejectsInconsistentRecords) {
  FullMatrix<double> m(2, 3);
  setRows(m, {{1, 2, 3}, {4, 5, 6}});
  std::stringstream f;
  m.writeToFile(f);
  const std::string good = f.str();
  auto rejected = [](const std::string& rec) {
    std::stringstream s(rec);
    FullMatrix<double> r(s);
    const bool failed = s.fail() && r.nRow == 0 && r.nCol == 0 && r.data == nullptr;
    std::stringstream s2(rec);
    FullMatrix<double> r2(3, 3);
    return failed && !r2.readFromFile(s2) && r2.nRow == 0 && r2.data == nullptr;
  };
  EXPECT_FALSE(rejected(good));
  for (size_t n = 0; n < good.size(); ++n) EXPECT_TRUE(rejected(good.substr(0, n))) << n;
  auto edited = [&](size_t at, int32_t v) {
    std::string r = good;
    putI32(r, at, v);
    return r;
  };
  EXPECT_TRUE(rejected(edited(1, -2)));
  EXPECT_TRUE(rejected(edited(5, -3)));
  EXPECT_TRUE(rejected(edited(1, -2).replace(5, 4, std::string("\xfd\xff\xff\xff", 4))));
  EXPECT_TRUE(rejected(edited(1, 3)));  // one row short
  EXPECT_TRUE(rejected(edited(1, 65536).replace(5, 4, std::string("\x00\x00\x01\x00", 4))));
  std::string badFlag = good;
  badFlag[0] = 7;
  EXPECT_TRUE(rejected(badFlag));
}

TEST(FullMatrixRecord, UnseekableStreamIsNotTrustedForSizes) {
  FullMatrix<double> m(2, 3);
  setRows(m, {{1, 2, 3}, {4, 5, 6}});
  std::stringstream f;
  m.writeToFile(f);
  {
    PipeBuf buf(f.str());
    std::istream in(&buf);
    FullMatrix<double> back(in);
    EXPECT_FALSE(in.fail());
    expectEq(back, {{1, 2, 3}, {4, 5, 6}});
  }
  std::string rec = f.str();
  putI32(rec, 1, 46340);  // 46340^2 doubles would be 17 GB
  putI32(rec, 5, 46340);
  PipeBuf buf(rec);
  std::istream in(&buf);
  FullMatrix<double> back(in);
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(back.nRow, 0);
  EXPECT_EQ(back.data, nullptr);
}

TEST(FullMatrixRecordDeathTest, PolynomialMatrixWritesTheHeaderThenStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FullMatrix<Poly> m(2, 2);
  std::stringstream f;
  EXPECT_DEATH(m.writeToFile(f), "Assertion `0' failed\\.");
  EXPECT_DEATH(m.readFromFile(f), "Assertion `0' failed\\.");
}

// ------------------------------------------------------------- operations

TEST(FullMatrix, DenseExamples) {
  FullMatrix<double> a(2, 3);
  setRows(a, {{1, 2, 3}, {4, 5, 6}});
  Vector<double> x(3), y(3), yt(5);
  x.data[0] = x.data[1] = x.data[2] = 1.0;
  y.data[2] = 9.0;
  a.mult(x, y);
  EXPECT_EQ(y.data[0], 6.0);
  EXPECT_EQ(y.data[1], 15.0);
  EXPECT_EQ(y.data[2], 9.0);  // beyond nRow: untouched
  yt.data[3] = yt.data[4] = 8.0;
  a.multTransposed(x, yt);
  EXPECT_EQ(yt.data[0], 5.0);
  EXPECT_EQ(yt.data[1], 7.0);
  EXPECT_EQ(yt.data[2], 9.0);
  EXPECT_EQ(yt.data[3], 0.0);
  EXPECT_EQ(yt.data[4], 0.0);

  FullMatrix<double> b(1, 2), c(1, 3), c2(2, 2);
  setRows(b, {{1, 1}});
  a.mult_m_left(b, c);
  expectEq(c, {{5, 7, 9}});
  a.mult_m_transpose_right(a, c2);
  expectEq(c2, {{14, 32}, {32, 77}});
}

TEST(FullMatrix, ProductsMatchDenseReference) {
  std::mt19937 g(2);
  FullMatrix<double> a(4, 3), bl(5, 4), btl(4, 2), br(3, 6), btr(2, 3);
  for (FullMatrix<double>* m : {&a, &bl, &btl, &br, &btr}) randomFill(*m, g);
  FullMatrix<double> c1(5, 3), c2(2, 3), c3(4, 6), c4(4, 2);
  // Every element of C is written, so a stale C is overwritten.
  for (FullMatrix<double>* m : {&c1, &c2, &c3, &c4}) randomFill(*m, g);
  a.mult_m_left(bl, c1);
  a.mult_m_transpose_left(btl, c2);
  a.mult_m_right(br, c3);
  a.mult_m_transpose_right(btr, c4);
  auto check = [](const Matrix<double>& c, auto ref) {
    for (int i = 0; i < c.nRow; ++i)
      for (int j = 0; j < c.nCol; ++j) EXPECT_NEAR(c(i, j), ref(i, j), 1e-14);
  };
  auto sum = [](int n, auto term) {
    double s = 0.0;
    for (int k = 0; k < n; ++k) s += term(k);
    return s;
  };
  check(c1, [&](int i, int j) { return sum(4, [&](int k) { return bl(i, k) * a(k, j); }); });
  check(c2, [&](int i, int j) { return sum(4, [&](int k) { return btl(k, i) * a(k, j); }); });
  check(c3, [&](int i, int j) { return sum(3, [&](int k) { return a(i, k) * br(k, j); }); });
  check(c4, [&](int i, int j) { return sum(3, [&](int k) { return a(i, k) * btr(j, k); }); });
}

TEST(FullMatrix, CopyToPassesZerosAndForEachValueVisitsStorageOrder) {
  FullMatrix<double> a(2, 2), d(2, 2);
  setRows(a, {{1, 0}, {0, 2}});
  setRows(d, {{9, 9}, {9, 9}});
  a.copyTo(d);
  expectEq(d, {{1, 0}, {0, 2}});

  std::vector<double*> seen;
  a.forEachValue(
      [](double* v, void* arg) { static_cast<std::vector<double*>*>(arg)->push_back(v); }, &seen);
  ASSERT_EQ(seen.size(), 4u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(seen[k], a.data + k);
  a.scale(-0.5);
  expectEq(a, {{-0.5, 0}, {0, -1}});
  a.clear();
  expectEq(a, {{0, 0}, {0, 0}});
}

// ------------------------------------------------------------------ inverse

TEST(FullMatrix, InverseExamples) {
  FullMatrix<double> a(2, 2);
  setRows(a, {{4, 7}, {2, 6}});
  a.inv();
  expectEq(a, {{0.6, -0.7}, {-0.2, 0.4}}, 1e-15);

  setRows(a, {{0, 1}, {1, 0}});
  a.inv();
  expectEq(a, {{0, 1}, {1, 0}});

  FullMatrix<double> one(1, 1);
  one.setElem(0, 0, 8.0);
  one.inv();
  EXPECT_EQ(one(0, 0), 0.125);

  FullMatrix<double> singular(2, 2);
  setRows(singular, {{1, 0}, {2, 0}});
  singular.inv();
  bool nonFinite = false;
  for (int k = 0; k < 4; ++k) nonFinite |= !std::isfinite(singular.data[k]);
  EXPECT_TRUE(nonFinite);
}

// The dense inverse visits elements in a cache-friendly order; the generic
// one is the plain elimination through element access. Sizes around the
// panel (32) and the column blocks (16, 128); kinds that pivot differently
// (0 random, 1 SPD, 2 rows scaled 1e-3 .. 1e3), and a singular one (3, a
// zero column) whose non-finite values must come out the same.
TEST(FullMatrix, InverseIsBitIdenticalToTheGenericOne) {
  const std::pair<int, int> rows[] = {
      {0, 1},   {0, 2},   {0, 3}, {0, 5},  {0, 8},   {0, 13}, {0, 21}, {0, 31},  {0, 33}, {0, 64},
      {0, 100}, {0, 290}, {1, 7}, {1, 65}, {1, 200}, {2, 6},  {2, 47}, {2, 140}, {3, 40}, {3, 150}};
  std::mt19937 g(3);
  for (const auto& [kind, n] : rows) {
    SCOPED_TRACE(testing::Message() << "kind " << kind << ", n " << n);
    FullMatrix<double> a(n, n), b(n, n), orig(n, n), prod(n, n);
    randomFill(a, g);
    if (kind == 1) {  // B B^T + n I
      std::copy(a.data, a.data + n * n, b.data);
      a.mult_m_transpose_right(b, orig);
      for (int i = 0; i < n; ++i) orig.addElem(i, i, n);
      std::copy(orig.data, orig.data + n * n, a.data);
    }
    for (int k = 0; k < n * n; ++k) {
      if (kind == 2) a.data[k] *= std::pow(10.0, k / n % 7 - 3);
      if (kind == 3 && k % n == n / 3) a.data[k] = 0.0;
    }
    std::copy(a.data, a.data + n * n, b.data);
    std::copy(a.data, a.data + n * n, orig.data);
    a.inv();
    b.Matrix<double>::inv();
    EXPECT_EQ(std::memcmp(a.data, b.data, sizeof(double) * n * n), 0);
    const bool finite =
        std::all_of(a.data, a.data + n * n, [](double v) { return std::isfinite(v); });
    EXPECT_EQ(finite, kind != 3);
    if (!finite) continue;
    // And it is an inverse: A^-1 A = I.
    orig.mult_m_left(a, prod);
    double worst = 0.0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) worst = std::max(worst, std::fabs(prod(i, j) - (i == j)));
    EXPECT_LT(worst, 1e-9);
  }
}

TEST(FullMatrixDeathTest, InverseOfNonSquareStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FullMatrix<double> a(2, 3);
  EXPECT_DEATH(a.inv(), "Assertion `N == A.nCol' failed\\.");
  FullMatrix<Poly> p(2, 2);
  p.setElem(0, 0, Poly(1.0));
  EXPECT_DEATH(p.inv(), "Assertion `0' failed\\.");
}

// ------------------------------------------------------------------ Galerkin

TEST(FullMatrix, GalerkinProductMatchesDenseReference) {
  std::mt19937 g(4);
  const int nf = 7, nc = 3;
  FullMatrix<double> pd(nc, nf);
  randomFill(pd, g);
  for (int j = 0; j < nf; j += 2) pd.setElem(1, j, 0.0);
  SparseMatrix<double> ps(nc, nf);
  pd.copyTo(ps);
  PackedMatrix<double> P(ps);
  for (bool sym : {false, true}) {
    FullMatrix<double> a(nf, nf);
    randomFill(a, g);  // when declared symmetric, only the upper result is computed
    a.symmetric = sym;
    FullMatrix<double> c(nc, nc);
    randomFill(c, g);
    CountingBar bar;
    a.mult_m_left_m_transpose_right(P, c, &bar);
    EXPECT_EQ(bar.calls, 0);
    for (int i = 0; i < nc; ++i)
      for (int j = 0; j < nc; ++j) {
        const int r = sym ? std::min(i, j) : i, s = sym ? std::max(i, j) : j;
        double ref = 0.0;
        for (int k = 0; k < nf; ++k)
          for (int l = 0; l < nf; ++l) ref += pd(r, k) * a(k, l) * pd(s, l);
        EXPECT_NEAR(c(i, j), ref, 1e-13) << sym << " " << i << "," << j;
      }
  }
}

// --------------------------------------------------------------- polynomials

TEST(FullMatrix, PolynomialProducts) {
  const Poly x = [] {
    Poly p;
    p.terms.emplace(1, 1.0);  // x
    return p;
  }();
  FullMatrix<Poly> b(2, 1), a(2, 2), c(1, 2);
  b.setElem(0, 0, x);
  b.setElem(1, 0, Poly(2.0));
  a.setElem(0, 0, Poly(1.0));
  a.setElem(0, 1, x);
  a.setElem(1, 1, Poly(-1.0));
  a.mult_m_transpose_left(b, c);  // (x, 2) A = (x, x^2 - 2)
  EXPECT_EQ(c(0, 0), x);
  Poly expected = x * x;
  expected += Poly(-2.0);
  EXPECT_EQ(c(0, 1), expected);

  a.scale(Poly(0.0));
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(a.data[k].empty());
  FullMatrix<Poly> fresh(2, 2);
  fresh.setElem(0, 0, x);
  fresh.clear();
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(fresh.data[k].empty());
}
