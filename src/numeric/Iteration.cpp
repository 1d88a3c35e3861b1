#include "Iteration.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "Multigrid.h"

namespace {

template <class T>
T dot(const Vector<T>& u, const Vector<T>& v) {
  T s = 0;
  for (int i = 0; i < u.n; ++i) s += u.data[i] * v.data[i];
  return s;
}

template <class T>
T norm(const Vector<T>& v) {
  return std::sqrt(dot(v, v));
}

}  // namespace

template <class T>
Iteration<T>::Iteration(Matrix<T>& A_, Vector<T>& b_, Vector<T>& x_, int maxIter_, T eps_)
    : A(&A_), b(&b_), x(&x_), maxIter(maxIter_), eps(eps_), maxAbsA(A_.maxAbs()) {}

template <class T>
bool Iteration<T>::converged(T rr) const {
  if (absolute) return rr < eps;
  T t = eps * (maxAbsA * norm(*x) + norm(*b));
  if (t < 1e-6) t = 1e-6;
  return rr < t * t;
}

// ------------------------------------------------------------- CGPreDiag

template <class T>
CGPreDiag<T>::CGPreDiag(Matrix<T>& A_, Vector<T>& b_, Vector<T>& x_, int maxIter_, T eps_)
    : Iteration<T>(A_, b_, x_, maxIter_, eps_) {
  const int n = b_.n;
  invDiag = new Vector<T>(n);
  z = new Vector<T>(n);
  q = new Vector<T>(n);
  p = new Vector<T>(n);
  r = new Vector<T>(n);
  for (int i = 0; i < n; ++i) {
    T d = A_(i, i);
    invDiag->data[i] = std::fabs(d) < 1e-4 ? T(1.0) : 1 / d;
  }
}

template <class T>
CGPreDiag<T>::~CGPreDiag() {
  delete z;
  delete q;
  delete p;
  delete r;
  delete invDiag;
}

template <class T>
void CGPreDiag<T>::solve() {
  Vector<T>& X = *this->x;
  const Vector<T>& B = *this->b;
  const int n = B.n;
  T* rd = r->data;
  T* pd = p->data;
  T* qd = q->data;
  T* zd = z->data;
  const T* dd = invDiag->data;

  this->A->residuum(X, B, *r);
  for (int i = 0; i < n; ++i) pd[i] = dd[i] * rd[i];
  T rho = dot(*r, *p);
  for (int k = 0; k < this->maxIter; ++k) {
    if (this->converged(dot(*r, *r))) return;
    this->A->mult(*p, *q);
    T alpha = rho / dot(*p, *q);
    for (int i = 0; i < n; ++i) X.data[i] += alpha * pd[i];
    if (k % 30 == 0)
      this->A->residuum(X, B, *r);
    else
      for (int i = 0; i < n; ++i) rd[i] -= alpha * qd[i];
    for (int i = 0; i < n; ++i) zd[i] = dd[i] * rd[i];
    T rhoNew = dot(*r, *z);
    T beta = rhoNew / rho;
    for (int i = 0; i < n; ++i) pd[i] = beta * pd[i] + zd[i];
    rho = rhoNew;
  }
}

// ------------------------------------------------------------ CGPreMgrid

template <class T>
CGPreMgrid<T>::CGPreMgrid(Matrix<T>& A_, Vector<T>& b_, Vector<T>& x_, int maxIter_, T eps_)
    : Iteration<T>(A_, b_, x_, maxIter_, eps_) {
  const int n = b_.n;
  z = new Vector<T>(n);
  q = new Vector<T>(n);
  p = new Vector<T>(n);
  r = new Vector<T>(n);
}

template <class T>
CGPreMgrid<T>::~CGPreMgrid() {
  delete z;
  delete q;
  delete p;
  delete r;
  delete multigrid;
}

template <class T>
void CGPreMgrid<T>::setupMultigrid(Matrix<T>** restriction, int levels, ProgressBar* pb) {
  delete multigrid;
  multigrid = new Multigrid<T>(*this->A, restriction, *r, *z, 1e-6, levels, 1, 1, false);
  multigrid->calcHierarchy(pb);
  multigrid->setCoarseSolver(1);
}

template <class T>
void CGPreMgrid<T>::solve() {
  Vector<T>& X = *this->x;
  const int n = this->b->n;
  this->A->residuum(X, *this->b, *r);
  if (this->converged(dot(*r, *r))) return;
  multigrid->vCycle(1.7);
  for (int i = 0; i < n; ++i) p->data[i] = z->data[i];
  T rho = dot(*r, *p);
  if (this->maxIter < 1) return;
  this->A->mult(*p, *q);
  T alpha = rho / dot(*p, *q);
  for (int i = 0; i < n; ++i) X.data[i] += alpha * p->data[i];
  // The rigid motions the body can still make, exact against b.
  multigrid->applyRigidCorrection(*this->b, X);
}

// ----------------------------------------------------------- GaussSeidel

template <class T>
GaussSeidel<T>::GaussSeidel(Matrix<T>& A_, Vector<T>& b_, Vector<T>& x_, int maxIter_, T eps_,
                            T omega_)
    : Iteration<T>(A_, b_, x_, maxIter_, eps_), omega(omega_) {}

template <class T>
void GaussSeidel<T>::solve() {
  T res = this->A->residuumSqrSum(*this->x, *this->b);
  for (int k = 0; k < this->maxIter; ++k) {
    if (this->converged(res)) return;
    this->A->gaussSeidelStep(*this->x, *this->b, omega, res);
  }
}

// ---------------------------------------------------------------- Invert

template <class T>
Invert<T>::Invert(Matrix<T>& A_, Vector<T>& b_, Vector<T>& x_) : Iteration<T>(A_, b_, x_, 0, T(0)) {
  std::cout << "... Inverting Matrix ... " << std::endl;
  inverse = new FullMatrix<T>(A_.nRow, A_.nRow);
  A_.copyTo(*inverse);
  inverse->inv();
}

template <class T>
Invert<T>::Invert(Matrix<T>& A_, Vector<T>& b_, Vector<T>& x_, FullMatrix<T>* inv)
    : Iteration<T>(A_, b_, x_, 0, T(0)), inverse(inv) {}

template <class T>
Invert<T>::~Invert() {
  delete inverse;
}

template <class T>
void Invert<T>::solve() {
  inverse->mult(*this->b, *this->x);
}

template <class T>
void Invert<T>::writeToFile(std::ostream& f) {
  inverse->writeToFile(f);
}

template class Iteration<double>;
template class CGPreDiag<double>;
template class CGPreMgrid<double>;
template class GaussSeidel<double>;
template class Invert<double>;
