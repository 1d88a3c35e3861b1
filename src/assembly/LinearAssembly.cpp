// The assembly of linear tetrahedra in three dimensions. Every element
// matrix has a closed form in the constant shape-function gradients; the
// block pattern comes once from the connectivity, and each global row sums
// the contributions of its elements in element order, whichever thread
// owns the row, so one and two threads give the same bits.

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>

#include "BinaryIO.h"
#include "FiniteElement.h"
#include "MatrixAssembler.h"
#include "ProgressBar.h"
#include "Tetrahedron.h"
#include "Vertex.h"
#include "ZoltAssert.h"

using zolt::isNonZero;

namespace {

// What the row sums need of one element.
struct ElementRecord {
  double grad[4][3];  // gradient of each corner's shape function
  double kScale;      // stiffness factor times volume
  double volume;
  double massDiag;  // consistent mass of a corner with itself
  double massOff;   // and with another corner
  double lumped;    // lumped mass of each corner
  int vertex[4];
};

// Entries between -1e-9 and 1e-9 count as zero.
inline bool isTiny(double v) { return v >= -1e-9 && v <= 1e-9; }

// Block (a, b) of the element stiffness kScale * B_a^T D B_b with the
// isotropic D of lambda and mu, row-major, tiny entries zeroed.
inline void stiffnessBlock(const ElementRecord& r, int a, int b, double lambda, double mu,
                           double (&k)[9]) {
  const double* ga = r.grad[a];
  const double* gb = r.grad[b];
  const double dot = ga[0] * gb[0] + ga[1] * gb[1] + ga[2] * gb[2];
  for (int d1 = 0; d1 < 3; ++d1)
    for (int d2 = 0; d2 < 3; ++d2) {
      double v = lambda * (ga[d1] * gb[d2]) + mu * (ga[d2] * gb[d1]);
      if (d1 == d2) v += mu * dot;
      v *= r.kScale;
      k[3 * d1 + d2] = isTiny(v) ? 0.0 : v;
    }
}

// The 6 x 3 columns of node b of volume * D B (strain-major): the normal
// rows scale the gradient by D's row, the shear rows pair two components.
inline void stressColumns(const ElementRecord& r, int b, double lambda, double mu,
                          double (&s)[18]) {
  const double* g = r.grad[b];
  const double a = (mu + mu) + lambda;
  const double V = r.volume;
  for (int n = 0; n < 3; ++n)
    for (int k = 0; k < 3; ++k) s[3 * n + k] = (g[k] * (n == k ? a : lambda)) * V;
  s[9] = (g[1] * mu) * V;
  s[10] = (g[0] * mu) * V;
  s[11] = 0.0;
  s[12] = (g[2] * mu) * V;
  s[13] = 0.0;
  s[14] = (g[0] * mu) * V;
  s[15] = 0.0;
  s[16] = (g[2] * mu) * V;
  s[17] = (g[1] * mu) * V;
}

// A vector of n value-initialised elements, with huge pages when large.
template <class X>
std::vector<X> hugeVector(size_t n) {
  std::vector<X> v;
  v.reserve(n);
  zolt::adviseHugePages(v.data(), n * sizeof(X));
  v.resize(n);
  return v;
}

double wallMicroseconds() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) * 1e6 + static_cast<double>(tv.tv_usec);
}

// A task of the worker thread; a std::bad_alloc in it is kept for the
// calling thread.
template <class F>
struct HelperTask {
  const MatrixAssembler* assembler;
  F* work;
  bool outOfMemory = false;
};

template <class F>
void* runTask(void* arg) {
  auto* task = static_cast<HelperTask<F>*>(arg);
  task->assembler->helperBegins();
  try {
    (*task->work)();
  } catch (const std::bad_alloc&) {
    task->outOfMemory = true;
  }
  return nullptr;
}

// Runs helper() on the worker thread while the calling thread runs own().
// Without a worker (not wanted, or a start failed once) both run here, own
// first. A std::bad_alloc of either is thrown here after the join.
template <class Helper, class Own>
void runOnBoth(MatrixAssembler& a, bool& threaded, Helper helper, Own own) {
  HelperTask<Helper> task{&a, &helper};
  if (threaded && !a.startWorker(&runTask<Helper>, &task)) threaded = false;
  runBesideWorker([&a] { a.joinWorker(); }, &task.outOfMemory, own);
  if (!threaded) helper();
}

// One thread's rows of the global matrices, on cache lines of its own.
struct alignas(64) RowPart {
  int first = 0, last = 0;      // vertices first .. last-1
  std::vector<int> neighbours;  // sorted, per vertex of the range in turn
  std::vector<int> count;       // neighbours per vertex of the range
  long kBlocks = 0;             // blocks of the kept rows and columns
  long mBound = 0, sBound = 0;  // entries before the zero test
};

// A packed matrix whose entries both parts write, each from its own offset
// into room for every entry before the zero test.
PackedMatrix<double>* newPacked(int rows, int cols, long room) {
  ZOLT_ASSERT(room <= INT32_MAX);
  auto P = std::make_unique<PackedMatrix<double>>();  // freed should an allocation fail
  P->nRow = rows;
  P->nCol = cols;
  if (rows > 0) {
    P->rowLen = new int[rows];
    P->rowStart = new MatrixEntry<double>*[rows];
  }
  // Not initialised: only what the parts write is ever read.
  if (room > 0) {
    P->entries = new MatrixEntry<double>[room];
    zolt::adviseHugePages(P->entries, room * sizeof(MatrixEntry<double>));
  }
  return P.release();
}

// Closes the gap between the entries of the first part, which end at end0,
// and those of the second, [begin1, end1), whose rows start at firstRow1.
void closeUp(PackedMatrix<double>& P, MatrixEntry<double>* end0, MatrixEntry<double>* begin1,
             MatrixEntry<double>* end1, int firstRow1) {
  const ptrdiff_t gap = begin1 - end0;
  if (gap > 0 && end1 != begin1) std::memmove(end0, begin1, (end1 - begin1) * sizeof(*end0));
  for (int r = firstRow1; r < P.nRow; ++r) P.rowStart[r] -= gap;
  P.nnz = static_cast<int>((end0 - P.entries) + (end1 - begin1));
}

}  // namespace

bool MatrixAssembler::linearTetrahedra() const {
  if (dim != 3 || forceSymbolic) return false;
  for (FiniteElement* e : *elements)
    if (!dynamic_cast<Tetrahedron*>(e)) return false;
  return true;
}

void MatrixAssembler::assembleLinear(int firstDof, int nDofs) {
  const std::vector<FiniteElement*>& el = *elements;
  const int n = elementCount();
  const int callerEnd = std::min(n / 2 + 1, n);
  const double lambda = material->lambda, mu = material->mu;
  // Vertices f0 .. f1-1 lose their unknowns; the others move down.
  const int f0 = firstDof / 3, f1 = (firstDof + nDofs) / 3;
  const int nKept = nNodes - (f1 - f0);
  auto kept = [&](int v) { return v < f0 || v >= f1; };
  auto newIndex = [&](int v) { return v < f0 ? v : v - (f1 - f0); };
  bool threaded = useWorker;
  const double t0 = wallMicroseconds();

  // Elements: the closed forms and what the rows need of them.
  std::vector<ElementRecord> records = hugeVector<ElementRecord>(n);
  auto prepare = [&](int from, int to, ProgressBar* bar) {
    for (int i = from; i < to && !stopped(); ++i) {
      auto* t = static_cast<Tetrahedron*>(el[i]);
      ElementRecord& r = records[i];
      const double volume = t->prepareVolume(calcGradients, r.grad);
      const float stiffness = t->getStiffness();
      const float density = t->getDensity();
      r.volume = volume;
      r.kScale = stiffness != 1.0f ? static_cast<double>(stiffness) * volume : volume;
      // The integrals of N_i N_j: a tenth of the volume on the diagonal, a
      // twentieth off it.
      double mDiag = volume / 10.0, mOff = volume / 20.0;
      if (density != 1.0f) {
        mDiag *= static_cast<double>(density);
        mOff *= static_cast<double>(density);
      }
      r.massDiag = mDiag > -1e-9 && mDiag < 1e-9 ? 0.0 : mDiag;
      r.massOff = mOff > -1e-9 && mOff < 1e-9 ? 0.0 : mOff;
      r.lumped = (0.25 * volume) * static_cast<double>(density);
      for (int a = 0; a < 4; ++a) {
        const int v = t->getVertex(a)->index;
        ZOLT_ASSERT(v >= 0 && v < nNodes);
        r.vertex[a] = v;
      }
      if (volume < 1e-9) std::cout << "Degenerated Element, vol=" << volume << std::endl;
      if (elementStiffness) {
        FullMatrix<double>& Ke = elementStiffness[i];
        Ke.symmetric = true;
        for (int a = 0; a < 4; ++a)
          for (int b = 0; b < 4; ++b) {
            double k[9];
            stiffnessBlock(r, a, b, lambda, mu, k);
            for (int q = 0; q < 9; ++q) Ke.setElem(3 * a + q / 3, 3 * b + q % 3, k[q]);
          }
      }
      if (bar) bar->step();
    }
  };
  {
    ProgressBar* bar = nullptr;
    if (callerEnd > 0) {
      bar = progressBarFactory("Generating Stiffness Matrix", static_cast<unsigned int>(callerEnd));
      bar->start();
    }
    runOnBoth(
        *this, threaded, [&] { prepare(callerEnd, n, nullptr); },
        [&] { prepare(0, callerEnd, bar); });
    if (bar) {
      bar->finish();
      delete bar;
    }
  }

  // The elements of every vertex, ascending, each with the vertex's corner.
  std::vector<int> incidenceStart(nNodes + 1, 0), incidence(4 * static_cast<size_t>(n));
  for (const ElementRecord& r : records)
    for (int a = 0; a < 4; ++a) ++incidenceStart[r.vertex[a] + 1];
  for (int v = 0; v < nNodes; ++v) incidenceStart[v + 1] += incidenceStart[v];
  {
    std::vector<int> fill(incidenceStart.begin(), incidenceStart.end() - 1);
    for (int e = 0; e < n; ++e)
      for (int a = 0; a < 4; ++a) incidence[fill[records[e].vertex[a]]++] = 4 * e + a;
  }
  // The rows are split where half of the incidences lie before.
  RowPart parts[2];
  {
    const int half = incidenceStart[nNodes] / 2;
    const int split =
        static_cast<int>(std::lower_bound(incidenceStart.begin(), incidenceStart.end(), half) -
                         incidenceStart.begin());
    parts[0].first = 0;
    parts[0].last = std::min(split, nNodes);
    parts[1].first = parts[0].last;
    parts[1].last = nNodes;
  }

  // Pattern: the sorted distinct vertices sharing an element with each.
  auto findNeighbours = [&](RowPart& part) {
    std::vector<int> seen(nNodes, -1);
    part.count.assign(part.last - part.first, 0);
    for (int v = part.first; v < part.last && !stopped(); ++v) {
      const size_t begin = part.neighbours.size();
      for (int q = incidenceStart[v]; q < incidenceStart[v + 1]; ++q) {
        const int* corners = records[incidence[q] / 4].vertex;
        for (int b = 0; b < 4; ++b)
          if (seen[corners[b]] != v) {
            seen[corners[b]] = v;
            part.neighbours.push_back(corners[b]);
          }
      }
      std::sort(part.neighbours.begin() + begin, part.neighbours.end());
      int nKeptNeighbours = 0;
      for (size_t q = begin; q < part.neighbours.size(); ++q)
        nKeptNeighbours += kept(part.neighbours[q]);
      part.count[v - part.first] = static_cast<int>(part.neighbours.size() - begin);
      if (kept(v)) {
        part.kBlocks += nKeptNeighbours;
        part.mBound += 3 * nKeptNeighbours;
      }
      part.sBound += 18 * nKeptNeighbours;
    }
  };
  runOnBoth(
      *this, threaded, [&] { findNeighbours(parts[1]); }, [&] { findNeighbours(parts[0]); });

  // Values: every row sums its elements in ascending order.
  const int N = 3 * nKept;
  auto blocks = hugeVector<BlockMatrix<double, 3>::Block>(parts[0].kBlocks + parts[1].kBlocks);
  lumpedMass = new Vector<double>(N);
  M = newPacked(N, N, parts[0].mBound + parts[1].mBound);
  S = newPacked(6 * nNodes, N, parts[0].sBound + parts[1].sBound);
  MatrixEntry<double>* mAt[2] = {M->entries, M->entries + parts[0].mBound};
  MatrixEntry<double>* sAt[2] = {S->entries, S->entries + parts[0].sBound};
  auto sumRows = [&](int k, long blockOffset) {
    RowPart& part = parts[k];
    // Local write positions: the two threads' positions share a cache line.
    MatrixEntry<double>* mNext = mAt[k];
    MatrixEntry<double>* sNext = sAt[k];
    std::vector<int> position(nNodes);
    std::vector<double> kSum, mSum, sSum;
    const int* nb = part.neighbours.data();
    for (int v = part.first; v < part.last && !stopped(); nb += part.count[v - part.first], ++v) {
      const int count = part.count[v - part.first];
      for (int q = 0; q < count; ++q) position[nb[q]] = q;
      kSum.assign(9 * static_cast<size_t>(count), 0.0);
      mSum.assign(count, 0.0);
      sSum.assign(18 * static_cast<size_t>(count), 0.0);
      double lumped = 0.0;
      for (int q = incidenceStart[v]; q < incidenceStart[v + 1]; ++q) {
        const ElementRecord& r = records[incidence[q] / 4];
        const int a = incidence[q] % 4;
        lumped += r.lumped;
        for (int b = 0; b < 4; ++b) {
          const int p = position[r.vertex[b]];
          double k[9], s[18];
          stiffnessBlock(r, a, b, lambda, mu, k);
          for (int e = 0; e < 9; ++e) kSum[9 * p + e] += k[e];
          const double m = a == b ? r.massDiag : r.massOff;
          if (isNonZero(m)) mSum[p] += m;
          stressColumns(r, b, lambda, mu, s);
          for (int e = 0; e < 18; ++e)
            if (isNonZero(s[e])) sSum[18 * p + e] += s[e];
        }
      }
      // The global matrices keep no entry between -1e-9 and 1e-9.
      auto keepEntry = [](double x) { return !(x > -1e-9 && x < 1e-9); };
      if (kept(v)) {
        const int row = 3 * newIndex(v);
        for (int q = 0; q < count; ++q) {
          if (!kept(nb[q])) continue;
          auto& blk = blocks[blockOffset++];
          blk.row0 = row;
          blk.col0 = 3 * newIndex(nb[q]);
          std::copy(&kSum[9 * q], &kSum[9 * q] + 9, blk.values);
          // K takes 1e-32 M where M keeps an entry.
          if (keepEntry(mSum[q]))
            for (int d = 0; d < 3; ++d) blk.values[4 * d] += 1e-32 * mSum[q];
        }
        for (int d = 0; d < 3; ++d) {
          M->rowStart[row + d] = mNext;
          for (int q = 0; q < count; ++q)
            if (kept(nb[q]) && keepEntry(mSum[q])) *mNext++ = {3 * newIndex(nb[q]) + d, mSum[q]};
          M->rowLen[row + d] = static_cast<int>(mNext - M->rowStart[row + d]);
          lumpedMass->data[row + d] = lumped;
        }
      }
      for (int n6 = 0; n6 < 6; ++n6) {
        const int row = 6 * v + n6;
        S->rowStart[row] = sNext;
        for (int q = 0; q < count; ++q) {
          if (!kept(nb[q])) continue;
          for (int c = 0; c < 3; ++c) {
            const double x = sSum[18 * q + 3 * n6 + c];
            if (keepEntry(x)) *sNext++ = {3 * newIndex(nb[q]) + c, x};
          }
        }
        S->rowLen[row] = static_cast<int>(sNext - S->rowStart[row]);
      }
    }
    mAt[k] = mNext;
    sAt[k] = sNext;
  };
  runOnBoth(
      *this, threaded, [&] { sumRows(1, parts[0].kBlocks); }, [&] { sumRows(0, 0); });
  const int keptBefore1 =
      parts[1].first < f0 ? parts[1].first : std::max(parts[1].first, f1) - (f1 - f0);
  closeUp(*M, mAt[0], M->entries + parts[0].mBound, mAt[1], 3 * keptBefore1);
  closeUp(*S, sAt[0], S->entries + parts[0].sBound, sAt[1], 6 * parts[1].first);

  K3 = new BlockMatrix<double, 3>(N, N);
  K3->freezeWith(std::move(blocks));
  K3->symmetric = true;
  const double t = wallMicroseconds() - t0;
  std::cout << "    Time needed: " << static_cast<int>(std::floor(t * 0.001)) / 1000 << " sec"
            << std::endl;

  std::cout << "  Pack Mass matrix ... " << std::endl;
  std::cout << "  Pack stress matrix ... " << std::endl;
  printFillRatios();
}
