#include "VolumeImage.h"

#include <algorithm>
#include <cmath>
#include <fstream>

bool readRawVolume(const std::string& path, int width, int height, int depth, VolumeImage& image) {
  image = VolumeImage();
  if (width < 1 || height < 1 || depth < 1 || int64_t(width) * height * depth > kMaxVolumeVoxels)
    return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  image.width = width;
  image.height = height;
  image.depth = depth;
  image.voxels.assign(image.size(), 0);
  in.read(reinterpret_cast<char*>(image.voxels.data()), std::streamsize(image.size()));
  const size_t got = size_t(in.gcount());
  if (got > 0)
    std::fill(image.voxels.begin() + std::ptrdiff_t(got), image.voxels.end(),
              image.voxels[got - 1]);
  return true;
}

void smoothVolume(VolumeImage& image, int passes) {
  const int w = image.width, h = image.height, d = image.depth;
  if (w < 3 || h < 3 || d < 3) return;
  static constexpr int kAxis[3] = {1, 2, 1};  // times 1/4 each: 1/64 overall
  std::vector<uint8_t> previous;
  for (int pass = 0; pass < passes; ++pass) {
    previous = image.voxels;
    auto at = [&](int x, int y, int z) { return previous[x + size_t(w) * (y + size_t(h) * z)]; };
    for (int z = 1; z < d - 1; ++z)
      for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
          int sum = 0;
          for (int k = -1; k <= 1; ++k)
            for (int j = -1; j <= 1; ++j)
              for (int i = -1; i <= 1; ++i)
                sum += kAxis[i + 1] * kAxis[j + 1] * kAxis[k + 1] * at(x + i, y + j, z + k);
          image.voxels[x + size_t(w) * (y + size_t(h) * z)] = static_cast<uint8_t>(sum / 64);
        }
  }
}

float sampleVolume(const VolumeImage& image, float u, float v, float t) {
  const float c[3] = {u, v, t};
  const int n[3] = {image.width, image.height, image.depth};
  int lo[3];
  float f[3];
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(c[a])) return 0.0f;
    const float l = std::floor(c[a]);
    if (l < -1.0f || l >= float(n[a])) return 0.0f;  // no corner inside
    lo[a] = static_cast<int>(l);
    f[a] = c[a] - l;
  }
  float value = 0.0f;
  for (int corner = 0; corner < 8; ++corner) {
    int p[3];
    float weight = 1.0f;
    bool inside = true;
    for (int a = 0; a < 3; ++a) {
      const int up = (corner >> a) & 1;
      p[a] = lo[a] + up;
      weight *= up ? f[a] : 1.0f - f[a];
      inside = inside && p[a] >= 0 && p[a] < n[a];
    }
    if (inside) value += weight * image.voxels[p[0] + size_t(n[0]) * (p[1] + size_t(n[1]) * p[2])];
  }
  return value;
}
