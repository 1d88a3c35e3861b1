#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "CountingNew.h"
#include "MemoryLimits.h"
#include "Multigrid.h"
#include "StructuredGrids.h"

using namespace zolt::test;

namespace {

double residualNorm(const Matrix<double>& A, const Vector<double>& x, const Vector<double>& b) {
  Vector<double> y(b.n);
  A.mult(x, y);
  double s = 0;
  for (int i = 0; i < b.n; ++i) s += (b[i] - y[i]) * (b[i] - y[i]);
  return std::sqrt(s);
}

// Dense R A R^T from element access only.
std::vector<double> denseGalerkin(const Matrix<double>& A, const Matrix<double>& R) {
  const int nc = R.nRow, nf = R.nCol;
  std::vector<double> RA(static_cast<size_t>(nc) * nf, 0.0), C(static_cast<size_t>(nc) * nc, 0.0);
  std::vector<double> Rd(static_cast<size_t>(nc) * nf), Ad(static_cast<size_t>(nf) * nf);
  for (int i = 0; i < nc; ++i)
    for (int j = 0; j < nf; ++j) Rd[static_cast<size_t>(i) * nf + j] = R(i, j);
  for (int i = 0; i < nf; ++i)
    for (int j = 0; j < nf; ++j) Ad[static_cast<size_t>(i) * nf + j] = A(i, j);
  for (int i = 0; i < nc; ++i)
    for (int k = 0; k < nf; ++k) {
      double r = Rd[static_cast<size_t>(i) * nf + k];
      if (r == 0) continue;
      for (int j = 0; j < nf; ++j)
        RA[static_cast<size_t>(i) * nf + j] += r * Ad[static_cast<size_t>(k) * nf + j];
    }
  for (int i = 0; i < nc; ++i)
    for (int j = 0; j < nc; ++j) {
      double s = 0;
      for (int k = 0; k < nf; ++k)
        s += RA[static_cast<size_t>(i) * nf + k] * Rd[static_cast<size_t>(j) * nf + k];
      C[static_cast<size_t>(i) * nc + j] = s;
    }
  return C;
}

struct Hierarchy {
  std::unique_ptr<Matrix<double>> fine;
  std::vector<std::unique_ptr<PackedMatrix<double>>> R;
  std::vector<Matrix<double>*> rp;
  Vector<double> b, x;
  std::unique_ptr<Multigrid<double>> mg;

  Hierarchy(bool block, int finest, int levels, int coarseSolver = 0) {
    if (block)
      fine = laplaceBlock(finest);
    else
      fine = laplacePacked(finest);
    R = restrictions(finest, levels, block ? 3 : 1);
    for (auto& r : R) rp.push_back(r.get());
    b.resize(fine->nRow);
    x.resize(fine->nRow);
    mg = std::make_unique<Multigrid<double>>(*fine, rp.data(), b, x, 1e-4, levels, 1, 1, true);
    testing::internal::CaptureStdout();
    mg->calcHierarchy(nullptr);
    mg->setCoarseSolver(coarseSolver);
    testing::internal::GetCapturedStdout();
  }

  // Mean residual reduction per V-cycle over cycles 3 .. 10.
  double convergenceFactor(double omega) {
    fillRandom(b, 99);
    std::fill(x.data, x.data + x.n, 0.0);
    for (int c = 0; c < 2; ++c) mg->vCycle(omega);
    double r0 = residualNorm(*fine, x, b);
    for (int c = 0; c < 8; ++c) mg->vCycle(omega);
    return std::pow(residualNorm(*fine, x, b) / r0, 1.0 / 8);
  }
};

}  // namespace

TEST(Multigrid, LevelVectorsAliasCallerAndPool) {
  Hierarchy h(false, 3, 3);
  EXPECT_EQ(h.mg->rhs[2].data, h.b.data);
  EXPECT_EQ(h.mg->sol[2].data, h.x.data);
  EXPECT_FALSE(h.mg->rhs[2].owns);
  EXPECT_EQ(h.mg->res[2].data, h.mg->pool);
  EXPECT_EQ(h.mg->rhs[1].data, h.mg->pool + h.b.n);
  EXPECT_EQ(h.mg->rhs[1].n, 27);
  EXPECT_EQ(h.mg->rhs[0].n, 1);
  EXPECT_EQ(h.mg->res[0].data + 1, h.mg->pool + h.b.n + 3 * (27 + 1));
}

TEST(Multigrid, CoarseMatricesAreGalerkinProducts) {
  for (bool block : {false, true}) {
    Hierarchy h(block, 3, 3);
    EXPECT_EQ(h.mg->basisType, block ? 1 : 0);
    for (int l = 1; l >= 0; --l) {
      const Matrix<double>& F = *h.mg->A[l + 1];
      const Matrix<double>& C = *h.mg->A[l];
      auto ref = denseGalerkin(F, *h.R[l]);
      ASSERT_EQ(C.nRow, h.R[l]->nRow);
      EXPECT_TRUE(C.symmetric);
      for (int i = 0; i < C.nRow; ++i)
        for (int j = 0; j < C.nCol; ++j) {
          double expect = ref[static_cast<size_t>(i) * C.nRow + j];
          // The packed basis drops coarse entries below 1e-4.
          if (!block && std::fabs(expect) < 1e-4) expect = 0.0;
          EXPECT_NEAR(C(i, j), expect, 1e-12) << block << " " << l << " " << i << " " << j;
        }
    }
  }
}

TEST(Multigrid, PackedCoarseEntriesBelowThresholdAreDropped) {
  SparseMatrix<double> s(4, 4), id(4, 4);
  const double d[4] = {0.99e-4, 1e-4, -1e-4, 2.0};
  for (int i = 0; i < 4; ++i) {
    s.setElem(i, i, d[i]);
    id.setElem(i, i, 1.0);
  }
  PackedMatrix<double> fine(s), R(id);
  Matrix<double>* rp[] = {&R};
  Vector<double> b(4), x(4);
  Multigrid<double> mg(fine, rp, b, x, 1e-4, 2, 1, 1);
  testing::internal::CaptureStdout();
  mg.calcHierarchy(nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  auto* C = dynamic_cast<PackedMatrix<double>*>(mg.A[0]);
  ASSERT_NE(C, nullptr);
  EXPECT_EQ(C->nnz, 3);
  EXPECT_EQ((*C)(0, 0), 0.0);
  EXPECT_EQ((*C)(1, 1), 1e-4);
  EXPECT_EQ((*C)(2, 2), -1e-4);
  EXPECT_EQ(out, "  Calc Level 0 ....   Fillratio of A[0] = 18.75%\n");
}

TEST(Multigrid, HierarchyMessages) {
  auto fine = laplacePacked(2);
  auto R = restrictions(2, 2, 1);
  Matrix<double>* rp[] = {R[0].get()};
  Vector<double> b(fine->nRow), x(fine->nRow);
  Multigrid<double> mg(*fine, rp, b, x, 1e-4, 2, 1, 1);
  testing::internal::CaptureStdout();
  mg.calcHierarchy(nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "  Symmetry Optimizations enabled! \n  Calc Level 0 ....   Fillratio of A[0] = 100%\n");
}

TEST(MultigridDeathTest, UnsupportedBasisEndsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FullMatrix<double> fine(2, 2);
  SparseMatrix<double> s(1, 2);
  s.setElem(0, 0, 1.0);
  PackedMatrix<double> R(s);
  Matrix<double>* rp[] = {&R};
  Vector<double> b(2), x(2);
  Multigrid<double> mg(fine, rp, b, x, 1e-4, 2, 1, 1);
  EXPECT_EXIT(mg.calcHierarchy(nullptr), testing::ExitedWithCode(1),
              "\\[Multigrid, calcHierarchy\\]: Error: Neither PackedMatrix nor BlockMatrix is used "
              "as Basis!!");
}

TEST(MultigridDeathTest, MissingRestrictionEndsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto fine = laplacePacked(2);
  Vector<double> b(fine->nRow), x(fine->nRow);
  Matrix<double>* none[] = {nullptr};
  for (Matrix<double>** rp : {none, static_cast<Matrix<double>**>(nullptr)}) {
    EXPECT_EXIT(
        {
          Multigrid<double> mg(*fine, rp, b, x, 1e-4, 2, 1, 1);
          mg.calcHierarchy(nullptr);
        },
        testing::ExitedWithCode(1),
        "\\[Multigrid, calcHierarchy\\]: Error: Neither PackedMatrix nor BlockMatrix is used "
        "as Basis!!");
  }
}

TEST(Multigrid, VCycleFactorIsLevelIndependent) {
  for (bool block : {false, true}) {
    Hierarchy three(block, 4, 3), four(block, 5, 4);
    double f3 = three.convergenceFactor(1.7), f4 = four.convergenceFactor(1.7);
    // SOR(1.7) is a modest smoother on the 7-point stencil.
    EXPECT_LT(f3, 0.7) << block;
    EXPECT_LT(f4, 0.7) << block;
    EXPECT_NEAR(f3, f4, 0.05) << block;
  }
}

namespace {

// Dense n x n copy of a matrix, row-major.
std::vector<double> dense(const Matrix<double>& A) {
  std::vector<double> d(static_cast<size_t>(A.nRow) * A.nCol);
  for (int i = 0; i < A.nRow; ++i)
    for (int j = 0; j < A.nCol; ++j) d[static_cast<size_t>(i) * A.nCol + j] = A(i, j);
  return d;
}

// Solves the n x n system a y = t in place of t by elimination with
// partial pivoting.
void denseSolve(std::vector<double> a, double* t, int n) {
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(a[i * n + k]) > std::fabs(a[p * n + k])) p = i;
    for (int j = 0; j < n; ++j) std::swap(a[k * n + j], a[p * n + j]);
    std::swap(t[k], t[p]);
    for (int i = k + 1; i < n; ++i) {
      const double m = a[i * n + k] / a[k * n + k];
      for (int j = k; j < n; ++j) a[i * n + j] -= m * a[k * n + j];
      t[i] -= m * t[k];
    }
  }
  for (int i = n - 1; i >= 0; --i) {
    for (int j = i + 1; j < n; ++j) t[i] -= a[i * n + j] * t[j];
    t[i] /= a[i * n + i];
  }
}

// One V-cycle on dense copies of the level matrices and restrictions, as
// the cycle is defined: up to nu forward block SOR sweeps (3 x 3 blocks)
// while the squared residual sum exceeds eps2, the residual, its
// restriction, an exact coarsest solve, then prolongation, correction and
// the post-sweeps.
struct DenseCycle {
  std::vector<std::vector<double>> A, R;  // R[l]: level l+1 -> l
  std::vector<int> n;
  int nu1, nu2;
  double eps2;

  explicit DenseCycle(const Multigrid<double>& mg) : nu1(mg.nu1), nu2(mg.nu2), eps2(mg.eps2) {
    for (int l = 0; l < mg.levels; ++l) {
      A.push_back(dense(*mg.A[l]));
      n.push_back(mg.A[l]->nRow);
      if (l + 1 < mg.levels) R.push_back(dense(*mg.restriction[l]));
    }
  }
  double sweep(int l, std::vector<double>& x, const std::vector<double>& b, double omega) const {
    const int m = n[l];
    const std::vector<double>& a = A[l];
    double res = 0;
    for (int r = 0; r < m / 3; ++r) {
      double t[3];
      std::vector<double> D(9);
      for (int k = 0; k < 3; ++k) {
        const int i = 3 * r + k;
        t[k] = b[i];
        for (int j = 0; j < m; ++j) t[k] -= a[static_cast<size_t>(i) * m + j] * x[j];
        res += t[k] * t[k];
        for (int c = 0; c < 3; ++c) D[3 * k + c] = a[static_cast<size_t>(i) * m + 3 * r + c];
      }
      denseSolve(D, t, 3);
      for (int k = 0; k < 3; ++k) x[3 * r + k] += omega * t[k];
    }
    return res;
  }
  void smooth(int l, std::vector<double>& x, const std::vector<double>& b, int count,
              double omega) const {
    for (int s = 0; s < count; ++s)
      if (sweep(l, x, b, omega) <= eps2) break;
  }
  void cycle(int l, std::vector<double>& x, const std::vector<double>& b, double omega) const {
    if (l == 0) {
      x = b;
      denseSolve(A[0], x.data(), n[0]);
      return;
    }
    smooth(l, x, b, nu1, omega);
    const int m = n[l], mc = n[l - 1];
    std::vector<double> r(b), bc(mc, 0.0), xc(mc, 0.0);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) r[i] -= A[l][static_cast<size_t>(i) * m + j] * x[j];
    for (int i = 0; i < mc; ++i)
      for (int j = 0; j < m; ++j) bc[i] += R[l - 1][static_cast<size_t>(i) * m + j] * r[j];
    cycle(l - 1, xc, bc, omega);
    for (int j = 0; j < m; ++j)
      for (int i = 0; i < mc; ++i) x[j] += R[l - 1][static_cast<size_t>(i) * m + j] * xc[i];
    smooth(l, x, b, nu2, omega);
  }
};

double maxRelDiff(const Vector<double>& x, const std::vector<double>& ref) {
  double scale = 0, diff = 0;
  for (int i = 0; i < x.n; ++i) {
    scale = std::max(scale, std::fabs(ref[i]));
    diff = std::max(diff, std::fabs(x[i] - ref[i]));
  }
  return diff / scale;
}

// Adds to `out` the dense correction Z (Z^T A Z)^-1 Z^T (b - A x) over the
// first m rigid modes of the d-blocks i with in(i): the translations, then
// the turns e x p about the origin for the unit axes e (z in 2-D).
void addRigidProjection(const std::vector<double>& a, const Vector<double>& b,
                        const Vector<double>& x, const Vector<double>& rest, int d, int m,
                        const std::function<bool(int)>& in, std::vector<double>& out) {
  const int n = b.n;
  std::vector<double> Z(n * m, 0.0), G(m * m, 0.0), c(m, 0.0);
  for (int i = 0; i < n; i += d)
    for (int k = 0; k < m && in(i); ++k) {
      const double e[3] = {k == 3 ? 1.0 : 0.0, k == 4 ? 1.0 : 0.0, k == 5 || d == 2 ? 1.0 : 0.0};
      const double p[3] = {rest[i], d > 1 ? rest[i + 1] : 0.0, d > 2 ? rest[i + 2] : 0.0};
      for (int q = 0; q < d; ++q)
        Z[k * n + i + q] = k < d
                               ? (q == k ? 1.0 : 0.0)
                               : e[(q + 1) % 3] * p[(q + 2) % 3] - e[(q + 2) % 3] * p[(q + 1) % 3];
    }
  for (int k = 0; k < m; ++k)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        c[k] += Z[k * n + i] * ((i == j ? b[i] : 0.0) - a[i * n + j] * x[j]);
        for (int l = 0; l < m; ++l) G[k * m + l] += Z[k * n + i] * a[i * n + j] * Z[l * n + j];
      }
  denseSolve(G, c.data(), m);
  for (int k = 0; k < m; ++k)
    for (int i = 0; i < n; ++i) out[i] += Z[k * n + i] * c[k];
}

}  // namespace

// The block levels restrict their residual and add the prolonged
// correction row by row; the cycle is still the defined one, within
// rounding, also after a Galerkin refresh of changed fine values.
TEST(Multigrid, BlockCycleEqualsTheDenseDefinition) {
  for (int nu : {1, 2}) {
    SCOPED_TRACE(nu);
    auto fine = laplaceBlock(3);
    auto R = restrictions(3, 3, 3);
    std::vector<Matrix<double>*> rp;
    for (auto& r : R) rp.push_back(r.get());
    Vector<double> b(fine->nRow), x(fine->nRow);
    Multigrid<double> mg(*fine, rp.data(), b, x, 1e-4, 3, nu, nu);
    testing::internal::CaptureStdout();
    mg.calcHierarchy(nullptr);
    mg.setCoarseSolver(0);
    testing::internal::GetCapturedStdout();
    fillRandom(b, 12);
    std::vector<double> xr(x.n, 0.0), br(b.data, b.data + b.n);
    DenseCycle ref(mg);
    for (int c = 0; c < 3; ++c) {
      mg.vCycle(1.7);
      ref.cycle(2, xr, br, 1.7);
      EXPECT_LT(maxRelDiff(x, xr), 1e-12) << c;
    }

    // New fine values, coarse matrices refreshed in place; the coarsest
    // solver is rebuilt on the new level 0.
    for (auto& blk : fine->blocks)
      for (double& v : blk.values) v *= blk.row0 == blk.col0 ? 1.5 : 1.2;
    for (int l = 1; l >= 0; --l)
      Multigrid<double>::galerkinProduct(dynamic_cast<BlockMatrix<double, 3>&>(*mg.A[l + 1]), *R[l],
                                         dynamic_cast<BlockMatrix<double, 3>&>(*mg.A[l]), false);
    testing::internal::CaptureStdout();
    mg.setCoarseSolver(0);
    testing::internal::GetCapturedStdout();
    DenseCycle changed(mg);
    mg.vCycle(1.7);
    changed.cycle(2, xr, br, 1.7);
    EXPECT_LT(maxRelDiff(x, xr), 1e-12);
  }
}

// The correction that ends a V-cycle on a free body against its dense
// definition x + Z (Z^T A Z)^-1 Z^T (b - A x), with Z the translations and
// the rotations e_k x p about the origin: the cycle builds another basis of
// the same span (arms about the centre, scaled), which gives the same x.
TEST(Multigrid, RigidCorrectionIsTheGalerkinProjection) {
  const int n = 24;              // a multiple of 1, 2 and 3
  SparseMatrix<double> s(n, n);  // symmetric, diagonally dominant
  for (int i = 0; i < n; ++i) {
    s.setElem(i, i, 4.0 + 0.1 * i);
    for (int j = i + 1; j < n && j <= i + 5; j += 4) {
      s.setElem(i, j, -0.7);
      s.setElem(j, i, -0.7);
    }
  }
  PackedMatrix<double> A(s);
  A.symmetric = true;
  const std::vector<double> a = dense(A);
  const struct {
    int d;
    bool positions;
    int modes;
  } rows[] = {{3, true, 6}, {2, true, 3}, {3, false, 3}, {1, true, 1}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.d << " " << r.positions);
    Vector<double> b(n), x(n), rest(n);
    fillRandom(b, 3);
    fillRandom(x, 4);
    fillRandom(rest, 5);
    Multigrid<double> mg(A, nullptr, b, x, 1e-4, 1, 1, 1);
    ASSERT_TRUE(mg.correctRigidMotions(r.d, r.positions ? rest.data : nullptr));
    std::vector<double> expected(x.data, x.data + n);
    addRigidProjection(
        a, b, x, rest, r.d, r.modes, [](int) { return true; }, expected);
    mg.applyRigidCorrection();
    EXPECT_LT(maxRelDiff(x, expected), 1e-12);
  }
}

// Pieces: each that can still move (free, held at one point, along one
// line in 3-D) gets its own dense correction x + Z_p G_p^-1 Z_p^T (b - A x)
// over its modes on its blocks (turns about the origin here); a clamped
// piece (three points off a line, two in 2-D) and the blocks of no piece
// keep their x. A couples no two pieces.
TEST(Multigrid, PieceCorrectionIsEachMovingPiecesGalerkinProjection) {
  const int n = 48;
  const std::vector<double> point = {0.1, 0.2, 0.3}, twoPoints = {0, 0, 0, 1, 2, 3},
                            collinear = {0, 0, 0, 1, 2, 3, 2, 4, 6},
                            offLine = {0, 0, 0, 1, 2, 3, 2, 4, 7}, flatPoint = {0.1, 0.2},
                            flatPair = {0, 0, 1, 0};
  const struct {
    int d;
    std::vector<double> held[2];
    bool moves[2];
  } rows[] = {
      {3, {{}, point}, {true, true}},
      {3, {twoPoints, collinear}, {true, true}},
      {3, {offLine, {}}, {false, true}},
      {3, {offLine, offLine}, {false, false}},
      {2, {flatPoint, flatPair}, {true, false}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.d << " " << r.moves[0] << r.moves[1]);
    const int blocks = n / r.d;
    std::vector<int> piece(blocks);
    for (int j = 0; j < blocks; ++j) piece[j] = j < blocks / 2 ? 0 : j < blocks - 2 ? 1 : -1;
    auto pieceOf = [&](int i) { return piece[i / r.d]; };
    SparseMatrix<double> s(n, n);
    for (int i = 0; i < n; ++i) {
      s.setElem(i, i, 4.0 + 0.1 * i);
      for (int j = i + 1; j < n && j <= i + 5; j += 2)
        if (pieceOf(i) >= 0 && pieceOf(i) == pieceOf(j)) {
          s.setElem(i, j, -0.7);
          s.setElem(j, i, -0.7);
        }
    }
    PackedMatrix<double> A(s);
    A.symmetric = true;
    const std::vector<double> a = dense(A);
    Vector<double> b(n), x(n), rest(n);
    fillRandom(b, 3);
    fillRandom(x, 4);
    fillRandom(rest, 5);
    std::vector<double> expected(x.data, x.data + n);
    for (int p = 0; p < 2; ++p)
      if (r.moves[p])
        addRigidProjection(
            a, b, x, rest, r.d, r.d == 3 ? 6 : 3, [&](int i) { return pieceOf(i) == p; }, expected);
    Multigrid<double> mg(A, nullptr, b, x, 1e-4, 1, 1, 1);
    ASSERT_TRUE(mg.correctPieceMotions(r.d, rest.data, piece.data(), {r.held[0], r.held[1]}));
    EXPECT_EQ(mg.rigidBlock != 0, r.moves[0] || r.moves[1]);
    mg.applyRigidCorrection();
    EXPECT_LT(maxRelDiff(x, expected), 1e-12);
  }
}

TEST(Multigrid, FullMultigridSolves) {
  Hierarchy h(false, 4, 3);
  fillRandom(h.b, 5);
  double r0 = residualNorm(*h.fine, h.x, h.b);
  h.mg->fullMultigrid(2, 1.0);
  EXPECT_LT(residualNorm(*h.fine, h.x, h.b), 0.1 * r0);

  fillRandom(h.x, 6);
  h.mg->fullMultigrid(0, 1.7);  // only prolongations of a zero coarse solution
  for (int i = 0; i < h.x.n; ++i) EXPECT_EQ(h.x[i], 0.0);
}

TEST(Multigrid, CyclesAllocateNothing) {
  counting = true;  // the counter itself sees an allocation
  std::vector<double>* volatile escaped = new std::vector<double>(3);  // not elided
  delete escaped;
  counting = false;
  ASSERT_GE(allocations.exchange(0), 1);
  for (int coarse : {0, 1, 2}) {
    Hierarchy h(true, 3, 3, coarse);
    Vector<double> rest(h.x.n);
    fillRandom(rest, 8);
    ASSERT_TRUE(h.mg->correctRigidMotions(3, rest.data));  // the free body's correction too
    fillRandom(h.b, 7);
    counting = true;
    allocations = 0;
    h.mg->vCycle(1.7);
    h.mg->fullMultigrid(2, 1.7);
    counting = false;
    EXPECT_EQ(allocations.load(), 0) << coarse;
  }
}

namespace {
class CountingPacked : public PackedMatrix<double> {
 public:
  using PackedMatrix<double>::PackedMatrix;
  mutable int sweeps = 0;
  mutable double reported = -1;  // forced sweep result when >= 0
  void gaussSeidelStep(Vector<double>& x, const Vector<double>& b, const double& omega,
                       double& resSqr) const override {
    ++sweeps;
    PackedMatrix<double>::gaussSeidelStep(x, b, omega, resSqr);
    if (reported >= 0) resSqr = reported;
  }
};
}  // namespace

TEST(Multigrid, SmoothingRules) {
  auto lap = laplacePacked(3);
  SparseMatrix<double> s(lap->nRow, lap->nCol);
  lap->copyTo(s);
  CountingPacked fine(s);
  auto R = restrictions(3, 2, 1);
  Matrix<double>* rp[] = {R[0].get()};
  Vector<double> b(fine.nRow), x(fine.nRow);
  fillRandom(b, 8);

  // eps >= 1: no sweep at all.
  Multigrid<double> loose(fine, rp, b, x, 1.0, 2, 3, 3);
  testing::internal::CaptureStdout();
  loose.calcHierarchy(nullptr);
  loose.setCoarseSolver(0);
  testing::internal::GetCapturedStdout();
  loose.vCycle(1.7);
  EXPECT_EQ(fine.sweeps, 0);

  // A first sweep at or below eps2 ends the loop: one pre- and one post-sweep.
  Multigrid<double> mg(fine, rp, b, x, 1e-2, 2, 3, 3);
  testing::internal::CaptureStdout();
  mg.calcHierarchy(nullptr);
  mg.setCoarseSolver(0);
  testing::internal::GetCapturedStdout();
  fine.reported = 1e-4;
  fine.sweeps = 0;
  mg.vCycle(1.7);
  EXPECT_EQ(fine.sweeps, 2);
  fine.reported = 1.0;
  fine.sweeps = 0;
  mg.vCycle(1.7);
  EXPECT_EQ(fine.sweeps, 6);
}

TEST(Multigrid, OneLevelIsTheCoarseSolve) {
  auto fine = laplacePacked(2);
  Vector<double> b(fine->nRow), x(fine->nRow);
  fillRandom(b, 9);
  Multigrid<double> mg(*fine, nullptr, b, x, 1e-4, 1, 1, 1);
  mg.calcHierarchy(nullptr);
  testing::internal::CaptureStdout();
  mg.setCoarseSolver(0);
  testing::internal::GetCapturedStdout();
  mg.vCycle(1.7);
  EXPECT_LT(residualNorm(*fine, x, b), 1e-12);
  std::fill(x.data, x.data + x.n, 0.0);
  mg.fullMultigrid(1, 1.7);
  EXPECT_LT(residualNorm(*fine, x, b), 1e-12);
}

TEST(CGPreMgrid, ConvergesFasterThanDiagonalCG) {
  auto A = laplaceBlock(4);
  auto R = restrictions(4, 3, 3);
  std::vector<Matrix<double>*> rp;
  for (auto& r : R) rp.push_back(r.get());
  Vector<double> b(A->nRow), x1(A->nRow), x2(A->nRow);
  fillRandom(b, 10);
  const double target = 1e-8 * residualNorm(*A, x1, b);

  CGPreMgrid<double> mgcg(*A, b, x1, 5, 1e-6);
  mgcg.absolute = true;  // iterate until the test's own target
  mgcg.eps = 0.0;
  testing::internal::CaptureStdout();
  mgcg.setupMultigrid(rp.data(), 3);
  testing::internal::GetCapturedStdout();
  int mgSteps = 0;
  while (residualNorm(*A, x1, b) > target && mgSteps < 500) {
    mgcg.solve();
    ++mgSteps;
  }

  int cgSteps = 0;
  CGPreDiag<double> cg(*A, b, x2, 1, 0.0);
  cg.absolute = true;
  for (int maxIter = 1; maxIter < 2000; maxIter *= 2) {
    std::fill(x2.data, x2.data + x2.n, 0.0);
    cg.maxIter = maxIter;
    cg.solve();
    cgSteps = maxIter;
    if (residualNorm(*A, x2, b) <= target) break;
  }
  EXPECT_LE(residualNorm(*A, x1, b), target);
  EXPECT_LT(mgSteps, cgSteps / 2);
}

// 27 coarse unknowns against memory for limits of 26 (the sparse factor)
// and 27 (the dense inverse); whatever the memory, or untold (0), 1,000 and
// 15,500 unknowns get the factor, which builds and solves far quicker.
TEST(Multigrid, CoarseLevelTooLargeForADenseInverseGetsTheSparseFactor) {
  static uint64_t memory;
  const auto saved = physicalMemory;
  physicalMemory = [] { return memory; };
  for (const auto& [limit, type] : {std::pair<uint64_t, int>{26, 3}, {27, 0}}) {
    memory = 8 * 24 * limit * limit;  // an eighth of it holds three n x n arrays
    Hierarchy h(false, 3, 2);
    EXPECT_EQ(h.mg->A[0]->nRow, 27);
    EXPECT_EQ(h.mg->coarseSolverType, type) << limit;
    EXPECT_LT(h.convergenceFactor(1.0), 0.5) << limit;
  }
  for (uint64_t m : {uint64_t(0), uint64_t(1) << 50}) {
    memory = m;
    EXPECT_TRUE(denseInverseFits(27)) << m;
    EXPECT_FALSE(denseInverseFits(1000)) << m;
    EXPECT_FALSE(denseInverseFits(15500)) << m;
  }
  physicalMemory = saved;
}
