// The solver benchmark of the linear simulation.

#include <sys/time.h>

#include <cmath>
#include <fstream>
#include <iostream>

#include "BlockMatrix.h"
#include "Iteration.h"
#include "LinSimulation.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"
#include "TimeIntegration.h"

namespace {

double microseconds() {
  timeval t;
  gettimeofday(&t, nullptr);
  return t.tv_sec * 1e6 + t.tv_usec;
}

double norm(const Vector<double>& v) {
  double s = 0.0;
  for (int i = 0; i < v.n; ++i) s += v[i] * v[i];
  return std::sqrt(s);
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
  tighten();
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
