// Memory-bound kernels of the stiffness matrix on a 3D elasticity-like
// pattern (27-point vertex stencil on a cube grid, SPD 3x3 blocks, diagonally
// dominant): BlockMatrix SpMV, PackedMatrix and Eigen CSR SpMV of the same
// matrix, and one block Gauss-Seidel sweep. Each reports the bytes it must
// move per call as a rate and as a ratio to a STREAM-like triad measured once
// at start-up.

#include <benchmark/benchmark.h>

#include <Eigen/SparseCore>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BlockMatrix.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"
#include "Triad.h"

namespace {

using Block3 = BlockMatrix<double, 3>;
using EigenCsr = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;

using zolt::bench::kTriadLength;
using zolt::bench::triad;
double gTriadBytesPerSecond = 0.0;

// One problem size in all three storage kinds.
struct Problem {
  int g = 0;  // vertices per cube edge
  int n = 0;  // unknowns
  size_t nBlocks = 0;
  std::unique_ptr<Block3> block;
  std::unique_ptr<PackedMatrix<double>> packed;
  EigenCsr eigen;
  Vector<double> x, y, b;
  Eigen::VectorXd ex, ey;
};

// Block coupling two vertices at squared grid distance d2 (0: the diagonal
// block). Symmetric blocks, symmetric matrix, rows diagonally dominant.
void couplingBlock(int d2, double sumOff, double* v) {
  const double e = 0.1;
  if (d2 == 0) {
    for (int k = 0; k < 9; ++k) v[k] = (k % 4 == 0) ? 1.0 + sumOff + 0.1 : 0.05;
    return;
  }
  const double w = 1.0 / d2;
  for (int k = 0; k < 9; ++k) v[k] = -w * ((k % 4 == 0) ? 1.0 : e);
}

std::unique_ptr<Problem> buildProblem(int g) {
  auto p = std::make_unique<Problem>();
  p->g = g;
  const int nv = g * g * g;
  p->n = 3 * nv;
  const int n = p->n;

  struct Nb {
    int v, d2;
  };
  std::vector<Nb> nbs;
  nbs.reserve(27);
  auto neighbours = [&](int u) {
    nbs.clear();
    const int i = u % g, j = (u / g) % g, k = u / (g * g);
    for (int dk = -1; dk <= 1; ++dk)
      for (int dj = -1; dj <= 1; ++dj)
        for (int di = -1; di <= 1; ++di) {
          int a = i + di, b = j + dj, c = k + dk;
          if (a < 0 || b < 0 || c < 0 || a >= g || b >= g || c >= g) continue;
          nbs.push_back({a + g * (b + g * c), di * di + dj * dj + dk * dk});
        }
  };
  auto diagonalLoad = [&]() {
    double s = 0.0;
    for (const Nb& nb : nbs)
      if (nb.d2) s += (1.0 + 2 * 0.1) / nb.d2;
    return s;
  };

  double v[9];
  p->block = std::make_unique<Block3>(n, n);
  for (int u = 0; u < nv; ++u) {
    neighbours(u);
    const double load = diagonalLoad();
    for (const Nb& nb : nbs) {
      couplingBlock(nb.d2, load, v);
      p->block->addElemBlock(3 * u, 3 * nb.v, v);
    }
  }
  p->block->buildDataStructs();
  p->block->symmetric = true;
  p->nBlocks = p->block->blocks.size();

  {
    SparseMatrix<double> s(n, n);
    for (int u = 0; u < nv; ++u) {
      neighbours(u);
      const double load = diagonalLoad();
      for (int r = 0; r < 3; ++r) s.rows[3 * u + r].reserve(3 * nbs.size());
      for (const Nb& nb : nbs) {
        couplingBlock(nb.d2, load, v);
        for (int k = 0; k < 9; ++k) s.setElem(3 * u + k / 3, 3 * nb.v + k % 3, v[k]);
      }
    }
    p->packed = std::make_unique<PackedMatrix<double>>(s);
  }

  p->eigen.resize(n, n);
  Eigen::VectorXi perRow(n);
  for (int i = 0; i < n; ++i) perRow[i] = p->packed->rowLen[i];
  p->eigen.reserve(perRow);
  for (int i = 0; i < n; ++i) {
    const MatrixEntry<double>* e = p->packed->rowStart[i];
    for (int k = 0; k < p->packed->rowLen[i]; ++k) p->eigen.insert(i, e[k].col) = e[k].val;
  }
  p->eigen.makeCompressed();

  p->x.resize(n);
  p->y.resize(n);
  p->b.resize(n);
  p->ex.resize(n);
  p->ey.resize(n);
  for (int i = 0; i < n; ++i) {
    p->x[i] = 1.0 + (i % 7) * 0.125;
    p->b[i] = 1.0 - (i % 5) * 0.25;
    p->ex[i] = p->x[i];
  }
  return p;
}

// One size at a time is kept; the benchmarks are registered size by size.
Problem& problem(int g) {
  static std::unique_ptr<Problem> current;
  if (!current || current->g != g) {
    current.reset();
    current = buildProblem(g);
  }
  return *current;
}

using Clock = std::chrono::steady_clock;

// bytes_per_second through the framework's own timing; vs_triad from the
// wall time of the timed loop, a plain ratio.
void report(benchmark::State& state, Clock::time_point loopStart, double bytesPerCall, int n) {
  using benchmark::Counter;
  const double seconds = std::chrono::duration<double>(Clock::now() - loopStart).count();
  state.counters["bytes_per_second"] =
      Counter(bytesPerCall, Counter::kIsIterationInvariantRate, Counter::kIs1024);
  state.counters["vs_triad"] =
      seconds > 0 ? bytesPerCall * state.iterations() / seconds / gTriadBytesPerSecond : 0.0;
  state.counters["unknowns"] = n;
}

void triadBench(benchmark::State& state) {
  std::vector<double> a(kTriadLength, 0.0), b(kTriadLength, 1.0), c(kTriadLength, 2.0);
  const auto t0 = Clock::now();
  for (auto _ : state) {
    triad(a.data(), b.data(), c.data(), 3.0, kTriadLength);
    benchmark::ClobberMemory();
  }
  report(state, t0, 24.0 * kTriadLength, 0);
}

void blockSpmv(benchmark::State& state, int g) {
  Problem& p = problem(g);
  const auto t0 = Clock::now();
  for (auto _ : state) {
    p.block->mult(p.x, p.y);
    benchmark::ClobberMemory();
  }
  const double bytes = p.nBlocks * sizeof(Block3::Block) +
                       (p.block->nBlockRows + 1) * sizeof(Block3::Block*) + 2.0 * 8 * p.n;
  report(state, t0, bytes, p.n);
}

void packedSpmv(benchmark::State& state, int g) {
  Problem& p = problem(g);
  const auto t0 = Clock::now();
  for (auto _ : state) {
    p.packed->mult(p.x, p.y);
    benchmark::ClobberMemory();
  }
  const double bytes = p.packed->nnz * sizeof(MatrixEntry<double>) +
                       p.n * (sizeof(MatrixEntry<double>*) + sizeof(int)) + 2.0 * 8 * p.n;
  report(state, t0, bytes, p.n);
}

void eigenSpmv(benchmark::State& state, int g) {
  Problem& p = problem(g);
  const auto t0 = Clock::now();
  for (auto _ : state) {
    p.ey.noalias() = p.eigen * p.ex;
    benchmark::ClobberMemory();
  }
  const double bytes = p.eigen.nonZeros() * (8.0 + 4.0) + 4.0 * (p.n + 1) + 2.0 * 8 * p.n;
  report(state, t0, bytes, p.n);
}

void blockGaussSeidel(benchmark::State& state, int g) {
  Problem& p = problem(g);
  double res = 0.0;
  const auto t0 = Clock::now();
  for (auto _ : state) {
    p.block->gaussSeidelStep(p.x, p.b, 1.0, res);
    benchmark::DoNotOptimize(res);
  }
  // Blocks, row starts, b read, x read and written.
  const double bytes = p.nBlocks * sizeof(Block3::Block) +
                       (p.block->nBlockRows + 1) * sizeof(Block3::Block*) + 3.0 * 8 * p.n;
  report(state, t0, bytes, p.n);
}

}  // namespace

int main(int argc, char** argv) {
  gTriadBytesPerSecond = zolt::bench::Triad().best(10);
  benchmark::AddCustomContext("triad_GiB_per_second",
                              std::to_string(gTriadBytesPerSecond / (1024.0 * 1024 * 1024)));

  const double minTime = 0.5;
  benchmark::RegisterBenchmark("Triad", triadBench)
      ->UseRealTime()
      ->MinTime(minTime)
      ->Unit(benchmark::kMillisecond);
  // 32^3 and 69^3 vertices: about 100k and 1M unknowns.
  for (auto [g, label] : {std::pair<int, const char*>{32, "100k"}, {69, "1M"}}) {
    const std::string suffix = std::string("/") + label;
    auto add = [&](const char* name, void (*fn)(benchmark::State&, int)) {
      benchmark::RegisterBenchmark((name + suffix).c_str(), fn, g)
          ->UseRealTime()
          ->MinTime(minTime)
          ->Unit(benchmark::kMillisecond);
    };
    add("BlockMatrix_SpMV", blockSpmv);
    add("PackedMatrix_SpMV", packedSpmv);
    add("EigenCSR_SpMV", eigenSpmv);
    add("BlockMatrix_GaussSeidelSweep", blockGaussSeidel);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
