// In-place refresh of existing coarse matrices: coarse = R * fine * R^T on
// the coarse pattern, directly or through a recorded scatter stream.

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "BlockMatrix.h"
#include "Multigrid.h"
#include "ScatterStream.h"

namespace {

template <class T>
struct RowView {
  const MatrixEntry<T>* e;
  int n;
};

template <class T>
RowView<T> row(const PackedMatrix<T>& M, int i) {
  return {M.rowStart[i], M.rowLen[i]};
}

// Sparse dot product of a packed fine row with a restriction row.
template <class T>
T fineRowDot(const PackedMatrix<T>& F, int a, RowView<T> r) {
  RowView<T> f = row(F, a);
  T t = 0;
  int p = 0, q = 0;
  while (p < f.n && q < r.n) {
    if (f.e[p].col == r.e[q].col) {
      t = t + f.e[p].val * r.e[q].val;
      ++p;
      ++q;
    } else if (f.e[p].col < r.e[q].col) {
      ++p;
    } else {
      ++q;
    }
  }
  return t;
}

// The same with the blocks of a fine block row: an entry pairs with the block
// whose columns contain it.
template <class T, int N>
T fineRowDot(const BlockMatrix<T, N>& F, int a, RowView<T> r) {
  const auto* b = F.rowStart[a / N];
  const auto* end = F.rowStart[a / N + 1];
  const int ra = (a % N) * N;
  T t = 0;
  int q = 0;
  while (b != end && q < r.n) {
    const int c = r.e[q].col;
    if (c < b->col0) {
      ++q;
    } else if (c >= b->col0 + N) {
      ++b;
    } else {
      t = t + b->values[ra + (c - b->col0)] * r.e[q].val;
      ++q;
    }
  }
  return t;
}

// (R fine R^T)(i, j) accumulated as the refresh defines it.
template <class T, class Fine>
T coarseValue(const Fine& fine, const PackedMatrix<T>& R, int i, int j, T v) {
  RowView<T> ri = row(R, i), rj = row(R, j);
  for (int k = 0; k < ri.n; ++k) v = fineRowDot(fine, ri.e[k].col, rj) * ri.e[k].val + v;
  return v;
}

// ------------------------------------------------ stored values by kind

template <class T>
struct PackedValues {
  PackedMatrix<T>& m;
  long count() const { return m.nnz; }
  T& at(long t) { return m.entries[t].val; }
  template <class F>
  void forEach(F f) const {
    for (int i = 0; i < m.nRow; ++i)
      for (int k = 0; k < m.rowLen[i]; ++k) f(i, m.rowStart[i][k].col, m.rowStart[i][k].val);
  }
  // Stored coarse values of row i met by the pairs (j, q) of p, as
  // (target, q); lower entries skipped when `upper`.
  template <class F>
  void walk(int i, RowView<T> p, bool upper, F f) const {
    RowView<T> c = row(m, i);
    int a = 0, b = 0;
    while (a < c.n && b < p.n) {
      const int col = c.e[a].col;
      if (upper && col < i) {
        ++a;
      } else if (col == p.e[b].col) {
        f(static_cast<long>(&c.e[a] - m.entries), p.e[b].val);
        ++a;
        ++b;
      } else if (col < p.e[b].col) {
        ++a;
      } else {
        ++b;
      }
    }
  }
  void mirror() {
    for (int i = 0; i < m.nRow; ++i)
      for (int k = 0; k < m.rowLen[i]; ++k) {
        const MatrixEntry<T>& e = m.rowStart[i][k];
        if (e.col > i) m.setElem(e.col, i, e.val);
      }
  }
};

template <class T, int N>
struct BlockValues {
  static constexpr int NN = N * N;
  BlockMatrix<T, N>& m;
  long count() const { return static_cast<long>(m.blocks.size()) * NN; }
  T& at(long t) { return m.blocks[t / NN].values[t % NN]; }
  template <class F>
  void forEach(F f) const {
    for (const auto& b : m.blocks)
      for (int k = 0; k < NN; ++k) f(b.row0 + k / N, b.col0 + k % N, b.values[k]);
  }
  template <class F>
  void walk(int i, RowView<T> p, bool upper, F f) const {
    const auto* b = m.rowStart[i / N];
    const auto* end = m.rowStart[i / N + 1];
    const int ri = (i % N) * N;
    int q = 0;
    while (b != end && q < p.n) {
      const int c = p.e[q].col;
      if (upper && b->col0 < b->row0) {
        ++b;
      } else if (c < b->col0) {
        ++q;
      } else if (c >= b->col0 + N) {
        ++b;
      } else {
        const long blockIndex = static_cast<long>(b - m.blocks.data());
        f(blockIndex * NN + ri + (c - b->col0), p.e[q].val);
        ++q;
      }
    }
  }
  void mirror() {
    for (auto& b : m.blocks) {
      if (b.col0 <= b.row0) continue;
      auto* lower = m.findBlock(b.col0, b.row0);
      if (!lower) continue;
      for (int k = 0; k < N; ++k)
        for (int c = 0; c < N; ++c) lower->values[c * N + k] = b.values[k * N + c];
    }
  }
};

// Records the plan while computing the product, value by value of fine.
template <class T, class FineValues, class CoarseValues>
void recordStream(const FineValues& fine, bool upper, const PackedMatrix<T>& R,
                  CoarseValues coarse, ScatterStream*& slot, long fineCount) {
  std::unique_ptr<PackedMatrix<T>> P(PackedMatrix<T>::transposed(R));
  auto* s = new ScatterStream();
  s->data.reserve(12 * static_cast<size_t>(fineCount));
  s->header.reserve(static_cast<size_t>(fineCount));
  slot = s;
  if (coarse.count() > 0) {
    std::vector<std::pair<T, int>> items;
    std::vector<int> targets;
    fine.forEach([&](int I, int J, T a) {
      items.clear();
      RowView<T> pI = row(*P, I), pJ = row(*P, J);
      for (int k = 0; k < pI.n; ++k) {
        const int i = pI.e[k].col;
        const T p = pI.e[k].val;
        coarse.walk(i, pJ, upper, [&](long target, T q) {
          T w = p * q;
          items.emplace_back(w, static_cast<int>(target));
          coarse.at(target) += w * a;
        });
      }
      std::sort(items.begin(), items.end());
      for (size_t r = 0; r < items.size();) {
        size_t e = r;
        targets.clear();
        while (e < items.size() && items[e].first == items[r].first) targets.push_back(items[e++].second);
        for (size_t done = 0; done < targets.size();) {
          size_t take = std::min(targets.size() - done, size_t(s->startNewHeaderByte ? 8 : 15));
          s->append(items[r].first, targets.data() + done, static_cast<unsigned char>(take));
          done += take;
        }
        r = e;
      }
      if (s->markNext) {
        const int first = 0;
        s->append(0.0, &first, 1);
      }
      s->startNewHeaderByte = true;
      s->markNext = true;
    });
  }
  s->shrink();
}

template <class T, class FineValues, class CoarseValues>
void replayStream(FineValues fine, const ScatterStream& s, CoarseValues coarse) {
  const unsigned char* cursor = s.data.data();
  auto readWeight = [&] {
    double w;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(cursor[i]) << (8 * i);
    std::memcpy(&w, &bits, 8);
    cursor += 8;
    return w;
  };
  auto readTarget = [&] {
    uint32_t t = 0;
    for (int i = 0; i < 4; ++i) t |= static_cast<uint32_t>(cursor[i]) << (8 * i);
    cursor += 4;
    return static_cast<long>(t);
  };
  long v = 0;
  for (unsigned char h : s.header) {
    if (h & 0x80) ++v;
    const T a = fine.at(v);
    T w = readWeight();
    for (int k = ((h >> 4) & 7) + 1; k > 0; --k) coarse.at(readTarget()) += a * w;
    if (int k2 = h & 15) {
      w = readWeight();
      for (; k2 > 0; --k2) coarse.at(readTarget()) += a * w;
    }
  }
}

template <class T, class FineValues, class CoarseValues, class FineMatrix, class CoarseMatrix>
void streamProduct(FineMatrix& fine, const PackedMatrix<T>& R, CoarseMatrix& coarse) {
  coarse.clear();
  FineValues fv{fine};
  CoarseValues cv{coarse};
  if (!fine.scatterStream)
    recordStream<T>(fv, fine.symmetric, R, cv, fine.scatterStream, fv.count());
  else
    replayStream<T>(fv, *fine.scatterStream, cv);
  if (fine.symmetric) cv.mirror();
}

// True when R acts on every component alike, as the mesh restrictions do:
// rows N*r + d hold the columns of row N*r shifted by d, with the same
// weights bit for bit, and those columns are multiples of N.
template <class T, int N>
bool componentwise(const PackedMatrix<T>& R) {
  if (R.nRow % N != 0 || R.nCol % N != 0) return false;
  for (int r = 0; r < R.nRow; r += N) {
    const int len = R.rowLen[r];
    for (int d = 1; d < N; ++d) {
      if (R.rowLen[r + d] != len) return false;
      const MatrixEntry<T>* e0 = R.rowStart[r];
      const MatrixEntry<T>* ed = R.rowStart[r + d];
      for (int q = 0; q < len; ++q)
        if (e0[q].col % N != 0 || ed[q].col != e0[q].col + d ||
            std::memcmp(&ed[q].val, &e0[q].val, sizeof(T)) != 0)
          return false;
    }
  }
  return true;
}

// All N x N values of one coarse block at once, for a componentwise R: the
// walk over a fine block row pairs each restriction entry with one fine
// block, and that block serves every (k, c). Every value gets the same
// terms in the same order as coarseValue computes it alone.
template <class T, int N>
void coarseBlock(const BlockMatrix<T, N>& fine, const PackedMatrix<T>& R, int row0, int col0,
                 T (&v)[N][N]) {
  for (auto& rowV : v)
    for (T& x : rowV) x = T(0);
  RowView<T> ri = row(R, row0), rj = row(R, col0);
  for (int p = 0; p < ri.n; ++p) {
    const int a0 = ri.e[p].col;
    T t[N][N] = {};
    const auto* b = fine.rowStart[a0 / N];
    const auto* end = fine.rowStart[a0 / N + 1];
    int q = 0;
    while (b != end && q < rj.n) {
      const int c = rj.e[q].col;
      if (c < b->col0) {
        ++q;
      } else if (c >= b->col0 + N) {
        ++b;
      } else {
        const T w = rj.e[q].val;
        for (int k = 0; k < N; ++k)
          for (int cc = 0; cc < N; ++cc) t[k][cc] = t[k][cc] + b->values[k * N + cc] * w;
        ++q;
      }
    }
    const T ra = ri.e[p].val;
    for (int k = 0; k < N; ++k)
      for (int cc = 0; cc < N; ++cc) v[k][cc] = t[k][cc] * ra + v[k][cc];
  }
}

template <class T, int N>
void blockProduct(BlockMatrix<T, N>& fine, PackedMatrix<T>& R, BlockMatrix<T, N>& coarse,
                  bool useStream) {
  if (useStream) {
    streamProduct<T, BlockValues<T, N>, BlockValues<T, N>>(fine, R, coarse);
    return;
  }
  const bool sym = fine.symmetric;
  const bool byBlock = componentwise<T, N>(R);
  for (auto& b : coarse.blocks) {
    typename BlockMatrix<T, N>::Block* mirror = nullptr;
    if (sym) {
      if (b.col0 < b.row0) continue;
      if (b.col0 > b.row0) mirror = coarse.findBlock(b.col0, b.row0);
    }
    T v[N][N];
    if (byBlock) {
      coarseBlock(fine, R, b.row0, b.col0, v);
    } else {
      for (int k = 0; k < N; ++k)
        for (int c = 0; c < N; ++c) v[k][c] = coarseValue(fine, R, b.row0 + k, b.col0 + c, T(0));
    }
    for (int k = 0; k < N; ++k)
      for (int c = 0; c < N; ++c) {
        b.values[k * N + c] = v[k][c];
        if (mirror) mirror->values[c * N + k] = v[k][c];
      }
  }
}

}  // namespace

template <class T>
void Multigrid<T>::galerkinProduct(PackedMatrix<T>& fine, PackedMatrix<T>& R,
                                   PackedMatrix<T>& coarse, bool useStream) {
  if (useStream) {
    streamProduct<T, PackedValues<T>, PackedValues<T>>(fine, R, coarse);
    return;
  }
  coarse.clear();
  const bool sym = fine.symmetric;
  for (int i = 0; i < coarse.nRow; ++i)
    for (int k = 0; k < coarse.rowLen[i]; ++k) {
      MatrixEntry<T>& e = coarse.rowStart[i][k];
      const int j = e.col;
      if (sym && j < i) continue;
      e.val = coarseValue(fine, R, i, j, e.val);
      if (sym && j != i) coarse.setElem(j, i, e.val);
    }
}

template <class T>
void Multigrid<T>::galerkinProduct(BlockMatrix<T, 2>& fine, PackedMatrix<T>& R,
                                   BlockMatrix<T, 2>& coarse, bool useStream) {
  blockProduct(fine, R, coarse, useStream);
}

template <class T>
void Multigrid<T>::galerkinProduct(BlockMatrix<T, 3>& fine, PackedMatrix<T>& R,
                                   BlockMatrix<T, 3>& coarse, bool useStream) {
  blockProduct(fine, R, coarse, useStream);
}

template void Multigrid<double>::galerkinProduct(PackedMatrix<double>&, PackedMatrix<double>&,
                                                 PackedMatrix<double>&, bool);
template void Multigrid<double>::galerkinProduct(BlockMatrix<double, 2>&, PackedMatrix<double>&,
                                                 BlockMatrix<double, 2>&, bool);
template void Multigrid<double>::galerkinProduct(BlockMatrix<double, 3>&, PackedMatrix<double>&,
                                                 BlockMatrix<double, 3>&, bool);
