#include "BlockMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "BinaryIO.h"
#include "GalerkinColumns.h"
#include "PackedMatrix.h"
#include "ProgressBar.h"
#include "ScatterStream.h"
#include "ZoltAssert.h"

namespace {

// A write outside the frozen pattern or a record of the other block size:
// the message goes to standard output and the program stops.
[[noreturn]] void stopWith(const char* msg) {
  std::cout << msg << std::endl;
  std::abort();
}

}  // namespace

// ---------------------------------------------------------- construction

template <class T, int BS>
BlockMatrix<T, BS>::BlockMatrix(int rows, int cols)
    : Matrix<T>(rows, cols), buildMap(new BuildMap) {}

template <class T, int BS>
BlockMatrix<T, BS>::BlockMatrix(std::istream& f) : Matrix<T>(0, 0) {
  if (!readFromFile(f)) f.setstate(std::ios::failbit);
}

template <class T, int BS>
BlockMatrix<T, BS>::BlockMatrix(const BlockMatrix& A)
    : Matrix<T>(A), nBlockRows(A.nBlockRows), nBlockCols(A.nBlockCols) {
  if (A.buildMap) {
    buildMap = new BuildMap(*A.buildMap);
    return;
  }
  blocks = A.blocks;
  for (Block& b : blocks) b.nextInColumn = nullptr;
  buildIndex();
}

template <class T, int BS>
BlockMatrix<T, BS>::~BlockMatrix() {
  releaseIndex();
  delete buildMap;
  releaseScatterStream();
}

template <class T, int BS>
void BlockMatrix<T, BS>::releaseScatterStream() {
  delete scatterStream;
  scatterStream = nullptr;
}

template <class T, int BS>
void BlockMatrix<T, BS>::releaseIndex() {
  delete[] rowStart;
  delete[] colTable;
  rowStart = nullptr;
  colTable = nullptr;
}

// Row starts and column links over the sorted block array; nBlockRows and
// nBlockCols are set and every block lies inside them.
template <class T, int BS>
void BlockMatrix<T, BS>::buildIndex() {
  releaseIndex();
  rowStart = new Block*[nBlockRows + 1]();
  colTable = new Block*[nBlockCols]();
  Block* begin = blocks.data();
  Block* end = begin + blocks.size();
  diagonalBlock.assign(nBlockRows, -1);
  // One pass: row starts, diagonal blocks and the column chains in
  // ascending row order; colTable[c] ends at the column's only block or at
  // its last-but-one.
  std::vector<Block*> tail(nBlockCols, nullptr);
  for (Block* b = begin; b != end; ++b) {
    const int r = b->row0 / BS;
    if (!rowStart[r]) rowStart[r] = b;
    if (b->row0 == b->col0 && r < nBlockRows) diagonalBlock[r] = static_cast<int>(b - begin);
    Block*& last = tail[b->col0 / BS];
    if (last) last->nextInColumn = b;
    colTable[b->col0 / BS] = last ? last : b;
    last = b;
  }
  rowStart[nBlockRows] = end;
  if (!rowStart[0]) rowStart[0] = begin;
  // An empty block row starts where the next filled one does.
  for (int r = 1; r < nBlockRows; ++r) {
    if (rowStart[r]) continue;
    Block* p = rowStart[r - 1];
    while (p != rowStart[nBlockRows] && p->row0 == BS * (r - 1)) ++p;
    rowStart[r] = p;
  }
}

template <class T, int BS>
void BlockMatrix<T, BS>::buildDataStructs() {
  if (!buildMap) return;
  nBlockRows = nRow / BS;
  nBlockCols = nCol / BS;
  blocks.clear();
  blocks.reserve(buildMap->size());
  for (const auto& kv : *buildMap) blocks.push_back(kv.second);
  delete buildMap;
  buildMap = nullptr;
  buildIndex();
}

template <class T, int BS>
void BlockMatrix<T, BS>::freezeWith(std::vector<Block>&& sorted) {
  ZOLT_ASSERT(buildMap != nullptr);
  for (size_t k = 0; k < sorted.size(); ++k) {
    const Block& b = sorted[k];
    ZOLT_ASSERT(b.row0 >= 0 && b.row0 % BS == 0 && b.row0 / BS < nRow / BS);
    ZOLT_ASSERT(b.col0 >= 0 && b.col0 % BS == 0 && b.col0 / BS < nCol / BS);
    ZOLT_ASSERT(k == 0 || sorted[k - 1].row0 < b.row0 ||
                (sorted[k - 1].row0 == b.row0 && sorted[k - 1].col0 < b.col0));
  }
  delete buildMap;
  buildMap = nullptr;
  nBlockRows = nRow / BS;
  nBlockCols = nCol / BS;
  blocks = std::move(sorted);
  for (Block& b : blocks) b.nextInColumn = nullptr;
  buildIndex();
}

template <class T, int BS>
void BlockMatrix<T, BS>::makeEmpty() {
  releaseScatterStream();  // a plan is only valid for the pattern it was recorded on
  releaseIndex();
  delete buildMap;
  buildMap = nullptr;
  blocks.clear();
  blocks.shrink_to_fit();
  nRow = nCol = 0;
  symmetric = false;
  nBlockRows = nBlockCols = 0;
  buildIndex();
}

// ---------------------------------------------------------- block lookup

template <class T, int BS>
const typename BlockMatrix<T, BS>::Block* BlockMatrix<T, BS>::findBlock(int i, int j) const {
  if (!rowStart) return nullptr;
  const int r0 = i - i % BS, c0 = j - j % BS;
  const Block* first = rowStart[i / BS];
  const Block* last = rowStart[i / BS + 1];
  const Block* p = std::lower_bound(
      first, last, std::make_pair(r0, c0), [](const Block& b, const std::pair<int, int>& key) {
        return b.row0 < key.first || (b.row0 == key.first && b.col0 < key.second);
      });
  if (p != last && p->row0 == r0 && p->col0 == c0) return p;
  return nullptr;
}

template <class T, int BS>
typename BlockMatrix<T, BS>::Block* BlockMatrix<T, BS>::findBlock(int i, int j) {
  return const_cast<Block*>(static_cast<const BlockMatrix*>(this)->findBlock(i, j));
}

// ------------------------------------------------------- element access

template <class T, int BS>
T BlockMatrix<T, BS>::operator()(int i, int j) const {
  if (!rowStart) {
    std::cout << "[BlockMatrix, operator()] Warning: Used without building data structs!"
              << std::endl;
    std::cout << "                          Building data structs ..." << std::endl;
    // A read freezes a matrix that is still being built; matrices are never
    // defined const, so the cast is safe.
    const_cast<BlockMatrix*>(this)->buildDataStructs();
  }
  const Block* b = findBlock(i, j);
  return b ? b->values[(i % BS) * BS + (j % BS)] : T(0.0);
}

template <class T, int BS>
void BlockMatrix<T, BS>::setElem(int i, int j, const T& v) {
  if (buildMap) {
    if (!zolt::isNonZero(v)) return;
    Block& b = (*buildMap)[{i - i % BS, j - j % BS}];
    b.row0 = i - i % BS;
    b.col0 = j - j % BS;
    b.values[(i % BS) * BS + (j % BS)] = v;
    return;
  }
  Block* b = findBlock(i, j);
  if (!b)
    stopWith(
        "[BlockMatrix, setElem] Error: Initialization completed! Cannot add inexistent elements!");
  b->values[(i % BS) * BS + (j % BS)] = v;
}

template <class T, int BS>
void BlockMatrix<T, BS>::addElem(int i, int j, const T& v) {
  if (buildMap) {
    if (!zolt::isNonZero(v)) return;
    Block& b = (*buildMap)[{i - i % BS, j - j % BS}];
    b.row0 = i - i % BS;
    b.col0 = j - j % BS;
    b.values[(i % BS) * BS + (j % BS)] += v;
    return;
  }
  Block* b = findBlock(i, j);
  if (!b)
    stopWith(
        "[BlockMatrix, addElem] Error: Initialization completed! Cannot add inexistent elements!");
  b->values[(i % BS) * BS + (j % BS)] += v;
}

template <class T, int BS>
void BlockMatrix<T, BS>::addElemBlock(int row, int col, const T* v) {
  Block* b;
  if (buildMap) {
    b = &(*buildMap)[{row, col}];
    b->row0 = row;
    b->col0 = col;
  } else {
    b = findBlock(row, col);
    if (!b)
      stopWith("[BlockMatrix, addElemBlock] Error: Initialization completed! Cannot add elements!");
  }
  for (int k = 0; k < NN; ++k) b->values[k] += v[k];
}

template <class T, int BS>
void BlockMatrix<T, BS>::addScaled(const PackedMatrix<T>& B, const T& s) {
  if (buildMap || nRow != nBlockRows * BS) {
    Matrix<T>::addScaled(B, s);
    return;
  }
  for (int i = 0; i < nRow; ++i) {
    const int r = i % BS;
    const MatrixEntry<T>* e = B.rowStart[i];
    Block* p = rowStart[i / BS];
    Block* const last = rowStart[i / BS + 1];
    for (int k = 0; k < B.rowLen[i]; ++k) {
      const int j = e[k].col;
      const int c0 = j - j % BS;
      // Columns normally ascend; one that does not is looked up.
      if (p == last || p->col0 > c0) p = rowStart[i / BS];
      while (p != last && p->col0 < c0) ++p;
      if (p == last || p->col0 != c0)
        stopWith(
            "[BlockMatrix, addElem] Error: Initialization completed! Cannot add inexistent "
            "elements!");
      p->values[r * BS + j % BS] += s * e[k].val;
    }
  }
}

// -------------------------------------------------- whole-array operations

template <class T, int BS>
void BlockMatrix<T, BS>::clear() {
  for (Block& b : blocks)
    for (int k = 0; k < NN; ++k) b.values[k] = T(0.0);
}

template <class T, int BS>
void BlockMatrix<T, BS>::copyTo(Matrix<T>& dest) const {
  for (const Block& b : blocks)
    for (int k = 0; k < NN; ++k) dest.setElem(b.row0 + k / BS, b.col0 + k % BS, b.values[k]);
}

template <class T, int BS>
void BlockMatrix<T, BS>::scale(const T& s) {
  for (Block& b : blocks)
    for (int k = 0; k < NN; ++k) b.values[k] *= s;
}

template <class T, int BS>
void BlockMatrix<T, BS>::scaleDiagLeft(const Vector<T>& d) {
  for (Block& b : blocks)
    for (int k = 0; k < NN; ++k) b.values[k] *= d.data[b.row0 + k / BS];
}

template <class T, int BS>
void BlockMatrix<T, BS>::scaleDiagRight(const Vector<T>& d) {
  for (Block& b : blocks)
    for (int k = 0; k < NN; ++k) b.values[k] *= d.data[b.col0 + k % BS];
}

template <class T, int BS>
T BlockMatrix<T, BS>::maxAbs() const {
  // One running maximum per block entry, which the compiler can keep in
  // vector registers; NaN never wins, as in a single running maximum.
  T m[NN] = {};
  for (const Block& b : blocks)
#pragma GCC unroll 16
    for (int k = 0; k < NN; ++k) {
      const T a = std::fabs(b.values[k]);
      m[k] = a > m[k] ? a : m[k];
    }
  T r = T(0.0);
  for (int k = 0; k < NN; ++k) r = m[k] > r ? m[k] : r;
  return r;
}

template <class T, int BS>
void BlockMatrix<T, BS>::absColumnSums(Vector<T>& y) const {
  for (int j = 0; j < y.n; ++j) y.data[j] = T(0.0);
  for (const Block& b : blocks)
    for (int k = 0; k < NN; ++k) y.data[b.col0 + k % BS] += std::fabs(b.values[k]);
}

template <class T, int BS>
void BlockMatrix<T, BS>::forEachValue(ValueFn fn, void* arg) {
  for (Block& b : blocks)
    for (int k = 0; k < NN; ++k) fn(&b.values[k], arg);
}

template <class T, int BS>
void BlockMatrix<T, BS>::structuredCopy(const BlockMatrix& src) {
  if (src.nBlockRows != nBlockRows || src.nBlockCols != nBlockCols ||
      src.blocks.size() != blocks.size()) {
    std::cerr << "[BlocMatrix, structuredCopy] Matrix does not have the same structure!"
              << std::endl;
    return;
  }
  for (size_t b = 0; b < blocks.size(); ++b)
    std::copy(src.blocks[b].values, src.blocks[b].values + NN, blocks[b].values);
}

// ---------------------------------------------------------- vector kernels

template <class T, int BS>
void BlockMatrix<T, BS>::mult(const Vector<T>& x, Vector<T>& y) const {
  for (int r = 0; r < nBlockRows; ++r) {
    T acc[BS];
    rowProduct(rowStart[r], rowStart[r + 1], x.data, acc);
#pragma GCC unroll 4
    for (int k = 0; k < BS; ++k) y.data[r * BS + k] = acc[k];
  }
}

template <class T, int BS>
void BlockMatrix<T, BS>::multTransposed(const Vector<T>& x, Vector<T>& y) const {
  T* yd = y.data;
  const T* xd = x.data;
  for (int j = 0; j < y.n; ++j) yd[j] = T(0.0);
  for (const Block& b : blocks) {
    const T* xv = xd + b.row0;
    T* yv = yd + b.col0;
#pragma GCC unroll 4
    for (int k = 0; k < BS; ++k)
#pragma GCC unroll 4
      for (int c = 0; c < BS; ++c) yv[c] += b.values[k * BS + c] * xv[k];
  }
}

template <class T, int BS>
void BlockMatrix<T, BS>::residuum(const Vector<T>& x, const Vector<T>& b, Vector<T>& r) const {
  for (int rb = 0; rb < nBlockRows; ++rb) {
    T t[BS];
    rowResidual(rowStart[rb], rowStart[rb + 1], x.data, b.data + rb * BS, t);
#pragma GCC unroll 4
    for (int k = 0; k < BS; ++k) r.data[rb * BS + k] = t[k];
  }
}

template <class T, int BS>
T BlockMatrix<T, BS>::residuumSqrSum(const Vector<T>& x, const Vector<T>& b) const {
  T sum = T(0.0);
  for (int rb = 0; rb < nBlockRows; ++rb) {
    T t[BS];
    rowResidual(rowStart[rb], rowStart[rb + 1], x.data, b.data + rb * BS, t);
#pragma GCC unroll 4
    for (int k = 0; k < BS; ++k) sum = t[k] * t[k] + sum;
  }
  return sum;
}

namespace {

// d = D^-1 t for a diagonal block D (row-major) by its adjugate: one
// division per block row and no chain of divisions between the rows.
template <class T, int BS>
inline void solveDiagonal(const T* m, const T (&t)[BS], T (&d)[BS]) {
  if constexpr (BS == 3) {
    const T c00 = m[4] * m[8] - m[5] * m[7], c01 = m[5] * m[6] - m[3] * m[8],
            c02 = m[3] * m[7] - m[4] * m[6];
    const T f = T(1.0) / (m[0] * c00 + m[1] * c01 + m[2] * c02);
    d[0] =
        f * (c00 * t[0] + (m[2] * m[7] - m[1] * m[8]) * t[1] + (m[1] * m[5] - m[2] * m[4]) * t[2]);
    d[1] =
        f * (c01 * t[0] + (m[0] * m[8] - m[2] * m[6]) * t[1] + (m[2] * m[3] - m[0] * m[5]) * t[2]);
    d[2] =
        f * (c02 * t[0] + (m[1] * m[6] - m[0] * m[7]) * t[1] + (m[0] * m[4] - m[1] * m[3]) * t[2]);
  } else if constexpr (BS == 2) {
    const T f = T(1.0) / (m[0] * m[3] - m[1] * m[2]);
    d[0] = f * (m[3] * t[0] - m[1] * t[1]);
    d[1] = f * (m[0] * t[1] - m[2] * t[0]);
  } else {
    // Elimination without pivoting.
    T D[BS][BS], r[BS];
    for (int k = 0; k < BS; ++k) {
      r[k] = t[k];
      for (int c = 0; c < BS; ++c) D[k][c] = m[k * BS + c];
    }
    for (int k = 0; k < BS - 1; ++k)
      for (int i = k + 1; i < BS; ++i) {
        const T f = D[i][k] / D[k][k];
        for (int j = k + 1; j < BS; ++j) D[i][j] -= f * D[k][j];
        r[i] -= f * r[k];
      }
    for (int i = BS - 1; i >= 0; --i) {
      T s = r[i];
      for (int j = i + 1; j < BS; ++j) s -= D[i][j] * d[j];
      d[i] = s / D[i][i];
    }
  }
}

// rv -= m^T d for a block m (row-major): per column c, m[c] d[0] + m[N + c]
// d[1] + ..., two columns at a time where vector registers allow.
template <class T, int BS>
inline void subtractTransposed(const T* m, const T (&d)[BS], T* rv) {
#if defined(__GNUC__)
  if constexpr (std::is_same_v<T, double> && BS == 3) {
    using V2 = double __attribute__((vector_size(16)));
    auto load = [](const double* a) {
      V2 v;
      __builtin_memcpy(&v, a, sizeof v);
      return v;
    };
    V2 s01 = load(m) * d[0];
    double s2 = m[2] * d[0];
    s01 += load(m + 3) * d[1];
    s2 += m[5] * d[1];
    s01 += load(m + 6) * d[2];
    s2 += m[8] * d[2];
    const V2 r01 = load(rv) - s01;
    __builtin_memcpy(rv, &r01, sizeof r01);
    rv[2] -= s2;
    return;
  }
#endif
  T s[BS];
  for (int c = 0; c < BS; ++c) s[c] = m[c] * d[0];
  for (int a = 1; a < BS; ++a)
    for (int c = 0; c < BS; ++c) s[c] += m[a * BS + c] * d[a];
  for (int c = 0; c < BS; ++c) rv[c] -= s[c];
}

}  // namespace

// One block SOR sweep: the full residual t of a block row with the current
// x, then x += omega D^-1 t with the row's diagonal block D. With r, also
// the residual of the new x for a symmetric matrix: t - D dx for the row,
// and -A_jk^T dx into every row k the sweep has passed.
template <class T, int BS>
template <bool Backward>
void BlockMatrix<T, BS>::sweep(Vector<T>& x, const Vector<T>& b, const T& omega, T& resSqr,
                               T* r) const {
  T* xd = x.data;
  const T w = omega;
  T res = T(0.0);
  for (int idx = 0; idx < nBlockRows; ++idx) {
    const int rb = Backward ? nBlockRows - 1 - idx : idx;
    const int row0 = rb * BS;
    // Rows run downwards but their blocks upwards: the prefetcher does not
    // follow, so fetch the blocks of the row four ahead.
    if (Backward && rb >= 4)
      for (const char* p = reinterpret_cast<const char*>(rowStart[rb - 4]);
           p < reinterpret_cast<const char*>(rowStart[rb - 3]); p += 64)
        __builtin_prefetch(p);
    T t[BS];
    rowResidual(rowStart[rb], rowStart[rb + 1], xd, b.data + row0, t);
#pragma GCC unroll 4
    for (int k = 0; k < BS; ++k) res = t[k] * t[k] + res;
    const int diag = diagonalBlock[rb];
    if (diag < 0) {
      if (r) std::copy(t, t + BS, r + row0);
      continue;
    }
    T d[BS];
    solveDiagonal<T, BS>(blocks[diag].values, t, d);
#pragma GCC unroll 4
    for (int k = 0; k < BS; ++k) {
      d[k] *= w;
      xd[row0 + k] += d[k];
    }
    if (!r) continue;
    const T* D = blocks[diag].values;
    for (int a = 0; a < BS; ++a) {
      T s = t[a];
      for (int c = 0; c < BS; ++c) s -= D[a * BS + c] * d[c];
      r[row0 + a] = s;
    }
    const Block* first = Backward ? &blocks[diag] + 1 : rowStart[rb];
    const Block* last = Backward ? rowStart[rb + 1] : &blocks[diag];
    for (const Block* p = first; p != last; ++p)
      subtractTransposed<T, BS>(p->values, d, r + p->col0);
  }
  resSqr = res;
}

template <class T, int BS>
void BlockMatrix<T, BS>::gaussSeidelStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                                         T& resSqr) const {
  sweep<false>(x, b, omega, resSqr);
}

template <class T, int BS>
void BlockMatrix<T, BS>::gaussSeidelBackStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                                             T& resSqr) const {
  sweep<true>(x, b, omega, resSqr);
}

template <class T, int BS>
void BlockMatrix<T, BS>::gaussSeidelStepResidual(Vector<T>& x, const Vector<T>& b, const T& omega,
                                                 T& resSqr, Vector<T>& r) const {
  sweep<false>(x, b, omega, resSqr, r.data);
}

// ---------------------------------------------------------- matrix products

template <class T, int BS>
void BlockMatrix<T, BS>::mult_m_left(const Matrix<T>& B, Matrix<T>& C) const {
  C.clear();
  for (const Block& b : blocks)
    for (int i = 0; i < C.nRow; ++i)
      for (int c = 0; c < BS; ++c) {
        T s = T(0.0);
        for (int k = 0; k < BS; ++k) s += B(i, b.row0 + k) * b.values[k * BS + c];
        C.addElem(i, b.col0 + c, s);
      }
}

template <class T, int BS>
void BlockMatrix<T, BS>::mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const {
  C.clear();
  for (const Block& b : blocks)
    for (int i = 0; i < C.nRow; ++i)
      for (int c = 0; c < BS; ++c) {
        T s = T(0.0);
        for (int k = 0; k < BS; ++k) s += B(b.row0 + k, i) * b.values[k * BS + c];
        C.addElem(i, b.col0 + c, s);
      }
}

namespace {

// C = A B', where b(k, j) reads B' (B or its transpose); every element of C
// is written, zeros included.
template <class T, int BS, class Block, class ReadB>
void blockMultRight(Block* const* rowStart, int nBlockRows, Matrix<T>& C, ReadB b) {
  for (int rb = 0; rb < nBlockRows; ++rb)
    for (int j = 0; j < C.nCol; ++j) {
      T s[BS];
      for (int k = 0; k < BS; ++k) s[k] = T(0.0);
      for (const Block *p = rowStart[rb], *e = rowStart[rb + 1]; p != e; ++p)
        for (int c = 0; c < BS; ++c) {
          const T bv = b(p->col0 + c, j);
          for (int k = 0; k < BS; ++k) s[k] += p->values[k * BS + c] * bv;
        }
      for (int k = 0; k < BS; ++k) C.setElem(rb * BS + k, j, s[k]);
    }
}

}  // namespace

template <class T, int BS>
void BlockMatrix<T, BS>::mult_m_right(const Matrix<T>& B, Matrix<T>& C) const {
  blockMultRight<T, BS>(rowStart, nBlockRows, C, [&B](int k, int j) { return B(k, j); });
}

template <class T, int BS>
void BlockMatrix<T, BS>::mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const {
  blockMultRight<T, BS>(rowStart, nBlockRows, C, [&B](int k, int j) { return B(j, k); });
}

// C = P A P^T. Row a of P meets A's block row a / N; the blocks of that row
// and P's row j are walked together by column.
template <class T, int BS>
void BlockMatrix<T, BS>::mult_m_left_m_transpose_right(const PackedMatrix<T>& P, Matrix<T>& C,
                                                       ProgressBar* pb) const {
  if (pb) {
    pb->setTotal(static_cast<unsigned int>(C.nRow));
    pb->start();
  }
  GalerkinColumns<T> columns(P);
  auto fineColumns = [this](int a, auto visit) {
    for (const Block* b = rowStart[a / BS]; b != rowStart[a / BS + 1]; ++b)
      for (int c = 0; c < BS; ++c) visit(b->col0 + c);
  };
  for (int i = 0; i < C.nRow; ++i) {
    const int leni = P.rowLen[i];
    if (leni > 0 && rowStart) {
      const MatrixEntry<T>* rowI = P.rowStart[i];
      // Only columns that can be non-zero: every other sum is exactly zero.
      for (int j : columns.row(i, symmetric ? i : 0, C.nCol, fineColumns)) {
        const int lenj = P.rowLen[j];
        const MatrixEntry<T>* rowJ = lenj > 0 ? P.rowStart[j] : nullptr;
        T sum = T(0.0);
        for (int e = 0; e < leni; ++e) {
          const int colA = rowI[e].col;
          const int offA = (colA % BS) * BS;
          const Block* blk = rowStart[colA / BS];
          const Block* blkEnd = rowStart[colA / BS + 1];
          T t = T(0.0);
          int q = 0;
          while (blk != blkEnd && q < lenj) {
            const int colB = rowJ[q].col;
            if (colB < blk->col0) {
              ++q;
            } else if (colB >= blk->col0 + BS) {
              ++blk;
            } else {
              t += blk->values[offA + (colB - blk->col0)] * rowJ[q].val;
              ++q;
            }
          }
          if (zolt::isNonZero(t)) sum += t * rowI[e].val;
        }
        if (zolt::isNonZero(sum)) {
          C.setElem(i, j, sum);
          if (symmetric && j != i) C.setElem(j, i, sum);
        }
      }
    }
    if (pb) pb->step();
  }
  if (pb) pb->finish();
}

// ---------------------------------------------------------------- record

template <class T, int BS>
void BlockMatrix<T, BS>::writeToFile(std::ostream& f) const {
  if (buildMap)
    stopWith("[BlockMatrix, writeToFile] Error: write file before building data structs !");
  zolt::bin::ChunkWriter out(f);
  out.writeU8(symmetric ? 1 : 0);
  out.writeI32(nRow);
  out.writeI32(nCol);
  out.writeI32(nBlockRows);
  out.writeI32(nBlockCols);
  out.writeI32(static_cast<int32_t>(blocks.size()));
  for (const Block& b : blocks) {
    out.writeI32(b.row0);
    out.writeI32(b.col0);
    for (int k = 0; k < NN; ++k) out.writeF64(b.values[k]);
  }
}

template <class T, int BS>
bool BlockMatrix<T, BS>::readFromFile(std::istream& f) {
  using namespace zolt::bin;
  makeEmpty();
  uint8_t sym;
  int32_t rows, cols, bRows, bCols, count;
  if (!readU8(f, sym) || !readI32(f, rows) || !readI32(f, cols) || !readI32(f, bRows) ||
      !readI32(f, bCols))
    return false;
  if (sym > 1 || rows < 0 || cols < 0) return false;
  if (bRows != rows / BS || bCols != cols / BS)
    stopWith("[BlockMatrix, readFromFile] Error: Blocksize has changed!");
  if (!readI32(f, count) || count < 0) return false;
  // Blocks are distinct positions of the block grid, each 8 + 8 N^2 bytes.
  if (static_cast<int64_t>(count) > static_cast<int64_t>(bRows) * bCols) return false;
  // The row and column tables take a pointer per block row and column. A
  // stored matrix holds blocks in (nearly) every block row, so tables that
  // outweigh the blocks beyond a small allowance mean a corrupt header, not a
  // matrix to allocate gigabytes for.
  constexpr int64_t kFreeLines = int64_t(1) << 16;
  constexpr int64_t kLinesPerBlock = 8;
  if (static_cast<int64_t>(bRows) + bCols > kFreeLines + kLinesPerBlock * count) return false;
  const int64_t left = bytesLeft(f);
  const int64_t blockBytes = 8 + 8 * NN;
  if (left >= 0 && left < blockBytes * count) return false;

  std::vector<Block> read;
  if (left >= 0) {
    read.reserve(static_cast<size_t>(count));
    zolt::adviseHugePages(read.data(), read.capacity() * sizeof(Block));
  }
  ChunkReader in(f, blockBytes * count);
  for (int32_t n = 0; n < count; ++n) {
    Block b;
    const unsigned char* p = in.take(blockBytes);
    if (!p) return false;
    const int32_t r0 = static_cast<int32_t>(ChunkReader::u32(p));
    const int32_t c0 = static_cast<int32_t>(ChunkReader::u32(p + 4));
    if (r0 < 0 || r0 % BS != 0 || r0 / BS >= bRows) return false;
    if (c0 < 0 || c0 % BS != 0 || c0 / BS >= bCols) return false;
    if (!read.empty()) {
      const Block& prev = read.back();
      if (r0 < prev.row0 || (r0 == prev.row0 && c0 <= prev.col0)) return false;
    }
    b.row0 = r0;
    b.col0 = c0;
    for (int k = 0; k < NN; ++k) b.values[k] = T(ChunkReader::f64(p + 8 + 8 * k));
    read.push_back(b);
  }

  nRow = rows;
  nCol = cols;
  symmetric = sym != 0;
  nBlockRows = bRows;
  nBlockCols = bCols;
  blocks = std::move(read);
  buildIndex();
  return true;
}

template class BlockMatrix<double, 2>;
template class BlockMatrix<double, 3>;
