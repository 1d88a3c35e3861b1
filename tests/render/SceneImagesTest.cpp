// Generated scene images by their properties, and the logo size for every
// window: it fits, keeps the image's aspect on screen and is found in one
// step (a repeated rescale can stall one rounding step above its bound).

#include <gtest/gtest.h>

#include <cmath>

#include "SceneImages.h"

namespace {

TEST(SceneImages, PointerSpriteIsAWhiteArrowClosedByItsOutline) {
  const std::vector<uint8_t> la = pointerSprite();
  ASSERT_EQ(la.size(), 2u * kSpriteSize * kSpriteSize);
  auto lum = [&](int x, int y) { return la[2 * (y * kSpriteSize + x)]; };
  auto alpha = [&](int x, int y) { return la[2 * (y * kSpriteSize + x) + 1]; };
  EXPECT_EQ(alpha(0, 0), 255);  // the tip is at the pointer
  int white = 0;
  for (int y = 0; y < kSpriteSize; ++y)
    for (int x = 0; x < kSpriteSize; ++x) {
      EXPECT_TRUE(alpha(x, y) == 0 || alpha(x, y) == 255);
      if (alpha(x, y) == 0 || lum(x, y) != 255) continue;
      ++white;
      // No white texel touches a transparent one or the border.
      const int d[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
      for (const auto& s : d) {
        const int nx = x + s[0], ny = y + s[1];
        ASSERT_TRUE(nx >= 0 && ny >= 0 && nx < kSpriteSize && ny < kSpriteSize);
        EXPECT_EQ(alpha(nx, ny), 255) << x << "," << y;
      }
    }
  EXPECT_GT(white, 30);
}

TEST(SceneImages, GroundImageShowsTheLogoOnlyInItsRows) {
  const std::vector<uint8_t> rgba = groundImage();
  ASSERT_EQ(rgba.size(), 4u * kGroundImageWidth * kGroundImageHeight);
  long opaque = 0, logoTexels = 0;
  int lo = 255, hi = 0;
  for (int y = 0; y < kGroundImageHeight; ++y)
    for (int x = 0; x < kGroundImageWidth; ++x) {
      const uint8_t* t = &rgba[4 * (y * kGroundImageWidth + x)];
      if (y < kLogoRows) ++logoTexels;
      if (t[3] > 0) {
        ++opaque;
        EXPECT_LT(y, kLogoRows) << "the overlay would cut this texel";
      } else {
        lo = std::min<int>(lo, t[1]);
        hi = std::max<int>(hi, t[1]);
      }
    }
  // Letters cover a fair part of the logo, and the floor has contrast.
  EXPECT_GT(opaque, logoTexels / 10);
  EXPECT_LT(opaque, logoTexels / 2);
  EXPECT_GT(hi - lo, 20);
}

TEST(SceneImages, LogoFitsEveryWindowAndKeepsItsAspect) {
  const double aspect = kGroundImageWidth / kLogoRows;
  for (int w = 50; w <= 6000; ++w)
    for (int h = 10; h <= 4000; ++h) {
      const LogoExtent e = logoExtent(w, h);
      // On screen: width e.width w / 2 pixels, height e.height h / 2.
      const double pixelAspect = (double(e.width) * w) / (double(e.height) * h);
      if (!(e.width > 0 && e.width <= 0.9f && e.height <= 0.9f + 1e-6f &&
            std::fabs(pixelAspect / aspect - 1) < 1e-5)) {
        ADD_FAILURE() << w << " x " << h << ": " << e.width << " x " << e.height;
        return;
      }
    }
  // The first guess (a fifth of w + h, at most 0.9) stands when it fits.
  const LogoExtent e = logoExtent(1024, 768);
  EXPECT_FLOAT_EQ(e.width, 1792 * 0.2f / 1024);
  EXPECT_FLOAT_EQ(logoExtent(1121, 100).height, 0.9f);
  EXPECT_GT(logoExtent(0, 0).width, 0.0f);
}

}  // namespace
