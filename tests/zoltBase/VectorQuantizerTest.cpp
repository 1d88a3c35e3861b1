#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Capture.h"
#include "VectorQuantizer.h"

namespace {

using Output = zolt::test::CapturedOutput;

template <class F>
Output capture(F f) {
  return zolt::test::captureBoth(f);
}

// Quantizer built silently, not verbose.
std::unique_ptr<VectorQuantizer> quietQuantizer(int paletteSize) {
  std::unique_ptr<VectorQuantizer> q;
  capture([&] { q = std::make_unique<VectorQuantizer>(); });
  q->verbose = 0;
  q->paletteSize = paletteSize;
  return q;
}

std::vector<float> alongX(const std::vector<float>& xs) {
  std::vector<float> data;
  for (float x : xs) data.insert(data.end(), {x, 0.0f, 0.0f});
  return data;
}

double squaredDistance(const float* a, const float* b) {
  double s = 0.0;
  for (int k = 0; k < 3; ++k) s += (double(a[k]) - b[k]) * (double(a[k]) - b[k]);
  return s;
}

// Total squared error of an assignment, in double.
double totalError(const std::vector<float>& data, const uint8_t* indices, const float* palette) {
  double e = 0.0;
  for (size_t x = 0; x < data.size() / 3; ++x)
    e += squaredDistance(&data[3 * x], palette + 3 * indices[x]);
  return e;
}

// Points around 12 random centres, plus uniform noise.
std::vector<float> gaussianMixture(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> centre(-50.0f, 50.0f);
  std::normal_distribution<float> spread(0.0f, 4.0f);
  std::vector<float> centres(36);
  for (float& c : centres) c = centre(rng);
  std::vector<float> data;
  for (int i = 0; i < n; ++i) {
    const int c = i % 12;
    for (int k = 0; k < 3; ++k) data.push_back(centres[3 * c + k] + spread(rng));
  }
  return data;
}

struct Codebook {
  uint8_t* indices = nullptr;
  float* palette = nullptr;
  ~Codebook() {
    delete[] indices;
    delete[] palette;
  }
};

}  // namespace

// ---------------------------------------------------------------- construction

TEST(VectorQuantizer, ConstructionAnnouncesSearchAndSetsDefaults) {
  std::unique_ptr<VectorQuantizer> q;
  const Output o = capture([&] { q = std::make_unique<VectorQuantizer>(); });
  EXPECT_EQ(o.out, "Loop Unrolling disabled\nPartial Searches enabled\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(q->normalize, 0);
  EXPECT_EQ(q->pack, 0);
  EXPECT_EQ(q->verbose, 1);
  EXPECT_EQ(q->paletteSize, 256);
}

// ---------------------------------------------------------------- Quantize

TEST(VectorQuantizerQuantize, RefusesFewerThanTwoEntries) {
  auto q = quietQuantizer(1);
  const std::vector<float> data = alongX({0, 1, 2});
  uint8_t* indices = nullptr;
  float* palette = nullptr;
  uint32_t produced = 99;
  const Output o = capture([&] { produced = q->Quantize(&indices, &palette, data.data(), 9); });
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(o.err, " (!!) Quantize() : At least 2 Quantization points need to be generated!\n");
  EXPECT_EQ(indices, nullptr);
  EXPECT_EQ(palette, nullptr);
}

TEST(VectorQuantizerQuantize, LowersTheSizeToTheNumberOfVectors) {
  auto q = quietQuantizer(8);
  const std::vector<float> data = alongX({0, 4, 9});
  Codebook cb;
  uint32_t produced = 0;
  const Output o =
      capture([&] { produced = q->Quantize(&cb.indices, &cb.palette, data.data(), 9); });
  EXPECT_EQ(o.err,
            " (!!) Quantize() : You cannot generate more quantization points than data points!\n"
            "    Number of Quantization points was reduced to 3\n");
  EXPECT_EQ(q->paletteSize, 3);
  EXPECT_EQ(produced, 3u);
  // Three distinct vectors, three entries: each vector is its own entry.
  for (int x = 0; x < 3; ++x) EXPECT_EQ(cb.palette[3 * cb.indices[x]], data[3 * x]);
}

TEST(VectorQuantizerQuantize, NoVectorsHandsOutNothing) {
  // Sound behaviour: no vectors leave no room for even one entry.
  auto q = quietQuantizer(8);
  uint8_t* indices = nullptr;
  float* palette = nullptr;
  uint32_t produced = 99;
  const Output o = capture([&] { produced = q->Quantize(&indices, &palette, nullptr, 0); });
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(q->paletteSize, 0);
  EXPECT_EQ(indices, nullptr);
  EXPECT_EQ(palette, nullptr);
  EXPECT_NE(o.err.find("reduced to 0\n"), std::string::npos);
}

TEST(VectorQuantizerQuantize, CutsAClusterOnALineAtItsMean) {
  auto q = quietQuantizer(2);
  // Mean 3.25: the three vectors at or below it keep cluster 0.
  const std::vector<float> data = alongX({10, 0, 2, 1});
  Codebook cb;
  capture([&] { EXPECT_EQ(q->Quantize(&cb.indices, &cb.palette, data.data(), 12), 2u); });
  EXPECT_EQ(std::vector<int>(cb.indices, cb.indices + 4), (std::vector<int>{1, 0, 0, 0}));
  EXPECT_FLOAT_EQ(cb.palette[0], 1.0f);
  EXPECT_FLOAT_EQ(cb.palette[3], 10.0f);
}

TEST(VectorQuantizerQuantize, SplitsTheLargestDistortionFirst) {
  auto q = quietQuantizer(3);
  // First cut at the mean 62.6; {100, 104, 108} (distortion 32) then splits
  // before {0, 1} (0.5): its upper part becomes cluster 2.
  const std::vector<float> data = alongX({0, 1, 100, 104, 108});
  Codebook cb;
  capture([&] { EXPECT_EQ(q->Quantize(&cb.indices, &cb.palette, data.data(), 15), 3u); });
  EXPECT_EQ(std::vector<int>(cb.indices, cb.indices + 5), (std::vector<int>{0, 0, 1, 1, 2}));
  EXPECT_FLOAT_EQ(cb.palette[0], 0.5f);
  EXPECT_FLOAT_EQ(cb.palette[3], 102.0f);
  EXPECT_FLOAT_EQ(cb.palette[6], 108.0f);
}

TEST(VectorQuantizerQuantize, EqualDistortionsSplitInOrderOfEntry) {
  auto q = quietQuantizer(3);
  // Both halves have distortion 2; cluster 0 entered the list first.
  const std::vector<float> data = alongX({0, 2, 10, 12});
  Codebook cb;
  capture([&] { q->Quantize(&cb.indices, &cb.palette, data.data(), 12); });
  EXPECT_EQ(std::vector<int>(cb.indices, cb.indices + 4), (std::vector<int>{0, 2, 1, 1}));
}

TEST(VectorQuantizerQuantize, StopsWhenNoClusterCanBeDivided) {
  auto q = quietQuantizer(4);
  const std::vector<float> data = alongX({0, 5, 0, 5, 0});
  Codebook cb;
  capture([&] { EXPECT_EQ(q->Quantize(&cb.indices, &cb.palette, data.data(), 15), 2u); });
  EXPECT_EQ(std::vector<int>(cb.indices, cb.indices + 5), (std::vector<int>{0, 1, 0, 1, 0}));
  // Entries that were not produced hold (0, 0, 0).
  for (int i = 6; i < 12; ++i) EXPECT_EQ(cb.palette[i], 0.0f);

  auto same = quietQuantizer(4);
  const std::vector<float> equal = {1, 2, 3, 1, 2, 3, 1, 2, 3};
  Codebook one;
  capture([&] { EXPECT_EQ(same->Quantize(&one.indices, &one.palette, equal.data(), 9), 1u); });
  EXPECT_EQ(std::vector<int>(one.indices, one.indices + 3), (std::vector<int>{0, 0, 0}));
  EXPECT_FLOAT_EQ(one.palette[1], 2.0f);
}

TEST(VectorQuantizerQuantize, VerboseStatisticsAndProgress) {
  auto q = quietQuantizer(2);
  q->verbose = 1;
  // Halves {0, 2} and {10, 12}: total distortion 4 over 4 vectors.
  const std::vector<float> data = alongX({0, 2, 10, 12});
  Codebook cb;
  const Output o = capture([&] { q->Quantize(&cb.indices, &cb.palette, data.data(), 12); });
  EXPECT_EQ(o.out, "\r2/2\n");
  EXPECT_EQ(o.err,
            "4 3D-Vectors quantized.\n2 Quantization points generated.\n"
            "Palette was not normalized.\nPalette was not packed.\nMSE=1.000000\n");
}

TEST(VectorQuantizerQuantize, NormalizedAndPackedPalette) {
  auto q = quietQuantizer(2);
  q->verbose = 1;
  q->normalize = 1;
  q->pack = 1;
  const std::vector<float> data = {0, 3, 4, 0, 3, 4, 10, 0, 0, 12, 0, 0};
  Codebook cb;
  const Output o = capture([&] { q->Quantize(&cb.indices, &cb.palette, data.data(), 12); });
  EXPECT_EQ(o.err,
            "4 3D-Vectors quantized.\n2 Quantization points generated.\n"
            "Palette was normalized.\nPalette was packed.\nMSE=0.500000\n");
  // (0, 0.6, 0.8) and (1, 0, 0), each packed as p / 2 + 1/2.
  const int low = cb.indices[0], high = cb.indices[2];
  EXPECT_NE(low, high);
  EXPECT_FLOAT_EQ(cb.palette[3 * low + 0], 0.5f);
  EXPECT_FLOAT_EQ(cb.palette[3 * low + 1], 0.8f);
  EXPECT_FLOAT_EQ(cb.palette[3 * low + 2], 0.9f);
  EXPECT_FLOAT_EQ(cb.palette[3 * high + 0], 1.0f);
  EXPECT_FLOAT_EQ(cb.palette[3 * high + 1], 0.5f);
  EXPECT_FLOAT_EQ(cb.palette[3 * high + 2], 0.5f);
}

// ---------------------------------------------------------------- refine

TEST(VectorQuantizerRefine, NeverIncreasesTheError) {
  const std::vector<float> data = gaussianMixture(3000, 7);
  const uint32_t nFloats = static_cast<uint32_t>(data.size());
  for (int K : {3, 32, 256}) {
    auto q = quietQuantizer(K);
    Codebook cb;
    capture([&] { q->Quantize(&cb.indices, &cb.palette, data.data(), nFloats); });
    double before = totalError(data, cb.indices, cb.palette);
    for (uint32_t width : {2u, 2u, 3u, 8u, 31u, 1u}) {
      double returned = 0.0;
      capture([&] { returned = q->refine(cb.indices, cb.palette, data.data(), nFloats, width); });
      const double after = totalError(data, cb.indices, cb.palette);
      EXPECT_NEAR(returned, after, 1e-5 * after) << "K " << K;
      EXPECT_LE(after, before * (1.0 + 1e-6)) << "K " << K << " width " << width;
      before = after;
    }
  }
}

TEST(VectorQuantizerRefine, MovesToTheNearestNeighbourThenToTheMeans) {
  const std::vector<float> data = gaussianMixture(2000, 11);
  const uint32_t nFloats = static_cast<uint32_t>(data.size());
  const int K = 40;
  for (uint32_t width : {1u, 4u, 9u}) {
    auto q = quietQuantizer(K);
    Codebook cb;
    capture([&] { q->Quantize(&cb.indices, &cb.palette, data.data(), nFloats); });
    // Perturb, so that vectors do move.
    for (int i = 0; i < 3 * K; ++i) cb.palette[i] += (i % 7 - 3) * 0.8f;
    const std::vector<float> old(cb.palette, cb.palette + 3 * K);
    const std::vector<uint8_t> oldIndices(cb.indices, cb.indices + data.size() / 3);
    capture([&] { q->refine(cb.indices, cb.palette, data.data(), nFloats, width); });

    // Brute-force candidates: the old entry and its `width` nearest others
    // (every entry for a width below 2).
    int moved = 0;
    for (size_t x = 0; x < data.size() / 3; ++x) {
      const int k = oldIndices[x];
      std::vector<int> candidates;
      for (int e = 0; e < K; ++e) candidates.push_back(e);
      if (width >= 2) {
        std::stable_sort(candidates.begin(), candidates.end(), [&](int a, int b) {
          const double da = a == k ? 1e300 : squaredDistance(&old[3 * a], &old[3 * k]);
          const double db = b == k ? 1e300 : squaredDistance(&old[3 * b], &old[3 * k]);
          return da < db;
        });
        candidates.resize(width);
        candidates.push_back(k);
      }
      double best = 1e300;
      for (int e : candidates) best = std::min(best, squaredDistance(&data[3 * x], &old[3 * e]));
      const int chosen = cb.indices[x];
      EXPECT_NE(std::find(candidates.begin(), candidates.end(), chosen), candidates.end());
      EXPECT_NEAR(squaredDistance(&data[3 * x], &old[3 * chosen]), best, 1e-4 * (1.0 + best));
      moved += chosen != k;
    }
    EXPECT_GT(moved, 0);

    // Every entry is the mean of its vectors, or (0, 0, 0) without any.
    for (int j = 0; j < K; ++j) {
      double sum[3] = {0, 0, 0};
      int count = 0;
      for (size_t x = 0; x < data.size() / 3; ++x)
        if (cb.indices[x] == j) {
          for (int c = 0; c < 3; ++c) sum[c] += data[3 * x + c];
          ++count;
        }
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(cb.palette[3 * j + c], count ? sum[c] / count : 0.0, 1e-3);
    }
  }
}

TEST(VectorQuantizerRefine, EntryWithoutVectorsMovesToTheOrigin) {
  auto q = quietQuantizer(3);
  const std::vector<float> data = alongX({1, 2, 11, 12});
  std::vector<uint8_t> indices = {0, 0, 1, 1};
  std::vector<float> palette = {1.5f, 0, 0, 11.5f, 0, 0, 100.0f, 7.0f, 7.0f};
  double e = -1.0;
  capture([&] { e = q->refine(indices.data(), palette.data(), data.data(), 12, 2); });
  EXPECT_EQ(palette[6], 0.0f);
  EXPECT_EQ(palette[7], 0.0f);
  EXPECT_EQ(palette[8], 0.0f);
  EXPECT_DOUBLE_EQ(e, 1.0);
}

TEST(VectorQuantizerRefine, UnpacksAndRepacksThePalette) {
  auto q = quietQuantizer(2);
  q->pack = 1;
  q->verbose = 1;
  const std::vector<float> data = alongX({0, 2, 10, 12});
  std::vector<uint8_t> indices = {0, 0, 1, 1};
  // Packed (1, 0, 0) and (11, 0, 0).
  std::vector<float> palette = {1.0f, 0.5f, 0.5f, 6.0f, 0.5f, 0.5f};
  double e = -1.0;
  const Output o =
      capture([&] { e = q->refine(indices.data(), palette.data(), data.data(), 12, 2); });
  EXPECT_DOUBLE_EQ(e, 4.0);
  EXPECT_EQ(palette, (std::vector<float>{1.0f, 0.5f, 0.5f, 6.0f, 0.5f, 0.5f}));
  EXPECT_EQ(indices, (std::vector<uint8_t>{0, 0, 1, 1}));
  EXPECT_EQ(o.err, "Palette was not re-normalized.\nPalette was re-packed.\nMSE=1.000000\n");
}

TEST(VectorQuantizerRefine, RenormalizesEntries) {
  auto q = quietQuantizer(2);
  q->normalize = 1;
  q->verbose = 1;
  const std::vector<float> data = {0, 3, 4, 0, 6, 8, 5, 0, 0};
  std::vector<uint8_t> indices = {0, 0, 1};
  std::vector<float> palette = {0, 0.6f, 0.8f, 1, 0, 0};
  const Output o = capture([&] { q->refine(indices.data(), palette.data(), data.data(), 9, 2); });
  EXPECT_FLOAT_EQ(palette[1], 0.6f);
  EXPECT_FLOAT_EQ(palette[2], 0.8f);
  EXPECT_FLOAT_EQ(palette[3], 1.0f);
  EXPECT_EQ(o.err.rfind("Palette was re-normalized.\nPalette was not re-packed.\nMSE=37.66666", 0),
            0u);
}

TEST(VectorQuantizerRefine, ProgressEvery1024Vectors) {
  auto q = quietQuantizer(4);
  const std::vector<float> data = gaussianMixture(2500, 3);
  Codebook cb;
  capture([&] { q->Quantize(&cb.indices, &cb.palette, data.data(), 7500); });
  const Output o = capture([&] { q->refine(cb.indices, cb.palette, data.data(), 7500, 2); });
  EXPECT_EQ(o.out, "\r0K/2K\r1K/2K\r2K/2K\r2K/2K\n");
  EXPECT_EQ(o.err, "");
}

// ---------------------------------------------------------------- LineFit

TEST(VectorQuantizerLineFit, AxisOfVectorsOnALine) {
  auto q = quietQuantizer(2);
  const std::vector<float> zs = {0, 0, -2, 0, 0, 1, 0, 0, 5};
  const std::vector<uint32_t> all = {0, 1, 2};
  const double mean[3] = {0, 0, 4.0 / 3.0};
  double axis[3];
  const Output o = capture([&] { LineFit(*q, axis, mean, zs.data(), 3, all.data()); });
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(axis[0], 0.0);
  EXPECT_EQ(axis[1], 0.0);
  EXPECT_DOUBLE_EQ(axis[2], 1.0);

  // Direction (1, 2, 2) / 3, from two of three vectors.
  const std::vector<float> diagonal = {9, 9, 9, 1, 2, 2, -2, -4, -4};
  const std::vector<uint32_t> two = {1, 2};
  const double centre[3] = {-0.5, -1.0, -1.0};
  capture([&] { LineFit(*q, axis, centre, diagonal.data(), 2, two.data()); });
  EXPECT_NEAR(axis[0], 1.0 / 3.0, 1e-12);
  EXPECT_NEAR(axis[1], 2.0 / 3.0, 1e-12);
  EXPECT_NEAR(axis[2], 2.0 / 3.0, 1e-12);
}

TEST(VectorQuantizerLineFit, EqualVectorsGiveNoAxis) {
  auto q = quietQuantizer(2);
  const std::vector<float> data = {1, 2, 3, 1, 2, 3};
  const std::vector<uint32_t> all = {0, 1};
  const double mean[3] = {1, 2, 3};
  double axis[3] = {9, 9, 9};
  const Output o = capture([&] { LineFit(*q, axis, mean, data.data(), 2, all.data()); });
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(axis[0], 0.0);
  EXPECT_EQ(axis[1], 0.0);
  EXPECT_EQ(axis[2], 0.0);
}

TEST(VectorQuantizerLineFit, ReportsTheIterationCap) {
  // A non-finite vector never converges.
  auto q = quietQuantizer(2);
  const std::vector<float> data = {std::numeric_limits<float>::quiet_NaN(), 0, 0, 1, 0, 0};
  const std::vector<uint32_t> all = {0, 1};
  const double mean[3] = {0.5, 0, 0};
  double axis[3];
  const Output o = capture([&] { LineFit(*q, axis, mean, data.data(), 2, all.data()); });
  EXPECT_EQ(o.out, "Too many iterations in routine LineFit");
}

// ---------------------------------------------------------------- search width

TEST(VectorQuantizerWidth, WidensWhenPassesStopPayingOff) {
  EXPECT_EQ(nextSearchWidth(2, 1.0), 8);
  EXPECT_EQ(nextSearchWidth(2, 1.04), 4);
  EXPECT_EQ(nextSearchWidth(5, 1.05), 5);
  EXPECT_EQ(nextSearchWidth(5, 3.0), 5);
  EXPECT_EQ(nextSearchWidth(2, 0.5), 58);
}

TEST(VectorQuantizerDeathTest, PaletteBeyondTheClusterArrayStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<float> data(3 * 300, 1.0f);
  EXPECT_DEATH(
      {
        auto q = quietQuantizer(257);
        uint8_t* indices = nullptr;
        float* palette = nullptr;
        q->Quantize(&indices, &palette, data.data(), 900);
      },
      "Assertion `K <= kMaxPaletteSize' failed.");
}
