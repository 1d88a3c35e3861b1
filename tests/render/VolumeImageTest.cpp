// Smoothing against the (1/4, 1/2, 1/4) kernel worked by hand, trilinear
// sampling against linear data, and the raw reader's short-file rule.

#include <gtest/gtest.h>

#include "TempDir.h"
#include "VolumeImage.h"

namespace {

VolumeImage filled(int w, int h, int d, uint8_t value) {
  VolumeImage im;
  im.width = w;
  im.height = h;
  im.depth = d;
  im.voxels.assign(im.size(), value);
  return im;
}

uint8_t& at(VolumeImage& im, int x, int y, int z) {
  return im.voxels[x + size_t(im.width) * (y + size_t(im.height) * z)];
}

TEST(VolumeImage, SmoothingKeepsConstantsAndSpreadsAnImpulseByTheKernel) {
  VolumeImage flat = filled(7, 6, 5, 200);
  smoothVolume(flat, 3);
  EXPECT_EQ(flat.voxels, filled(7, 6, 5, 200).voxels);

  struct Row {
    int x, y, z;
    uint8_t value;
  };
  // 64 at the centre: itself 1/8, faces 1/16, edges 1/32, corners 1/64.
  const Row rows[] = {{2, 2, 2, 8}, {1, 2, 2, 4}, {2, 3, 3, 2}, {1, 1, 1, 1}, {0, 2, 2, 0}};
  VolumeImage impulse = filled(5, 5, 5, 0);
  at(impulse, 2, 2, 2) = 64;
  smoothVolume(impulse, 1);
  for (const Row& r : rows) EXPECT_EQ(at(impulse, r.x, r.y, r.z), r.value) << r.x << r.y << r.z;

  VolumeImage odd = filled(3, 3, 3, 0);
  at(odd, 1, 1, 1) = 100;
  at(odd, 0, 0, 0) = 77;  // a border voxel is read but never changed
  smoothVolume(odd, 1);
  EXPECT_EQ(at(odd, 1, 1, 1), 13);  // floor((8 x 100 + 77) / 64)
  EXPECT_EQ(at(odd, 0, 0, 0), 77);
}

TEST(VolumeImage, SamplingIsOrdinaryTrilinear) {
  VolumeImage im = filled(4, 3, 2, 0);
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) at(im, x, y, z) = uint8_t(10 * x + 20 * y + 50 * z);
  struct Row {
    float u, v, t, value;
  };
  const Row rows[] = {
      {2, 1, 1, 90},        // a voxel centre gives the voxel
      {0.25f, 0, 0, 2.5f},  // a linear image is reproduced between voxels
      {1.5f, 1.75f, 0.5f, 15 + 35 + 25},
      {3, 2, 1, 120},     // the last voxel
      {-0.5f, 1, 0, 10},  // half outside: only the inside corner, half weight
      {3.5f, 0, 0, 15},   // 30 x 0.5
      {-2, 0, 0, 0},      // no corner inside
  };
  for (const Row& r : rows)
    EXPECT_NEAR(sampleVolume(im, r.u, r.v, r.t), r.value, 1e-4) << r.u << " " << r.v << " " << r.t;
}

TEST(VolumeImage, AShortFileRepeatsItsLastByte) {
  zolt::test::TempDir dir;
  const std::string path = dir.write("v.raw", "\x05\x09\x0b");
  VolumeImage im;
  ASSERT_TRUE(readRawVolume(path, 2, 2, 2, im));
  EXPECT_EQ(im.voxels, (std::vector<uint8_t>{5, 9, 11, 11, 11, 11, 11, 11}));
  EXPECT_FALSE(readRawVolume(dir.file("none.raw"), 2, 2, 2, im));
  EXPECT_FALSE(readRawVolume(path, 0, 2, 2, im));
  EXPECT_FALSE(readRawVolume(path, 1 << 11, 1 << 11, 1 << 11, im));  // beyond the limit
  EXPECT_TRUE(im.voxels.empty());
}

}  // namespace
