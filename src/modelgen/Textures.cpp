#include "Textures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zolt::modelgen {

namespace {

uint32_t hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

double latticeValue(int i, int j, unsigned seed) {
  const uint32_t h =
      hash(static_cast<uint32_t>(i) * 0x9e3779b1u ^ hash(static_cast<uint32_t>(j) + seed));
  return (h >> 8) * (1.0 / 16777216.0);
}

double smooth(double t) { return t * t * (3.0 - 2.0 * t); }

// Sum of four octaves of value noise, in [0, 1).
double fractalNoise(double x, double y, int period, unsigned seed) {
  double sum = 0.0, weight = 0.5, total = 0.0;
  for (int octave = 0; octave < 4; ++octave) {
    sum += weight * valueNoise(x, y, period, seed + 17u * octave);
    total += weight;
    x *= 2.0;
    y *= 2.0;
    period *= 2;
    weight *= 0.5;
  }
  return sum / total;
}

// 0 outside radius r1 of the point, 1 inside r0, smooth between.
double disc(double x, double y, double cx, double cy, double r0, double r1) {
  const double d = std::hypot(x - cx, y - cy);
  return 1.0 - smooth(std::clamp((d - r0) / (r1 - r0), 0.0, 1.0));
}

uint8_t channel(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

}  // namespace

double valueNoise(double x, double y, int period, unsigned seed) {
  const double fx = std::floor(x), fy = std::floor(y);
  const int i = static_cast<int>(fx), j = static_cast<int>(fy);
  auto at = [&](int a, int b) {
    const int pa = ((a % period) + period) % period, pb = ((b % period) + period) % period;
    return latticeValue(pa, pb, seed);
  };
  const double tx = smooth(x - fx), ty = smooth(y - fy);
  const double bottom = at(i, j) + (at(i + 1, j) - at(i, j)) * tx;
  const double top = at(i, j + 1) + (at(i + 1, j + 1) - at(i, j + 1)) * tx;
  return bottom + (top - bottom) * ty;
}

Image furTexture(int size, const SideView& view) {
  Image image{size, size, 4, std::vector<uint8_t>(static_cast<size_t>(size) * size * 4)};
  const double fur[3] = {150, 122, 98}, cream[3] = {232, 218, 198}, dark[3] = {92, 74, 62};
  const double eye[3] = {24, 20, 22}, nose[3] = {205, 128, 138};
  for (int row = 0; row < size; ++row)
    for (int col = 0; col < size; ++col) {
      const double u = (col + 0.5) / size, v = (row + 0.5) / size;
      const double x = view.x0 + u * (view.x1 - view.x0), y = view.y0 + v * (view.y1 - view.y0);
      const double mottle = 0.82 + 0.36 * fractalNoise(u * 8.0, v * 8.0, 8, 7u);
      const double chest = smooth(std::clamp((x - 0.05) / 0.2, 0.0, 1.0)) *
                           smooth(std::clamp((0.62 - y) / 0.2, 0.0, 1.0));
      const double tail = disc(x, y, -0.5, 0.36, 0.07, 0.12);
      const double tips = smooth(std::clamp((y - 1.05) / 0.12, 0.0, 1.0));
      const double eyes = disc(x, y, 0.47, 0.73, 0.028, 0.04);
      const double noseTip = disc(x, y, 0.565, 0.645, 0.02, 0.032);
      const double light = std::max(chest, tail);
      uint8_t* p = &image.pixels[(static_cast<size_t>(row) * size + col) * 4];
      for (int k = 0; k < 3; ++k) {
        double c = fur[k] + (cream[k] - fur[k]) * light;
        c = c + (dark[k] - c) * tips;
        c *= mottle;
        c = c + (eye[k] - c) * eyes;
        c = c + (nose[k] - c) * noseTip;
        p[k] = channel(c);
      }
      p[3] = eyes > 0.5 || noseTip > 0.5 ? 0 : 255;
    }
  return image;
}

Image meshTexture(int size) {
  Image image{size, size, 3, std::vector<uint8_t>(static_cast<size_t>(size) * size * 3)};
  const double base[3] = {196, 184, 170};
  for (int row = 0; row < size; ++row)
    for (int col = 0; col < size; ++col) {
      const double u = (col + 0.5) / size, v = (row + 0.5) / size;
      const double shade = 0.85 + 0.3 * fractalNoise(u * 6.0, v * 6.0, 6, 3u);
      uint8_t* p = &image.pixels[(static_cast<size_t>(row) * size + col) * 3];
      for (int k = 0; k < 3; ++k) p[k] = channel(base[k] * shade);
    }
  return image;
}

}  // namespace zolt::modelgen
