#include "SparseCholesky.h"

#include <suitesparse/cholmod.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>

#include "BlockMatrix.h"
#include "MemoryLimits.h"
#include "PackedMatrix.h"
#include "ProgressBar.h"

// CHOLMOD's OpenMP loops: on a machine busy with other work their spinning
// threads made a factorisation 10 to 40 times slower than one thread.
// Its loops name their thread count, so only inactive parallel regions
// (no active levels) keep them on the calling thread.
extern "C" void omp_set_max_active_levels(int);
extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);

namespace {

void oneThread() { omp_set_max_active_levels(0); }

// OpenBLAS maps its work buffer (128 MB) on the first LAPACK call, keeps it
// for every later call on any thread, and retries a failed map for as long
// as the process lives: under an address-space or data limit (the buffer
// is a private writable map, which both count) the factor would spin
// inside dpotrf. So the buffer is made by a 1 x 1 dpotrf while the limits
// leave room for it and some headroom, else the factor runs out of memory.
constexpr uint64_t kBlasBuffer = uint64_t(160) << 20;
std::atomic<bool> blasBufferMapped{false};
std::atomic<uint64_t> blasBufferHeld{0};  // what the map added to VmSize

void mapBlasBuffer() {
  if (blasBufferMapped) return;
  const uint64_t room = mappingRoom();
  if (room != 0 && room < kBlasBuffer) throw std::bad_alloc();
  const uint64_t before = addressSpaceUsed();
  const int one = 1;
  int info = 0;
  double a = 1.0;
  dpotrf_("L", &one, &a, &one, &info);
  const uint64_t after = addressSpaceUsed();
  blasBufferHeld = after > before ? after - before : 0;
  blasBufferMapped = true;
}

}  // namespace

uint64_t CholeskyFactor::blasBufferBytes() { return blasBufferMapped ? 0 : kBlasBuffer; }

uint64_t CholeskyFactor::blasBufferHeldBytes() { return blasBufferHeld; }

// zolt_bench_coarse_crossover on box grids: the simplicial factor builds
// and solves quicker than the supernodal one up to about 150 and 540
// unknowns; at 2,700 it takes 83 ms against 14 to build and 0.73 ms against
// 0.39 to solve. Up to 2,250 unknowns it is kept for the sake of memory:
// the supernodal factor's BLAS buffer (160 MB of address space) is more
// than a small model needs in all.
int64_t CholeskyFactor::simplicialLimit = 2250;

struct CholeskyFactor::Impl {
  cholmod_common common;
  cholmod_factor* L = nullptr;
  cholmod_dense* X = nullptr;  // solve workspaces, kept between solves
  cholmod_dense* Y = nullptr;
  cholmod_dense* E = nullptr;

  Impl() {
    oneThread();
    cholmod_start(&common);
    common.print = 0;  // failures are reported by the caller
    common.supernodal = CHOLMOD_SUPERNODAL;
  }
  ~Impl() {
    cholmod_free_factor(&L, &common);
    cholmod_free_dense(&X, &common);
    cholmod_free_dense(&Y, &common);
    cholmod_free_dense(&E, &common);
    cholmod_finish(&common);
  }
  void checkMemory() const {
    if (common.status == CHOLMOD_OUT_OF_MEMORY || common.status == CHOLMOD_TOO_LARGE)
      throw std::bad_alloc();
  }
};

namespace {

// Calls f with A as the frozen block matrix it is; false for any other kind.
template <class F>
bool withBlocks(const Matrix<double>& A, F f) {
  if (const auto* B3 = dynamic_cast<const BlockMatrix<double, 3>*>(&A)) {
    if (!B3->frozen()) return false;
    f(B3);
  } else if (const auto* B2 = dynamic_cast<const BlockMatrix<double, 2>*>(&A)) {
    if (!B2->frozen()) return false;
    f(B2);
  } else {
    return false;
  }
  return true;
}

// The lower triangle of A as triplets (row >= column); false for a kind
// this does not read.
bool lowerTriangle(const Matrix<double>& A, std::vector<int>& rows, std::vector<int>& cols,
                   std::vector<double>& vals) {
  auto add = [&](int i, int j, double v) {
    if (i < j || !(v < 0 || v > 0)) return;
    rows.push_back(i);
    cols.push_back(j);
    vals.push_back(v);
  };
  if (withBlocks(A, [&](const auto* B) {
        constexpr int N = std::remove_pointer_t<decltype(B)>::N;
        for (const auto& b : B->blocks)
          if (b.row0 >= b.col0)
            for (int k = 0; k < N * N; ++k) add(b.row0 + k / N, b.col0 + k % N, b.values[k]);
      }))
    return true;
  const auto* P = dynamic_cast<const PackedMatrix<double>*>(&A);
  if (!P) return false;
  for (int i = 0; i < P->nRow; ++i)
    for (int q = 0; q < P->rowLen[i]; ++q) add(i, P->rowStart[i][q].col, P->rowStart[i][q].val);
  return true;
}

}  // namespace

CholeskyFactor::CholeskyFactor() : impl(std::make_unique<Impl>()) {}
CholeskyFactor::~CholeskyFactor() = default;

bool CholeskyFactor::factor(const Matrix<double>& A, ProgressBar* pb) {
  n = A.nRow;
  std::vector<int> rows, cols;
  std::vector<double> vals;
  if (A.nRow != A.nCol || !A.symmetric || !lowerTriangle(A, rows, cols, vals)) {
    message = "a sparse Cholesky factor needs a symmetric block or packed matrix";
    return false;
  }
  cholmod_common* c = &impl->common;
  oneThread();  // per thread
  const bool simplicial = n <= simplicialLimit;
  c->supernodal = simplicial ? CHOLMOD_SIMPLICIAL : CHOLMOD_SUPERNODAL;
  // LL', as the supernodal factor: an LDL' would take an indefinite matrix.
  c->final_ll = 1;
  if (!simplicial) mapBlasBuffer();
  cholmod_triplet* T = cholmod_allocate_triplet(n, n, rows.size(), -1, CHOLMOD_REAL, c);
  impl->checkMemory();
  std::copy(rows.begin(), rows.end(), static_cast<int*>(T->i));
  std::copy(cols.begin(), cols.end(), static_cast<int*>(T->j));
  std::copy(vals.begin(), vals.end(), static_cast<double*>(T->x));
  T->nnz = rows.size();
  std::vector<int>().swap(rows);
  std::vector<int>().swap(cols);
  std::vector<double>().swap(vals);
  cholmod_sparse* S = cholmod_triplet_to_sparse(T, T->nnz, c);
  cholmod_free_triplet(&T, c);
  impl->checkMemory();
  if (pb) pb->start();
  cholmod_free_factor(&impl->L, c);
  impl->L = cholmod_analyze(S, c);
  if (pb) pb->step();
  if (impl->L) cholmod_factorize(S, impl->L, c);
  cholmod_free_sparse(&S, c);
  if (pb) pb->finish();
  impl->checkMemory();
  if (!impl->L || c->status != CHOLMOD_OK || impl->L->minor < impl->L->n) {
    message = "the matrix is not positive definite (pivot " +
              std::to_string(impl->L ? impl->L->minor : 0) + " of " + std::to_string(n) + ")";
    cholmod_free_factor(&impl->L, c);
    return false;
  }
  // The solves' workspaces are made here, where running out of memory is
  // handled, rather than by the first solve on the stepping thread.
  const std::vector<double> zero(static_cast<size_t>(n), 0.0);
  std::vector<double> x(static_cast<size_t>(n));
  if (!solve(zero.data(), x.data())) {
    impl->checkMemory();
    message = "the factor's solve failed (CHOLMOD status " + std::to_string(c->status) + ")";
    cholmod_free_factor(&impl->L, c);
    return false;
  }
  return true;
}

bool CholeskyFactor::factored() const { return impl->L != nullptr; }

bool CholeskyFactor::solve(const double* b, double* x) {
  if (!impl->L) return false;
  cholmod_dense B{};
  B.nrow = B.nzmax = B.d = static_cast<size_t>(n);
  B.ncol = 1;
  B.x = const_cast<double*>(b);
  B.xtype = CHOLMOD_REAL;
  B.dtype = CHOLMOD_DOUBLE;
  oneThread();
  if (!cholmod_solve2(CHOLMOD_A, impl->L, &B, nullptr, &impl->X, nullptr, &impl->Y, &impl->E,
                      &impl->common) ||
      !impl->X)
    return false;
  const double* r = static_cast<const double*>(impl->X->x);
  std::copy(r, r + n, x);
  return true;
}

uint64_t CholeskyFactor::bytes() const {
  const cholmod_factor* L = impl->L;
  if (!L) return 0;
  const uint64_t values = L->is_super ? L->xsize : L->nzmax;
  return values * sizeof(double) + (L->is_super ? L->ssize : L->nzmax) * sizeof(int);
}

uint64_t CholeskyFactor::estimateBytes(const std::vector<std::vector<int>>& graph, int blockSize) {
  const size_t nodes = graph.size();
  if (nodes == 0) return 0;
  // Pattern only: the lower triangle plus the diagonal of the node graph.
  size_t nnz = nodes;
  for (size_t j = 0; j < nodes; ++j)
    for (int i : graph[j]) nnz += static_cast<size_t>(i) > j;
  Impl impl;
  cholmod_common* c = &impl.common;
  cholmod_sparse* S = cholmod_allocate_sparse(nodes, nodes, nnz, 1, 1, -1, CHOLMOD_PATTERN, c);
  impl.checkMemory();
  int* p = static_cast<int*>(S->p);
  int* r = static_cast<int*>(S->i);
  size_t k = 0;
  for (size_t j = 0; j < nodes; ++j) {
    p[j] = static_cast<int>(k);
    r[k++] = static_cast<int>(j);
    std::vector<int> lower;
    for (int i : graph[j])
      if (static_cast<size_t>(i) > j) lower.push_back(i);
    std::sort(lower.begin(), lower.end());
    lower.erase(std::unique(lower.begin(), lower.end()), lower.end());
    for (int i : lower) r[k++] = i;
  }
  p[nodes] = static_cast<int>(k);
  S->nzmax = k;
  impl.L = cholmod_analyze(S, c);
  cholmod_free_sparse(&S, c);
  impl.checkMemory();
  if (!impl.L) return 0;
  // Every node entry becomes a dense block; supernodes keep their shape.
  const double b2 = double(blockSize) * blockSize;
  const double values = (impl.L->is_super ? double(impl.L->xsize) : c->lnz) * b2;
  return static_cast<uint64_t>(values * (sizeof(double) + 1.0));
}

uint64_t CholeskyFactor::estimateBytes(const Matrix<double>& A) {
  std::vector<std::vector<int>> graph;
  int blockSize = 0;
  withBlocks(A, [&](const auto* B) {
    constexpr int N = std::remove_pointer_t<decltype(B)>::N;
    blockSize = N;
    graph.resize(static_cast<size_t>(B->nRow / N));
    for (const auto& b : B->blocks)
      if (b.row0 != b.col0) graph[static_cast<size_t>(b.row0 / N)].push_back(b.col0 / N);
  });
  return estimateBytes(graph, blockSize);
}

SparseCholesky::SparseCholesky(Matrix<double>& A, Vector<double>& b, Vector<double>& x,
                               ProgressBar* pb)
    : Iteration<double>(A, b, x, 0, 0.0), factor(std::make_shared<CholeskyFactor>()) {
  factored = factor->factor(A, pb);
}

SparseCholesky::SparseCholesky(Matrix<double>& A, Vector<double>& b, Vector<double>& x,
                               std::shared_ptr<CholeskyFactor> f)
    : Iteration<double>(A, b, x, 0, 0.0),
      factor(std::move(f)),
      factored(factor && factor->factored()) {}

void SparseCholesky::solve() {
  if (!factored) return;
  // A failed solve leaves a state that is plainly broken, never the last one.
  if (!factor->solve(b->data, x->data))
    std::fill(x->data, x->data + x->n, std::numeric_limits<double>::quiet_NaN());
}
