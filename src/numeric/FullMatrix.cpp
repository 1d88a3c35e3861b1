#include "FullMatrix.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "BinaryIO.h"
#include "PackedMatrix.h"
#include "ZoltAssert.h"

using std::fabs;

namespace {

// Elements are addressed with an int index (row * nCol + col).
bool sizeFits(int64_t rows, int64_t cols) {
  return rows >= 0 && cols >= 0 && rows * cols <= INT_MAX;
}

// Capacity granted up front when the stream cannot tell how much follows.
constexpr int64_t kBlindChunk = 4096;

}  // namespace

template <class T>
FullMatrix<T>::FullMatrix(int rows, int cols) : Matrix<T>(rows, cols), data(nullptr) {
  ZOLT_ASSERT(sizeFits(rows, cols));
  const int n = rows * cols;
  if (n > 0) data = new T[n];
  for (int k = 0; k < n; ++k) data[k] = T(0.0);
}

template <class T>
FullMatrix<T>::FullMatrix(std::istream& f) : Matrix<T>(0, 0), data(nullptr) {
  if (!readFromFile(f)) f.setstate(std::ios::failbit);
}

template <class T>
FullMatrix<T>::~FullMatrix() {
  delete[] data;
}

template <class T>
void FullMatrix<T>::clear() {
  const int n = nRow * nCol;
  for (int k = 0; k < n; ++k) data[k] = T(0.0);
}

template <class T>
void FullMatrix<T>::copyTo(Matrix<T>& dest) const {
  for (int i = 0; i < nRow; ++i)
    for (int j = 0; j < nCol; ++j) dest.setElem(i, j, data[i * nCol + j]);
}

template <class T>
void FullMatrix<T>::mult(const Vector<T>& x, Vector<T>& y) const {
  for (int i = 0; i < nRow; ++i) {
    const T* row = data + static_cast<size_t>(i) * nCol;
    T s = T(0.0);
    for (int j = 0; j < nCol; ++j) s += row[j] * x.data[j];
    y.data[i] = s;
  }
}

template <class T>
void FullMatrix<T>::multTransposed(const Vector<T>& x, Vector<T>& y) const {
  for (int j = 0; j < y.n; ++j) y.data[j] = T(0.0);
  for (int i = 0; i < nRow; ++i) {
    const T* row = data + static_cast<size_t>(i) * nCol;
    for (int j = 0; j < nCol; ++j) y.data[j] += row[j] * x.data[i];
  }
}

// Products: columns of C outermost, then rows, then the summation index.
template <class T>
void FullMatrix<T>::mult_m_left(const Matrix<T>& B, Matrix<T>& C) const {
  for (int j = 0; j < C.nCol; ++j)
    for (int i = 0; i < C.nRow; ++i) {
      T s = T(0.0);
      for (int k = 0; k < nRow; ++k) s += B(i, k) * data[k * nCol + j];
      C.setElem(i, j, s);
    }
}

template <class T>
void FullMatrix<T>::mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const {
  for (int j = 0; j < C.nCol; ++j)
    for (int i = 0; i < C.nRow; ++i) {
      T s = T(0.0);
      for (int k = 0; k < nRow; ++k) s += B(k, i) * data[k * nCol + j];
      C.setElem(i, j, s);
    }
}

// C = A B, in the same loop order as the other products.
template <class T>
void FullMatrix<T>::mult_m_right(const Matrix<T>& B, Matrix<T>& C) const {
  for (int j = 0; j < C.nCol; ++j)
    for (int i = 0; i < C.nRow; ++i) {
      T s = T(0.0);
      for (int k = 0; k < nCol; ++k) s += data[i * nCol + k] * B(k, j);
      C.setElem(i, j, s);
    }
}

template <class T>
void FullMatrix<T>::mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const {
  for (int j = 0; j < C.nCol; ++j)
    for (int i = 0; i < C.nRow; ++i) {
      T s = T(0.0);
      for (int k = 0; k < nCol; ++k) s += data[i * nCol + k] * B(j, k);
      C.setElem(i, j, s);
    }
}

// C = P A P^T; with `symmetric` only j >= i is computed and mirrored.
template <class T>
void FullMatrix<T>::mult_m_left_m_transpose_right(const PackedMatrix<T>& P, Matrix<T>& C,
                                                  ProgressBar*) const {
  for (int i = 0; i < C.nRow; ++i) {
    const MatrixEntry<T>* pi = P.rowStart[i];
    const int li = P.rowLen[i];
    for (int j = symmetric ? i : 0; j < C.nCol; ++j) {
      const MatrixEntry<T>* pj = P.rowStart[j];
      const int lj = P.rowLen[j];
      T s = T(0.0);
      for (int q = 0; q < li; ++q) {
        const T* arow = data + static_cast<size_t>(pi[q].col) * nCol;
        T t = T(0.0);
        for (int r = 0; r < lj; ++r) t += arow[pj[r].col] * pj[r].val;
        s += t * pi[q].val;
      }
      C.setElem(i, j, s);
      if (symmetric && i != j) C.setElem(j, i, s);
    }
  }
}

template <class T>
void FullMatrix<T>::scale(const T& s) {
  const int n = nRow * nCol;
  for (int k = 0; k < n; ++k) data[k] *= s;
}

template <class T>
void FullMatrix<T>::forEachValue(ValueFn fn, void* arg) {
  const int n = nRow * nCol;
  for (int k = 0; k < n; ++k) fn(&data[k], arg);
}

// In-place inverse: the elimination of Matrix<T>::inv (scaled partial
// pivoting, rows addressed through a permutation, multipliers kept in the
// eliminated positions), working on `data` directly.
template <class T>
void FullMatrix<T>::inv() {
  FullMatrix<T>& A = *this;
  const int N = nRow;
  ZOLT_ASSERT(N == A.nCol);
  const size_t NN = static_cast<size_t>(N) * N;
  std::vector<T> X(NN, T(0.0)), E(NN, T(0.0));
  std::vector<T> scale(N, T(0.0));
  std::vector<int> perm(static_cast<size_t>(N) + 1);
  T* a = data;
  auto at = [N](int r, int c) { return static_cast<size_t>(r) * N + c; };

  for (int i = 0; i < N; ++i) E[at(i, i)] = T(1.0);
  for (int i = 0; i < N; ++i) {
    perm[i] = i;
    T m = T(0.0);
    for (int j = 0; j < N; ++j) m = std::max(m, T(fabs(a[at(i, j)])));
    scale[i] = m;
  }
  for (int k = 0; k < N - 1; ++k) {
    T best = T(0.0);
    int q = k;
    for (int m = k; m < N; ++m) {
      T ratio = fabs(a[at(perm[m], k)]) / scale[perm[m]];
      if (ratio > best) {
        best = ratio;
        q = m;
      }
    }
    if (q != k) std::swap(perm[k], perm[q]);
    const int p = perm[k];
    const T* prow = a + at(p, 0);
    const T* pe = E.data() + at(p, 0);
    for (int m = k + 1; m < N; ++m) {
      const int r = perm[m];
      T* rrow = a + at(r, 0);
      T f = rrow[k] / prow[k];
      for (int j = k + 1; j < N; ++j) rrow[j] = rrow[j] - f * prow[j];
      rrow[k] = f;
      T* re = E.data() + at(r, 0);
      for (int j = 0; j < N; ++j) re[j] = re[j] - f * pe[j];
    }
  }
  // Back substitution a row of X at a time: every column's sum runs over j
  // in the same order as column by column, but the rows are read in order.
  std::vector<T> sum(N);
  for (int k = N - 1; k >= 0; --k) {
    const T* krow = a + at(perm[k], 0);
    std::fill(sum.begin(), sum.end(), T(0.0));
    for (int j = k + 1; j < N; ++j) {
      const T f = krow[j];
      const T* xrow = X.data() + at(j, 0);
      for (int c = 0; c < N; ++c) sum[c] += f * xrow[c];
    }
    const T* erow = E.data() + at(perm[k], 0);
    T* xk = X.data() + at(k, 0);
    for (int c = 0; c < N; ++c) xk[c] = (erow[c] - sum[c]) / krow[k];
  }
  std::copy(X.begin(), X.end(), data);
}

// ---------------------------------------------------------------- the record
// Only the numeric kind has a record. A polynomial matrix gets the common
// header and then stops: no part of the system stores one, and its elements
// have no encoding.

template <class T>
void FullMatrix<T>::writeToFile(std::ostream& f) const {
  namespace bin = zolt::bin;
  bin::writeU8(f, symmetric ? 1 : 0);
  bin::writeI32(f, nRow);
  bin::writeI32(f, nCol);
  if constexpr (std::is_same_v<T, double>) {
    const int n = nRow * nCol;
    bin::ChunkWriter out(f);
    for (int k = 0; k < n; ++k) out.writeF64(data[k]);
  } else {
    f.flush();
    ZOLT_ASSERT(0);
  }
}

template <class T>
bool FullMatrix<T>::readFromFile(std::istream& f) {
  namespace bin = zolt::bin;
  delete[] data;
  data = nullptr;
  nRow = nCol = 0;
  symmetric = false;
  if constexpr (std::is_same_v<T, double>) {
    uint8_t sym;
    int32_t rows, cols;
    if (!bin::readU8(f, sym) || sym > 1 || !bin::readI32(f, rows) || !bin::readI32(f, cols) ||
        !sizeFits(rows, cols))
      return false;
    const int64_t n = static_cast<int64_t>(rows) * cols;
    const int64_t left = bin::bytesLeft(f);
    if (left >= 0 && left < 8 * n) return false;

    // With a known length the element count is proven by the bytes present;
    // otherwise the array grows only as the data actually arrives.
    int64_t cap = left >= 0 ? n : std::min<int64_t>(n, kBlindChunk);
    std::unique_ptr<double[]> vals(new double[cap > 0 ? cap : 1]);
    bin::ChunkReader in(f, 8 * n);
    for (int64_t k = 0; k < n; ++k) {
      if (k >= cap) {
        const int64_t newCap = std::min<int64_t>(2 * cap, n);
        std::unique_ptr<double[]> grown(new double[newCap]);
        std::copy(vals.get(), vals.get() + k, grown.get());
        vals = std::move(grown);
        cap = newCap;
      }
      if (!in.readF64(vals[k])) return false;
    }
    nRow = rows;
    nCol = cols;
    symmetric = sym != 0;
    if (n > 0) data = vals.release();
    return true;
  } else {
    ZOLT_ASSERT(0);
  }
}

template class FullMatrix<double>;
template class FullMatrix<Polynom<double>>;
