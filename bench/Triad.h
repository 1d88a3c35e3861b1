#pragma once
// The STREAM-like triad a[i] = b[i] + s c[i] over arrays far beyond any
// cache: the memory bandwidth that memory-bound kernels are measured against.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace zolt::bench {

constexpr size_t kTriadLength = size_t(1) << 25;  // 3 x 256 MB

__attribute__((noinline)) inline void triad(double* a, const double* b, const double* c, double s,
                                            size_t n) {
  for (size_t i = 0; i < n; ++i) a[i] = b[i] + s * c[i];
}

class Triad {
 public:
  Triad() : a_(kTriadLength, 0.0), b_(kTriadLength, 1.0), c_(kTriadLength, 2.0) {}

  // Bytes per second of one run, counting 24 bytes per element as STREAM
  // does.
  double run() {
    const auto t0 = std::chrono::steady_clock::now();
    triad(a_.data(), b_.data(), c_.data(), 3.0, kTriadLength);
    benchmark::ClobberMemory();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    benchmark::DoNotOptimize(a_.data());
    return 24.0 * kTriadLength / s;
  }

  // Best of several runs.
  double best(int runs) {
    double b = 0.0;
    for (int r = 0; r < runs; ++r) b = std::max(b, run());
    return b;
  }

  double* a() { return a_.data(); }
  const double* b() const { return b_.data(); }
  const double* c() const { return c_.data(); }

 private:
  std::vector<double> a_, b_, c_;
};

inline double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

}  // namespace zolt::bench
