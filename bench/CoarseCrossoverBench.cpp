// The coarsest level's direct solve: dense inverse (Invert, FullMatrix::inv)
// against the sparse Cholesky factor, simplicial and supernodal, on the
// stiffness matrix of k x l x m box grids (6 tetrahedra a cube, floor
// fixed, lambda = mu = 1), all in the same run. BM_Build times building
// each, BM_Apply one solve with each; "dense/simpl" and "dense/super" are
// the ratios of their times. The dense side ends where they pass 1
// (denseInverseCrossover in MemoryLimits.cpp; CholeskyFactor::
// simplicialLimit for the kind of factor).
//
// BM_BoxLoad loads a free box of 729 and one of 3,600 vertices (LEVEL 1,
// as a user's first mesh) cold, under the old rule (dense up to 2,250
// unknowns, rule 0) and the present one (rule 1), and times a step;
// medians of 5.
//   zolt_bench_coarse_crossover [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>

#include "FiniteElement.h"
#include "FullMatrix.h"
#include "LinSimulation.h"
#include "MatrixAssembler.h"
#include "MemoryLimits.h"
#include "Multigrid.h"
#include "Run.h"
#include "SilentProgress.h"
#include "SparseCholesky.h"
#include "Startup.h"
#include "TestMeshes.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool factorAs(CholeskyFactor& f, Matrix<double>& K, bool simplicial);

// The assembled stiffness matrix of a box grid with its floor fixed.
struct Problem {
  std::unique_ptr<TetHierarchy> h;
  MaterialProperties material{};
  std::unique_ptr<MatrixAssembler> assembler;
  Vector<double> b, x;

  Problem(int k, int l, int m) {
    std::ostringstream quiet;
    auto* old = std::cout.rdbuf(quiet.rdbuf());
    MatrixAssembler::progressBarFactory = zolt::test::silentBar;
    h = zolt::test::box(k, l, m);
    const int nFixed = zolt::test::fixFloorAndNumberFixedFirst(*h, 0);
    auto& list = h->vertices[0];
    material.lambda = material.mu = 1.0;
    assembler = std::make_unique<MatrixAssembler>(&h->elements[0], &material,
                                                  static_cast<int>(list.size()), 3);
    assembler->assemble(0, 3 * nFixed, nullptr, false);
    std::cout.rdbuf(old);
    b.resize(K().nRow);
    x.resize(K().nRow);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < b.n; ++i) b[i] = u(rng);
  }
  Matrix<double>& K() { return *assembler->K3; }

  // Both solves, built once: the benchmark runs its function several times.
  std::unique_ptr<FullMatrix<double>> inverse;
  CholeskyFactor factors[2];  // simplicial, supernodal
  void buildSolves() {
    if (inverse) return;
    inverse = std::make_unique<FullMatrix<double>>(K().nRow, K().nRow);
    K().copyTo(*inverse);
    inverse->inv();
    factorAs(factors[0], K(), true);
    factorAs(factors[1], K(), false);
  }
};

Problem& problem(int k, int l, int m) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<Problem>> problems;
  auto& p = problems[{k, l, m}];
  if (!p) p = std::make_unique<Problem>(k, l, m);
  return *p;
}

// The factor of K, simplicial or supernodal.
bool factorAs(CholeskyFactor& f, Matrix<double>& K, bool simplicial) {
  const int64_t saved = CholeskyFactor::simplicialLimit;
  CholeskyFactor::simplicialLimit = simplicial ? K.nRow : K.nRow - 1;
  const bool ok = f.factor(K, nullptr);
  CholeskyFactor::simplicialLimit = saved;
  return ok;
}

// Seconds of the dense solve, the simplicial and the supernodal factor,
// summed over the iterations.
void report(benchmark::State& state, int n, const double (&t)[3], const char* unit, double scale) {
  const auto avg = benchmark::Counter::kAvgIterations;
  state.counters["unknowns"] = n;
  const char* names[3] = {"dense_", "simpl_", "super_"};
  for (int k = 0; k < 3; ++k)
    state.counters[names[k] + std::string(unit)] = benchmark::Counter(t[k] * scale, avg);
  state.counters["dense/simpl"] = t[1] > 0 ? t[0] / t[1] : 0.0;
  state.counters["dense/super"] = t[2] > 0 ? t[0] / t[2] : 0.0;
}

void BM_Build(benchmark::State& state) {
  Problem& p = problem(state.range(0), state.range(1), state.range(2));
  Matrix<double>& K = p.K();
  double t[3] = {};
  for (auto _ : state) {
    double it[3];
    auto t0 = Clock::now();
    {
      FullMatrix<double> inverse(K.nRow, K.nRow);
      K.copyTo(inverse);
      inverse.inv();
      benchmark::DoNotOptimize(inverse.data);
    }
    it[0] = secondsSince(t0);
    for (int k = 1; k < 3; ++k) {
      t0 = Clock::now();
      CholeskyFactor f;
      if (!factorAs(f, K, k == 1)) state.SkipWithError(f.error().c_str());
      it[k] = secondsSince(t0);
    }
    for (int k = 0; k < 3; ++k) t[k] += it[k];
    state.SetIterationTime(it[0] + it[1] + it[2]);
  }
  report(state, K.nRow, t, "ms", 1e3);
}

void BM_Apply(benchmark::State& state) {
  Problem& p = problem(state.range(0), state.range(1), state.range(2));
  Matrix<double>& K = p.K();
  p.buildSolves();
  FullMatrix<double>& inverse = *p.inverse;
  for (CholeskyFactor& f : p.factors)
    if (!f.factored()) state.SkipWithError(f.error().c_str());
  // Enough solves per iteration that the clock's resolution does not count.
  const int reps = std::max(1, 200000 / (K.nRow * 10 + 1000));
  double t[3] = {};
  for (auto _ : state) {
    double it[3];
    auto t0 = Clock::now();
    for (int r = 0; r < reps; ++r) inverse.mult(p.b, p.x);
    it[0] = secondsSince(t0);
    for (int k = 1; k < 3; ++k) {
      t0 = Clock::now();
      for (int r = 0; r < reps; ++r) p.factors[k - 1].solve(p.b.data, p.x.data);
      it[k] = secondsSince(t0);
    }
    for (int k = 0; k < 3; ++k) t[k] += it[k];
    state.SetIterationTime(it[0] + it[1] + it[2]);
  }
  report(state, K.nRow, t, "us", 1e6 / reps);
}

// k x l x m cubes: 3 (k + 1)(l + 1) m unknowns with the floor fixed.
void boxSizes(benchmark::internal::Benchmark* b) {
  for (auto s : std::vector<std::vector<int64_t>>{{1, 1, 1},
                                                  {2, 1, 1},
                                                  {2, 2, 1},
                                                  {3, 2, 1},
                                                  {4, 2, 1},
                                                  {2, 2, 2},
                                                  {3, 2, 2},
                                                  {4, 2, 2},
                                                  {3, 3, 2},
                                                  {4, 3, 2},
                                                  {3, 3, 3},
                                                  {4, 4, 4},
                                                  {5, 5, 5},
                                                  {7, 7, 7},
                                                  {9, 9, 9}})
    b->Args(s);
  b->ArgNames({"k", "l", "m"})->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Build)->Apply(boxSizes)->MinTime(0.2);
BENCHMARK(BM_Apply)->Apply(boxSizes)->MinTime(0.2);

// Models directory of BM_BoxLoad: box729 (8 x 8 x 8 cubes) and box3600
// (15 x 14 x 14), free bodies in the configuration README.md shows.
std::string boxDir;

const std::string& boxModels() {
  std::string& dir = boxDir;
  if (!dir.empty()) return dir;
  char name[] = "/tmp/zolt_crossover_XXXXXX";
  if (!mkdtemp(name)) return dir;
  dir = std::string(name) + "/";
  ensureDirectory(dir + "caches/");
  for (auto [k, l, m] : {std::tuple<int, int, int>{8, 8, 8}, {15, 14, 14}}) {
    auto h = zolt::test::box(k, l, m);
    std::vector<zolt::test::Point> positions;
    for (const Vertex* v : h->vertices[0])
      positions.push_back({v->restPosition[0], v->restPosition[1], v->restPosition[2]});
    std::vector<zolt::test::Corners> corners;
    for (const FiniteElement* e : h->elements[0]) {
      zolt::test::Corners c{};
      for (int i = 0; i < 4; ++i) c[i] = e->getVertex(i)->index;
      corners.push_back(c);
    }
    const std::string base = dir + "box" + std::to_string(positions.size());
    zolt::test::writeMeshText(base, positions, corners);
    FILE* config = std::fopen((base + ".config").c_str(), "w");
    if (config) {
      std::fputs("TETRAHEDRON\nLEVEL 1\nMATERIAL 1e6 0.3 1000 2 2 0.05\n", config);
      std::fclose(config);
    }
  }
  return dir;
}

void BM_BoxLoad(benchmark::State& state) {
  const std::string& dir = boxModels();
  modelsPath = dir;
  cachesPath = dir + "caches/";
  const std::string name = "box" + std::to_string(state.range(0));
  const int64_t saved = denseInverseCrossover;
  denseInverseCrossover = state.range(1) == 0 ? 2250 : saved;
  double step = 0;
  int coarse = 0;
  for (auto _ : state) {
    std::ostringstream sink;
    std::streambuf* out = std::cout.rdbuf(sink.rdbuf());
    const auto t0 = Clock::now();
    loadModel({name, true, 0, 0});
    const double load = secondsSince(t0);
    std::cout.rdbuf(out);
    auto* sim = currentRun ? dynamic_cast<LinSimulation*>(currentRun->simulation.get()) : nullptr;
    if (!sim) {
      state.SkipWithError("not loaded");
      break;
    }
    state.SetIterationTime(load);
    coarse = sim->multigrid->coarseSolverType;
    sim->addGravity();
    const int n = 20;
    const auto t1 = Clock::now();
    for (int i = 0; i < n; ++i) sim->computeStep(false, false, 0, false);
    step += secondsSince(t1) / n;
    unloadModel();
  }
  denseInverseCrossover = saved;
  state.counters["step_ms"] = benchmark::Counter(step * 1e3, benchmark::Counter::kAvgIterations);
  state.counters["sparse"] = coarse == 3;
}

BENCHMARK(BM_BoxLoad)
    ->ArgNames({"vertices", "rule"})
    ->Args({729, 0})
    ->Args({729, 1})
    ->Args({3600, 0})
    ->Args({3600, 1})
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  useOneMallocArena();  // as the programs
  MatrixAssembler::progressBarFactory = zolt::test::silentBar;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!boxDir.empty()) std::filesystem::remove_all(boxDir);
  return 0;
}
