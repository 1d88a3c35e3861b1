// Solver selection, solver parameters, the time step and the solver
// benchmark of the linear simulation.

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <new>
#include <string>

#include "BlockMatrix.h"
#include "DeformationForce.h"
#include "Iteration.h"
#include "LinSimulation.h"
#include "MatrixAssembler.h"
#include "MemoryLimits.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "ProgressBar.h"
#include "SimulationSettings.h"
#include "SparseCholesky.h"
#include "SparseMatrix.h"
#include "TetHierarchy.h"
#include "TimeIntegration.h"

namespace {

double norm(const Vector<double>& v) {
  double s = 0.0;
  for (int i = 0; i < v.n; ++i) s += v[i] * v[i];
  return std::sqrt(s);
}

double microseconds() {
  timeval t;
  gettimeofday(&t, nullptr);
  return t.tv_sec * 1e6 + t.tv_usec;
}

double maxNorm(const Vector<double>& v) {
  double m = 0.0;
  for (int i = 0; i < v.n; ++i)
    if (std::fabs(v[i]) >= m) m = std::fabs(v[i]);
  return m;
}

void copy(const Vector<double>& from, Vector<double>& to) {
  for (int i = 0; i < to.n; ++i) to[i] = from[i];
}

// K's stored blocks as a packed record: entry i of the block at (row0,
// col0) goes to row row0 + i / N, column col0 + i % N.
template <int N>
bool writeBlocks(const Matrix<double>& K, std::ostream& out) {
  const auto* block = dynamic_cast<const BlockMatrix<double, N>*>(&K);
  if (!block) return false;
  SparseMatrix<double> entries(K.nRow, K.nCol);
  for (const auto& b : block->blocks)
    for (int i = 0; i < N * N; ++i)
      if (zolt::isNonZero(b.values[i]))
        entries.addElem(b.row0 + i / N, b.col0 + i % N, b.values[i]);
  PackedMatrix<double>(entries).writeToFile(out);
  return true;
}

}  // namespace

uint64_t (*LinSimulation::availableMemory)() = usableMemory;

void LinSimulation::setSolver(int kind) {
  solver.reset();
  if (!K) return;
  Vector<double>& b = *rightSide;
  Vector<double>& x = *displacement;
  switch (kind) {
    case 0:
      std::cout << "Solving LGS  with Multigrid Approach" << std::endl;
      break;
    case 1:
      std::cout << "Solving LGS  with Conjugate Gradient Method (Diagonal Preconditioner)"
                << std::endl;
      solver = std::make_unique<CGPreDiag<double>>(*K, b, x, 2 * dim * nFree, 1e-8);
      solver->eps = 1e-4;
      solver->absolute = true;
      break;
    case 2: {
      const std::string refusal = inverseRefusal();
      if (!refusal.empty()) {
        std::cout << "[LinSimulation, setSolver] Error: " << refusal
                  << "; solving with the multigrid V-cycle." << std::endl;
        break;
      }
      std::cout << "Solving LGS  with Matrix-Pre-Inversion" << std::endl;
      if (denseInverseFits(K->nRow))
        solver = std::make_unique<Invert<double>>(*K, b, x);
      else
        solver = sparseFactorSolver();
      break;
    }
    case 3: {
      if (!multigrid) break;
      std::cout << "Solving LGS  with Conjugate Gradient Method (Multigrid Preconditioner)"
                << std::endl;
      auto cg = std::make_unique<CGPreMgrid<double>>(*K, b, x, 5, 1e-6);
      cg->setupMultigrid(restrictionView.data(), hierarchy->nLevels, nullptr);
      // The V-cycle's rigid-motion correction ends each step instead of each
      // preconditioning, which stays symmetric.
      cg->multigrid->copyRigidCorrection(*multigrid);
      cg->multigrid->rigidInCycle = false;
      // The relative bound scales with the largest entry of K times |x|: on
      // a stiff model it accepts residuals as large as the load, and the
      // steps stop short of the solution. Stop at the simulation's accuracy
      // instead, as setSolverParameters(1e-4, ...) would.
      cg->eps = 1e-8;
      cg->absolute = true;
      solver = std::move(cg);
      break;
    }
    default:
      break;
  }
}

std::unique_ptr<Iteration<double>> LinSimulation::sparseFactorSolver() {
  std::cout << "  The sparse Cholesky factor of the " << K->nRow << " x " << K->nRow
            << " matrix replaces its dense inverse" << std::endl;
  // With one level the coarse solver holds K's factor already.
  auto* coarse = multigrid && multigrid->A[0] == K.get()
                     ? dynamic_cast<SparseCholesky*>(multigrid->coarse)
                     : nullptr;
  std::unique_ptr<SparseCholesky> direct;
  if (coarse) {
    direct = std::make_unique<SparseCholesky>(*K, *rightSide, *displacement, coarse->factor);
  } else {
    std::unique_ptr<ProgressBar> bar(MatrixAssembler::progressBarFactory("Factoring Matrix", 2));
    try {
      direct = std::make_unique<SparseCholesky>(*K, *rightSide, *displacement, bar.get());
    } catch (const std::bad_alloc&) {
      std::cout << "[LinSimulation, setSolver] Error: Out of memory while factoring the " << K->nRow
                << " x " << K->nRow << " matrix; solving with the multigrid V-cycle." << std::endl;
      return nullptr;
    }
  }
  if (direct->ok()) return direct;
  std::cout << "[LinSimulation, setSolver] Error: " << direct->factor->error()
            << "; solving with the multigrid V-cycle." << std::endl;
  return nullptr;
}

std::string LinSimulation::solverRefusal(int kind) const {
  if (kind < 0 || kind > 3) return "Solver " + std::to_string(kind) + " is not one of 0 .. 3";
  if (!K || !integrator || !integrator->implicit) return "The simulation solves no linear system";
  if (kind == 3 && !multigrid) return "Multigrid CG needs the multigrid hierarchy";
  return kind == 2 ? inverseRefusal() : std::string();
}

std::string LinSimulation::inverseRefusal() const {
  // The dense inversion holds three n x n arrays at its peak; beyond the
  // dense limit the sparse factor takes its place.
  const uint64_t n = static_cast<uint64_t>(K->nRow);
  const bool dense = denseInverseFits(K->nRow);
  const uint64_t bytes = dense ? denseInverseBytes(K->nRow) : CholeskyFactor::estimateBytes(*K);
  // The BLAS work buffer of a first supernodal factor counts against the
  // limits on mappings (RLIMIT_AS, RLIMIT_DATA) alone.
  const uint64_t blas = dense ? 0 : CholeskyFactor::blasBufferBytes(K->nRow);
  const uint64_t mapped = bytes + blas;
  const uint64_t room = mappingRoom();
  constexpr uint64_t MB = 1024 * 1024;
  if (!dense && room != 0 && mapped > room)
    return "The sparse factor of the " + std::to_string(n) + " x " + std::to_string(n) +
           (blas > 0 ? " matrix and its BLAS work buffer need " : " matrix needs ") +
           std::to_string((mapped + MB - 1) / MB) + " MB but only " + std::to_string(room / MB) +
           " MB are left under the memory limit";
  // 0: nothing known to check against, as for a load.
  const uint64_t available = availableMemory();
  if (available == 0 || bytes <= available) return "";
  return std::string(dense ? "The inverse" : "The sparse factor") + " of the " + std::to_string(n) +
         " x " + std::to_string(n) + " matrix needs " + std::to_string((bytes + MB - 1) / MB) +
         " MB but only " + std::to_string(available / MB) + " MB are available";
}

int LinSimulation::solverKind() const {
  const Iteration<double>* s = solver.get();
  if (dynamic_cast<const CGPreDiag<double>*>(s)) return 1;
  if (dynamic_cast<const Invert<double>*>(s) || dynamic_cast<const SparseCholesky*>(s)) return 2;
  if (dynamic_cast<const CGPreMgrid<double>*>(s)) return 3;
  return 0;
}

void LinSimulation::setSolverParameters(float accuracy, int preSweeps, int postSweeps) {
  if (solver) {
    const float a2 = accuracy * accuracy;
    solver->eps = std::max(static_cast<double>(a2), 1e-12);
    solver->absolute = true;
    return;
  }
  if (!multigrid) return;
  multigrid->eps2 = static_cast<double>(accuracy) * static_cast<double>(accuracy);
  if (multigrid->coarse) {
    multigrid->coarse->eps = std::max(multigrid->eps2, 1e-12);
    multigrid->coarse->absolute = true;
  }
  multigrid->nu1 = preSweeps;
  multigrid->nu2 = postSweeps;
}

void LinSimulation::getSolverParameters(float* accuracy, int* preSweeps, int* postSweeps) {
  if (!solver) {
    if (!multigrid) return;
    *preSweeps = multigrid->nu1;
    *postSweeps = multigrid->nu2;
    *accuracy = static_cast<float>(std::sqrt(multigrid->eps2));
    return;
  }
  *preSweeps = 0;
  *postSweeps = 0;
  const Iteration<double>& s = *solver;
  if (s.absolute)
    *accuracy = static_cast<float>(std::sqrt(s.eps));
  else
    *accuracy = static_cast<float>(std::max(s.eps * (s.maxAbsA * norm(*s.x) + norm(*s.b)), 1e-6));
}

void LinSimulation::solveOnce() {
  if (!integrator->implicit) {
    integrator->explicitUpdate(*K);
  } else if (solver) {
    solver->solve();
    solver->afterSolve();
  } else {
    multigrid->vCycle(1.7);
  }
  // An inexact solve (a V-cycle's coarse correction, a relaxed sweep) moves
  // pinned unknowns a little; they are held exactly.
  for (const PrescribedValue& p : prescribed) (*displacement)[p.dof] = p.value / pinModulus;
}

void LinSimulation::buildRightSide(bool averageForces) {
  Vector<double>& f = *forces;
  Vector<double>& b = *rightSide;
  const bool rebuilt = !impulseQueue.empty() || averageForces;
  if (rebuilt) {
    impulseRamp.apply(impulseQueue, f);
    if (averageForces)
      for (int i = 0; i < f.n; ++i)
        if (zolt::isNonZero(previousForces->data[i])) f[i] = (f[i] + previousForces->data[i]) * 0.5;
  }
  integrator->calcRightSide(rebuilt, f);
  for (int i = 0; i < b.n; ++i) b[i] += staticLoad->data[i];
  if (settings->deformationForce)
    settings->deformationForce->apply(*lumpedMass, b, &settings->fixedCount);
  heldRamp.apply(heldQueue, b);
  for (size_t i = 0; i < pinLoad.size(); ++i) b[static_cast<int>(i)] += pinLoad[i];
  for (const PrescribedValue& p : prescribed) b[p.dof] = p.value;
}

void LinSimulation::computeStep(bool computeStress, bool computeResidual, int extraPasses,
                                bool averageForces) {
  // Without a scheme (6) or a hierarchy there is nothing to step.
  if (!integrator || (integrator->implicit && !solver && !multigrid)) return;
  buildRightSide(averageForces);
  solveOnce();
  while (extraPasses >= 1 && correctInversion()) {
    --extraPasses;
    solveOnce();
  }

  if (computeStress) S->mult(*displacement, *stress);
  if (computeResidual) K->residuum(*displacement, *rightSide, *residual);
}

void LinSimulation::benchmarkSolver() {
  if (!integrator || !K) return;
  buildRightSide(false);
  if (!integrator->implicit) return integrator->explicitUpdate(*K);
  if (solver) {
    solver->solve();
    solver->afterSolve();
    return;
  }
  if (!multigrid) return;
  Multigrid<double>& mg = *multigrid;
  Vector<double>& x = *displacement;
  Vector<double>& b = *rightSide;
  Vector<double>& guess = *residual;
  Vector<double>& exact = *previousForces;
  auto tighten = [&] {
    mg.eps2 = 1e-24;
    if (mg.coarse) {
      mg.coarse->eps = 1e-12;
      mg.coarse->absolute = true;
    }
  };

  copy(x, guess);
  const int nu1 = mg.nu1, nu2 = mg.nu2;
  tighten();
  mg.nu1 = mg.nu2 = 2;
  mg.fullMultigrid(3, 1.7);
  for (int k = 0; k < 50; ++k) mg.vCycle(1.7);
  // Fifty cycles leave a residual of 1e-6 |b| on a slender beam, too coarse a
  // reference for the errors below: go on while the residual still falls.
  double rr = K->residuumSqrSum(x, b);
  const double floor = 1e-24 * norm(b) * norm(b);
  for (int k = 0; k < 2000 && rr > floor; ++k) {
    mg.vCycle(1.7);
    const double next = K->residuumSqrSum(x, b);
    if (!(next < 0.98 * rr)) break;
    rr = next;
  }
  copy(x, exact);
  copy(guess, x);

  K->residuum(exact, b, guess);
  std::cout << "Exact Solution residual norm = " << norm(guess) << std::endl
            << "Exact Solution residual maxnorm = " << maxNorm(guess) << std::endl
            << "rightside norm = " << norm(b) << std::endl;
  copy(x, guess);
  mg.nu1 = nu1;
  mg.nu2 = nu2;

  for (int i = 0; i < x.n; ++i) x[i] = guess[i] - exact[i];
  const double exactNorm = norm(exact);
  std::cout << "Error in guess is: " << norm(x) / exactNorm << std::endl
            << "Error in guess norm = " << norm(x) << std::endl
            << "Error in guess maxnorm = " << maxNorm(x) << std::endl;

  for (int k = 0; k < 15; ++k) {
    copy(guess, x);
    const double t0 = microseconds();
    mg.fullMultigrid(1, 1.7);
    for (int c = 0; c < k; ++c) mg.vCycle(1.7);
    const double t1 = microseconds();
    for (int i = 0; i < x.n; ++i) x[i] -= exact[i];
    std::cout << "FMG + " << k << " cycles:  Error in solution is: " << norm(x) / exactNorm
              << std::endl
              << "FMG + " << k << " cycles:  Error in solution norm / maxnorm = " << norm(x)
              << " / " << maxNorm(x) << std::endl
              << "FMG + " << k << " cycles: Solution time [ms] = "
              << static_cast<long>(std::floor((t1 - t0) * 0.001)) << std::endl;
  }

  std::ofstream out("matrix.bin", std::ios::binary | std::ios::trunc);
  if (!writeBlocks<3>(*K, out)) writeBlocks<2>(*K, out);
  guess.writeToFile(out);
  b.writeToFile(out);
  exact.writeToFile(out);
}
