// Multigrid on a structured 3D block hierarchy (7-point Laplacian coupled by
// an SPD 3x3 block per node, trilinear restrictions): V-cycle time and
// convergence factor, hierarchy set-up time per non-zero, and the in-place
// coarse refresh as a ratio to a fresh hierarchy build.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <iostream>
#include <random>
#include <sstream>

#include "Multigrid.h"
#include "StructuredGrids.h"
#include "VCycleBound.h"

using namespace zolt::test;
using Clock = std::chrono::steady_clock;

namespace {

struct Setup {
  std::unique_ptr<BlockMatrix<double, 3>> fine;
  std::vector<std::unique_ptr<PackedMatrix<double>>> R;
  std::vector<Matrix<double>*> rp;
  Vector<double> b, x;
  std::unique_ptr<Multigrid<double>> mg;
  int levels;

  Setup(int finest, int nLevels) : levels(nLevels) {
    fine = laplaceBlock(finest);
    R = restrictions(finest, levels, 3);
    for (auto& r : R) rp.push_back(r.get());
    b.resize(fine->nRow);
    x.resize(fine->nRow);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < b.n; ++i) b[i] = u(rng);
  }
  void build() {
    mg = std::make_unique<Multigrid<double>>(*fine, rp.data(), b, x, 1e-4, levels, 1, 1, true);
    std::ostringstream quiet;
    auto* old = std::cout.rdbuf(quiet.rdbuf());
    mg->calcHierarchy(nullptr);
    mg->setCoarseSolver(0);
    std::cout.rdbuf(old);
  }
  double residual() {
    Vector<double> r(b.n);
    fine->residuum(x, b, r);
    double s = 0;
    for (int i = 0; i < r.n; ++i) s += r[i] * r[i];
    return std::sqrt(s);
  }
};

void BM_VCycle(benchmark::State& state) {
  Setup s(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)) - 1);
  s.build();
  double r0 = s.residual();
  for (int c = 0; c < 8; ++c) s.mg->vCycle(1.7);
  double factor = std::pow(s.residual() / r0, 1.0 / 8);
  for (auto _ : state) s.mg->vCycle(1.7);
  state.counters["unknowns"] = s.b.n;
  state.counters["factor"] = factor;
}

// The same cycle against the bytes it must stream (VCycleBound.h): on this
// lexicographically numbered grid the unknowns a block row reads lie close
// together.
void BM_VCycleBandwidth(benchmark::State& state) {
  Setup s(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)) - 1);
  s.build();
  zolt::bench::VCycleTiming t{};
  for (auto _ : state) t = zolt::bench::timeVCycles(*s.mg, s.x, 25);
  std::fill(s.x.data, s.x.data + s.x.n, 0.0);
  const double r0 = s.residual();
  for (int c = 0; c < 8; ++c) s.mg->vCycle(1.7);
  zolt::bench::reportVCycle(state, *s.mg, t, std::pow(s.residual() / r0, 1.0 / 8));
}

void BM_HierarchySetup(benchmark::State& state) {
  Setup s(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)) - 1);
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    s.build();
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  double nnz = 9.0 * s.fine->blocks.size();
  state.counters["fine_nnz"] = nnz;
  state.counters["ns_per_nnz"] = 1e9 * seconds / state.iterations() / nnz;
}

// Seconds of one fresh hierarchy build, measured once per run.
double freshBuildSeconds(Setup& s) {
  static double best = 0;
  if (best == 0) {
    best = 1e30;
    for (int k = 0; k < 3; ++k) {
      auto t0 = Clock::now();
      s.build();
      best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
  }
  return best;
}

void refresh(benchmark::State& state, bool useStream) {
  Setup s(5, 4);
  double fresh = freshBuildSeconds(s);
  s.build();
  std::ostringstream quiet;
  auto* old = std::cout.rdbuf(quiet.rdbuf());
  auto refreshAll = [&] {
    for (int l = s.levels - 2; l >= 0; --l)
      Multigrid<double>::galerkinProduct(dynamic_cast<BlockMatrix<double, 3>&>(*s.mg->A[l + 1]),
                                         *s.R[l], dynamic_cast<BlockMatrix<double, 3>&>(*s.mg->A[l]),
                                         useStream);
  };
  if (useStream) refreshAll();  // records the streams
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    refreshAll();
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  std::cout.rdbuf(old);
  state.counters["vs_fresh_build"] = seconds / state.iterations() / fresh;
}

void BM_RefreshDirect(benchmark::State& state) { refresh(state, false); }
void BM_RefreshStreamReplay(benchmark::State& state) { refresh(state, true); }

}  // namespace

BENCHMARK(BM_VCycle)->Arg(5)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VCycleBandwidth)->Arg(6)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HierarchySetup)->Arg(4)->Arg(5)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RefreshDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshStreamReplay)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
