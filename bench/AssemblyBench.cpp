// Global assembly of a refined cube from cold elements: elements per second
// on one thread and on two, against the same assembly through the general
// polynomial products for the element stiffness in the same run.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "MatrixAssembler.h"
#include "ProgressBar.h"
#include "SilentProgress.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"

using zolt::test::silentBar;

namespace {

// A cube of 8^3 cells of 6 tetrahedra, refined levels - 1 times:
// 3072 * 8^(levels - 1) elements.
struct Cube {
  std::unique_ptr<TetHierarchy> h;
  int finest;
  explicit Cube(int levels) : h(zolt::test::box(8, 8, 8, 0.125f, levels)), finest(levels - 1) {}
  int nElements() const { return static_cast<int>(h->elements[finest].size()); }
};

// Back to freshly read elements: no shape functions, load matrices or
// gradients, as on a cold model load. With freshPages the freed heap goes
// back to the system, so that the element data is faulted in afresh as in a
// new process; without, it is reused and the run shows the work alone.
void makeCold(Cube& c, bool freshPages) {
  for (FiniteElement* e : c.h->elements[c.finest]) {
    auto* t = static_cast<Tetrahedron*>(e);
    for (auto& n : t->N) n = Polynom<double>();
    t->shapeFunctionsReady = false;
    delete t->loadMatrix;
    t->loadMatrix = nullptr;
    delete[] t->gradients;
    t->gradients = nullptr;
  }
  if (freshPages) malloc_trim(0);
}

Cube& cube(int levels) {
  static std::unique_ptr<Cube> cubes[4];
  if (!cubes[levels]) cubes[levels] = std::make_unique<Cube>(levels);
  return *cubes[levels];
}

// range(0): levels (2: 24576 elements, 3: 196608); range(1): threads;
// range(2): 1 for the general polynomial products; range(3): fresh pages.
void BM_Assemble(benchmark::State& state) {
  Cube& c = cube(static_cast<int>(state.range(0)));
  MaterialProperties material;
  material.lambda = 1e5;
  material.mu = 4e4;
  MatrixAssembler::progressBarFactory = silentBar;
  std::ostringstream quiet;
  auto* old = std::cout.rdbuf(quiet.rdbuf());
  for (auto _ : state) {
    state.PauseTiming();
    makeCold(c, state.range(3) == 1);
    state.ResumeTiming();
    MatrixAssembler a(&c.h->elements[c.finest], &material,
                      static_cast<int>(c.h->vertices[c.finest].size()), 3);
    a.useWorker = state.range(1) == 2;
    a.forceSymbolic = state.range(2) == 1;
    a.assemble(0, 0, nullptr, false);
    benchmark::DoNotOptimize(a.K3);
    delete a.K3;
    delete a.M;
    delete a.S;
    delete a.lumpedMass;
    quiet.str("");
  }
  std::cout.rdbuf(old);
  state.counters["elements/s"] =
      benchmark::Counter(c.nElements(), benchmark::Counter::kIsIterationInvariantRate);
}

// Element preparation only (the cached-matrices road); range(2): fresh
// pages.
void BM_GenerateShapeFunctions(benchmark::State& state) {
  Cube& c = cube(static_cast<int>(state.range(0)));
  MaterialProperties material;
  MatrixAssembler::progressBarFactory = silentBar;
  for (auto _ : state) {
    state.PauseTiming();
    makeCold(c, state.range(2) == 1);
    state.ResumeTiming();
    MatrixAssembler a(&c.h->elements[c.finest], &material,
                      static_cast<int>(c.h->vertices[c.finest].size()), 3);
    a.useWorker = state.range(1) == 2;
    a.generateShapeFunctions(false);
  }
  state.counters["elements/s"] =
      benchmark::Counter(c.nElements(), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_Assemble)
    ->ArgNames({"levels", "threads", "symbolic", "fresh"})
    ->Args({2, 1, 0, 1})
    ->Args({2, 2, 0, 1})
    ->Args({2, 1, 1, 1})
    ->Args({2, 2, 1, 1})
    ->Args({3, 1, 0, 1})
    ->Args({3, 2, 0, 1})
    ->Args({3, 1, 0, 0})
    ->Args({3, 2, 0, 0})
    ->Args({3, 1, 1, 1})
    ->Args({3, 2, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_GenerateShapeFunctions)
    ->ArgNames({"levels", "threads", "fresh"})
    ->Args({2, 1, 1})
    ->Args({2, 2, 1})
    ->Args({3, 1, 1})
    ->Args({3, 2, 1})
    ->Args({3, 1, 0})
    ->Args({3, 2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Microseconds for the first touch of a fresh 4 KB page: a cold assembly
// fills hundreds of megabytes, so this machine cost sets a floor under it.
double freshPageMicroseconds() {
  const size_t bytes = size_t(64) << 20;
  std::unique_ptr<char[]> p(new char[bytes]);
  const auto t0 = std::chrono::steady_clock::now();
  for (size_t i = 0; i < bytes; i += 4096) p[i] = 1;
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  benchmark::DoNotOptimize(p.get());
  return 1e6 * s / (bytes / 4096);
}

int main(int argc, char** argv) {
  mallopt(M_ARENA_MAX, 1);  // one malloc arena, as the programs (useOneMallocArena)
  benchmark::AddCustomContext("fresh_page_fault_us", std::to_string(freshPageMicroseconds()));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
