#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ImageWriters.h"
#include "ModelgenTesting.h"

using namespace zolt::modelgen;
using zolt::modelgen::test::freshDirectory;

namespace {

std::vector<uint8_t> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le(const std::vector<uint8_t>& b, size_t at, int size) {
  uint32_t v = 0;
  for (int k = size - 1; k >= 0; --k) v = v << 8 | b[at + k];
  return v;
}

Image pattern(int width, int height, int channels) {
  Image image{width, height, channels, {}};
  for (int i = 0; i < width * height * channels; ++i)
    image.pixels.push_back(static_cast<uint8_t>(i * 37 + 11));
  return image;
}

}  // namespace

// The TGA as the texture loader reads it: a fixed 12-byte start, sizes,
// 32 bits per pixel and exactly width x height x 4 bytes of BGRA.
TEST(ImageWriters, TgaHasTheLoaderLayout) {
  const std::string dir = freshDirectory("ImageWritersTga");
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{300, 5}}) {
    const Image image = pattern(w, h, 4);
    ASSERT_TRUE(writeTGA(dir + "a.tga", image));
    const std::vector<uint8_t> b = bytesOf(dir + "a.tga");
    ASSERT_EQ(b.size(), 18u + 4u * w * h);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 12),
              (std::vector<uint8_t>{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(le(b, 12, 2), static_cast<uint32_t>(w));
    EXPECT_EQ(le(b, 14, 2), static_cast<uint32_t>(h));
    EXPECT_EQ(b[16], 32);
    int mismatches = 0;
    for (int i = 0; i < w * h; ++i) {
      const uint8_t* rgba = &image.pixels[4 * i];
      const uint8_t* bgra = &b[18 + 4 * i];
      mismatches +=
          bgra[0] != rgba[2] || bgra[1] != rgba[1] || bgra[2] != rgba[0] || bgra[3] != rgba[3];
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// The BMP as the 24-bit reader reads it (sizes at 18 and 22, planes 1,
// 24 bits, pixels from 54), with rows padded to 4 bytes as written files are.
TEST(ImageWriters, BmpHasTheReaderLayoutAndPaddedRows) {
  const std::string dir = freshDirectory("ImageWritersBmp");
  const struct {
    int width, height, rowSize;
  } rows[] = {{1, 1, 4}, {4, 3, 12}, {5, 2, 16}, {256, 2, 768}};
  for (const auto& row : rows) {
    const Image image = pattern(row.width, row.height, 3);
    ASSERT_TRUE(writeBMP(dir + "a.bmp", image));
    const std::vector<uint8_t> b = bytesOf(dir + "a.bmp");
    ASSERT_EQ(b.size(), 54u + static_cast<size_t>(row.rowSize) * row.height);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(le(b, 2, 4), b.size());
    EXPECT_EQ(le(b, 10, 4), 54u);
    EXPECT_EQ(le(b, 14, 4), 40u);
    EXPECT_EQ(le(b, 18, 4), static_cast<uint32_t>(row.width));
    EXPECT_EQ(le(b, 22, 4), static_cast<uint32_t>(row.height));
    EXPECT_EQ(le(b, 26, 2), 1u);
    EXPECT_EQ(le(b, 28, 2), 24u);
    int mismatches = 0;
    for (int y = 0; y < row.height; ++y)
      for (int x = 0; x < row.width; ++x) {
        const uint8_t* rgb = &image.pixels[3 * (y * row.width + x)];
        const uint8_t* bgr = &b[54 + y * row.rowSize + 3 * x];
        mismatches += bgr[0] != rgb[2] || bgr[1] != rgb[1] || bgr[2] != rgb[0];
      }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(ImageWriters, InconsistentImagesAreRefused) {
  const std::string dir = freshDirectory("ImageWritersRefused");
  Image shortRgba = pattern(4, 4, 4);
  shortRgba.pixels.pop_back();
  const struct {
    bool tga;
    Image image;
  } rows[] = {{true, pattern(4, 4, 3)},
              {true, shortRgba},
              {true, pattern(0, 4, 4)},
              {false, pattern(4, 4, 4)},
              {false, pattern(4, -1, 3)}};
  for (const auto& row : rows) {
    const std::string path = dir + "refused";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(row.tga ? writeTGA(path, row.image) : writeBMP(path, row.image));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Error"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}
