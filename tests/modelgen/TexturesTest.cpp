#include <gtest/gtest.h>

#include <cmath>

#include "Textures.h"

using namespace zolt::modelgen;

TEST(Textures, NoiseTilesWithItsPeriodAndIsContinuous) {
  double low = 1.0, high = 0.0, steepest = 0.0, shifted = 0.0;
  for (int period : {1, 4, 7})
    for (double x = -3.0; x < 3.0; x += 0.173)
      for (double y = -2.0; y < 2.0; y += 0.211) {
        const double v = valueNoise(x, y, period, 5u);
        shifted =
            std::max(shifted, std::abs(v - valueNoise(x + period, y - 2 * period, period, 5u)));
        low = std::min(low, v);
        high = std::max(high, v);
        steepest = std::max(steepest, std::abs(valueNoise(x + 1e-4, y, period, 5u) - v) / 1e-4);
      }
  EXPECT_LT(shifted, 1e-12);
  EXPECT_GE(low, 0.0);
  EXPECT_LT(high, 1.0);
  EXPECT_GT(high - low, 0.3);  // not flat
  EXPECT_LT(steepest, 3.0);    // smooth across cell borders
}

TEST(Textures, FurIsBareOnlyAtTheEyesAndTheNose) {
  const SideView view{-0.6, 0.6, 0.0, 1.2};  // 0.01 per texel of 120
  const Image fur = furTexture(120, view);
  ASSERT_EQ(fur.pixels.size(), 120u * 120u * 4u);
  auto alphaAt = [&](double x, double y) {
    const int col = static_cast<int>((x - view.x0) / 0.01), row = static_cast<int>(y / 0.01);
    return fur.pixels[(static_cast<size_t>(row) * 120 + col) * 4 + 3];
  };
  EXPECT_EQ(alphaAt(0.47, 0.73), 0);    // eye
  EXPECT_EQ(alphaAt(0.565, 0.645), 0);  // nose
  int bare = 0;
  for (size_t i = 3; i < fur.pixels.size(); i += 4) bare += fur.pixels[i] == 0;
  EXPECT_GT(bare, 0);
  EXPECT_LT(bare, 0.01 * 120 * 120);
  EXPECT_EQ(meshTexture(64).pixels.size(), 64u * 64u * 3u);
}
