#pragma once
// The linear (Cauchy strain) simulation: the assembled stiffness, mass and
// stress matrices, the multigrid hierarchy on K and the active solver.
// Owns K, unconstrainedK, M, lumpedMass, S, the multigrid (with its level
// matrices when it owns them) and the solver; the destructor releases them
// in that order.

#include <fstream>
#include <memory>
#include <vector>

#include "FEMSimulation.h"

template <class T>
class Matrix;
template <class T>
class PackedMatrix;
template <class T>
class Multigrid;
template <class T>
class Iteration;

// An unknown whose right-hand side entry is overwritten on every step.
struct PrescribedValue {
  int dof;
  double value;
};

class LinSimulation : public FEMSimulation {
 public:
  // The system matrix: BlockMatrix<double, 3> when dim is 3, else
  // BlockMatrix<double, 2>; carries the scheme's inertia terms, and
  // updateHierarchy rewrites the rows of prescribed unknowns.
  std::unique_ptr<Matrix<double>> K;
  // K before any row was rewritten; null until the first updateHierarchy.
  std::unique_ptr<Matrix<double>> unconstrainedK;
  std::unique_ptr<PackedMatrix<double>> M;  // consistent mass
  std::unique_ptr<Vector<double>> lumpedMass;
  std::unique_ptr<PackedMatrix<double>> S;  // stress = S x
  std::unique_ptr<Multigrid<double>> multigrid;
  std::unique_ptr<Iteration<double>> solver;  // null: one V-cycle per solve
  std::vector<PrescribedValue> prescribed;

  // Assembles or reads the matrices, creates the scheme and the multigrid
  // hierarchy (or reads it from the hierarchy cache).
  LinSimulation(TetHierarchy* hierarchy, SimulationSettings* settings, std::fstream* matrixCache,
                bool generate, int integrationScheme, uint8_t dim);
  ~LinSimulation() override;

  void setSolver(int kind) override;
  void setSolverParameters(float accuracy, int preSweeps, int postSweeps) override;
  void getSolverParameters(float* accuracy, int* preSweeps, int* postSweeps) override;
  void computeStep(bool computeStress, bool computeResidual, int extraPasses,
                   bool averageForces) override;
  void updateHierarchy() override;
};
