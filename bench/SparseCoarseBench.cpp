// Models whose coarsest level is solved by the sparse Cholesky factor: cold
// and warm load, the factorisation (time, bytes, and the time reading that
// many bytes back would take), one solve with the factor, ms per step, and
// the coarse solve's share of the V-cycle. Each figure is the median of
// `repeats` runs. Run by bench/tetgen_coarse.sh, or:
//   zolt_bench_sparse_coarse MODELS_DIR CACHES_DIR REPEATS model...

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "LinSimulation.h"
#include "MatrixAssembler.h"
#include "ProgressBar.h"
#include "Multigrid.h"
#include "Run.h"
#include "SparseCholesky.h"
#include "Startup.h"
#include "TetHierarchy.h"

namespace {

// The machine is shared: besides wall time, the CPU time of this thread
// (single-threaded work) or of the process (loads, which assemble on two
// threads) is less disturbed by other work.
double clockMillis(clockid_t id) {
  timespec t;
  clock_gettime(id, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

template <class F>
double millis(F f, clockid_t id = CLOCK_MONOTONIC) {
  const double start = clockMillis(id);
  f();
  return clockMillis(id) - start;
}

struct QuietBar : ProgressBar {
  void start() override {}
  void step() override {}
  void finish() override {}
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Loads the model (console output dropped); cold rebuilds every cache.
// Wall and process CPU milliseconds.
std::pair<double, double> load(const std::string& name, bool cold) {
  std::ostringstream sink;
  std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
  const double cpu = clockMillis(CLOCK_PROCESS_CPUTIME_ID);
  const double ms = millis([&] { loadModel({name, cold, 0, 0}); });
  std::cout.rdbuf(saved);
  return {ms, clockMillis(CLOCK_PROCESS_CPUTIME_ID) - cpu};
}

// Writes `bytes` to a file and times reading them back: what a cached
// factor would cost at load (warm page cache).
double readBackMillis(const std::string& path, uint64_t bytes) {
  std::vector<char> data(bytes, 1);
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
  const double ms = millis([&] {
    std::ifstream in(path, std::ios::binary);
    in.read(data.data(), static_cast<std::streamsize>(bytes));
  });
  std::remove(path.c_str());
  return ms;
}

constexpr clockid_t kThread = CLOCK_THREAD_CPUTIME_ID;

}  // namespace

int main(int argc, char** argv) {
  useOneMallocArena();  // as the programs
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s MODELS_DIR CACHES_DIR REPEATS model...\n", argv[0]);
    return 2;
  }
  modelsPath = withTrailingSlash(argv[1]);
  cachesPath = withTrailingSlash(argv[2]);
  if (!ensureDirectory(cachesPath)) return 1;
  const int repeats = std::max(1, std::atoi(argv[3]));
  MatrixAssembler::progressBarFactory = [](const char*, unsigned int) -> ProgressBar* {
    return new QuietBar;
  };
  // Load times: wall (process CPU); factor, step and coarse share: CPU time
  // of this thread.
  std::printf("%-14s %8s %6s %8s %15s %15s %9s %9s %8s %8s %8s %8s\n", "model", "vertices",
              "levels", "coarse_n", "cold_ms(cpu)", "warm_ms(cpu)", "factor_ms", "factor_MB",
              "read_ms", "solve_ms", "step_ms", "coarse%");
  for (int m = 4; m < argc; ++m) {
    const std::string name = argv[m];
    std::vector<double> cold, warm, coldCpu, warmCpu, factor, read, solve, step, share;
    uint64_t bytes = 0;
    int coarseN = 0, vertices = 0, levels = 0;
    for (int r = 0; r < repeats; ++r) {
      const auto c = load(name, true), w = load(name, false);
      cold.push_back(c.first);
      coldCpu.push_back(c.second);
      warm.push_back(w.first);
      warmCpu.push_back(w.second);
      auto* sim = currentRun ? dynamic_cast<LinSimulation*>(currentRun->simulation.get()) : nullptr;
      if (!sim) {
        std::fprintf(stderr, "%s: not loaded\n", name.c_str());
        return 1;
      }
      Multigrid<double>& mg = *sim->multigrid;
      const TetHierarchy& h = *currentRun->hierarchy;
      vertices = static_cast<int>(h.vertices[h.nLevels - 1].size());
      levels = h.nLevels;
      coarseN = mg.A[0]->nRow;
      CholeskyFactor f;
      factor.push_back(millis([&] { f.factor(*mg.A[0], nullptr); }, kThread));
      bytes = f.bytes();
      std::vector<double> b(static_cast<size_t>(coarseN), 1.0), x(b.size());
      solve.push_back(millis([&] { f.solve(b.data(), x.data()); }, kThread));
      read.push_back(readBackMillis(cachesPath + "factor.bytes", bytes));
      sim->addGravity();
      const int n = 20;
      step.push_back(millis([&] {
                       for (int i = 0; i < n; ++i) sim->computeStep(false, false, 0, false);
                     }, kThread) /
                     n);
      const double cycle = millis([&] {
        for (int i = 0; i < n; ++i) mg.vCycle(1.7);
      }, kThread);
      const double coarse = millis([&] {
        for (int i = 0; i < n; ++i) mg.coarse->solve();
      }, kThread);
      share.push_back(100.0 * coarse / cycle);
      unloadModel();
    }
    std::printf(
        "%-14s %8d %6d %8d %7.0f (%5.0f) %7.0f (%5.0f) %9.0f %9.1f %8.1f %8.1f %8.2f %7.0f%%\n",
        name.c_str(), vertices, levels, coarseN, median(cold), median(coldCpu), median(warm),
        median(warmCpu), median(factor), bytes / (1024.0 * 1024.0), median(read), median(solve),
        median(step), median(share));
  }
  return 0;
}
