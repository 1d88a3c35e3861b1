// FullMatrix::inv against the plain loops of the same elimination (the
// literal algorithm, kept here), on one random matrix per size, both timed
// in the same run: "ratio" is the literal time over the new one, "same" is 1
// when both give the same bits. Sizes from within the last-level cache to
// well beyond it (a 2,200 x 2,200 matrix is 39 MB).
//
// BM_Inverse times the new inverse alone over larger sizes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "FullMatrix.h"

namespace {

// The elimination as plain loops over rows: every pivot step sweeps all the
// rows below it and the whole identity.
void literalInverse(double* a, int N) {
  const size_t NN = static_cast<size_t>(N) * N;
  std::vector<double> X(NN, 0.0), E(NN, 0.0), scale(N, 0.0);
  std::vector<int> perm(static_cast<size_t>(N) + 1);
  auto at = [N](int r, int c) { return static_cast<size_t>(r) * N + c; };
  for (int i = 0; i < N; ++i) E[at(i, i)] = 1.0;
  for (int i = 0; i < N; ++i) {
    perm[i] = i;
    double m = 0.0;
    for (int j = 0; j < N; ++j) m = std::max(m, std::fabs(a[at(i, j)]));
    scale[i] = m;
  }
  for (int k = 0; k < N - 1; ++k) {
    double best = 0.0;
    int q = k;
    for (int m = k; m < N; ++m) {
      const double ratio = std::fabs(a[at(perm[m], k)]) / scale[perm[m]];
      if (ratio > best) {
        best = ratio;
        q = m;
      }
    }
    if (q != k) std::swap(perm[k], perm[q]);
    const int p = perm[k];
    const double* prow = a + at(p, 0);
    const double* pe = E.data() + at(p, 0);
    for (int m = k + 1; m < N; ++m) {
      const int r = perm[m];
      double* rrow = a + at(r, 0);
      const double f = rrow[k] / prow[k];
      for (int j = k + 1; j < N; ++j) rrow[j] = rrow[j] - f * prow[j];
      rrow[k] = f;
      double* re = E.data() + at(r, 0);
      for (int j = 0; j < N; ++j) re[j] = re[j] - f * pe[j];
    }
  }
  std::vector<double> sum(N);
  for (int k = N - 1; k >= 0; --k) {
    const double* krow = a + at(perm[k], 0);
    std::fill(sum.begin(), sum.end(), 0.0);
    for (int j = k + 1; j < N; ++j) {
      const double f = krow[j];
      const double* xrow = X.data() + at(j, 0);
      for (int c = 0; c < N; ++c) sum[c] += f * xrow[c];
    }
    const double* erow = E.data() + at(perm[k], 0);
    double* xk = X.data() + at(k, 0);
    for (int c = 0; c < N; ++c) xk[c] = (erow[c] - sum[c]) / krow[k];
  }
  std::copy(X.begin(), X.end(), a);
}

std::vector<double> randomMatrix(int n) {
  std::mt19937 g(n);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> a(static_cast<size_t>(n) * n);
  for (double& v : a) v = u(g);
  return a;
}

double seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_InverseVsLiteral(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = randomMatrix(n);
  std::vector<double> literal(a.size());
  FullMatrix<double> m(n, n);
  double literalTime = 0.0, newTime = 0.0;
  bool same = true;
  for (auto _ : state) {
    std::copy(a.begin(), a.end(), literal.begin());
    auto t0 = std::chrono::steady_clock::now();
    literalInverse(literal.data(), n);
    literalTime += seconds(t0);
    std::copy(a.begin(), a.end(), m.data);
    t0 = std::chrono::steady_clock::now();
    m.inv();
    const double t = seconds(t0);
    newTime += t;
    state.SetIterationTime(t);
    same = same && std::memcmp(m.data, literal.data(), sizeof(double) * a.size()) == 0;
  }
  state.counters["literal_s"] = literalTime / state.iterations();
  state.counters["ratio"] = literalTime / newTime;
  state.counters["same"] = same;
}
BENCHMARK(BM_InverseVsLiteral)
    ->Arg(300)
    ->Arg(1000)
    ->Arg(2200)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_Inverse(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = randomMatrix(n);
  FullMatrix<double> m(n, n);
  for (auto _ : state) {
    std::copy(a.begin(), a.end(), m.data);
    const auto t0 = std::chrono::steady_clock::now();
    m.inv();
    state.SetIterationTime(seconds(t0));
  }
}
BENCHMARK(BM_Inverse)
    ->DenseRange(2000, 3000, 250)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
