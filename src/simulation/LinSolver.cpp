// Solver selection, solver parameters and the time step of the linear
// simulation.

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>
#include <iostream>
#include <string>

#include "DeformationForce.h"
#include "Iteration.h"
#include "LinSimulation.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"
#include "TimeIntegration.h"

namespace {

// MemAvailable of /proc/meminfo in bytes, else the free physical pages.
uint64_t systemAvailableMemory() {
  std::ifstream info("/proc/meminfo");
  std::string key;
  uint64_t kB;
  while (info >> key >> kB) {
    if (key == "MemAvailable:") return kB * 1024;
    info.ignore(256, '\n');
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * pageSize : 0;
}

double norm(const Vector<double>& v) {
  double s = 0.0;
  for (int i = 0; i < v.n; ++i) s += v[i] * v[i];
  return std::sqrt(s);
}

}  // namespace

uint64_t (*LinSimulation::availableMemory)() = systemAvailableMemory;

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
      // The inversion holds three dense n x n arrays at its peak.
      const uint64_t n = static_cast<uint64_t>(K->nRow);
      const uint64_t bytes = 3 * n * n * sizeof(double);
      const uint64_t available = availableMemory();
      if (n * n > static_cast<uint64_t>(INT_MAX) || bytes > available) {
        std::cout << "[LinSimulation, setSolver] Error: The inverse of the " << n << " x " << n
                  << " matrix needs " << bytes / (1024 * 1024) << " MB but only "
                  << available / (1024 * 1024)
                  << " MB are available; solving with the multigrid V-cycle." << std::endl;
        break;
      }
      std::cout << "Solving LGS  with Matrix-Pre-Inversion" << std::endl;
      solver = std::make_unique<Invert<double>>(*K, b, x);
      break;
    }
    case 3: {
      if (!multigrid) break;
      std::cout << "Solving LGS  with Conjugate Gradient Method (Multigrid Preconditioner)"
                << std::endl;
      auto cg = std::make_unique<CGPreMgrid<double>>(*K, b, x, 5, 1e-6);
      cg->setupMultigrid(restrictionView.data(), hierarchy->nLevels, nullptr);
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
