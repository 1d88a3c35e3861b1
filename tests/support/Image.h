#pragma once
// Small RGB image with the statistics the window tests check: no golden
// images, only counts and means over regions.

#include <cstdint>
#include <string>
#include <vector>

namespace zolt::test {

struct Rgb {
  int r, g, b;
};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // row 0 is the top row

  bool empty() const { return width == 0 || height == 0; }
  Rgb at(int x, int y) const;
};

// Reads a binary PPM (P6, maxval 255). Empty image on failure.
Image loadPPM(const std::string& path);

// Flips an image read bottom-up (glReadPixels) into top-down order.
Image fromBottomUp(int width, int height, const std::vector<uint8_t>& rgb);

// Mean colour of the region [x0, x0+w) x [y0, y0+h), clipped to the image.
Rgb meanColour(const Image& img, int x0, int y0, int w, int h);

// Pixels whose channels all lie within tol of c, or that differ from it.
long countNear(const Image& img, Rgb c, int tol);
long countDiffering(const Image& img, Rgb c, int tol);

// Pixels in which two equally sized images differ by more than tol in any
// channel; -1 when the sizes differ.
long countDifferentPixels(const Image& a, const Image& b, int tol);

// Screenshot of an X window (id as xdotool or xprop print it) through
// ImageMagick's import. Empty image on failure.
Image screenshotWindow(const std::string& windowId);

}  // namespace zolt::test
