// The sparse Cholesky solve against a dense Eigen factorisation, its
// refusals, and its symbolic size estimate against the factor it makes.

#include <gtest/gtest.h>

#include <Eigen/Dense>

#include "SparseCholesky.h"
#include "StructuredGrids.h"

using namespace zolt::test;

namespace {

Eigen::MatrixXd dense(const Matrix<double>& A) {
  Eigen::MatrixXd D(A.nRow, A.nCol);
  for (int i = 0; i < A.nRow; ++i)
    for (int j = 0; j < A.nCol; ++j) D(i, j) = A(i, j);
  return D;
}

// Per grid node its neighbours in the Laplacian.
std::vector<std::vector<int>> laplaceGraph(int level) {
  const int m = gridSize(level);
  std::vector<std::vector<int>> g(static_cast<size_t>(m * m * m));
  forEachLaplaceEntry(level, [&](int r, int c, double) {
    if (r != c) g[static_cast<size_t>(r)].push_back(c);
  });
  return g;
}

}  // namespace

TEST(SparseCholesky, SolvesAsADenseFactorisationOrRefuses) {
  const struct {
    const char* name;
    std::unique_ptr<Matrix<double>> A;
    bool ok;
  } rows[] = {
      {"packed Laplacian", laplacePacked(3), true},
      {"3x3-block Laplacian", laplaceBlock(3), true},
      {"negated",
       [] {
         auto A = laplaceBlock(2);
         A->scale(-1.0);
         return A;
       }(),
       false},
      {"not flagged symmetric",
       [] {
         auto A = laplacePacked(2);
         A->symmetric = false;
         return A;
       }(),
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const int n = row.A->nRow;
    Vector<double> b(n), x(n);
    fillRandom(b, 7);
    SparseCholesky solver(*row.A, b, x);
    ASSERT_EQ(solver.ok(), row.ok) << solver.factor->error();
    if (!row.ok) {
      EXPECT_FALSE(solver.factor->error().empty());
      continue;
    }
    for (int repeat = 0; repeat < 2; ++repeat) {  // the kept workspaces give the same
      solver.solve();
      const Eigen::VectorXd e =
          dense(*row.A).llt().solve(Eigen::Map<const Eigen::VectorXd>(b.data, n));
      double err = 0, size = 0;
      for (int i = 0; i < n; ++i) {
        err = std::max(err, std::fabs(x[i] - e[i]));
        size = std::max(size, std::fabs(e[i]));
      }
      EXPECT_LT(err, 1e-12 * size);
    }
  }
}

// The estimate from the node graph alone never falls below the factor it
// makes and over-counts by less than a factor of 2, for scalar and
// 3x3-block entries.
TEST(SparseCholesky, EstimateFromTheNodeGraphMatchesTheFactor) {
  for (int level : {3, 4}) {
    const auto graph = laplaceGraph(level);
    const auto P = laplacePacked(level);
    const auto B = laplaceBlock(level);
    for (const auto& [A, blockSize] :
         {std::pair<const Matrix<double>*, int>{P.get(), 1}, {B.get(), 3}}) {
      CholeskyFactor f;
      ASSERT_TRUE(f.factor(*A, nullptr));
      const double ratio = double(CholeskyFactor::estimateBytes(graph, blockSize)) / f.bytes();
      EXPECT_GE(ratio, 1.0) << level << " " << blockSize;
      EXPECT_LT(ratio, 2.0) << level << " " << blockSize;
    }
  }
}
