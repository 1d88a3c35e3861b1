#pragma once
// The images the scene pass draws besides the model, generated in the
// program: the ground and logo image and the pointer sprite; and the size
// of the logo overlay for a window.

#include <cstdint>
#include <vector>

// The ground image: 256 x 128 RGBA texels, the first row the top of the
// image. The logo fills rows 0 .. 98 (its letters opaque, the rest
// transparent); every texel carries a floor pattern in its colour, which
// the translucent ground shows.
constexpr int kGroundImageWidth = 256;
constexpr int kGroundImageHeight = 128;
constexpr double kLogoRows = 98.5;
std::vector<uint8_t> groundImage();

// The pointer sprite: 16 x 16 luminance-alpha texels (two bytes each), an
// arrow with its tip at texel (0, 0): white inside a black outline, the
// rest transparent.
constexpr int kSpriteSize = 16;
std::vector<uint8_t> pointerSprite();

// The logo overlay in the lower right corner of a w x h window, in device
// units: width s (at most 0.9) and height s k with k = (w / h) 98.5 / 256,
// which keeps the logo's aspect on screen. A logo too high for the window
// is scaled down in one step to height 0.9. Sizes below 1 count as 1.
struct LogoExtent {
  float width;
  float height;
};
LogoExtent logoExtent(int w, int h);
