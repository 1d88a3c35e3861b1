#include "Multigrid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>

#include "StructuredGrids.h"

// Heap allocations made while `counting` is set.
static std::atomic<bool> counting{false};
static std::atomic<long> allocations{0};

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (counting) ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

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
      for (int j = 0; j < nf; ++j) RA[static_cast<size_t>(i) * nf + j] += r * Ad[static_cast<size_t>(k) * nf + j];
    }
  for (int i = 0; i < nc; ++i)
    for (int j = 0; j < nc; ++j) {
      double s = 0;
      for (int k = 0; k < nf; ++k) s += RA[static_cast<size_t>(i) * nf + k] * Rd[static_cast<size_t>(j) * nf + k];
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
  EXPECT_EQ(out, "  Symmetry Optimizations enabled! \n  Calc Level 0 ....   Fillratio of A[0] = 100%\n");
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
  for (int coarse : {0, 1, 2}) {
    Hierarchy h(true, 3, 3, coarse);
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
