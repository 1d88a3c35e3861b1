#pragma once
// The linear (Cauchy strain) simulation: the assembled stiffness, mass and
// stress matrices, the multigrid hierarchy on K and the active solver.
// Owns K, unconstrainedK, M, lumpedMass, S, the multigrid (with its level
// matrices when it owns them) and the solver; the destructor releases them
// in that order.

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FEMSimulation.h"

namespace zolt {
class SealedInBuf;
}

template <class T>
class Matrix;
template <class T>
class PackedMatrix;
template <class T>
class Multigrid;
template <class T>
class Iteration;
template <class T>
class FullMatrix;

// An unknown whose right-hand side entry is overwritten on every step.
struct PrescribedValue {
  int dof;
  double value;
};

class LinSimulation : public FEMSimulation {
 public:
  // The system matrix: BlockMatrix<double, 3> when dim is 3, else
  // BlockMatrix<double, 2>; carries the scheme's inertia terms, and
  // updateHierarchy rewrites the rows and columns of prescribed unknowns.
  std::unique_ptr<Matrix<double>> K;
  // K before any row was rewritten; null until the first updateHierarchy.
  std::unique_ptr<Matrix<double>> unconstrainedK;
  std::unique_ptr<PackedMatrix<double>> M;  // consistent mass
  std::unique_ptr<Vector<double>> lumpedMass;
  std::unique_ptr<PackedMatrix<double>> S;  // stress = S x
  std::unique_ptr<Multigrid<double>> multigrid;
  std::unique_ptr<Iteration<double>> solver;  // null: one V-cycle per solve
  std::vector<PrescribedValue> prescribed;
  // -K(:, p) x_p of the pinned unknowns p on the free rows: the load their
  // columns carried before updateHierarchy cleared them. Empty: no pins.
  std::vector<double> pinLoad;
  // The diagonal of pinned rows (Young's modulus): prescribed values are
  // this times the pinned displacement.
  double pinModulus = 1.0;

  // Free bytes of memory; setSolver(2) refuses a dense inverse or sparse
  // factor larger than this. usableMemory() (MemoryLimits.h); tests may
  // replace it.
  static uint64_t (*availableMemory)();

  // Assembles the matrices and writes them after the header into
  // matrixCache (generate), or reads them from it; a stale or damaged cache
  // sets cacheInvalid and leaves a shell without matrices that the caller
  // deletes before it rebuilds. Then creates the scheme (none for scheme 6)
  // and the multigrid hierarchy, read from the hierarchy cache when that
  // matches the scheme and material, else built and cached. When
  // generating, matrixCache is a temporary file (AtomicFile) that the caller
  // commits afterwards; a failed hierarchy cache write leaves no file.
  LinSimulation(TetHierarchy* hierarchy, SimulationSettings* settings, std::fstream* matrixCache,
                bool generate, int integrationScheme, uint8_t dim);
  ~LinSimulation() override;

  // 0 V-cycle, 1 diagonal CG, 2 dense inverse (the sparse factor beyond the
  // dense limit), 3 multigrid CG; any other kind the V-cycle without a
  // message.
  void setSolver(int kind) override;
  // Why setSolver(kind) cannot give that solver now (a kind outside 0 .. 3,
  // no system matrix or hierarchy, a dense inverse or sparse factor larger
  // than the available memory); empty when it can.
  std::string solverRefusal(int kind) const;
  // The kind of the current solver, 0 for the V-cycle.
  int solverKind() const;
  // Why the dense inverse (or, beyond the dense limit, the sparse factor) of
  // K does not fit in memory; empty when it does.
  std::string inverseRefusal() const;
  void setSolverParameters(float accuracy, int preSweeps, int postSweeps) override;
  void getSolverParameters(float* accuracy, int* preSweeps, int* postSweeps) override;
  void computeStep(bool computeStress, bool computeResidual, int extraPasses,
                   bool averageForces) override;
  // Pins every free vertex whose fixed flag is set at its current
  // displacement: rewrites its rows of K (from the unconstrained copy) and
  // its prescribed right-hand side entries, moves its columns to pinLoad
  // (K stays symmetric), then refreshes the coarse levels, the rigid
  // correction (a pinned body can still turn about its pins) and a direct
  // solver.
  void updateHierarchy() override;
  // Measures the V-cycle on this step's system: builds b as a step does,
  // solves it to a reference e, prints the reference's residual and the
  // error after one full-multigrid cycle and 0 .. 14 V-cycles with their
  // times, and writes K, the start guess, b and e to "matrix.bin". With the
  // explicit scheme or a solver object it only steps. Leaves the last error
  // in x, e in previousForces and the start guess in residual.
  void benchmarkSolver() override;

 private:
  // The hierarchy's restrictions as the multigrid takes them (not owned).
  std::vector<Matrix<double>*> restrictionView;

  bool writeMatrixCache(std::fstream& file);
  bool readMatrixCache(std::fstream& file);
  bool readMatrices(std::istream& cache, zolt::SealedInBuf& seal);
  void setUpHierarchy(bool generate, int scheme);
  // Why the hierarchy cache's header (read from `in`: format, model
  // fingerprint, level count, scheme, material) does not fit this
  // simulation; empty when it does.
  std::string hierarchyCacheStale(std::istream& in, int scheme) const;
  // Restrictions (into the hierarchy), the coarse level matrices (levels[l]
  // for level l) and the coarse solver's kind and inverse; empty when all
  // is read, "Bad record" on anything inconsistent with the model or the
  // bytes left, else why the cache does not fit ("was written for a dense
  // coarse solve").
  std::string readHierarchyCache(std::istream& in,
                                 std::vector<std::unique_ptr<Matrix<double>>>& levels,
                                 int& coarseKind, std::unique_ptr<FullMatrix<double>>& inverse);
  void buildHierarchy(int scheme);
  void createMultigrid();
  // The multigrid's correction of the rigid motions of each connected piece
  // of the finest mesh that is free or held at one point or along one line
  // (from the finest rest positions and fixed vertices).
  void correctFreeBody();
  // The multigrid's coarse solver of the given kind; a sparse factor is
  // followed by a progress bar.
  void installCoarseSolver(int kind);
  // Solver choice 2 beyond the dense limit: the sparse factor of K (shared
  // with a one-level multigrid); null, after one line, when K cannot be
  // factored.
  std::unique_ptr<Iteration<double>> sparseFactorSolver();
  // Unknowns of level l: its vertices that are neither removed nor fixed.
  int levelUnknowns(int l) const;
  // After K's values changed: recomputes the coarse matrices of mg and the
  // inverse diagonal of its coarse diagonal CG.
  void refreshCoarseLevels(Multigrid<double>& mg);
  void solveOnce();
  // Steps 1 to 6 of a time step: forces, the scheme's b, the loads, the
  // force field, the held forces and the prescribed entries.
  void buildRightSide(bool averageForces);
};
