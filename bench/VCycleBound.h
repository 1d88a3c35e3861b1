#pragma once
// One V-cycle of a block multigrid against the bytes it must stream, at the
// triad bandwidth measured alongside.

#include <algorithm>
#include <chrono>
#include <vector>

#include "BlockMatrix.h"
#include "Multigrid.h"
#include "Triad.h"

namespace zolt::bench {

// Bytes one V-cycle must stream at the least. On every level above the
// coarsest each of the nu1 + nu2 sweeps reads the matrix as stored (blocks
// and row starts), reads b and reads and writes x. On a symmetric level the
// last forward sweep also writes the residual, which the restriction reads;
// otherwise (or with fused = false) the residual is a further pass over the
// matrix that reads x and b. The restriction and the prolongation each read
// the restriction matrix as stored; the one writes the coarse right-hand
// side, the other reads the coarse correction while x is read and written;
// the coarse correction is zeroed once. The coarsest solve reads its dense
// inverse.
inline double vCycleBytes(const Multigrid<double>& mg, bool fused = true) {
  double bytes = 8.0 * mg.rhs[0].n * mg.rhs[0].n;
  for (int l = 1; l < mg.levels; ++l) {
    const auto& A = dynamic_cast<const BlockMatrix<double, 3>&>(*mg.A[l]);
    const auto& R = dynamic_cast<const PackedMatrix<double>&>(*mg.restriction[l - 1]);
    const double n = A.nRow, nc = R.nRow;
    const double matrix = A.blocks.size() * sizeof(BlockMatrix<double, 3>::Block) +
                          (A.nBlockRows + 1.0) * sizeof(void*);
    const double restriction =
        R.nnz * sizeof(MatrixEntry<double>) + nc * (sizeof(void*) + sizeof(int));
    bytes += (mg.nu1 + mg.nu2) * (matrix + 24 * n);
    bytes += (fused && A.symmetric && mg.nu1 > 0 ? 16 * n : matrix + 16 * n) + restriction + 8 * nc;
    bytes += restriction + 8 * nc + 16 * n;
    bytes += 8 * nc;
  }
  return bytes;
}

struct VCycleTiming {
  double seconds;    // median of the cycles
  double bandwidth;  // median triad bytes per second
  double ratio;      // seconds / (bytes / bandwidth)
  double bestRatio;  // fastest cycle against the best triad
  double unfusedRatio;  // seconds / (bytes with the residual as its own pass / bandwidth)
};

// Single V-cycles from x = 0, each after a triad run that also leaves the
// caches cold. Every sweep runs: the first cycle from zero meets no early
// stop.
inline VCycleTiming timeVCycles(Multigrid<double>& mg, Vector<double>& x, int repeats) {
  Triad triad;
  const double bytes = vCycleBytes(mg);
  std::vector<double> cycle, bandwidth;
  for (int rep = 0; rep < repeats; ++rep) {
    bandwidth.push_back(triad.run());
    std::fill(x.data, x.data + x.n, 0.0);
    const auto t0 = std::chrono::steady_clock::now();
    mg.vCycle(1.7);
    cycle.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  VCycleTiming t;
  t.seconds = median(cycle);
  t.bandwidth = median(bandwidth);
  t.ratio = t.seconds / (bytes / t.bandwidth);
  t.unfusedRatio = t.seconds / (vCycleBytes(mg, false) / t.bandwidth);
  t.bestRatio = *std::min_element(cycle.begin(), cycle.end()) /
                (bytes / *std::max_element(bandwidth.begin(), bandwidth.end()));
  return t;
}

inline void reportVCycle(benchmark::State& state, const Multigrid<double>& mg,
                         const VCycleTiming& t, double factor) {
  state.counters["vcycle_ms"] = 1e3 * t.seconds;
  state.counters["triad_GBps"] = t.bandwidth * 1e-9;
  state.counters["MB"] = vCycleBytes(mg) * 1e-6;
  state.counters["vs_bound"] = t.ratio;
  state.counters["best_vs_bound"] = t.bestRatio;
  state.counters["vs_unfused_bound"] = t.unfusedRatio;
  state.counters["factor"] = factor;
  state.counters["unknowns"] = mg.A[mg.levels - 1]->nRow;
}

}  // namespace zolt::bench
