#pragma once
// Geometric multigrid over a nested hierarchy. Level 0 is the coarsest;
// restriction[l] maps level l+1 to level l (mult restricts, multTransposed
// prolongs). The finest right-hand side and solution alias the caller's
// vectors, which must outlive the multigrid.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Iteration.h"
#include "Matrix.h"
#include "PackedMatrix.h"

template <class T, int N>
class BlockMatrix;

template <class T>
class Multigrid {
 public:
  Matrix<T>** A = nullptr;    // levels matrices; A[levels-1] is the caller's
  Vector<T>* rhs = nullptr;   // per level, views
  Vector<T>* sol = nullptr;   // per level, views
  Vector<T>* res = nullptr;   // per level, views
  Matrix<T>** restriction;    // levels-1 restrictions, not owned
  Vector<T>* work = nullptr;  // owned zero vector of the finest size
  T* pool = nullptr;          // storage of every level vector but the finest rhs/sol
  T eps2;                     // early stop of the smoothing sweeps
  int levels;
  int nu1;  // most pre-smoothing sweeps
  int nu2;  // most post-smoothing sweeps
  T maxAbsA;
  // Per level l >= 1, restriction[l-1] transposed (one row per fine
  // unknown), owned; null where that restriction is missing or not packed.
  // The cycle restricts the residual and adds the prolonged correction row
  // by row through it, without a separate pass over a level vector. The
  // restrictions must not change after construction.
  PackedMatrix<T>** prolongation = nullptr;
  Iteration<T>* coarse = nullptr;  // owned solver of level 0
  bool ownsLevelMatrices = false;
  int basisType = 0;         // 0 PackedMatrix, 1 BlockMatrix<T,3>, 2 BlockMatrix<T,2>
  int coarseSolverType = 0;  // 0 Invert, 1 CGPreDiag, 2 GaussSeidel, 3 SparseCholesky
  // Post-smoothing sweeps run backward: with an exact coarse solve the cycle
  // is then a symmetric operator, which keeps one cycle per implicit step
  // bounded on undamped models. Off: every sweep runs forward.
  bool backwardPostSweeps = false;
  // A free body's rigid motions: the sweeps after the coarse correction
  // shift its mean motion and its spin, which no later part of the cycle
  // restores, and the error of one cycle per step builds up over the steps.
  // With rigidBlock d > 0 (set by correctRigidMotions) each vCycle ends with
  // the Galerkin correction x += Z (Z^T A Z)^-1 Z^T (b - A x) over the rigid
  // modes Z of the finest level (the d unit translations, then the
  // infinitesimal rotations about the body's centre), while its matrix is
  // symmetric.
  int rigidBlock = 0;
  int rigidModes = 0;         // d translations, plus 3 (d = 3) or 1 (d = 2) rotations
  std::vector<T> rigidArms;   // per unknown, (rest - centre) / radius; empty: no rotations
  std::vector<T> rigidImage;  // A Z by rows: entry i * modes + k is (A Z_k)_i
  T rigidInverse[36] = {};    // (Z^T A Z)^-1, modes x modes by rows
  // A body of several pieces, or of pieces held at some points (set by
  // correctPieceMotions): per block its piece (-1: not corrected), the arms
  // about its piece's own centre, and per piece (Z_p^T A Z_p)^-1 by rows,
  // with Z_p the piece's modes on its own unknowns. A is block-diagonal
  // across pieces, so each piece is corrected on its own in the same pass.
  // Empty: one free piece, through rigidInverse.
  std::vector<int> rigidPiece;
  std::vector<T> rigidWeights;
  std::vector<T> rigidSums;  // scratch of the pass: per piece the sums, then the update
  // False: vCycle leaves the correction to its caller (a Krylov solver that
  // applies it to its own iterate, keeping the preconditioner symmetric).
  bool rigidInCycle = true;

  Multigrid(Matrix<T>& A, Matrix<T>** restriction, Vector<T>& b, Vector<T>& x, T eps, int levels,
            int nu1, int nu2, bool unused = false);
  ~Multigrid();
  Multigrid(const Multigrid&) = delete;
  Multigrid& operator=(const Multigrid&) = delete;

  // Builds A[levels-2] .. A[0] by Galerkin products; pb may be null.
  void calcHierarchy(ProgressBar* pb);
  // Replaces the coarsest solver by one of the given kind (0 Invert,
  // 1 CGPreDiag, 2 GaussSeidel, 3 SparseCholesky) on A[0], rhs[0], sol[0].
  // An Invert beyond the dense limit becomes a SparseCholesky (pb, may be
  // null, follows its factorisation); a matrix that cannot be factored gets
  // the diagonal CG, after one line.
  void setCoarseSolver(int type, ProgressBar* pb = nullptr);
  // The solver setCoarseSolver installs for `type` on a coarse level of n
  // unknowns (before any factor failure): Invert beyond the dense limit is
  // SparseCholesky.
  static int coarseSolverFor(int type, int64_t n);

  // Sets up the rigid-motion correction of vCycle for blocks of d unknowns
  // (0 switches it off). rest holds the finest level's rest positions, d per
  // block in unknown order; null (or d = 1) corrects the translations only.
  // False, and off, when the finest matrix is not symmetric, its size is not
  // a multiple of d, or Z^T A Z is not positive definite (a body without
  // mass or fixed vertices in a static problem).
  bool correctRigidMotions(int d, const T* rest);
  // The correction for a body of pieces (d = 2 or 3): piece[j] in
  // [-1, held.size()) for block j (-1: not corrected), held[p] the points
  // where piece p is held, d coordinates each. A piece that can still move
  // rigidly (free, held at one point, or in 3-D along one line) is
  // corrected over all its modes on its unknowns: they hold the rigid
  // motions left to it (zero at the held points) and the motions that a
  // few held vertices barely resist, which the coarse levels, holding a
  // larger patch, do not see. Any other piece is not corrected. One free
  // piece over every block is correctRigidMotions(d, rest). False when the
  // input does not fit (off), or when a moving piece's Z^T A Z is not
  // positive definite (that piece is not corrected).
  bool correctPieceMotions(int d, const T* rest, const int* piece,
                           const std::vector<std::vector<T>>& held);
  // The rigid correction of another multigrid on the same finest matrix.
  void copyRigidCorrection(const Multigrid& other);

  void vCycle(T omega);
  // The rigid-motion correction that ends vCycle, on the current x.
  void applyRigidCorrection();
  // The same correction of x against b (sized as the finest level).
  void applyRigidCorrection(const Vector<T>& b, Vector<T>& x);
  void fullMultigrid(int cycles, T omega);

  // Recomputes the values of an existing coarse matrix in place:
  // coarse = R fine R^T on coarse's own pattern. With useStream the first
  // call records a scatter stream in fine and later calls replay it.
  static void galerkinProduct(PackedMatrix<T>& fine, PackedMatrix<T>& R, PackedMatrix<T>& coarse,
                              bool useStream);
  static void galerkinProduct(BlockMatrix<T, 2>& fine, PackedMatrix<T>& R,
                              BlockMatrix<T, 2>& coarse, bool useStream);
  static void galerkinProduct(BlockMatrix<T, 3>& fine, PackedMatrix<T>& R,
                              BlockMatrix<T, 3>& coarse, bool useStream);

 private:
  // The constructor's allocations: level vectors, pool, prolongations.
  void allocate(Matrix<T>& fine, Vector<T>& b, Vector<T>& x);
  // Frees what the multigrid owns (destructor, failed constructor).
  void release();
  // Up to count sweeps; true when the last one also left the residual of
  // the new sol[l] in res[l] (asked by wantResidual, forward sweeps on a
  // symmetric block matrix only).
  bool smooth(int l, int count, T omega, bool backward, bool wantResidual);
  // rhs[l-1] = restriction[l-1] (rhs[l] - A[l] sol[l]); with haveResidual
  // the residual is res[l] already.
  void restrictResidual(int l, bool haveResidual);
  // sol[l] += restriction[l-1]^T sol[l-1].
  void prolongAndCorrect(int l);
  void vCycleFrom(int top, T omega);
};

extern template class Multigrid<double>;
