#include "SceneImages.h"

#include <algorithm>

namespace {

// 5 x 7 glyphs of the logo's letters, top row first, bit 4 the left column.
constexpr uint8_t kGlyphs[4][7] = {
    {0x1f, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1f},  // Z
    {0x0e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e},  // O
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f},  // L
    {0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // T
};
constexpr int kCell = 9;  // texels per glyph cell
constexpr int kShadowOffset = 3;

// Whether texel (x, y) of the logo's text block lies on a letter.
bool onLetter(int x, int y) {
  const int textWidth = (4 * 6 - 1) * kCell, textHeight = 7 * kCell;
  const int x0 = (kGroundImageWidth - textWidth) / 2;
  const int y0 = (static_cast<int>(kLogoRows) - textHeight) / 2;
  const int gx = (x - x0) / kCell, gy = (y - y0) / kCell;
  if (x < x0 || y < y0 || gx >= 4 * 6 - 1 || gy >= 7) return false;
  const int letter = gx / 6, column = gx % 6;
  return column < 5 && (kGlyphs[letter][gy] >> (4 - column) & 1);
}

}  // namespace

std::vector<uint8_t> groundImage() {
  std::vector<uint8_t> rgba(4 * kGroundImageWidth * kGroundImageHeight);
  for (int y = 0; y < kGroundImageHeight; ++y)
    for (int x = 0; x < kGroundImageWidth; ++x) {
      uint8_t* t = &rgba[4 * (y * kGroundImageWidth + x)];
      // Floor: 16-texel tiles in two blue-greys, darker towards the edges.
      const bool light = ((x / 16) + (y / 16)) % 2 == 0;
      const int dx = std::min(x, kGroundImageWidth - 1 - x),
                dy = std::min(y, kGroundImageHeight - 1 - y);
      const int shade = std::min(std::min(dx, dy), 24) * 2;
      const int base = (light ? 120 : 90) + shade;
      t[0] = static_cast<uint8_t>(base - 10);
      t[1] = static_cast<uint8_t>(base);
      t[2] = static_cast<uint8_t>(base + 20);
      t[3] = 0;
      if (onLetter(x, y)) {
        t[0] = 255;
        t[1] = 140;
        t[2] = 20;
        t[3] = 255;
      } else if (onLetter(x - kShadowOffset, y - kShadowOffset)) {
        t[0] = t[1] = t[2] = 25;
        t[3] = 200;
      }
    }
  return rgba;
}

std::vector<uint8_t> pointerSprite() {
  static const char* const kRows[kSpriteSize] = {
      "BB..............", "BWB.............", "BWWB............", "BWWWB...........",
      "BWWWWB..........", "BWWWWWB.........", "BWWWWWWB........", "BWWWWWWWB.......",
      "BWWWWWWWWB......", "BWWWWWBBBB......", "BWWBWWB.........", "BWB.BWWB........",
      "BB..BWWB........", ".....BWWB.......", ".....BWWB.......", "......BB........",
  };
  std::vector<uint8_t> la(2 * kSpriteSize * kSpriteSize);
  for (int y = 0; y < kSpriteSize; ++y)
    for (int x = 0; x < kSpriteSize; ++x) {
      const char c = kRows[y][x];
      la[2 * (y * kSpriteSize + x)] = c == 'W' ? 255 : 0;
      la[2 * (y * kSpriteSize + x) + 1] = c == '.' ? 0 : 255;
    }
  return la;
}

LogoExtent logoExtent(int w, int h) {
  const float width = static_cast<float>(std::max(w, 1)),
              height = static_cast<float>(std::max(h, 1));
  float s = std::min((width + height) * 0.2f / width, 0.9f);
  const float k = width / height * static_cast<float>(kLogoRows / kGroundImageWidth);
  if (s * k > 0.9f) s = 0.9f / k;
  return {s, s * k};
}
