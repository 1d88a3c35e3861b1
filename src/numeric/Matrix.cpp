#include "Matrix.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "BinaryIO.h"
#include "PackedMatrix.h"
#include "ZoltAssert.h"

using std::fabs;

// ---------------------------------------------------------------- Vector

template <class T>
Vector<T>::Vector(int size) {
  resize(size);
}

template <class T>
Vector<T>::Vector(std::istream& f) {
  if (!readFromFile(f)) f.setstate(std::ios::failbit);
}

template <class T>
Vector<T>::~Vector() {
  if (data && owns) delete[] data;
}

template <class T>
Vector<T>& Vector<T>::operator=(Vector&& o) noexcept {
  if (this != &o) {
    if (data && owns) delete[] data;
    n = o.n;
    data = o.data;
    owns = o.owns;
    o.n = 0;
    o.data = nullptr;
    o.owns = false;
  }
  return *this;
}

template <class T>
void Vector<T>::view(T* storage, int size) {
  if (data && owns) delete[] data;
  data = storage;
  n = size;
  owns = false;
}

template <class T>
void Vector<T>::resize(int size) {
  if (data && owns) delete[] data;
  data = nullptr;
  owns = false;
  n = 0;
  if (size <= 0) return;
  data = new T[size];
  zolt::adviseHugePages(data, static_cast<size_t>(size) * sizeof(T));
  n = size;
  for (int i = 0; i < size; ++i) data[i] = T(0.0);
  owns = true;
}

template <class T>
void Vector<T>::writeToFile(std::ostream& f) const {
  if constexpr (std::is_same_v<T, double>) {
    zolt::bin::ChunkWriter out(f);
    out.writeI32(n);
    for (int i = 0; i < n; ++i) out.writeF64(data[i]);
  } else {
    ZOLT_ASSERT(0);
  }
}

template <class T>
bool Vector<T>::readFromFile(std::istream& f) {
  resize(0);
  if constexpr (std::is_same_v<T, double>) {
    int32_t count;
    if (!zolt::bin::readI32(f, count) || count < 0) return false;
    int64_t left = zolt::bin::bytesLeft(f);
    if (left >= 0) {
      if (left < 8 * static_cast<int64_t>(count)) return false;
      Vector<T> tmp(count);
      zolt::bin::ChunkReader in(f, 8 * static_cast<int64_t>(count));
      for (int i = 0; i < count; ++i)
        if (!in.readF64(tmp.data[i])) return false;
      *this = std::move(tmp);
      return true;
    }
    // A stream that cannot seek: grow with what actually arrives instead of
    // allocating whatever the count claims.
    std::vector<double> vals;
    vals.reserve(std::min<int32_t>(count, 1 << 16));
    for (int i = 0; i < count; ++i) {
      double v;
      if (!zolt::bin::readF64(f, v)) return false;
      vals.push_back(v);
    }
    Vector<T> tmp(count);
    std::copy(vals.begin(), vals.end(), tmp.data);
    *this = std::move(tmp);
    return true;
  } else {
    ZOLT_ASSERT(0);
  }
}

// ---------------------------------------------------------------- guards

template <class T>
void Matrix<T>::scaleDiagLeft(const Vector<T>&) {
  ZOLT_ASSERT(0);
}
template <class T>
void Matrix<T>::scaleDiagRight(const Vector<T>&) {
  ZOLT_ASSERT(0);
}
template <class T>
void Matrix<T>::gaussSeidelStep(Vector<T>&, const Vector<T>&, const T&, T&) const {
  ZOLT_ASSERT(0);
}
template <class T>
void Matrix<T>::gaussSeidelBackStep(Vector<T>&, const Vector<T>&, const T&, T&) const {
  ZOLT_ASSERT(0);
}
template <class T>
void Matrix<T>::jacobiStep(Vector<T>&, const Vector<T>&, const T&, Vector<T>&, T&) const {
  ZOLT_ASSERT(0);
}
template <class T>
void Matrix<T>::residuum(const Vector<T>&, const Vector<T>&, Vector<T>&) const {
  ZOLT_ASSERT(0);
}
template <class T>
T Matrix<T>::residuumSqrSum(const Vector<T>&, const Vector<T>&) const {
  ZOLT_ASSERT(0);
}

// ------------------------------------------------------ additive updates

template <class T>
void Matrix<T>::addScaled(const Matrix<T>& B, const T& s) {
  for (int i = 0; i < nRow; ++i)
    for (int j = 0; j < nCol; ++j) {
      T v = B(i, j);
      if (zolt::isNonZero(v)) addElem(i, j, v * s);
    }
}

template <class T>
void Matrix<T>::addScaled(const PackedMatrix<T>& B, const T& s) {
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = B.rowStart[i];
    for (int k = 0; k < B.rowLen[i]; ++k) addElem(i, e[k].col, s * e[k].val);
  }
}

template <class T>
void Matrix<T>::addScaledExcept(const PackedMatrix<T>& B, const T& s,
                                const std::vector<int>& excluded) {
  auto rowCursor = excluded.begin();
  for (int i = 0; i < nRow; ++i) {
    if (rowCursor != excluded.end() && *rowCursor <= i) {
      ++rowCursor;
      continue;
    }
    auto colCursor = excluded.begin();
    const MatrixEntry<T>* e = B.rowStart[i];
    for (int k = 0; k < B.rowLen[i]; ++k) {
      int col = e[k].col;
      while (colCursor != excluded.end() && *colCursor < col) ++colCursor;
      if (colCursor != excluded.end() && *colCursor == col) continue;
      addElem(i, col, s * e[k].val);
    }
  }
}

template <class T>
void Matrix<T>::addDiag(const Vector<T>& d, const T& s) {
  for (int i = 0; i < nRow; ++i) addElem(i, i, s * d.data[i]);
}

template <class T>
void Matrix<T>::addDiagExcept(const Vector<T>& d, const T& s, const std::vector<int>& excluded) {
  auto cursor = excluded.begin();
  for (int i = 0; i < nRow; ++i) {
    if (cursor != excluded.end() && *cursor <= i) {
      ++cursor;
      continue;
    }
    addElem(i, i, s * d.data[i]);
  }
}

// ---------------------------------------------- whole-matrix computations

template <class T>
T Matrix<T>::maxAbs() const {
  T m = T(0.0);
  for (int i = 0; i < nRow; ++i)
    for (int j = 0; j < nCol; ++j) m = std::max(m, T(fabs((*this)(i, j))));
  return m;
}

template <class T>
void Matrix<T>::probeSymmetry() const {
  for (int i = 0; i < nRow; ++i)
    for (int j = 0; j < nCol; ++j) {
      T a = (*this)(i, j), b = (*this)(j, i);
      T abs = fabs(a - b);
      if (abs < T(1e-6)) continue;
      T mx = std::max(T(fabs(a)), T(fabs(b)));
      // The stop message quotes this expression verbatim.
      // clang-format off
      ZOLT_ASSERT(abs/mx < 1e-4);
      // clang-format on
    }
}

template <class T>
void Matrix<T>::mTest() const {
  bool failed = false;
  for (int i = 0; i < nRow; ++i) {
    T s = T(0.0);
    for (int j = 0; j < nCol; ++j) s += (*this)(i, j);
    if (fabs(s) > T(1e-6)) failed = true;
  }
  if (failed)
    std::cout << "M-Test failed (Matrix = " << static_cast<const void*>(this) << ")!" << std::endl;
  else
    std::cout << "M-Test passed" << std::endl;
}

template <class T>
void Matrix<T>::absColumnSums(Vector<T>& y) const {
  for (int j = 0; j < nCol; ++j) y.data[j] = T(0.0);
  for (int i = 0; i < nRow; ++i)
    for (int j = 0; j < nCol; ++j) y.data[j] += fabs((*this)(i, j));
}

// In-place inverse by LU elimination with scaled partial pivoting; rows are
// addressed through a permutation and never moved.
template <class T>
void Matrix<T>::inv() {
  Matrix<T>& A = *this;
  const int N = nRow;
  ZOLT_ASSERT(N == A.nCol);
  std::vector<T> X(static_cast<size_t>(N) * N, T(0.0)), E(static_cast<size_t>(N) * N, T(0.0));
  std::vector<T> scale(N, T(0.0));
  std::vector<int> perm(N);
  for (int i = 0; i < N; ++i) E[static_cast<size_t>(i) * N + i] = T(1.0);
  for (int i = 0; i < N; ++i) {
    perm[i] = i;
    T m = T(0.0);
    for (int j = 0; j < N; ++j) m = std::max(m, T(fabs(A(i, j))));
    scale[i] = m;
  }
  for (int k = 0; k < N - 1; ++k) {
    T best = T(0.0);
    int q = k;
    for (int m = k; m < N; ++m) {
      T ratio = fabs(A(perm[m], k)) / scale[perm[m]];
      if (ratio > best) {
        best = ratio;
        q = m;
      }
    }
    if (q != k) std::swap(perm[k], perm[q]);
    const int p = perm[k];
    for (int m = k + 1; m < N; ++m) {
      const int r = perm[m];
      T f = A(r, k) / A(p, k);
      for (int j = k + 1; j < N; ++j) A.addElem(r, j, -f * A(p, j));
      A.setElem(r, k, f);
      for (int j = 0; j < N; ++j)
        E[static_cast<size_t>(r) * N + j] =
            E[static_cast<size_t>(r) * N + j] - f * E[static_cast<size_t>(p) * N + j];
    }
  }
  for (int c = 0; c < N; ++c) {
    X[static_cast<size_t>(N - 1) * N + c] =
        E[static_cast<size_t>(perm[N - 1]) * N + c] / A(perm[N - 1], N - 1);
    for (int k = N - 2; k >= 0; --k) {
      T sum = T(0.0);
      for (int j = k + 1; j < N; ++j) sum += A(perm[k], j) * X[static_cast<size_t>(j) * N + c];
      X[static_cast<size_t>(k) * N + c] =
          (E[static_cast<size_t>(perm[k]) * N + c] - sum) / A(perm[k], k);
    }
  }
  clear();
  for (int i = 0; i < nRow; ++i)
    for (int j = 0; j < nCol; ++j) setElem(i, j, X[static_cast<size_t>(i) * N + j]);
}

template class Vector<double>;
template class Vector<Polynom<double>>;
template class Matrix<double>;
template class Matrix<Polynom<double>>;
