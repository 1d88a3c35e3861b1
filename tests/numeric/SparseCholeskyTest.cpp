// The sparse Cholesky solve against a dense Eigen factorisation, its
// refusals, its symbolic size estimate against the factor it makes, and a
// first factor under an address-space limit.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <Eigen/Dense>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>

#include "Files.h"
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
  // Both kinds of factor: simplicial (these sizes by default) and
  // supernodal (a limit of 0).
  const int64_t saved = CholeskyFactor::simplicialLimit;
  for (int64_t limit : {saved, int64_t(0)})
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + " simplicial up to " + std::to_string(limit));
      CholeskyFactor::simplicialLimit = limit;
      Matrix<double>& A = *row.A;
      const int n = A.nRow;
      Vector<double> b(n), x(n);
      fillRandom(b, 7);
      SparseCholesky solver(A, b, x);
      EXPECT_EQ(solver.ok(), row.ok) << solver.factor->error();
      if (solver.ok() != row.ok) continue;
      Vector<double> y(n);  // a second solver on the same factor
      SparseCholesky shared(A, b, y, solver.factor);
      EXPECT_EQ(shared.ok(), row.ok);
      if (!row.ok) {
        EXPECT_FALSE(solver.factor->error().empty());
        EXPECT_FALSE(solver.factor->solve(b.data, x.data));  // no factor to solve with
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
      shared.solve();
      EXPECT_TRUE(std::equal(x.data, x.data + n, y.data));
    }
  CholeskyFactor::simplicialLimit = saved;
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

// The BLAS maps a 128 MB work buffer on its first call and used to retry a
// failed map forever. A first factor whose address-space or data limit
// (which counts private writable maps beside the heap) leaves too little
// room for it runs out of memory at once; with room it factors.
TEST(SparseCholeskyDeathTest, AFirstFactorUnderAnAddressSpaceLimitEnds) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's shadow memory defeats address-space limits";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, no buffer yet
  const auto A = laplaceBlock(4);                  // 8,001 unknowns
  const struct {
    decltype(RLIMIT_AS) limit;
    const char* used;  // what the limit counts
    uint64_t room;     // above it
    const char* ends;
  } rows[] = {{RLIMIT_AS, "VmSize:", uint64_t(32) << 20, "out of memory"},
              {RLIMIT_AS, "VmSize:", uint64_t(100) << 20, "out of memory"},
              {RLIMIT_AS, "VmSize:", uint64_t(1) << 30, "factored"},
              {RLIMIT_DATA, "VmData:", uint64_t(100) << 20, "out of memory"},
              {RLIMIT_DATA, "VmData:", uint64_t(1) << 30, "factored"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.used) + " " + std::to_string(row.room >> 20));
    EXPECT_EXIT(
        {
          alarm(60);  // a spin ends in SIGALRM rather than a hung test
          rlimit r;
          getrlimit(row.limit, &r);
          r.rlim_cur = statusBytes(row.used) + row.room;
          setrlimit(row.limit, &r);
          try {
            CholeskyFactor f;
            std::cerr << (f.factor(*A, nullptr) ? "factored" : f.error()) << std::endl;
          } catch (const std::bad_alloc&) {
            std::cerr << "out of memory" << std::endl;
          }
          std::exit(0);
        },
        testing::ExitedWithCode(0), row.ends);
  }
}
