#pragma once
// Sparse Cholesky factor (CHOLMOD, fill-reducing ordering) of a
// symmetric positive definite matrix, and the solver that applies it: a
// solve is the two triangular solves. Used where a dense inverse does not
// fit (MemoryLimits.h).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Iteration.h"

class ProgressBar;

// Owns the CHOLMOD workspace and factor. Independent of any right-hand
// side, so solvers on the same matrix may share one.
class CholeskyFactor {
 public:
  CholeskyFactor();
  ~CholeskyFactor();
  CholeskyFactor(const CholeskyFactor&) = delete;
  CholeskyFactor& operator=(const CholeskyFactor&) = delete;

  // Analyses and factors the lower triangle of A (a block or packed
  // matrix flagged symmetric). False, with `error` set, when A is of another
  // kind, not symmetric or not positive definite; throws std::bad_alloc when
  // CHOLMOD (or the BLAS work buffer, see blasBufferBytes) runs out of
  // memory. Also makes the solves' workspaces. pb (may be null, total 2)
  // steps once after the analysis and finishes after the factorisation.
  bool factor(const Matrix<double>& A, ProgressBar* pb);
  // True after a successful factor().
  bool factored() const;
  // x = A^-1 b, both of A's length; allocates nothing. False when there is
  // no factor or CHOLMOD fails.
  bool solve(const double* b, double* x);

  // Doubles and integers the factor holds.
  uint64_t bytes() const;
  const std::string& error() const { return message; }

  // Bytes of the factor of a matrix whose pattern is `graph` (per node the
  // neighbours, either direction) with dense blockSize x blockSize blocks,
  // from the symbolic analysis of the node graph: never less than the
  // factor, up to twice it for blocks.
  static uint64_t estimateBytes(const std::vector<std::vector<int>>& graph, int blockSize);
  // The same for a frozen block matrix, from its block pattern; 0 for any
  // other kind.
  static uint64_t estimateBytes(const Matrix<double>& A);
  // Address space the first factor of the process still has to map for the
  // BLAS work buffer, with headroom; 0 once it is mapped.
  static uint64_t blasBufferBytes();
  // Address space the mapped buffer holds until the process ends (OpenBLAS
  // never gives it back); 0 before the first factor.
  static uint64_t blasBufferHeldBytes();
  // Unknowns up to which the factor is simplicial (plain loops, no BLAS and
  // no BLAS work buffer), as quick here as the supernodal one; above them
  // it is supernodal. Benchmarks may change it.
  static int64_t simplicialLimit;
  // blasBufferBytes() for a factor of n unknowns: 0 for a simplicial one.
  static uint64_t blasBufferBytes(int64_t n) { return n > simplicialLimit ? blasBufferBytes() : 0; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  int n = 0;
  std::string message;
};

// Direct solver on a shared factor of A.
class SparseCholesky : public Iteration<double> {
 public:
  std::shared_ptr<CholeskyFactor> factor;

  // Factors A; check ok() (the factor's error() says why not).
  SparseCholesky(Matrix<double>& A, Vector<double>& b, Vector<double>& x,
                 ProgressBar* pb = nullptr);
  // Takes a factor of A made before; ok() is false when it holds none.
  SparseCholesky(Matrix<double>& A, Vector<double>& b, Vector<double>& x,
                 std::shared_ptr<CholeskyFactor> factor);
  bool ok() const { return factored; }
  void solve() override;

 private:
  bool factored = false;
};
