#include <algorithm>

#include "ColorPicker.h"

float ColorPicker::cellOfColour(const float* rgb, int* x, int* y) {
  const float r = rgb[0], g = rgb[1], b = rgb[2];
  const float m = std::max({r, g, b});
  if (!(m > 0.0f)) {
    *x = 3 * kColumnWidth;
    *y = kFieldHeight / 2;
    return 0.0f;
  }
  // A zero denominator comes only from a grey: any column will do.
  auto ratio = [](float a, float d) { return d != 0.0f ? a / d : 0.0f; };
  int k;
  float f, s;
  if (m == b) {
    if (r > g)
      k = 4, f = ratio(r - g, m - g), s = g / m;
    else
      k = 3, f = 1.0f - ratio(g - r, m - r), s = r / m;
  } else if (m == g) {
    if (r > b)
      k = 1, f = 1.0f - ratio(r - b, m - b), s = b / m;
    else
      k = 2, f = ratio(b - r, m - r), s = r / m;
  } else if (g > b) {
    k = 0, f = ratio(g - b, m - b), s = b / m;
  } else {
    k = 5, f = 1.0f - ratio(b - g, m - g), s = g / m;
  }
  *x = static_cast<int>(kColumnWidth * f) + kColumnWidth * k;
  *y = std::min(static_cast<int>(kFieldHeight * s), kFieldHeight - 1);
  return m;
}
