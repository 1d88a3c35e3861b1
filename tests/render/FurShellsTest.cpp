// Fur texels against the strand profile worked out by hand from scripted
// random draws, the packing against byte order, shells against closed forms
// and the adjustment limits.

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
    std::vector<float> alpha;  // per layer of 8
  } rows[] = {
      {"one-layer strand",
       false,
       {0.5f, 0.0f, 0.5f, 1.0f, 0.0f},
       {1.0f, 0.7f, 0.2f},
       {0.15f, 0, 0, 0, 0, 0, 0, 0}},
      {"two-layer strand",
       true,
       {0.1f, 0.5f, 0.55f},
       {0.3f, 0.3f, 0.3f},
       {1.0f, 0.15f, 0, 0, 0, 0, 0, 0}},
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
      EXPECT_NEAR(out[4 * i], row.alpha[i], 1e-5) << row.what << " layer " << i;
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(out[4 * i + 1 + c], row.rgb[c] * shade(i, 8), 1e-5) << row.what << " " << i;
    }
  }
}

}  // namespace
