#include "Image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace zolt::test {

Rgb Image::at(int x, int y) const {
  const uint8_t* p = &rgb[3 * (static_cast<size_t>(y) * width + x)];
  return {p[0], p[1], p[2]};
}

Image loadPPM(const std::string& path) {
  Image img;
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  if (!(f >> magic >> w >> h >> maxval) || magic != "P6" || maxval != 255 || w <= 0 || h <= 0)
    return img;
  f.get();
  std::vector<uint8_t> data(3 * static_cast<size_t>(w) * h);
  if (!f.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size())))
    return img;
  img.width = w;
  img.height = h;
  img.rgb = std::move(data);
  return img;
}

Image fromBottomUp(int width, int height, const std::vector<uint8_t>& rgb) {
  Image img;
  img.width = width;
  img.height = height;
  img.rgb.resize(3 * static_cast<size_t>(width) * height);
  const size_t row = 3 * static_cast<size_t>(width);
  for (int y = 0; y < height; ++y)
    std::copy(rgb.begin() + row * (height - 1 - y), rgb.begin() + row * (height - y),
              img.rgb.begin() + row * y);
  return img;
}

Rgb meanColour(const Image& img, int x0, int y0, int w, int h) {
  long sum[3] = {0, 0, 0}, n = 0;
  for (int y = std::max(0, y0); y < std::min(img.height, y0 + h); ++y)
    for (int x = std::max(0, x0); x < std::min(img.width, x0 + w); ++x) {
      Rgb p = img.at(x, y);
      sum[0] += p.r;
      sum[1] += p.g;
      sum[2] += p.b;
      ++n;
    }
  if (n == 0) return {0, 0, 0};
  return {static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n)};
}

static bool near(Rgb p, Rgb c, int tol) {
  return std::abs(p.r - c.r) <= tol && std::abs(p.g - c.g) <= tol && std::abs(p.b - c.b) <= tol;
}

long countNear(const Image& img, Rgb c, int tol) {
  long n = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) n += near(img.at(x, y), c, tol);
  return n;
}

long countDiffering(const Image& img, Rgb c, int tol) {
  return static_cast<long>(img.width) * img.height - countNear(img, c, tol);
}

long countDifferentPixels(const Image& a, const Image& b, int tol) {
  if (a.width != b.width || a.height != b.height) return -1;
  long n = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) n += !near(a.at(x, y), b.at(x, y), tol);
  return n;
}

Image screenshotWindow(const std::string& windowId) {
  char path[] = "/tmp/zolt-shotXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  std::string cmd = "import -window '" + windowId + "' -depth 8 ppm:" + path + " 2>/dev/null";
  Image img;
  if (std::system(cmd.c_str()) == 0) img = loadPPM(path);
  std::remove(path);
  return img;
}

}  // namespace zolt::test
