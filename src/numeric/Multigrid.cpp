#include "Multigrid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>

#include "BlockMatrix.h"
#include "MemoryLimits.h"
#include "SparseCholesky.h"
#include "SparseMatrix.h"
#include "ZoltAssert.h"

template <class T>
Multigrid<T>::Multigrid(Matrix<T>& fine, Matrix<T>** restr, Vector<T>& b, Vector<T>& x, T eps,
                        int nLevels, int n1, int n2, bool)
    : restriction(restr),
      eps2(eps * eps),
      levels(nLevels),
      nu1(n1),
      nu2(n2),
      maxAbsA(fine.maxAbs()) {
  try {
    allocate(fine, b, x);
  } catch (const std::bad_alloc&) {
    release();
    throw;
  }
}

template <class T>
void Multigrid<T>::allocate(Matrix<T>& fine, Vector<T>& b, Vector<T>& x) {
  work = new Vector<T>(b.n);
  A = new Matrix<T>*[levels];
  rhs = new Vector<T>[levels];
  sol = new Vector<T>[levels];
  res = new Vector<T>[levels];
  for (int l = 0; l < levels; ++l) A[l] = nullptr;
  A[levels - 1] = &fine;
  rhs[levels - 1].view(b.data, b.n);
  sol[levels - 1].view(x.data, x.n);

  // A missing restriction leaves its level empty; calcHierarchy reports it.
  auto coarseRows = [&](int l) { return restriction && restriction[l] ? restriction[l]->nRow : 0; };
  size_t mem_size = static_cast<size_t>(fine.nRow);
  for (int l = 0; l < levels - 1; ++l) mem_size += 3 * static_cast<size_t>(coarseRows(l));
  T* mem_pool = new T[mem_size]();
  pool = mem_pool;
  T* mem_ptr = mem_pool;
  res[levels - 1].view(mem_ptr, fine.nRow);
  mem_ptr += fine.nRow;
  for (int l = levels - 2; l >= 0; --l) {
    const int n = coarseRows(l);
    for (Vector<T>* v : {&rhs[l], &sol[l], &res[l]}) {
      v->view(mem_ptr, n);
      mem_ptr += n;
    }
  }
  ZOLT_ASSERT(mem_ptr == mem_pool + mem_size);

  if (levels > 1) {
    prolongation = new PackedMatrix<T>*[levels]();
    for (int l = 1; l < levels; ++l) {
      const auto* R =
          restriction ? dynamic_cast<const PackedMatrix<T>*>(restriction[l - 1]) : nullptr;
      if (R && R->nRow == rhs[l - 1].n && R->nCol == rhs[l].n && !R->symmetric)
        prolongation[l] = PackedMatrix<T>::transposed(*R);
    }
  }
}

template <class T>
Multigrid<T>::~Multigrid() {
  release();
}

template <class T>
void Multigrid<T>::release() {
  if (ownsLevelMatrices)
    for (int l = 0; l < levels - 1; ++l) delete A[l];
  delete[] A;
  delete[] rhs;
  delete[] sol;
  delete[] res;
  delete[] pool;
  delete coarse;
  delete work;
  if (prolongation)
    for (int l = 1; l < levels; ++l) delete prolongation[l];
  delete[] prolongation;
}

template <class T>
void Multigrid<T>::calcHierarchy(ProgressBar* pb) {
  if (A[levels - 1]->symmetric) std::cout << "  Symmetry Optimizations enabled! " << std::endl;
  ownsLevelMatrices = true;
  for (int l = levels - 2; l >= 0; --l) {
    std::cout << "  Calc Level " << l << " .... ";
    auto* P = restriction ? dynamic_cast<PackedMatrix<T>*>(restriction[l]) : nullptr;
    Matrix<T>* F = A[l + 1];
    auto* packed = F ? dynamic_cast<PackedMatrix<T>*>(F) : nullptr;
    auto* block3 = F ? dynamic_cast<BlockMatrix<T, 3>*>(F) : nullptr;
    auto* block2 = F ? dynamic_cast<BlockMatrix<T, 2>*>(F) : nullptr;
    if (!P || !(packed || block3 || block2)) {
      std::cout.flush();
      std::cerr
          << "[Multigrid, calcHierarchy]: Error: Neither PackedMatrix nor BlockMatrix is used "
             "as Basis!!"
          << std::endl;
      std::exit(1);
    }
    const int n = P->nRow;
    float ratio = 0.0f;
    if (packed) {
      basisType = 0;
      SparseMatrix<T> tmp(n, n);
      packed->mult_m_left_m_transpose_right(*P, tmp, pb);
      long kept = 0;
      for (int i = 0; i < n; ++i) {
        auto& row = tmp.rows[i];
        row.erase(std::remove_if(
                      row.begin(), row.end(),
                      [](const MatrixEntry<T>& e) { return !(e.val >= 1e-4 || e.val <= -1e-4); }),
                  row.end());
        kept += static_cast<long>(row.size());
      }
      auto* C = new PackedMatrix<T>(tmp);
      C->symmetric = packed->symmetric;
      A[l] = C;
      double cells = static_cast<double>(n) * n;
      if (cells > 0) ratio = static_cast<float>((kept * 100.0) / cells);
    } else {
      auto build = [&](auto* fineBlock) {
        using B = std::remove_pointer_t<decltype(fineBlock)>;
        auto owned = std::make_unique<B>(n, n);
        B* C = owned.get();
        C->symmetric = fineBlock->symmetric;
        fineBlock->mult_m_left_m_transpose_right(*P, *C, pb);
        C->buildDataStructs();
        A[l] = owned.release();
        double cells = static_cast<double>(C->nBlockRows) * C->nBlockCols;
        if (cells > 0) ratio = static_cast<float>((C->blocks.size() * 100.0) / cells);
      };
      if (block3) {
        basisType = 1;
        build(block3);
      } else {
        basisType = 2;
        build(block2);
      }
    }
    std::cout << "  Fillratio of A[" << l << "] = " << ratio << "%" << std::endl;
  }
}

template <class T>
int Multigrid<T>::coarseSolverFor(int type, int64_t n) {
  // Beyond the dense limit the sparse factor builds and solves quicker than
  // the inverse (and stays within memory); it takes its place.
  return type == 0 && !denseInverseFits(n) ? 3 : type;
}

template <class T>
void Multigrid<T>::setCoarseSolver(int type, ProgressBar* pb) {
  delete coarse;
  coarse = nullptr;
  type = coarseSolverFor(type, A[0]->nRow);
  if (type == 3) {
    std::cout << "  Factoring coarsest level (" << A[0]->nRow << " unknowns, sparse Cholesky)"
              << std::endl;
    auto* direct = new SparseCholesky(*A[0], rhs[0], sol[0], pb);
    if (direct->ok()) {
      coarse = direct;
      coarseSolverType = 3;
      return;
    }
    std::cout << "[Multigrid, setCoarseSolver] Error: " << direct->factor->error()
              << "; the coarsest level is solved with the diagonal CG" << std::endl;
    delete direct;
    type = 1;
  }
  coarseSolverType = type;
  const T coarseEps = std::max(eps2, T(1e-12));
  if (type == 0) {
    coarse = new Invert<T>(*A[0], rhs[0], sol[0]);
  } else if (type == 1) {
    coarse = new CGPreDiag<T>(*A[0], rhs[0], sol[0], rhs[0].n / 4, coarseEps);
    coarse->absolute = true;
  } else {
    coarse = new GaussSeidel<T>(*A[0], rhs[0], sol[0], 10, coarseEps, T(1.7));
    coarse->absolute = true;
  }
}

namespace {

// A forward sweep that also leaves the residual of the new x in r, for a
// symmetric frozen block matrix; false (and nothing done) for any other.
template <class T, int N>
bool trySweepResidual(Matrix<T>* A, Vector<T>& x, const Vector<T>& b, T omega, T& change,
                      Vector<T>& r) {
  auto* blockA = dynamic_cast<BlockMatrix<T, N>*>(A);
  if (!blockA || !blockA->symmetric || !blockA->frozen() ||
      blockA->nRow != blockA->nBlockRows * N || r.n != blockA->nRow)
    return false;
  blockA->gaussSeidelStepResidual(x, b, omega, change, r);
  return true;
}

}  // namespace

template <class T>
bool Multigrid<T>::smooth(int l, int count, T omega, bool backward, bool wantResidual) {
  if (count <= 0 || !(eps2 < 1.0)) return false;
  T change = 1.0;
  bool residual = false;
  for (int s = 0; s < count; ++s) {
    if (backward)
      A[l]->gaussSeidelBackStep(sol[l], rhs[l], omega, change);
    else if (wantResidual && (trySweepResidual<T, 3>(A[l], sol[l], rhs[l], omega, change, res[l]) ||
                              trySweepResidual<T, 2>(A[l], sol[l], rhs[l], omega, change, res[l])))
      residual = true;
    else
      A[l]->gaussSeidelStep(sol[l], rhs[l], omega, change);
    if (change <= eps2) break;
  }
  return residual;
}

namespace {

// rc = P^T (b - A x) in one pass over A: each block row's residual goes
// straight into the coarse entries its fine rows feed. For every coarse
// entry the terms arrive in ascending fine order, as R's rows hold them.
template <class T, int N>
void blockResidualRestrict(const BlockMatrix<T, N>& A, const PackedMatrix<T>& P, const T* x,
                           const T* b, T* rc, int nc) {
  std::fill(rc, rc + nc, T(0));
  for (int rb = 0; rb < A.nBlockRows; ++rb) {
    T t[N];
    BlockMatrix<T, N>::rowResidual(A.rowStart[rb], A.rowStart[rb + 1], x, b + rb * N, t);
    for (int k = 0; k < N; ++k) {
      const MatrixEntry<T>* e = P.rowStart[rb * N + k];
      const int len = P.rowLen[rb * N + k];
      for (int q = 0; q < len; ++q) rc[e[q].col] = rc[e[q].col] + e[q].val * t[k];
    }
  }
}

template <class T, int N>
bool tryBlockResidualRestrict(Matrix<T>* A, const PackedMatrix<T>* P, const Vector<T>& x,
                              const Vector<T>& b, Vector<T>& rc) {
  auto* blockA = dynamic_cast<BlockMatrix<T, N>*>(A);
  if (!blockA || !blockA->frozen() || blockA->nRow != blockA->nBlockRows * N) return false;
  blockResidualRestrict<T, N>(*blockA, *P, x.data, b.data, rc.data, rc.n);
  return true;
}

}  // namespace

template <class T>
void Multigrid<T>::restrictResidual(int l, bool haveResidual) {
  if (haveResidual) {
    restriction[l - 1]->mult(res[l], rhs[l - 1]);
    return;
  }
  const PackedMatrix<T>* P = prolongation ? prolongation[l] : nullptr;
  if (P && A[l]->nRow == P->nRow &&
      (tryBlockResidualRestrict<T, 3>(A[l], P, sol[l], rhs[l], rhs[l - 1]) ||
       tryBlockResidualRestrict<T, 2>(A[l], P, sol[l], rhs[l], rhs[l - 1])))
    return;
  A[l]->residuum(sol[l], rhs[l], res[l]);
  restriction[l - 1]->mult(res[l], rhs[l - 1]);
}

// Row i of P^T gathers in ascending coarse order, the order in which the
// transposed product of R would scatter into entry i, so the sums are the
// same.
template <class T>
void Multigrid<T>::prolongAndCorrect(int l) {
  const PackedMatrix<T>* P = prolongation ? prolongation[l] : nullptr;
  if (!P) {
    restriction[l - 1]->multTransposed(sol[l - 1], res[l]);
    for (int i = 0; i < sol[l].n; ++i) sol[l].data[i] += res[l].data[i];
    return;
  }
  const T* xc = sol[l - 1].data;
  T* x = sol[l].data;
  for (int i = 0; i < P->nRow; ++i) {
    const MatrixEntry<T>* e = P->rowStart[i];
    const int len = P->rowLen[i];
    T s = T(0);
    for (int q = 0; q < len; ++q) s = s + e[q].val * xc[e[q].col];
    x[i] += s;
  }
}

template <class T>
void Multigrid<T>::vCycleFrom(int top, T omega) {
  for (int l = top; l >= 1; --l) {
    restrictResidual(l, smooth(l, nu1, omega, false, true));
    std::fill(sol[l - 1].data, sol[l - 1].data + sol[l - 1].n, T(0));
  }
  coarse->solve();
  for (int l = 1; l <= top; ++l) {
    prolongAndCorrect(l);
    smooth(l, nu2, omega, backwardPostSweeps, false);
  }
}

template <class T>
void Multigrid<T>::vCycle(T omega) {
  vCycleFrom(levels - 1, omega);
  if (rigidInCycle) applyRigidCorrection();
}

namespace {

// Block values of rigid mode k (translations first, then the rotations
// e_k x q about the axes) at a block whose arm is q.
template <class T>
void rigidMode(int d, int k, const T* q, T* z) {
  std::fill(z, z + d, T(0));
  if (k < d) {
    z[k] = T(1);
  } else if (d == 2) {
    z[0] = -q[1];
    z[1] = q[0];
  } else {
    const int a = k - d, i = (a + 1) % 3, j = (a + 2) % 3;
    z[i] = -q[j];
    z[j] = q[i];
  }
}

// Cholesky of the m x m matrix G, then its inverse column by column; false
// when G is not positive definite.
template <class T>
bool invertGram(const T* G, int m, T* inverse) {
  T L[36] = {};
  T largest = 0;
  for (int k = 0; k < m; ++k) largest = std::max(largest, std::abs(G[k * m + k]));
  for (int j = 0; j < m; ++j) {
    T diag = G[j * m + j];
    for (int k = 0; k < j; ++k) diag -= L[j * m + k] * L[j * m + k];
    if (!(diag > T(1e-12) * largest)) return false;
    L[j * m + j] = std::sqrt(diag);
    for (int i = j + 1; i < m; ++i) {
      T v = G[i * m + j];
      for (int k = 0; k < j; ++k) v -= L[i * m + k] * L[j * m + k];
      L[i * m + j] = v / L[j * m + j];
    }
  }
  for (int c = 0; c < m; ++c) {
    T y[6] = {};
    for (int i = 0; i < m; ++i) {
      T v = i == c ? T(1) : T(0);
      for (int k = 0; k < i; ++k) v -= L[i * m + k] * y[k];
      y[i] = v / L[i * m + i];
    }
    for (int i = m - 1; i >= 0; --i) {
      T v = y[i];
      for (int k = i + 1; k < m; ++k) v -= L[k * m + i] * y[k];
      y[i] = v / L[i * m + i];
    }
    for (int i = 0; i < m; ++i) inverse[i * m + c] = y[i];
  }
  return true;
}

}  // namespace

template <class T>
bool Multigrid<T>::correctRigidMotions(int d, const T* rest) {
  rigidBlock = rigidModes = 0;
  rigidArms.clear();
  rigidImage.clear();
  rigidPiece.clear();
  rigidWeights.clear();
  rigidSums.clear();
  const Matrix<T>& F = *A[levels - 1];
  const int n = F.nRow;
  if (d <= 0) return true;
  if (d > 3 || n == 0 || n % d != 0 || F.nCol != n || !F.symmetric) return false;
  // Arms about the mean rest position, scaled to a unit root mean square so
  // that the rotations weigh like the translations in Z^T A Z.
  std::vector<T> arms;
  if (rest && d > 1) {
    T centre[3] = {}, radius2 = 0;
    const int blocks = n / d;
    for (int i = 0; i < n; ++i) centre[i % d] += rest[i];
    for (int k = 0; k < d; ++k) centre[k] /= blocks;
    arms.resize(n);
    for (int i = 0; i < n; ++i) {
      arms[i] = rest[i] - centre[i % d];
      radius2 += arms[i] * arms[i];
    }
    const T radius = std::sqrt(radius2 / blocks);
    if (!(radius > T(0))) return false;
    for (T& a : arms) a /= radius;
  }
  const int m = arms.empty() ? d : d == 3 ? 6 : 3;
  std::vector<T> image(static_cast<size_t>(m) * n);
  std::vector<T> modes(static_cast<size_t>(m) * n);
  Vector<T> z(n), az(n);
  for (int k = 0; k < m; ++k) {
    for (int i = 0; i < n; i += d) rigidMode(d, k, arms.empty() ? nullptr : &arms[i], &z[i]);
    std::copy(z.data, z.data + n, modes.begin() + static_cast<size_t>(k) * n);
    F.mult(z, az);
    for (int i = 0; i < n; ++i) image[static_cast<size_t>(i) * m + k] = az[i];
  }
  T G[36] = {};
  for (int k = 0; k < m; ++k)
    for (int c = 0; c < m; ++c)
      for (int i = 0; i < n; ++i)
        G[k * m + c] +=
            modes[static_cast<size_t>(k) * n + i] * image[static_cast<size_t>(i) * m + c];
  if (!invertGram(G, m, rigidInverse)) return false;
  rigidArms = std::move(arms);
  rigidImage = std::move(image);
  rigidBlock = d;
  rigidModes = m;
  return true;
}

namespace {

// Block i's share of Z^T (b - A x) with Z^T A x = (A Z)^T x (A symmetric).
template <class T, int D, int M>
inline void rigidTerms(const T* b, const T* x, const T* az, const T* arms, int i, T* t) {
  for (int k = 0; k < D; ++k) t[k] = b[i + k];
  if constexpr (M > D) {
    // Z^T b of the rotations: the torque q x b.
    const T* q = arms + i;
    if constexpr (D == 3) {
      t[3] = q[1] * b[i + 2] - q[2] * b[i + 1];
      t[4] = q[2] * b[i] - q[0] * b[i + 2];
      t[5] = q[0] * b[i + 1] - q[1] * b[i];
    } else {
      t[2] = q[0] * b[i + 1] - q[1] * b[i];
    }
  }
  for (int r = 0; r < D; ++r)
    for (int k = 0; k < M; ++k) t[k] -= az[(static_cast<long>(i) + r) * M + k] * x[i + r];
}

// Block i of x += Z y.
template <class T, int D, int M>
inline void rigidUpdate(T* x, const T* arms, int i, const T* y) {
  if constexpr (M == D) {
    for (int k = 0; k < D; ++k) x[i + k] += y[k];
  } else if constexpr (D == 3) {
    // x += t + w x q
    const T* q = arms + i;
    x[i] += y[0] + (y[4] * q[2] - y[5] * q[1]);
    x[i + 1] += y[1] + (y[5] * q[0] - y[3] * q[2]);
    x[i + 2] += y[2] + (y[3] * q[1] - y[4] * q[0]);
  } else {
    const T* q = arms + i;
    x[i] += y[0] - y[2] * q[1];
    x[i + 1] += y[1] + y[2] * q[0];
  }
}

// x += Z G^-1 Z^T (b - A x): one pass over b, x, the arms and A Z (stored
// unknown by unknown) instead of a residual. Two sums per mode, over
// alternate blocks, halve the chains of dependent additions. M = D:
// translations only.
template <class T, int D, int M>
void rigidStep(const T* b, T* x, const T* az, const T* arms, const T* inverse, int n) {
  T s[2][M] = {};
  for (int i = 0, p = 0; i < n; i += D, p ^= 1) {
    T t[M];
    rigidTerms<T, D, M>(b, x, az, arms, i, t);
    for (int k = 0; k < M; ++k) s[p][k] += t[k];
  }
  T y[M] = {};
  for (int i = 0; i < M; ++i)
    for (int k = 0; k < M; ++k) y[i] += inverse[i * M + k] * (s[0][k] + s[1][k]);
  for (int i = 0; i < n; i += D) rigidUpdate<T, D, M>(x, arms, i, y);
}

// The same over pieces: x += Z_p W_p Z_p^T (b - A x) for every piece p,
// with the sums of each piece in sums[p * M ..] and its update after them.
template <class T, int D, int M>
void pieceStep(const T* b, T* x, const T* az, const T* arms, const int* piece, const T* weights,
               T* sums, int pieces, int n) {
  T* y = sums + static_cast<size_t>(pieces) * M;
  std::fill(sums, y, T(0));
  for (int i = 0, j = 0; i < n; i += D, ++j) {
    const int p = piece[j];
    if (p < 0) continue;
    T t[M];
    rigidTerms<T, D, M>(b, x, az, arms, i, t);
    for (int k = 0; k < M; ++k) sums[p * M + k] += t[k];
  }
  for (int p = 0; p < pieces; ++p) {
    const T* w = weights + static_cast<size_t>(p) * M * M;
    for (int i = 0; i < M; ++i) {
      T v = 0;
      for (int k = 0; k < M; ++k) v += w[i * M + k] * sums[p * M + k];
      y[p * M + i] = v;
    }
  }
  for (int i = 0, j = 0; i < n; i += D, ++j)
    if (piece[j] >= 0) rigidUpdate<T, D, M>(x, arms, i, y + piece[j] * M);
}

// Whether a piece held at the given points (d coordinates each) can still
// move rigidly: free, held at one point (or at coinciding ones), or in 3-D
// along one line. r is the piece's size; rest positions are floats, so
// closer than 1e-5 r counts as on the point or the line.
template <class T>
bool canMove(int d, const std::vector<T>& points, T r) {
  const int count = static_cast<int>(points.size()) / d;
  const T* p0 = points.data();
  const T tolerance = T(1e-5) * r;
  // Distance of p from p0, off the line along u when u is given.
  auto distance = [&](const T* p, const T* u) {
    T along = 0, r2 = 0;
    for (int k = 0; u && k < d; ++k) along += (p[k] - p0[k]) * u[k];
    for (int k = 0; k < d; ++k) {
      const T e = p[k] - p0[k] - (u ? along * u[k] : T(0));
      r2 += e * e;
    }
    return std::sqrt(r2);
  };
  int far = 0;
  T farthest = 0;
  for (int i = 1; i < count; ++i) {
    const T e = distance(p0 + i * d, nullptr);
    if (e > farthest) {
      farthest = e;
      far = i;
    }
  }
  if (!(farthest > tolerance)) return true;
  if (d == 2) return false;
  T u[3];
  for (int k = 0; k < 3; ++k) u[k] = (p0[far * d + k] - p0[k]) / farthest;
  for (int i = 1; i < count; ++i)
    if (distance(p0 + i * d, u) > tolerance) return false;
  return true;
}

// Per block the arm about its piece's mean rest position, scaled by the
// piece's root mean square arm (radius[p], 1 for a piece without arms:
// its turns vanish and its G is singular), and each piece's block count.
template <class T>
void pieceArms(int d, const T* rest, const int* piece, int blocks, std::vector<T>& arms,
               std::vector<T>& radius, std::vector<int>& members) {
  const size_t pieces = radius.size();
  std::vector<T> centre(pieces * d);
  for (int j = 0; j < blocks; ++j) {
    if (piece[j] < 0) continue;
    ++members[piece[j]];
    for (int k = 0; k < d; ++k) centre[piece[j] * d + k] += rest[j * d + k];
  }
  for (size_t p = 0; p < pieces; ++p)
    for (int k = 0; k < d; ++k) centre[p * d + k] /= std::max(members[p], 1);
  for (int j = 0; j < blocks; ++j)
    for (int k = 0; piece[j] >= 0 && k < d; ++k) {
      arms[j * d + k] = rest[j * d + k] - centre[piece[j] * d + k];
      radius[piece[j]] += arms[j * d + k] * arms[j * d + k];
    }
  for (size_t p = 0; p < pieces; ++p) {
    radius[p] = std::sqrt(radius[p] / std::max(members[p], 1));
    if (!(radius[p] > T(0))) radius[p] = T(1);
  }
  for (int j = 0; j < blocks; ++j)
    for (int k = 0; piece[j] >= 0 && k < d; ++k) arms[j * d + k] /= radius[piece[j]];
}

// A Z unknown by unknown (entry i * m + k; zero on blocks of no piece) and
// per piece G = Z_p^T A Z_p (36 entries each, m x m by rows).
template <class T>
void pieceImage(const Matrix<T>& F, int d, int m, const std::vector<T>& arms, const int* piece,
                std::vector<T>& image, std::vector<T>& G) {
  const int n = F.nRow, blocks = n / d;
  Vector<T> z(n), az(n);
  for (int k = 0; k < m; ++k) {
    for (int j = 0; j < blocks; ++j)
      if (piece[j] >= 0)
        rigidMode(d, k, &arms[j * d], &z[j * d]);
      else
        std::fill(&z[j * d], &z[j * d] + d, T(0));
    F.mult(z, az);
    for (int i = 0; i < n; ++i)
      image[static_cast<size_t>(i) * m + k] = piece[i / d] >= 0 ? az[i] : T(0);
  }
  for (int j = 0; j < blocks; ++j) {
    if (piece[j] < 0) continue;
    T* g = &G[static_cast<size_t>(piece[j]) * 36];
    for (int k = 0; k < m; ++k) {
      T zk[3];
      rigidMode(d, k, &arms[j * d], zk);
      for (int r = 0; r < d; ++r)
        for (int c = 0; c < m; ++c)
          g[k * m + c] += zk[r] * image[(static_cast<size_t>(j) * d + r) * m + c];
    }
  }
}

}  // namespace

template <class T>
bool Multigrid<T>::correctPieceMotions(int d, const T* rest, const int* piece,
                                       const std::vector<std::vector<T>>& held) {
  const Matrix<T>& F = *A[levels - 1];
  const int n = F.nRow;
  const int pieces = static_cast<int>(held.size());
  const int blocks = d > 0 ? n / d : 0;
  bool single = piece && pieces == 1 && held[0].empty();
  for (int j = 0; single && j < blocks; ++j) single = piece[j] == 0;
  if (single) return correctRigidMotions(d, rest);
  correctRigidMotions(0, nullptr);
  if (d < 2 || d > 3 || !rest || !piece || n == 0 || n % d != 0 || F.nCol != n || !F.symmetric)
    return false;
  for (const std::vector<T>& h : held)
    if (h.size() % d != 0) return false;
  for (int j = 0; j < blocks; ++j)
    if (piece[j] < -1 || piece[j] >= pieces) return false;
  const int m = d == 3 ? 6 : 3;
  std::vector<T> arms(n), radius(pieces);
  std::vector<int> members(pieces);
  pieceArms(d, rest, piece, blocks, arms, radius, members);
  // Nothing more to do when no piece can move.
  std::vector<char> moves(pieces);
  bool any = false;
  for (int p = 0; p < pieces; ++p) {
    moves[p] = members[p] > 0 && canMove(d, held[p], radius[p]);
    any = any || moves[p];
  }
  if (!any) return true;
  std::vector<T> image(static_cast<size_t>(m) * n), G(static_cast<size_t>(pieces) * 36);
  pieceImage(F, d, m, arms, piece, image, G);
  // Per piece G^-1; a piece that cannot move, or whose G is not positive
  // definite, is not corrected.
  std::vector<T> weights(static_cast<size_t>(pieces) * m * m);
  bool sound = true;
  any = false;
  for (int p = 0; p < pieces; ++p) {
    if (!moves[p]) continue;
    moves[p] =
        invertGram(&G[static_cast<size_t>(p) * 36], m, &weights[static_cast<size_t>(p) * m * m]);
    sound = sound && moves[p];
    any = any || moves[p];
  }
  if (!any) return sound;
  std::vector<int> corrected(piece, piece + blocks);
  for (int& q : corrected)
    if (q >= 0 && !moves[q]) q = -1;
  rigidArms = std::move(arms);
  rigidImage = std::move(image);
  rigidPiece = std::move(corrected);
  rigidWeights = std::move(weights);
  rigidSums.assign(static_cast<size_t>(2) * pieces * m, T(0));
  rigidBlock = d;
  rigidModes = m;
  return sound;
}

template <class T>
void Multigrid<T>::copyRigidCorrection(const Multigrid& other) {
  rigidBlock = rigidModes = 0;
  if (other.rigidBlock == 0 || other.sol[other.levels - 1].n != sol[levels - 1].n) return;
  rigidArms = other.rigidArms;
  rigidImage = other.rigidImage;
  std::copy(other.rigidInverse, other.rigidInverse + 36, rigidInverse);
  rigidPiece = other.rigidPiece;
  rigidWeights = other.rigidWeights;
  rigidSums = other.rigidSums;
  rigidBlock = other.rigidBlock;
  rigidModes = other.rigidModes;
}

template <class T>
void Multigrid<T>::applyRigidCorrection() {
  applyRigidCorrection(rhs[levels - 1], sol[levels - 1]);
}

template <class T>
void Multigrid<T>::applyRigidCorrection(const Vector<T>& bv, Vector<T>& xv) {
  if (rigidBlock == 0 || !A[levels - 1]->symmetric) return;
  const int n = sol[levels - 1].n;
  if (bv.n != n || xv.n != n) return;
  const T* b = bv.data;
  T* x = xv.data;
  const T* az = rigidImage.data();
  const T* q = rigidArms.data();
  if (!rigidPiece.empty()) {
    const int pieces = static_cast<int>(rigidSums.size()) / (2 * rigidModes);
    if (rigidBlock == 3)
      pieceStep<T, 3, 6>(b, x, az, q, rigidPiece.data(), rigidWeights.data(), rigidSums.data(),
                         pieces, n);
    else
      pieceStep<T, 2, 3>(b, x, az, q, rigidPiece.data(), rigidWeights.data(), rigidSums.data(),
                         pieces, n);
    return;
  }
  const T* inv = rigidInverse;
  if (rigidModes == 6)
    rigidStep<T, 3, 6>(b, x, az, q, inv, n);
  else if (rigidModes == 3 && rigidBlock == 2)
    rigidStep<T, 2, 3>(b, x, az, q, inv, n);
  else if (rigidModes == 3)
    rigidStep<T, 3, 3>(b, x, az, q, inv, n);
  else if (rigidModes == 2)
    rigidStep<T, 2, 2>(b, x, az, q, inv, n);
  else
    rigidStep<T, 1, 1>(b, x, az, q, inv, n);
}

template <class T>
void Multigrid<T>::fullMultigrid(int cycles, T omega) {
  for (int l = levels - 1; l >= 1; --l) restriction[l - 1]->mult(rhs[l], rhs[l - 1]);
  std::fill(sol[0].data, sol[0].data + sol[0].n, T(0));
  for (int k = 0; k < levels; ++k) {
    for (int c = 0; c < cycles; ++c) vCycleFrom(k, omega);
    if (k < levels - 1) restriction[k]->multTransposed(sol[k], sol[k + 1]);
  }
}

template class Multigrid<double>;
