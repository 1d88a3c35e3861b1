#include "FullMatrix.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
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

// The kernels of the inverse's substitutions on rows of kColumns entries of
// a work array w: subtractRows(acc, f, w, k0, k1) does acc = acc - f[k] w[k]
// for k = k0 .. k1-1 in turn; sumRows does acc = 0 and then acc += f[k] w[k].
// The doubles keep acc in registers.
constexpr int kColumns = 16;

template <class T>
void subtractRows(T* acc, const T* f, const T* w, int k0, int k1) {
  for (int k = k0; k < k1; ++k)
    for (int c = 0; c < kColumns; ++c) acc[c] = acc[c] - f[k] * w[size_t(k) * kColumns + c];
}

template <class T>
void sumRows(T* acc, const T* f, const T* w, int k0, int k1) {
  std::fill(acc, acc + kColumns, T(0.0));
  for (int k = k0; k < k1; ++k)
    for (int c = 0; c < kColumns; ++c) acc[c] += f[k] * w[size_t(k) * kColumns + c];
}

using Pair = double __attribute__((vector_size(16)));
constexpr int kPairs = kColumns / 2;

template <bool subtract>
void rowKernel(double* acc, const double* f, const double* w, int k0, int k1) {
  Pair a[kPairs];
#pragma GCC unroll 8
  for (int q = 0; q < kPairs; ++q) {
    if (subtract)
      std::memcpy(&a[q], acc + 2 * q, sizeof(Pair));
    else
      a[q] = Pair{0.0, 0.0};
  }
  for (int k = k0; k < k1; ++k) {
    const Pair fk = {f[k], f[k]};
    const double* wk = w + static_cast<size_t>(k) * kColumns;
#pragma GCC unroll 8
    for (int q = 0; q < kPairs; ++q) {
      Pair x;
      std::memcpy(&x, wk + 2 * q, sizeof(Pair));
      if (subtract)
        a[q] = a[q] - fk * x;
      else
        a[q] += fk * x;
    }
  }
  std::memcpy(acc, a, sizeof a);
}

void subtractRows(double* acc, const double* f, const double* w, int k0, int k1) {
  rowKernel<true>(acc, f, w, k0, k1);
}

void sumRows(double* acc, const double* f, const double* w, int k0, int k1) {
  rowKernel<false>(acc, f, w, k0, k1);
}

// r[j] = r[j] - f[k] p[k][j] for k = 0 .. nk-1 in turn, for j < n: the
// steps of one panel on the rest of a row.
template <class T>
void applyPanel(T* r, const T* f, const T* const* p, int nk, int n) {
  for (int j = 0; j < n; ++j) {
    T x = r[j];
    for (int k = 0; k < nk; ++k) x = x - f[k] * p[k][j];
    r[j] = x;
  }
}

// Eight entries of r stay in registers while the steps pass.
void applyPanel(double* r, const double* f, const double* const* p, int nk, int n) {
  int j = 0;
  for (; j + 8 <= n; j += 8) {
    Pair x[4];
    std::memcpy(x, r + j, sizeof x);
    for (int k = 0; k < nk; ++k) {
      const Pair fk = {f[k], f[k]};
#pragma GCC unroll 4
      for (int q = 0; q < 4; ++q) {
        Pair y;
        std::memcpy(&y, p[k] + j + 2 * q, sizeof y);
        x[q] = x[q] - fk * y;
      }
    }
    std::memcpy(r + j, x, sizeof x);
  }
  for (; j < n; ++j) {
    double x = r[j];
    for (int k = 0; k < nk; ++k) x = x - f[k] * p[k][j];
    r[j] = x;
  }
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
// eliminated positions), working on `data` directly. Every element sees the
// same operations in the same order as in the plain loops, so the pivots and
// the bits are the same; only the order in which elements are visited keeps
// the work in cache:
// - the elimination runs on a panel of kPanel columns, then applies the
//   panel's steps to the rest of each row, kChunk columns at a time;
// - the identity's elimination and the back substitution run afterwards,
//   kColumns columns of the result at a time, on a copy held in pivot order.
template <class T>
void FullMatrix<T>::inv() {
  const FullMatrix<T>& A = *this;
  const int N = nRow;
  ZOLT_ASSERT(N == A.nCol);
  constexpr int kPanel = 32, kChunk = 128;
  T* a = data;
  auto row = [a, N](int r) { return a + static_cast<size_t>(r) * N; };
  std::vector<T> scale(N, T(0.0));
  std::vector<int> perm(static_cast<size_t>(N) + 1);
  for (int i = 0; i < N; ++i) {
    perm[i] = i;
    T m = T(0.0);
    for (int j = 0; j < N; ++j) m = std::max(m, T(fabs(row(i)[j])));
    scale[i] = m;
  }

  for (int k0 = 0; k0 < N - 1; k0 += kPanel) {
    const int kEnd = std::min(k0 + kPanel, N - 1);  // pivots k0 .. kEnd-1
    const int cEnd = std::min(k0 + kPanel, N);      // panel columns k0 .. cEnd-1
    for (int k = k0; k < kEnd; ++k) {
      T best = T(0.0);
      int q = k;
      for (int m = k; m < N; ++m) {
        T ratio = fabs(row(perm[m])[k]) / scale[perm[m]];
        if (ratio > best) {
          best = ratio;
          q = m;
        }
      }
      if (q != k) std::swap(perm[k], perm[q]);
      const T* prow = row(perm[k]);
      for (int m = k + 1; m < N; ++m) {
        T* rrow = row(perm[m]);
        T f = rrow[k] / prow[k];
        for (int j = k + 1; j < cEnd; ++j) rrow[j] = rrow[j] - f * prow[j];
        rrow[k] = f;
      }
    }
    // Rows in pivot order: a pivot row is complete before the rows below
    // use it.
    for (int c0 = cEnd; c0 < N; c0 += kChunk) {
      const int c1 = std::min(c0 + kChunk, N);
      const T* pivotRows[kPanel];
      for (int k = k0; k < kEnd; ++k) pivotRows[k - k0] = row(perm[k]) + c0;
      for (int m = k0 + 1; m < N; ++m) {
        T* rrow = row(perm[m]);
        applyPanel(rrow + c0, rrow + k0, pivotRows, std::min(m, kEnd) - k0, c1 - c0);
      }
    }
  }

  // With finite multipliers, eliminating a row of zeros changes nothing.
  bool finite = std::is_same_v<T, double>;
  if constexpr (std::is_same_v<T, double>)
    for (int m = 1; m < N && finite; ++m)
      for (int k = 0; k < m; ++k) finite = finite && std::isfinite(row(perm[m])[k]);

  // W holds kColumns columns of the eliminated identity, those of the
  // stored rows perm[c0] .. perm[c0+kColumns-1] (past the last: zeros that
  // are thrown away), row m of W being stored row perm[m]. It starts as the
  // unit vectors at m = c0 .. c0+kColumns-1, so rows above c0 stay zero. The
  // back substitution turns it into the same columns of the inverse in
  // place.
  std::vector<T> X(static_cast<size_t>(N) * N, T(0.0));
  std::vector<T> W(static_cast<size_t>(N) * kColumns);
  auto wrow = [&W](int m) { return W.data() + static_cast<size_t>(m) * kColumns; };
  for (int c0 = 0; c0 < N; c0 += kColumns) {
    for (int m = 0; m < N; ++m)
      for (int c = 0; c < kColumns; ++c) wrow(m)[c] = T(m == c0 + c ? 1.0 : 0.0);
    const int first = finite ? c0 : 0;
    for (int m = first + 1; m < N; ++m) subtractRows(wrow(m), row(perm[m]), W.data(), first, m);
    T sum[kColumns];
    for (int k = N - 1; k >= 0; --k) {
      const T* krow = row(perm[k]);
      sumRows(sum, krow, W.data(), k + 1, N);
      T* xk = wrow(k);
      for (int c = 0; c < kColumns; ++c) xk[c] = (xk[c] - sum[c]) / krow[k];
    }
    const int w = std::min(kColumns, N - c0);
    for (int k = 0; k < N; ++k) {
      const T* xk = wrow(k);
      T* out = X.data() + static_cast<size_t>(k) * N;
      for (int c = 0; c < w; ++c) out[perm[c0 + c]] = xk[c];
    }
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
