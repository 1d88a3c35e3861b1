// The sparse Cholesky solve against a dense Eigen factorisation, its
// refusals, and its symbolic size estimate against the factor it makes.

#include <gtest/gtest.h>

#include <Eigen/Dense>

#include "SparseCholesky.h"
#include "StructuredGrids.h"

using namespace zolt::test;

TEST(SparseCholesky, SolvesAsADenseFactorisationOrRefuses) {
  const auto packed = laplacePacked(3), unflagged = laplacePacked(2);
  const auto block = laplaceBlock(3), negated = laplaceBlock(2);
  negated->scale(-1.0);
  unflagged->symmetric = false;
  const struct {
    const char* name;
    Matrix<double>* A;
    bool ok;
  } rows[] = {{"packed Laplacian", packed.get(), true},
              {"3x3-block Laplacian", block.get(), true},
              {"negated", negated.get(), false},
              {"not flagged symmetric", unflagged.get(), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Matrix<double>& A = *row.A;
    const int n = A.nRow;
    Vector<double> b(n), x(n);
    fillRandom(b, 7);
    SparseCholesky solver(A, b, x);
    ASSERT_EQ(solver.ok(), row.ok) << solver.factor->error();
    if (!row.ok) {
      EXPECT_FALSE(solver.factor->error().empty());
      continue;
    }
    Eigen::MatrixXd D(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) D(i, j) = A(i, j);
    const Eigen::VectorXd e = D.llt().solve(Eigen::Map<const Eigen::VectorXd>(b.data, n));
    for (int repeat = 0; repeat < 2; ++repeat) {  // the kept workspaces give the same
      solver.solve();
      const Eigen::VectorXd d = Eigen::Map<const Eigen::VectorXd>(x.data, n) - e;
      EXPECT_LT(d.lpNorm<Eigen::Infinity>(), 1e-12 * e.lpNorm<Eigen::Infinity>());
    }
  }
}

// The estimate from the node graph alone never falls below the factor it
// makes and over-counts by less than a factor of 2, for scalar and
// 3x3-block entries.
TEST(SparseCholesky, EstimateFromTheNodeGraphMatchesTheFactor) {
  for (int level : {3, 4}) {
    const int m = gridSize(level);
    std::vector<std::vector<int>> graph(static_cast<size_t>(m * m * m));
    forEachLaplaceEntry(level, [&](int r, int c, double) {
      if (r != c) graph[static_cast<size_t>(r)].push_back(c);
    });
    const auto P = laplacePacked(level);
    const auto B = laplaceBlock(level);
    for (const auto& [A, blockSize] : {std::pair<Matrix<double>*, int>{P.get(), 1}, {B.get(), 3}}) {
      SCOPED_TRACE(testing::Message() << "level " << level << ", block " << blockSize);
      CholeskyFactor f;
      ASSERT_TRUE(f.factor(*A, nullptr));
      const double ratio = double(CholeskyFactor::estimateBytes(graph, blockSize)) / f.bytes();
      EXPECT_GE(ratio, 1.0);
      EXPECT_LT(ratio, 2.0);
    }
  }
}
