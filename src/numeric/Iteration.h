#pragma once
// Linear solvers for A x = b. A solver binds the matrix, right-hand side and
// solution by reference (never owned); solve() starts from the current x and
// leaves the result in x.

#include <ostream>

#include "FullMatrix.h"
#include "Matrix.h"

template <class T>
class Multigrid;

template <class T>
class Iteration {
 public:
  Matrix<T>* A;
  Vector<T>* b;
  Vector<T>* x;
  int maxIter;
  T eps;      // relative factor, or a bound on r.r when `absolute` is set
  T maxAbsA;  // A.maxAbs() at construction
  bool absolute = false;

  Iteration(Matrix<T>& A, Vector<T>& b, Vector<T>& x, int maxIter, T eps);
  virtual ~Iteration() = default;
  Iteration(const Iteration&) = delete;
  Iteration& operator=(const Iteration&) = delete;

  virtual void solve() = 0;
  virtual void afterSolve() {}
  virtual void writeToFile(std::ostream&) {}

 protected:
  // The shared stopping test on the squared residual norm rr.
  bool converged(T rr) const;
};

// Conjugate gradients with the inverted diagonal as preconditioner.
template <class T>
class CGPreDiag : public Iteration<T> {
 public:
  Vector<T>* z;
  Vector<T>* q;
  Vector<T>* p;
  Vector<T>* r;
  Vector<T>* invDiag;  // owners may overwrite it

  CGPreDiag(Matrix<T>& A, Vector<T>& b, Vector<T>& x, int maxIter, T eps);
  ~CGPreDiag() override;
  void solve() override;
};

// One conjugate-gradient step per solve, preconditioned by one V-cycle of an
// owned multigrid whose finest right-hand side is r and solution z; the
// multigrid's rigid-motion correction (none unless given) then acts on x.
template <class T>
class CGPreMgrid : public Iteration<T> {
 public:
  Vector<T>* z;
  Vector<T>* q;
  Vector<T>* p;
  Vector<T>* r;
  Multigrid<T>* multigrid = nullptr;

  CGPreMgrid(Matrix<T>& A, Vector<T>& b, Vector<T>& x, int maxIter, T eps);
  ~CGPreMgrid() override;
  // Builds the preconditioner on A: a multigrid over the given restrictions
  // (eps 1e-6, one pre- and one post-sweep), its hierarchy, and a diagonal
  // CG on the coarsest level.
  void setupMultigrid(Matrix<T>** restriction, int levels, ProgressBar* pb = nullptr);
  void solve() override;
};

// Repeated forward SOR sweeps.
template <class T>
class GaussSeidel : public Iteration<T> {
 public:
  T omega;
  GaussSeidel(Matrix<T>& A, Vector<T>& b, Vector<T>& x, int maxIter, T eps, T omega);
  void solve() override;
};

// Dense inverse computed once; a solve is one matrix-vector product.
template <class T>
class Invert : public Iteration<T> {
 public:
  FullMatrix<T>* inverse;  // owned

  Invert(Matrix<T>& A, Vector<T>& b, Vector<T>& x);
  // Takes an inverse read back from a dense record: no inversion.
  Invert(Matrix<T>& A, Vector<T>& b, Vector<T>& x, FullMatrix<T>* inverse);
  ~Invert() override;
  void solve() override;
  // The inverse as a dense record.
  void writeToFile(std::ostream& f) override;
};

extern template class Iteration<double>;
extern template class CGPreDiag<double>;
extern template class CGPreMgrid<double>;
extern template class GaussSeidel<double>;
extern template class Invert<double>;
