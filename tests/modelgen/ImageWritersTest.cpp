#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "ImageFiles.h"
#include "ImageWriters.h"
#include "TempDir.h"

using namespace zolt::modelgen;

namespace {

std::vector<uint8_t> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Image pattern(int width, int height, int channels) {
  Image image{width, height, channels, {}};
  for (int i = 0; i < width * height * channels; ++i)
    image.pixels.push_back(static_cast<uint8_t>(i * 37 + 11));
  return image;
}

}  // namespace

// The TGA as the texture loader reads it, built here byte by byte: a fixed
// 12-byte start, width and height (16 bits each), 32 bits per pixel, the
// descriptor, then exactly width x height pixels as BGRA.
TEST(ImageWriters, TgaHasTheLoaderLayout) {
  const zolt::test::TempDir tmp;
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{300, 5}}) {
    const Image image = pattern(w, h, 4);
    std::vector<uint8_t> expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int size : {w, h})
      expected.insert(expected.end(), {uint8_t(size & 255), uint8_t(size >> 8)});
    expected.insert(expected.end(), {32, 8});
    for (size_t i = 0; i < image.pixels.size(); i += 4)
      expected.insert(expected.end(), {image.pixels[i + 2], image.pixels[i + 1], image.pixels[i],
                                       image.pixels[i + 3]});
    ASSERT_TRUE(writeTGA(tmp.file("a.tga"), image));
    EXPECT_EQ(bytesOf(tmp.file("a.tga")), expected);
  }
}

// The BMP byte for byte as the program's own writer makes it, rows padded
// to 4 bytes, and read back by the program's reader.
TEST(ImageWriters, BmpEqualsTheProgramsWriterAndReadsBack) {
  const zolt::test::TempDir tmp;
  const std::string dir = tmp.file("");
  const struct {
    int width, height, rowSize;
  } rows[] = {{1, 1, 4}, {4, 3, 12}, {5, 2, 16}, {256, 2, 768}};
  for (const auto& row : rows) {
    const Image image = pattern(row.width, row.height, 3);
    ASSERT_TRUE(writeBMP(dir + "a.bmp", image));
    std::vector<uint8_t> bgr = image.pixels;
    for (size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    GLUtils::writeBMP((dir + "reference.bmp").c_str(), bgr.data(), row.width, row.height);
    const std::vector<uint8_t> b = bytesOf(dir + "a.bmp");
    EXPECT_EQ(b.size(), 54u + static_cast<size_t>(row.rowSize) * row.height);
    EXPECT_EQ(b, bytesOf(dir + "reference.bmp"));

    GLUtils::BMPImage read{0, 0, nullptr};
    ASSERT_TRUE(GLUtils::readBMP((dir + "a.bmp").c_str(), &read));
    EXPECT_EQ(read.width, row.width);
    EXPECT_EQ(read.height, row.height);
    EXPECT_TRUE(std::equal(image.pixels.begin(), image.pixels.end(), read.data));
    delete[] read.data;
  }
}
