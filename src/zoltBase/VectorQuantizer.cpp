#include "VectorQuantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <utility>
#include <vector>

#include "ZoltAssert.h"

namespace {

// Scales v to unit length; a zero vector stays zero.
void scaleToUnit(double v[3]) {
  const double len2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  const double s = len2 > 0.0 ? 1.0 / std::sqrt(len2) : 0.0;
  for (int k = 0; k < 3; ++k) v[k] *= s;
}

// Unit length in single precision; an entry of length 0 stays 0.
void normalizeEntry(float* p) {
  const float len2 = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
  if (len2 > 0.0f) {
    const float s = 1.0f / std::sqrt(len2);
    for (int k = 0; k < 3; ++k) p[k] *= s;
  }
}

double project(const double a[3], const float* p) {
  return a[0] * static_cast<double>(p[0]) + a[1] * static_cast<double>(p[1]) +
         a[2] * static_cast<double>(p[2]);
}

// Mean and distortion of a cluster's members.
void computeStatistics(Cluster& c, const float* data) {
  double sum[3] = {0.0, 0.0, 0.0};
  for (uint32_t m = 0; m < c.count; ++m) {
    const float* p = data + 3 * static_cast<size_t>(c.members[m]);
    for (int k = 0; k < 3; ++k) sum[k] += static_cast<double>(p[k]);
  }
  const double scale = static_cast<double>(1.0f / static_cast<float>(c.count));
  for (int k = 0; k < 3; ++k) c.mean[k] = sum[k] * scale;
  double d = 0.0;
  for (uint32_t m = 0; m < c.count; ++m) {
    const float* p = data + 3 * static_cast<size_t>(c.members[m]);
    const double dx = c.mean[0] - p[0], dy = c.mean[1] - p[1], dz = c.mean[2] - p[2];
    d += dx * dx + dy * dy + dz * dz;
  }
  c.distortion = d;
}

// Keeps the work list ordered by distortion, largest first; a newcomer goes
// behind every cluster of greater or equal distortion.
void enqueue(std::vector<int>& work, const Cluster* clusters, int c) {
  const double d = clusters[c].distortion;
  auto pos = work.begin();
  while (pos != work.end() && !(clusters[*pos].distortion < d)) ++pos;
  work.insert(pos, c);
}

}  // namespace

VectorQuantizer::VectorQuantizer() : clusters(new Cluster[kMaxPaletteSize]) {
  std::printf("Loop Unrolling disabled\n");
  std::printf("Partial Searches enabled\n");
  std::fflush(stdout);
}

VectorQuantizer::~VectorQuantizer() { delete[] clusters; }

uint32_t VectorQuantizer::Quantize(uint8_t** indices, float** palette, const float* data,
                                   uint32_t nFloats) {
  int K = paletteSize;
  if (K < 2) {
    std::fprintf(stderr,
                 " (!!) Quantize() : At least 2 Quantization points need to be generated!\n");
    return 0;
  }
  ZOLT_ASSERT(K <= kMaxPaletteSize);
  const uint32_t n = nFloats / 3;
  if (n < static_cast<uint32_t>(K)) {
    std::fprintf(stderr,
                 " (!!) Quantize() : You cannot generate more quantization points than data "
                 "points!\n    Number of Quantization points was reduced to %i\n",
                 static_cast<int>(n));
    K = static_cast<int>(n);
    paletteSize = K;
  }
  // Nothing to quantize: a codebook of no entries could not hold cluster 0.
  if (n == 0) return 0;

  float* codebook = new float[3 * static_cast<size_t>(K)]();
  uint8_t* assignment = new uint8_t[n];
  *palette = codebook;
  *indices = assignment;
  std::vector<uint32_t> members(n);
  std::iota(members.begin(), members.end(), 0u);

  Cluster& all = clusters[0];
  all.members = members.data();
  all.count = n;
  computeStatistics(all, data);
  double total = all.distortion;
  std::vector<int> work;
  work.reserve(static_cast<size_t>(K));
  enqueue(work, clusters, 0);

  int c = 1;
  if (total > 0.0) {
    const double growthLimit = static_cast<double>(1.001f);
    double previous = total;
    while (c < K) {
      const int parent = work.front();
      work.erase(work.begin());
      Cluster& P = clusters[parent];
      double axis[3];
      LineFit(*this, axis, P.mean, data, P.count, P.members);
      const double t = axis[0] * P.mean[0] + axis[1] * P.mean[1] + axis[2] * P.mean[2];

      // Members with a . p <= t to the front, the others behind them.
      uint32_t* run = P.members;
      long front = 0, back = static_cast<long>(P.count) - 1;
      for (;;) {
        while (front < static_cast<long>(P.count) &&
               project(axis, data + 3 * size_t(run[front])) <= t)
          ++front;
        while (back >= 0 && project(axis, data + 3 * size_t(run[back])) > t) --back;
        if (back <= front) break;
        std::swap(run[front], run[back]);
      }
      // All members on one side (equal vectors): no cluster can be divided
      // any more, since this one has the largest distortion.
      if (front == 0 || front == static_cast<long>(P.count)) break;

      const double parentDistortion = P.distortion;
      Cluster& child = clusters[c];
      child.members = run + front;
      child.count = P.count - static_cast<uint32_t>(front);
      P.count = static_cast<uint32_t>(front);
      computeStatistics(P, data);
      computeStatistics(child, data);
      enqueue(work, clusters, parent);
      enqueue(work, clusters, c);
      total = P.distortion + child.distortion + (total - parentDistortion);
      ++c;
      std::printf("\r%i/%i", c, K);
      std::fflush(stdout);
      if (c >= K || total >= previous * growthLimit) break;
      previous = total;
    }
  }
  std::printf("\n");
  std::fflush(stdout);

  for (int j = 0; j < c; ++j) {
    const Cluster& cl = clusters[j];
    for (uint32_t m = 0; m < cl.count; ++m) assignment[cl.members[m]] = static_cast<uint8_t>(j);
  }
  for (int j = 0; j < c; ++j) {
    float* p = codebook + 3 * j;
    for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(clusters[j].mean[k]);
    if (normalize) normalizeEntry(p);
    if (pack)
      for (int k = 0; k < 3; ++k) p[k] = p[k] * 0.5f + 0.5f;
  }
  // The member array ends here.
  for (int j = 0; j < kMaxPaletteSize; ++j) clusters[j].members = nullptr;

  if (verbose) {
    std::fprintf(stderr, "%i %iD-Vectors quantized.\n", static_cast<int>(n), 3);
    std::fprintf(stderr, "%i Quantization points generated.\n", c);
    std::fprintf(stderr, normalize ? "Palette was normalized.\n" : "Palette was not normalized.\n");
    std::fprintf(stderr, pack ? "Palette was packed.\n" : "Palette was not packed.\n");
    std::fprintf(stderr, "MSE=%.6f\n", total / static_cast<double>(n));
    std::fflush(stderr);
  }
  return static_cast<uint32_t>(c);
}

double VectorQuantizer::refine(uint8_t* indices, float* palette, const float* data,
                               uint32_t nFloats, uint32_t width) {
  const int K = paletteSize;
  ZOLT_ASSERT(K <= kMaxPaletteSize);
  const uint32_t n = nFloats / 3;
  const int u = static_cast<int>(nFloats / 3072);
  std::vector<uint32_t> counter(static_cast<size_t>(std::max(K, 0)), 0u);
  std::vector<float> sums(3 * counter.size(), 0.0f);
  if (pack)
    for (int i = 0; i < 3 * K; ++i) palette[i] = 2.0f * palette[i] - 1.0f;

  // w nearest other entries of every entry, in list-slot order.
  const int w = width >= 2
                    ? static_cast<int>(std::min<uint32_t>(width, static_cast<uint32_t>(K / 2)))
                    : static_cast<int>(width);
  std::vector<int> neighbours;
  if (w >= 2) {
    neighbours.resize(static_cast<size_t>(K) * w);
    std::vector<float> D(static_cast<size_t>(K));
    for (int j = 0; j < K; ++j) {
      const float* pj = palette + 3 * j;
      for (int i = 0; i < K; ++i) {
        const float* pi = palette + 3 * i;
        const float dx = pj[0] - pi[0], dy = pj[1] - pi[1], dz = pj[2] - pi[2];
        D[i] = (dx * dx + dy * dy) + dz * dz;
      }
      D[j] = 1e9f;
      int* list = &neighbours[static_cast<size_t>(j) * w];
      auto farthestSlot = [&] {
        int slot = 0;
        for (int s = 1; s < w; ++s)
          if (D[list[s]] > D[list[slot]]) slot = s;
        return slot;
      };
      for (int s = 0; s < w; ++s) list[s] = s;
      int far = farthestSlot();
      for (int i = w; i < K; ++i)
        if (D[i] < D[list[far]]) {
          list[far] = i;
          far = farthestSlot();
        }
    }
  }

  for (uint32_t x = 0; x < n; ++x) {
    const float* p = data + 3 * static_cast<size_t>(x);
    const int current = indices[x];
    const float* pc = palette + 3 * current;
    const float cx = pc[0] - p[0], cy = pc[1] - p[1], cz = pc[2] - p[2];
    double best = static_cast<double>(cx * cx + cy * cy + cz * cz);
    int chosen = current;
    auto consider = [&](int e) {
      const float* q = palette + 3 * e;
      const float dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
      double s = static_cast<double>(dx * dx) + static_cast<double>(dy * dy);
      // Partial search: the first two terms already exceed the best.
      if (s > best) return;
      s += static_cast<double>(dz * dz);
      if (s < best) {
        best = s;
        chosen = e;
      }
    };
    if (w >= 2) {
      const int* list = &neighbours[static_cast<size_t>(current) * w];
      for (int s = 0; s < w; ++s) consider(list[s]);
    } else {
      for (int e = 0; e < K; ++e) consider(e);
    }
    ++counter[chosen];
    for (int k = 0; k < 3; ++k) sums[3 * chosen + k] += p[k];
    indices[x] = static_cast<uint8_t>(chosen);
    if (x % 1024 == 0) std::printf("\r%iK/%iK", static_cast<int>(x / 1024), u);
  }
  std::printf("\r%iK/%iK\n", u, u);
  std::fflush(stdout);

  for (int j = 0; j < K; ++j) {
    float* pj = palette + 3 * j;
    if (counter[j] != 0) {
      const double f = 1.0 / static_cast<double>(counter[j]);
      for (int k = 0; k < 3; ++k) pj[k] = static_cast<float>(sums[3 * j + k] * f);
    } else {
      pj[0] = pj[1] = pj[2] = 0.0f;
    }
    if (normalize) normalizeEntry(pj);
  }

  double error = 0.0;
  for (uint32_t x = 0; x < n; ++x) {
    const float* p = data + 3 * static_cast<size_t>(x);
    const float* q = palette + 3 * indices[x];
    const float dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
    error += static_cast<double>(dx * dx + dy * dy + dz * dz);
  }

  if (pack)
    for (int i = 0; i < 3 * K; ++i) palette[i] = palette[i] * 0.5f + 0.5f;
  if (verbose) {
    std::fprintf(stderr,
                 normalize ? "Palette was re-normalized.\n" : "Palette was not re-normalized.\n");
    std::fprintf(stderr, pack ? "Palette was re-packed.\n" : "Palette was not re-packed.\n");
    std::fprintf(stderr, "MSE=%.6f\n", n > 0 ? error / static_cast<double>(n) : 0.0);
    std::fflush(stderr);
  }
  return error;
}

void LineFit(VectorQuantizer& q, double axis[3], const double mean[3], const float* data,
             uint32_t count, const uint32_t* memberIndices) {
  double(&S)[3][3] = q.scatter;
  for (auto& row : S)
    for (double& s : row) s = 0.0;
  for (uint32_t m = 0; m < count; ++m) {
    const float* p = data + 3 * static_cast<size_t>(memberIndices[m]);
    const double d[3] = {p[0] - mean[0], p[1] - mean[1], p[2] - mean[2]};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) S[r][c] += d[r] * d[c];
  }

  // Start from the longest row; the lower row wins ties.
  int start = 0;
  double startLen2 = S[0][0] * S[0][0] + S[0][1] * S[0][1] + S[0][2] * S[0][2];
  for (int r = 1; r < 3; ++r) {
    const double len2 = S[r][0] * S[r][0] + S[r][1] * S[r][1] + S[r][2] * S[r][2];
    if (len2 > startLen2) {
      start = r;
      startLen2 = len2;
    }
  }
  double a[3] = {S[start][0], S[start][1], S[start][2]};
  scaleToUnit(a);

  const double tolerance = static_cast<double>(0.01f);
  constexpr int kMaxRounds = 15;
  for (int round = 1; round <= kMaxRounds; ++round) {
    double next[3];
    for (int r = 0; r < 3; ++r) next[r] = S[r][0] * a[0] + S[r][1] * a[1] + S[r][2] * a[2];
    scaleToUnit(next);
    const double dx = a[0] - next[0], dy = a[1] - next[1], dz = a[2] - next[2];
    const bool converged = dx * dx + dy * dy + dz * dz <= tolerance;
    for (int k = 0; k < 3; ++k) a[k] = next[k];
    if (converged && round < kMaxRounds) {
      for (int k = 0; k < 3; ++k) axis[k] = a[k];
      return;
    }
  }
  std::printf("Too many iterations in routine LineFit");
  std::fflush(stdout);
  for (int k = 0; k < 3; ++k) axis[k] = a[k];
}

int nextSearchWidth(int width, double ratio) {
  if (ratio < 1.05) width += 1 + static_cast<int>((1.05 - ratio) * 100.0);
  return width;
}
