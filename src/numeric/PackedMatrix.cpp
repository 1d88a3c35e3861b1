#include "PackedMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>

#include "BinaryIO.h"
#include "GalerkinColumns.h"
#include "ProgressBar.h"
#include "ScatterStream.h"
#include "SparseMatrix.h"
#include "ZoltAssert.h"

namespace {

// First entry of the row whose column is not below j, or row + len.
template <class T>
MatrixEntry<T>* lowerBound(MatrixEntry<T>* row, int len, int j) {
  return std::lower_bound(row, row + len, j,
                          [](const MatrixEntry<T>& e, int col) { return e.col < col; });
}

template <class T>
MatrixEntry<T>* findEntry(const PackedMatrix<T>& A, int i, int j) {
  MatrixEntry<T>* row = A.rowStart[i];
  const int len = A.rowLen[i];
  MatrixEntry<T>* e = lowerBound(row, len, j);
  return (e != row + len && e->col == j) ? e : nullptr;
}

// Grows a raw array to newCap elements, keeping the first `used`.
template <class X>
void growArray(std::unique_ptr<X[]>& a, int64_t used, int64_t newCap) {
  std::unique_ptr<X[]> b(new X[newCap]());
  std::copy(a.get(), a.get() + used, b.get());
  a = std::move(b);
}

// Capacity granted up front when the stream cannot tell how much follows.
constexpr int64_t kBlindChunk = 4096;

}  // namespace

template <class T>
PackedMatrix<T>::PackedMatrix() : Matrix<T>(0, 0) {}

template <class T>
PackedMatrix<T>::PackedMatrix(const SparseMatrix<T>& S) : Matrix<T>(S.nRow, S.nCol) {
  int64_t total = 0;
  for (int i = 0; i < nRow; ++i) total += static_cast<int64_t>(S.rows[i].size());
  ZOLT_ASSERT(total <= INT32_MAX);
  nnz = static_cast<int>(total);
  if (nRow > 0) {
    rowLen = new int[nRow];
    rowStart = new MatrixEntry<T>*[nRow];
  }
  if (nnz > 0) entries = new MatrixEntry<T>[nnz]();
  int offset = 0;
  for (int i = 0; i < nRow; ++i) {
    const std::vector<MatrixEntry<T>>& src = S.rows[i];
    rowLen[i] = static_cast<int>(src.size());
    rowStart[i] = entries + offset;
    std::copy(src.begin(), src.end(), rowStart[i]);
    std::sort(rowStart[i], rowStart[i] + rowLen[i],
              [](const MatrixEntry<T>& a, const MatrixEntry<T>& b) { return a.col < b.col; });
    offset += rowLen[i];
  }
}

template <class T>
PackedMatrix<T>::PackedMatrix(const PackedMatrix& A) : Matrix<T>(A) {
  nnz = A.nnz;
  if (nRow > 0) {
    rowLen = new int[nRow];
    rowStart = new MatrixEntry<T>*[nRow];
  }
  if (nnz > 0) entries = new MatrixEntry<T>[nnz]();
  int64_t offset = 0;
  for (int i = 0; i < nRow; ++i) {
    rowLen[i] = A.rowLen[i];
    ZOLT_ASSERT(offset + rowLen[i] <= nnz);
    rowStart[i] = entries + offset;
    if (rowLen[i] > 0) std::copy(A.rowStart[i], A.rowStart[i] + rowLen[i], rowStart[i]);
    offset += rowLen[i];
  }
  ZOLT_ASSERT(offset == nnz);
}

template <class T>
PackedMatrix<T>::PackedMatrix(std::istream& f) : Matrix<T>(0, 0) {
  if (!readFromFile(f)) f.setstate(std::ios::failbit);
}

template <class T>
PackedMatrix<T>::~PackedMatrix() {
  delete[] rowStart;
  delete[] rowLen;
  delete[] entries;
  delete scatterStream;
}

template <class T>
PackedMatrix<T>* PackedMatrix<T>::transposed(const PackedMatrix& A) {
  if (A.symmetric) return new PackedMatrix(A);
  // Counting sort by column: visiting A's rows in ascending order fills each
  // row of the result in ascending column order, so nothing needs sorting.
  auto R = std::make_unique<PackedMatrix>();  // freed should an allocation fail
  R->nRow = A.nCol;
  R->nCol = A.nRow;
  if (R->nRow > 0) {
    R->rowLen = new int[R->nRow]();
    R->rowStart = new MatrixEntry<T>*[R->nRow];
  }
  int count = 0;
  for (int i = 0; i < A.nRow; ++i) {
    const MatrixEntry<T>* e = A.rowStart[i];
    for (int k = 0; k < A.rowLen[i]; ++k)
      if (zolt::isNonZero(e[k].val)) {
        ++R->rowLen[e[k].col];
        ++count;
      }
  }
  R->nnz = count;
  if (count > 0) R->entries = new MatrixEntry<T>[count]();
  int offset = 0;
  for (int r = 0; r < R->nRow; ++r) {
    R->rowStart[r] = R->entries + offset;
    offset += R->rowLen[r];
  }
  std::unique_ptr<int[]> fill(new int[R->nRow > 0 ? R->nRow : 1]());
  for (int i = 0; i < A.nRow; ++i) {
    const MatrixEntry<T>* e = A.rowStart[i];
    for (int k = 0; k < A.rowLen[i]; ++k)
      if (zolt::isNonZero(e[k].val)) {
        const int r = e[k].col;
        R->rowStart[r][fill[r]++] = MatrixEntry<T>{i, e[k].val};
      }
  }
  return R.release();
}

// ------------------------------------------------------------ element access

template <class T>
T PackedMatrix<T>::operator()(int i, int j) const {
  const MatrixEntry<T>* e = findEntry(*this, i, j);
  return e ? e->val : T(0.0);
}

template <class T>
void PackedMatrix<T>::setElem(int i, int j, const T& v) {
  MatrixEntry<T>* e = findEntry(*this, i, j);
  if (!e) {
    std::cerr << "[PackedMatrix, setElem] Error: Tried to set inexistent element (" << i << ", "
              << j << ")!" << std::endl;
    ZOLT_ASSERT(0);
  }
  e->val = v;
}

template <class T>
void PackedMatrix<T>::addElem(int i, int j, const T& v) {
  MatrixEntry<T>* e = findEntry(*this, i, j);
  if (!e) {
    std::cerr << "[PackedMatrix, addElem] Error: Tried to add inexistent element (" << i << ", "
              << j << ")!" << std::endl;
    return;
  }
  e->val += v;
}

// ---------------------------------------------------------- value operations

template <class T>
void PackedMatrix<T>::clear() {
  for (int k = 0; k < nnz; ++k) entries[k].val = T(0.0);
}

template <class T>
void PackedMatrix<T>::copyTo(Matrix<T>& dest) const {
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = rowStart[i];
    for (int k = 0; k < rowLen[i]; ++k) dest.setElem(i, e[k].col, e[k].val);
  }
}

template <class T>
void PackedMatrix<T>::scale(const T& s) {
  for (int k = 0; k < nnz; ++k) entries[k].val *= s;
}

template <class T>
void PackedMatrix<T>::scaleDiagLeft(const Vector<T>& d) {
  for (int i = 0; i < nRow; ++i) {
    MatrixEntry<T>* e = rowStart[i];
    const T di = d.data[i];
    for (int k = 0; k < rowLen[i]; ++k) e[k].val *= di;
  }
}

template <class T>
void PackedMatrix<T>::scaleDiagRight(const Vector<T>& d) {
  for (int k = 0; k < nnz; ++k) entries[k].val *= d.data[entries[k].col];
}

template <class T>
void PackedMatrix<T>::forEachValue(ValueFn fn, void* arg) {
  for (int i = 0; i < nRow; ++i) {
    MatrixEntry<T>* e = rowStart[i];
    for (int k = 0; k < rowLen[i]; ++k) {
      if (symmetric && e[k].col < i) {
        // Lower triangle: mirror the upper element, already visited.
        const MatrixEntry<T>* m = findEntry(*this, e[k].col, i);
        e[k].val = m ? m->val : T(0.0);
      } else {
        fn(&e[k].val, arg);
      }
    }
  }
}

template <class T>
T PackedMatrix<T>::maxAbs() const {
  using std::fabs;
  T m = T(0.0);
  for (int k = 0; k < nnz; ++k) {
    const T a = fabs(entries[k].val);
    if (m <= a) m = a;
  }
  return m;
}

template <class T>
void PackedMatrix<T>::absColumnSums(Vector<T>& y) const {
  using std::fabs;
  for (int j = 0; j < y.n; ++j) y.data[j] = T(0.0);
  for (int k = 0; k < nnz; ++k) y.data[entries[k].col] += fabs(entries[k].val);
}

// ---------------------------------------------------------- vector products

template <class T>
void PackedMatrix<T>::mult(const Vector<T>& x, Vector<T>& y) const {
  const T* xd = x.data;
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = rowStart[i];
    const int len = rowLen[i];
    T s = T(0.0);
    for (int k = 0; k < len; ++k) s = s + e[k].val * xd[e[k].col];
    y.data[i] = s;
  }
}

template <class T>
void PackedMatrix<T>::multTransposed(const Vector<T>& x, Vector<T>& y) const {
  T* yd = y.data;
  for (int j = 0; j < y.n; ++j) yd[j] = T(0.0);
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = rowStart[i];
    const int len = rowLen[i];
    const T xi = x.data[i];
    for (int k = 0; k < len; ++k) yd[e[k].col] += e[k].val * xi;
  }
}

template <class T>
void PackedMatrix<T>::residuum(const Vector<T>& x, const Vector<T>& b, Vector<T>& r) const {
  const T* xd = x.data;
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = rowStart[i];
    const int len = rowLen[i];
    T s = b.data[i];
    for (int k = 0; k < len; ++k) s = s - e[k].val * xd[e[k].col];
    r.data[i] = s;
  }
}

template <class T>
T PackedMatrix<T>::residuumSqrSum(const Vector<T>& x, const Vector<T>& b) const {
  const T* xd = x.data;
  T sum = T(0.0);
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = rowStart[i];
    const int len = rowLen[i];
    T r = b.data[i];
    for (int k = 0; k < len; ++k) r = r - e[k].val * xd[e[k].col];
    sum += r * r;
  }
  return sum;
}

// ---------------------------------------------------------- relaxation sweeps
// A row without its diagonal entry cannot be relaxed: its residual still
// counts, but its unknown is left as it is.

namespace {

// One SOR sweep over the rows in ascending or descending order, each row's
// entries visited in the same direction.
template <bool Backward, class T>
void sorSweep(const PackedMatrix<T>& A, Vector<T>& x, const Vector<T>& b, const T& omega,
              T& resSqr) {
  T* xd = x.data;
  resSqr = T(0.0);
  for (int n = 0; n < A.nRow; ++n) {
    const int i = Backward ? A.nRow - 1 - n : n;
    const MatrixEntry<T>* e = A.rowStart[i];
    const int len = A.rowLen[i];
    T r = b.data[i];
    T d = T(0.0);
    bool hasDiag = false;
    for (int m = 0; m < len; ++m) {
      const int k = Backward ? len - 1 - m : m;
      r = r - e[k].val * xd[e[k].col];
      if (e[k].col == i) {
        d = e[k].val;
        hasDiag = true;
      }
    }
    resSqr += r * r;
    if (hasDiag) xd[i] = ((r / d) * omega) + xd[i];
  }
}

}  // namespace

template <class T>
void PackedMatrix<T>::gaussSeidelStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                                      T& resSqr) const {
  sorSweep<false>(*this, x, b, omega, resSqr);
}

template <class T>
void PackedMatrix<T>::gaussSeidelBackStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                                          T& resSqr) const {
  sorSweep<true>(*this, x, b, omega, resSqr);
}

template <class T>
void PackedMatrix<T>::jacobiStep(Vector<T>& x, const Vector<T>& b, const T& omega, Vector<T>& tmp,
                                 T& resSqr) const {
  const T* xd = x.data;
  T* td = tmp.data;
  resSqr = T(0.0);
  for (int i = 0; i < nRow; ++i) {
    const MatrixEntry<T>* e = rowStart[i];
    const int len = rowLen[i];
    T off = T(0.0);
    T d = T(0.0);
    bool hasDiag = false;
    for (int k = 0; k < len; ++k) {
      if (e[k].col == i) {
        d = e[k].val;
        hasDiag = true;
      } else {
        off = off + e[k].val * xd[e[k].col];
      }
    }
    const T s = b.data[i] - off;
    const T r = s - d * xd[i];
    resSqr += r * r;
    td[i] = hasDiag ? (T(1.0) - omega) * xd[i] + omega * (s / d) : xd[i];
  }
  for (int i = 0; i < x.n; ++i) x.data[i] = td[i];
}

// ---------------------------------------------------------- matrix products

namespace {

// C = B' A, where b(i, k) reads B' (B or its transpose).
template <class T, class ReadB>
void multLeft(const PackedMatrix<T>& A, Matrix<T>& C, ReadB b) {
  C.clear();
  for (int k = 0; k < A.nRow; ++k) {
    const MatrixEntry<T>* e = A.rowStart[k];
    for (int q = 0; q < A.rowLen[k]; ++q)
      for (int i = 0; i < C.nRow; ++i) {
        const T v = b(i, k);
        if (zolt::isNonZero(v)) C.addElem(i, e[q].col, v * e[q].val);
      }
  }
}

}  // namespace

template <class T>
void PackedMatrix<T>::mult_m_left(const Matrix<T>& B, Matrix<T>& C) const {
  multLeft(*this, C, [&B](int i, int k) { return B(i, k); });
}

template <class T>
void PackedMatrix<T>::mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const {
  multLeft(*this, C, [&B](int i, int k) { return B(k, i); });
}

namespace {

// C = A B', where b(k, j) reads B' (B or its transpose); every element of C
// is written, zeros included.
template <class T, class ReadB>
void multRight(const PackedMatrix<T>& A, Matrix<T>& C, ReadB b) {
  for (int i = 0; i < A.nRow; ++i) {
    const MatrixEntry<T>* e = A.rowStart[i];
    for (int j = 0; j < C.nCol; ++j) {
      T s = T(0.0);
      for (int q = 0; q < A.rowLen[i]; ++q) {
        const T v = b(e[q].col, j);
        if (zolt::isNonZero(v)) s = s + v * e[q].val;
      }
      C.setElem(i, j, s);
    }
  }
}

}  // namespace

template <class T>
void PackedMatrix<T>::mult_m_right(const Matrix<T>& B, Matrix<T>& C) const {
  multRight(*this, C, [&B](int k, int j) { return B(k, j); });
}

template <class T>
void PackedMatrix<T>::mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const {
  multRight(*this, C, [&B](int k, int j) { return B(j, k); });
}

// C = P A P^T. Each inner sum merges A's row a with P's row j, both sorted.
template <class T>
void PackedMatrix<T>::mult_m_left_m_transpose_right(const PackedMatrix<T>& P, Matrix<T>& C,
                                                    ProgressBar* pb) const {
  if (pb) {
    pb->setTotal(static_cast<unsigned int>(C.nRow));
    pb->start();
  }
  GalerkinColumns<T> columns(P);
  auto fineColumns = [this](int a, auto visit) {
    for (int k = 0; k < rowLen[a]; ++k) visit(rowStart[a][k].col);
  };
  for (int i = 0; i < C.nRow; ++i) {
    const MatrixEntry<T>* pi = P.rowStart[i];
    const int li = P.rowLen[i];
    if (li > 0) {
      // Only columns that can be non-zero: every other sum is exactly zero.
      for (int j : columns.row(i, symmetric ? i : 0, C.nCol, fineColumns)) {
        const MatrixEntry<T>* pj = P.rowStart[j];
        const int lj = P.rowLen[j];
        T s = T(0.0);
        for (int q = 0; q < li; ++q) {
          const MatrixEntry<T>* ar = rowStart[pi[q].col];
          const int la = rowLen[pi[q].col];
          T t = T(0.0);
          int u = 0, v = 0;
          while (u < la && v < lj) {
            if (ar[u].col == pj[v].col) {
              t = t + ar[u].val * pj[v].val;
              ++u;
              ++v;
            } else if (ar[u].col < pj[v].col) {
              ++u;
            } else {
              ++v;
            }
          }
          s = s + t * pi[q].val;
        }
        if (zolt::isNonZero(s)) {
          C.setElem(i, j, s);
          if (symmetric && j != i) C.setElem(j, i, s);
        }
      }
    }
    if (pb) pb->step();
  }
  if (pb) pb->finish();
}

// ---------------------------------------------------------------- the record

template <class T>
void PackedMatrix<T>::writeToFile(std::ostream& f) const {
  zolt::bin::ChunkWriter out(f);
  out.writeU8(symmetric ? 1 : 0);
  out.writeI32(nRow);
  out.writeI32(nCol);
  out.writeI32(nnz);
  for (int i = 0; i < nRow; ++i) {
    out.writeI32(rowLen[i]);
    const MatrixEntry<T>* e = rowStart[i];
    for (int k = 0; k < rowLen[i]; ++k) {
      out.writeI32(e[k].col);
      out.writeF64(e[k].val);
    }
  }
}

template <class T>
bool PackedMatrix<T>::readFromFile(std::istream& f) {
  namespace bin = zolt::bin;
  delete[] rowStart;
  delete[] rowLen;
  delete[] entries;
  // A recorded plan is only valid for the pattern it was recorded on.
  delete scatterStream;
  scatterStream = nullptr;
  rowStart = nullptr;
  rowLen = nullptr;
  entries = nullptr;
  nRow = nCol = nnz = 0;
  symmetric = false;

  uint8_t sym;
  int32_t rows, cols, count;
  if (!bin::readU8(f, sym) || sym > 1 || !bin::readI32(f, rows) || !bin::readI32(f, cols) ||
      !bin::readI32(f, count) || rows < 0 || cols < 0 || count < 0)
    return false;
  const int64_t needed = 4 * static_cast<int64_t>(rows) + 12 * static_cast<int64_t>(count);
  const int64_t left = bin::bytesLeft(f);
  if (left >= 0 && left < needed) return false;

  // With a known length the header sizes are proven by the bytes present;
  // otherwise the arrays grow only as the data actually arrives.
  int64_t lenCap = left >= 0 ? rows : std::min<int64_t>(rows, kBlindChunk);
  int64_t entCap = left >= 0 ? count : std::min<int64_t>(count, kBlindChunk);
  std::unique_ptr<int[]> lens(new int[lenCap > 0 ? lenCap : 1]);
  std::unique_ptr<MatrixEntry<T>[]> ents(new MatrixEntry<T>[entCap > 0 ? entCap : 1]);
  zolt::adviseHugePages(ents.get(), static_cast<size_t>(entCap) * sizeof(MatrixEntry<T>));
  bin::ChunkReader in(f, needed);
  int64_t total = 0;
  for (int64_t i = 0; i < rows; ++i) {
    int32_t len;
    if (!in.readI32(len) || len < 0 || total + len > count) return false;
    if (i >= lenCap) {
      const int64_t cap = std::min<int64_t>(2 * lenCap, rows);
      growArray(lens, i, cap);
      lenCap = cap;
    }
    lens[i] = len;
    for (int32_t k = 0; k < len; ++k, ++total) {
      if (total >= entCap) {
        const int64_t cap = std::min<int64_t>(std::max<int64_t>(2 * entCap, 1), count);
        growArray(ents, total, cap);
        entCap = cap;
      }
      const unsigned char* p = in.take(12);
      if (!p) return false;
      const int32_t col = static_cast<int32_t>(bin::ChunkReader::u32(p));
      if (col < 0 || col >= cols) return false;
      ents[total] = MatrixEntry<T>{col, T(bin::ChunkReader::f64(p + 4))};
    }
  }
  if (total != count) return false;

  nRow = rows;
  nCol = cols;
  nnz = count;
  symmetric = sym != 0;
  if (nRow > 0) {
    rowLen = lens.release();
    rowStart = new MatrixEntry<T>*[nRow];
  }
  if (nnz > 0) entries = ents.release();
  int64_t offset = 0;
  for (int i = 0; i < nRow; ++i) {
    rowStart[i] = entries + offset;
    offset += rowLen[i];
  }
  return true;
}

template class PackedMatrix<double>;
