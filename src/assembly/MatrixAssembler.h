#pragma once
// Global matrices of linear elasticity from the elements of the finest
// level: the stiffness K (3x3 blocks in three dimensions, 2x2 in two), the
// consistent mass M, the stress operator S and the lumped mass vector, built
// on two threads with the fixed degrees of freedom removed.
//
// Global degree of freedom dim*v + d belongs to component d of the vertex
// with index v; row nStrain*v + s of S to strain component s of vertex v.
//
// The creator fills elements, material, nNodes and dim, calls assemble() or
// generateShapeFunctions() once and takes over K, M, S and lumpedMass: the
// destructor releases none of them.

#include <atomic>
#include <cstdint>
#include <vector>

#include "BlockMatrix.h"
#include "FullMatrix.h"
#include "MaterialProperties.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"
#include "Threads.h"

class FiniteElement;
class ProgressBar;

class MatrixAssembler {
 public:
  // Creates the progress bar of a loop run on the calling thread; the caller
  // deletes it. The default is ProgressBarRoute::create: the window's bar
  // on the window's thread, the console elsewhere. Tests install a silent one.
  using ProgressBarFactory = ProgressBar* (*)(const char* title, unsigned int total);
  static ProgressBarFactory progressBarFactory;

  std::vector<FiniteElement*>* elements;  // finest level, not owned
  MaterialProperties* material;           // lambda and mu are read
  int nNodes;                             // vertex indices run over 0..nNodes-1
  uint8_t dim;                            // 3, or 2
  BlockMatrix<double, 2>* K2 = nullptr;   // stiffness when dim is 2
  BlockMatrix<double, 3>* K3 = nullptr;   // stiffness when dim is 3
  PackedMatrix<double>* M = nullptr;
  PackedMatrix<double>* S = nullptr;
  Vector<double>* lumpedMass = nullptr;
  SparseMatrix<double>* Msparse = nullptr;  // M while it is assembled
  SparseMatrix<double>* Ssparse = nullptr;  // S while it is assembled
  // Optional, one (dim*npe) x (dim*npe) matrix per element, sized by the
  // caller; receives the element stiffness.
  FullMatrix<double>* elementStiffness = nullptr;
  bool calcGradients = false;
  Threads worker;

  // Tests and benchmarks: false does all the work on the calling thread.
  bool useWorker = true;
  // Tests: take the general polynomial products even where every strain
  // entry is a constant.
  bool forceSymbolic = false;
  // Set by stopHelpers(): the helper leaves the rest of its share undone.
  std::atomic<bool> stopping{false};

  // Tests: the helper thread calls it before it starts its share.
  static void (*helperStarts)(const MatrixAssembler& a);
  // For an exit that begins during a load: stops every helper thread that
  // runs at its next element and waits for it, so that the model can be
  // freed. The interrupted load must never go on.
  static void stopHelpers();

  MatrixAssembler(std::vector<FiniteElement*>* elements, MaterialProperties* material, int nNodes,
                  uint8_t dim);
  MatrixAssembler(const MatrixAssembler&) = delete;
  MatrixAssembler& operator=(const MatrixAssembler&) = delete;

  // Builds K, M, S and the lumped vector and removes the degrees of freedom
  // firstDof .. firstDof+nDofs-1 from all four.
  void assemble(int firstDof, int nDofs, FullMatrix<double>* elementStiffness, bool calcGradients);
  // Only prepares every element: volume, load matrix and the gradients when
  // asked (tetrahedra build shape functions and load matrix on first use).
  void generateShapeFunctions(bool calcGradients);
  // K3 when set, else K2 (null when neither is).
  Matrix<double>* getStiffnessMatrix() const;
  // Assembles the elements from .. to-1 into the global matrices.
  void assembleRange(int from, int to);
  static void* assembleThread(void* arg);
  static void* shapeFunctionThread(void* arg);
  // Set by a worker routine that ran out of memory (runBesideWorker).
  bool workerOutOfMemory = false;
  // A packed copy of the frozen K; releases K.
  PackedMatrix<double>* packStiffnessMatrix();

  // Starts routine(arg) on the worker where stopHelpers() finds it; false,
  // silently, when no thread runs: the caller then does the whole work, so
  // the result is the same (and a load that fails for want of memory says
  // so once). joinWorker() waits for it.
  bool startWorker(Threads::Routine routine, void* arg);
  void joinWorker();
  // Called by the helper before its share.
  void helperBegins() const;
  bool stopped() const { return stopping.load(std::memory_order_relaxed); }

 private:
  // One element's share of the entries of the vertex pair (ia, ib).
  struct PairContribution {
    int ia, ib;
    double k[9];   // K block, row-major
    double m[9];   // M entries, row-major
    double s[18];  // S entries, strain-major
  };
  struct LumpedContribution {
    int ia;
    double m;
  };

  // The two threads write disjoint rows, so they need no lock, and every
  // entry receives its contributions in element order, as on one thread:
  // the worker adds its rows of vertices that the calling thread's range
  // also holds after the join, in its element order; its other rows go
  // straight into M, S and the lumped vector, and into its own block map,
  // merged into K after the join.
  //
  // Per vertex: 1 when an element of the calling thread's range holds it.
  std::vector<uint8_t> callerVertex;
  std::vector<PairContribution> deferredPairs;
  std::vector<LumpedContribution> deferredLumped;
  BlockMatrix<double, 3>* workerK3 = nullptr;
  BlockMatrix<double, 2>* workerK2 = nullptr;

  int elementCount() const;
  // Three dimensions and only tetrahedra (and no forceSymbolic): the
  // closed forms of LinearAssembly.cpp apply.
  bool linearTetrahedra() const;
  void assembleLinear(int firstDof, int nDofs);
  void assembleElements(int from, int to, bool asWorker);
  void prepareElements(int from, int to, ProgressBar* bar);
  void addPair(const PairContribution& c, BlockMatrix<double, 3>* k3, BlockMatrix<double, 2>* k2);
  void addLumped(int ia, double m);
  void applyDeferred();
  void removeDofs(int firstDof, int nDofs);
  template <int BS>
  void removeBlockDofs(BlockMatrix<double, BS>& K, int firstDof, int nDofs);
  void printFillRatios() const;
};

// Fills the nStrain x nStrain elasticity matrix of constant polynomials from
// the assembler's lambda and mu (strain order xx, yy, zz, xy, xz, yz with
// engineering shears; xx, yy, xy in two dimensions).
void buildElasticityMatrix(const MatrixAssembler& a, Matrix<Polynom<double>>& D);
