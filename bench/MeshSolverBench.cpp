// Solvers on the stiffness system of a refined box (elasticity, lambda =
// mu = 1, floor fixed): one V-cycle, its time against the bytes it must
// stream at the triad bandwidth of the same run, multigrid-preconditioned CG of this
// system and Eigen's solvers on the same matrix, each as a time and as a
// ratio to one V-cycle on that matrix measured in the same run. The large
// box has about 118k vertices (346k unknowns); Eigen's sparse LDLT does not
// finish on it in reasonable time, so it runs on the small box (36k
// vertices) with its own V-cycle reference. The explicit scheme's
// stability estimate is timed on the large box in the same units.

#include <benchmark/benchmark.h>

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCholesky>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "MatrixAssembler.h"
#include "Multigrid.h"
#include "SilentProgress.h"
#include "TestMeshes.h"
#include "TimeIntegration.h"
#include "Triad.h"
#include "VCycleBound.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Problem {
  std::unique_ptr<TetHierarchy> h;
  MaterialProperties material;
  std::unique_ptr<MatrixAssembler> assembler;
  std::vector<Matrix<double>*> rp;
  Vector<double> b, x;
  std::unique_ptr<Multigrid<double>> mg;
  Eigen::SparseMatrix<double> eigenK;
  Eigen::VectorXd eigenB;
  int levels = 5;
  double vCycleSeconds = 0;

  explicit Problem(int cells) {
    std::ostringstream quiet;
    auto* old = std::cout.rdbuf(quiet.rdbuf());
    MatrixAssembler::progressBarFactory = zolt::test::silentBar;
    h = zolt::test::box(cells, cells, cells, 1.0f, levels);
    int nFixed = 0;
    for (int l = 0; l < levels; ++l) {
      auto& list = h->vertices[l];
      for (Vertex* v : list) v->fixed = v->restPosition[2] == 0.0f;
      std::stable_partition(list.begin(), list.end(),
                            [](const Vertex* v) { return v->fixed != 0; });
      nFixed = 0;
      for (size_t i = 0; i < list.size(); ++i) {
        list[i]->index = static_cast<int>(i);
        nFixed += list[i]->fixed;
      }
    }
    h->generateRestrictions(0, 0, 3, 0.005f);
    material.lambda = material.mu = 1.0;
    assembler = std::make_unique<MatrixAssembler>(
        &h->elements[levels - 1], &material, static_cast<int>(h->vertices[levels - 1].size()), 3);
    assembler->assemble(0, 3 * nFixed, nullptr, false);
    BlockMatrix<double, 3>& K = *assembler->K3;
    for (int l = 0; l < levels - 1; ++l) rp.push_back(h->restriction[l]);
    b.resize(K.nRow);
    x.resize(K.nRow);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < b.n; ++i) b[i] = u(rng);
    mg = std::make_unique<Multigrid<double>>(K, rp.data(), b, x, 1e-4, levels, 1, 1, true);
    mg->calcHierarchy(nullptr);
    mg->setCoarseSolver(0);
    std::cout.rdbuf(old);

    std::vector<Eigen::Triplet<double>> t;
    for (const auto& blk : K.blocks)
      for (int q = 0; q < 9; ++q) t.emplace_back(blk.row0 + q / 3, blk.col0 + q % 3, blk.values[q]);
    eigenK.resize(K.nRow, K.nCol);
    eigenK.setFromTriplets(t.begin(), t.end());
    eigenK.makeCompressed();
    eigenB = Eigen::Map<Eigen::VectorXd>(b.data, b.n);

    auto t0 = Clock::now();
    for (int k = 0; k < 10; ++k) mg->vCycle(1.7);
    vCycleSeconds = std::chrono::duration<double>(Clock::now() - t0).count() / 10;
  }

  double relResidual() {
    Vector<double> r(b.n);
    assembler->K3->residuum(x, b, r);
    double s = 0, bb = 0;
    for (int i = 0; i < r.n; ++i) {
      s += r[i] * r[i];
      bb += b[i] * b[i];
    }
    return std::sqrt(s / bb);
  }
};

constexpr int kLarge = 3, kSmall = 2;

Problem& problem(int cells) {
  static std::map<int, std::unique_ptr<Problem>> problems;
  auto& p = problems[cells];
  if (!p) p = std::make_unique<Problem>(cells);
  return *p;
}

void report(benchmark::State& state, Problem& p, double seconds, double iterations) {
  state.counters["seconds"] = seconds;
  state.counters["vs_vcycle"] = seconds / p.vCycleSeconds;
  state.counters["iterations"] = iterations;
  state.counters["unknowns"] = p.b.n;
}

void BM_VCycle(benchmark::State& state) {
  Problem& p = problem(static_cast<int>(state.range(0)));
  double seconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    p.mg->vCycle(1.7);
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  report(state, p, seconds / state.iterations(), 1);
}

// Median single V-cycle against the bytes it must stream, and the mean
// residual reduction of cycles 3 to 10.
void BM_VCycleBandwidth(benchmark::State& state) {
  Problem& p = problem(kLarge);
  zolt::bench::VCycleTiming t{};
  for (auto _ : state) t = zolt::bench::timeVCycles(*p.mg, p.x, 25);
  std::fill(p.x.data, p.x.data + p.x.n, 0.0);
  for (int c = 0; c < 2; ++c) p.mg->vCycle(1.7);
  const double r2 = p.relResidual();
  for (int c = 0; c < 8; ++c) p.mg->vCycle(1.7);
  zolt::bench::reportVCycle(state, *p.mg, t, std::pow(p.relResidual() / r2, 1.0 / 8));
}

// The same matrix with its block rows and columns renumbered by reverse
// Cuthill-McKee (breadth first from block row 0, neighbours by ascending
// degree): the unknowns a block row reads then lie close together.
std::unique_ptr<BlockMatrix<double, 3>> reverseCuthillMcKee(const BlockMatrix<double, 3>& A) {
  const int n = A.nBlockRows;
  std::vector<int> order, degree(n);
  std::vector<char> seen(n, 0);
  for (int r = 0; r < n; ++r) degree[r] = static_cast<int>(A.rowStart[r + 1] - A.rowStart[r]);
  for (int start = 0; start < n; ++start) {
    if (seen[start]) continue;
    seen[start] = 1;
    for (size_t head = order.size(), end = (order.push_back(start), order.size()); head < end;
         end = order.size()) {
      const int r = order[head++];
      const size_t first = order.size();
      for (auto* b = A.rowStart[r]; b != A.rowStart[r + 1]; ++b)
        if (!seen[b->col0 / 3]) {
          seen[b->col0 / 3] = 1;
          order.push_back(b->col0 / 3);
        }
      std::sort(order.begin() + first, order.end(),
                [&](int a, int c) { return degree[a] < degree[c]; });
    }
  }
  std::vector<int> number(n);
  for (int k = 0; k < n; ++k) number[order[k]] = n - 1 - k;
  auto B = std::make_unique<BlockMatrix<double, 3>>(A.nRow, A.nCol);
  for (const auto& b : A.blocks)
    B->addElemBlock(3 * number[b.row0 / 3], 3 * number[b.col0 / 3], b.values);
  B->buildDataStructs();
  B->symmetric = A.symmetric;
  return B;
}

// One forward sweep, one that also leaves the residual, and one product of
// A (and the product with x kept near, below), each as a ratio of its time
// to its bytes at the triad bandwidth (medians of runs behind a triad run
// each), as counters named ..._<name>.
void levelKernels(benchmark::State& state, zolt::bench::Triad& triad,
                  const BlockMatrix<double, 3>& A, const std::string& name) {
  const double n = A.nRow;
  const double matrix = A.blocks.size() * sizeof(BlockMatrix<double, 3>::Block) +
                        (A.nBlockRows + 1.0) * sizeof(void*);
  Vector<double> x(A.nRow), y(A.nRow), b(A.nRow), r(A.nRow);
  for (int i = 0; i < b.n; ++i) b[i] = 1.0;
  std::vector<double> sweep, sweepResidual, product, bandwidth;
  auto timed = [&](std::vector<double>& into, auto&& kernel) {
    bandwidth.push_back(triad.run());
    const auto t0 = Clock::now();
    kernel();
    into.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  };
  // The product once more with every block column folded into the first 32:
  // the same blocks and arithmetic, but x always in the L1 cache.
  using Block = BlockMatrix<double, 3>::Block;
  std::vector<Block> folded(A.blocks);
  for (Block& blk : folded) blk.col0 %= 96;
  auto foldedMult = [&] {
    for (int row = 0; row < A.nBlockRows; ++row) {
      double acc[3];
      BlockMatrix<double, 3>::rowProduct(&folded[A.rowStart[row] - A.blocks.data()],
                                         &folded[0] + (A.rowStart[row + 1] - A.blocks.data()),
                                         x.data, acc);
      std::copy(acc, acc + 3, y.data + 3 * row);
    }
  };
  std::vector<double> nearProduct;
  for (int rep = 0; rep < 15; ++rep) {
    double res;
    timed(sweep, [&] { A.gaussSeidelStep(x, b, 1.7, res); });
    timed(sweepResidual, [&] { A.gaussSeidelStepResidual(x, b, 1.7, res, r); });
    timed(product, [&] { A.mult(x, y); });
    timed(nearProduct, foldedMult);
  }
  const double bw = zolt::bench::median(bandwidth);
  state.counters["sweep_vs_bound_" + name] = zolt::bench::median(sweep) / ((matrix + 24 * n) / bw);
  state.counters["sweep_residual_vs_bound_" + name] =
      zolt::bench::median(sweepResidual) / ((matrix + 32 * n) / bw);
  state.counters["mult_vs_bound_" + name] = zolt::bench::median(product) / ((matrix + 16 * n) / bw);
  state.counters["mult_near_x_vs_bound_" + name] =
      zolt::bench::median(nearProduct) / ((matrix + 16 * n) / bw);
  state.counters["MB_" + name] = matrix * 1e-6;
  state.counters["blocks_per_row_" + name] = A.blocks.size() / (n / 3);
}

// Per level above the coarsest, and the finest level renumbered ("rcm").
void BM_LevelKernels(benchmark::State& state) {
  Problem& p = problem(kLarge);
  zolt::bench::Triad triad;
  for (auto _ : state) {
    for (int l = p.levels - 1; l >= 1; --l)
      levelKernels(state, triad, dynamic_cast<BlockMatrix<double, 3>&>(*p.mg->A[l]),
                   std::to_string(l));
    levelKernels(
        state, triad,
        *reverseCuthillMcKee(dynamic_cast<BlockMatrix<double, 3>&>(*p.mg->A[p.levels - 1])), "rcm");
  }
}

void BM_MultigridCG(benchmark::State& state) {
  Problem& p = problem(kLarge);
  for (auto _ : state) {
    std::fill(p.x.data, p.x.data + p.x.n, 0.0);
    CGPreMgrid<double> cg(*p.assembler->K3, p.b, p.x, 5, 0.0);
    cg.absolute = true;  // stop on the relative residual below
    std::ostringstream quiet;
    auto* old = std::cout.rdbuf(quiet.rdbuf());
    cg.setupMultigrid(p.rp.data(), p.levels);
    std::cout.rdbuf(old);
    int steps = 0;
    auto t0 = Clock::now();
    while (p.relResidual() > 1e-8 && steps < 1000) {
      cg.solve();
      ++steps;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    report(state, p, seconds, steps);
  }
}

template <class Preconditioner>
void eigenCG(benchmark::State& state) {
  Problem& p = problem(kLarge);
  for (auto _ : state) {
    auto t0 = Clock::now();
    Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower | Eigen::Upper,
                             Preconditioner>
        cg;
    cg.setTolerance(1e-8);
    cg.setMaxIterations(100000);
    cg.compute(p.eigenK);
    Eigen::VectorXd sol = cg.solve(p.eigenB);
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    benchmark::DoNotOptimize(sol.data());
    report(state, p, seconds, static_cast<double>(cg.iterations()));
  }
}

void BM_EigenCGDiagonal(benchmark::State& state) {
  eigenCG<Eigen::DiagonalPreconditioner<double>>(state);
}
void BM_EigenCGIncompleteCholesky(benchmark::State& state) {
  eigenCG<Eigen::IncompleteCholesky<double>>(state);
}

void BM_EigenLDLTFactorAndSolve(benchmark::State& state) {
  Problem& p = problem(kSmall);
  for (auto _ : state) {
    auto t0 = Clock::now();
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt(p.eigenK);
    double factor = std::chrono::duration<double>(Clock::now() - t0).count();
    auto t1 = Clock::now();
    Eigen::VectorXd sol = ldlt.solve(p.eigenB);
    double solve = std::chrono::duration<double>(Clock::now() - t1).count();
    benchmark::DoNotOptimize(sol.data());
    report(state, p, factor + solve, 1);
    state.counters["factor_vs_vcycle"] = factor / p.vCycleSeconds;
    state.counters["solve_vs_vcycle"] = solve / p.vCycleSeconds;
  }
}

// The explicit scheme's stability estimate (Lanczos on m^-1 K) on the large
// box, as V-cycles and as products with K, both measured in this run.
void BM_ExplicitLimit(benchmark::State& state) {
  Problem& p = problem(kLarge);
  const Matrix<double>& K = *p.assembler->K3;
  Vector<double> y(p.b.n);
  auto t0 = Clock::now();
  for (int k = 0; k < 10; ++k) K.mult(p.b, y);
  const double multSeconds = std::chrono::duration<double>(Clock::now() - t0).count() / 10;
  double lambda = 0.0;
  for (auto _ : state) {
    auto t1 = Clock::now();
    lambda = TimeIntegration::largestMassEigenvalue(K, *p.assembler->lumpedMass);
    const double seconds = std::chrono::duration<double>(Clock::now() - t1).count();
    report(state, p, seconds, 0);
    state.counters["vs_mult"] = seconds / multSeconds;
  }
  state.counters["lambda"] = lambda;
}

}  // namespace

BENCHMARK(BM_ExplicitLimit)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VCycleBandwidth)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelKernels)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VCycle)->Arg(kLarge)->Arg(kSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultigridCG)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EigenCGDiagonal)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EigenCGIncompleteCholesky)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EigenLDLTFactorAndSolve)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
