// Fur texels against hand-worked strand profiles from scripted draws, the
// packing against byte order, shells against closed forms, the limits.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FurShells.h"

namespace {

// Hands out the given draws in order; counts them.
struct Script {
  std::vector<float> draws;
  size_t used = 0;
  FurRandom random() {
    return [this] { return used < draws.size() ? draws[used++] : 0.0f; };
  }
};

float shade(int i, int layers) {  // the inner-layer darkening by hand
  const double x = std::max(1.0 - 2.0 * i / (layers - 1), 0.0);
  return float(1.0 - 0.7 * std::pow(x, 1.5));
}

TEST(FurShells, TexelColumnFollowsTheStrandProfile) {
  const struct {
    const char* what;
    bool fromTexture;
    std::vector<float> draws;  // [green, blue,] brightness test, brightness, height
    float rgb[3];              // before shading
    std::vector<float> alpha;  // per layer of 8, then zeros
  } rows[] = {
      {"one-layer strand", false, {0.5f, 0.0f, 0.5f, 1.0f, 0.0f}, {1.0f, 0.7f, 0.2f}, {0.15f}},
      {"two-layer strand", true, {0.1f, 0.5f, 0.55f}, {0.3f, 0.3f, 0.3f}, {1.0f, 0.15f}},
      {"full height",
       false,
       {0.0f, 1.0f, 0.9f, 0.0f, 0.99f},
       {0.7f, 0.42f, 0.35f},
       {1, 1, 1, 1, 1 - 0.85f * 0.0625f, 1 - 0.85f * 0.25f, 1 - 0.85f * 0.5625f, 0.15f}},
  };
  for (const auto& row : rows) {
    Script script{row.draws};
    float out[4 * 8];
    furTexelColumn(8, row.fromTexture, script.random(), out);
    EXPECT_EQ(script.used, row.draws.size()) << row.what;
    for (int i = 0; i < 8; ++i) {
      EXPECT_NEAR(out[4 * i], i < int(row.alpha.size()) ? row.alpha[i] : 0.0f, 1e-5)
          << row.what << " layer " << i;
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(out[4 * i + 1 + c], row.rgb[c] * shade(i, 8), 1e-5) << row.what << " " << i;
    }
  }
}

// Alpha in the top byte: BGRA in memory, as GL_BGRA / GL_UNSIGNED_BYTE reads
// it on this machine. No layers draw nothing.
TEST(FurShells, PackingAndTheEmptyCases) {
  const float argb[4] = {1.0f, 0.5f, 0.25f, 0.0f};
  const uint32_t word = packFurTexel(argb);
  uint8_t bytes[4];
  std::memcpy(bytes, &word, 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0x00, 0x3f, 0x7f, 0xff}));
  Script script{{0.5f}};
  EXPECT_TRUE(furLayerTexels(128, 0, false, script.random()).empty() && script.used == 0);
  EXPECT_EQ(furLayerShade(0, 1), 1.0f);
}

TEST(FurShells, ShellsByLayer) {
  const float g[3] = {0.0f, -9.81f, 0.0f};
  const struct {
    uint32_t k, layers;
    float distance;
    uint32_t texture;
  } rows[] = {{1, 1, 0.2f, 0}, {16, 16, 0.2f, 15}, {8, 16, 0.1f, 8}, {1, 16, 0.0125f, 1}};
  for (const auto& r : rows) {
    const FurShell s = furShell(r.k, r.layers, 0.2f, g);
    const float t = float(r.k) / r.layers;
    EXPECT_FLOAT_EQ(s.distance, r.distance);
    EXPECT_EQ(s.layerTexture, r.texture);
    EXPECT_FLOAT_EQ(s.motionInfluence, 3 * t * t);
    EXPECT_FLOAT_EQ(s.gravity[1], -9.81f * 0.375f * r.distance * r.distance);
    EXPECT_EQ(s.gravity[0] + s.gravity[2], 0.0f);
  }
}

TEST(FurShells, AdjustmentsStopAtTheirLimits) {
  FurParameters p;
  p.layerCount = 50;
  EXPECT_FALSE(p.addLayer() || p.layerCount != 50u);
  p.layerCount = 0;
  EXPECT_FALSE(p.removeLayer() || p.layerCount != 0u);
  for (int i = 0; i < 30; ++i) p.scaleLength(1.1f);
  EXPECT_EQ(p.furLength, 0.4f);
}

}  // namespace
