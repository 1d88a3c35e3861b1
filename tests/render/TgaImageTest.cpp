#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordBytes.h"
#include "TempDir.h"
#include "TgaImage.h"

using zolt::test::bytesOf;
using B = std::vector<uint8_t>;

namespace {

// Header of an uncompressed true-colour file: type, width, height, depth.
std::string header(unsigned type, unsigned width, unsigned height, unsigned bits,
                   unsigned idLength = 0) {
  return bytesOf({idLength, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0, width & 0xff, width >> 8,
                  height & 0xff, height >> 8, bits, 0x20});
}

}  // namespace

TEST(TgaImage, TrueColourPixelsBecomeRgb) {
  zolt::test::TempDir dir;
  const struct {
    std::string file;
    uint32_t width, height, bits;
    B pixels;
  } rows[] = {
      // Stored BGR, rows in file order.
      {header(2, 2, 1, 24) + bytesOf({1, 2, 3, 4, 5, 6}), 2, 1, 24, {3, 2, 1, 6, 5, 4}},
      {header(2, 1, 2, 32) + bytesOf({10, 20, 30, 40, 50, 60, 70, 80}),
       1,
       2,
       32,
       {30, 20, 10, 40, 70, 60, 50, 80}},
      // A 257-pixel row (both size bytes) with a footer after the pixels.
      {header(2, 257, 1, 24) + std::string(3 * 257, '\x07') + "TRUEVISION-XFILE.", 257, 1, 24,
       B(3 * 257, 7)},
  };
  for (const auto& row : rows) {
    TextureImage image;
    ASSERT_TRUE(readTGA(dir.write("t.tga", row.file).c_str(), image)) << row.width;
    EXPECT_EQ(image.width, row.width);
    EXPECT_EQ(image.height, row.height);
    EXPECT_EQ(image.bitsPerPixel, row.bits);
    EXPECT_EQ(image.pixels, row.pixels);
  }
}

TEST(TgaImage, OtherKindsAndShortFilesAreRefused) {
  zolt::test::TempDir dir;
  const std::string pixels(12, '\x01');
  const struct {
    const char* what;
    std::string file;
  } rows[] = {
      {"run-length", header(10, 2, 2, 24) + pixels},
      {"colour-mapped", header(1, 2, 2, 24) + pixels},
      {"image id", header(2, 2, 2, 24, 1) + "x" + pixels},
      {"16 bits", header(2, 2, 2, 16) + pixels},
      {"zero width", header(2, 0, 2, 24) + pixels},
      {"zero height", header(2, 2, 0, 24) + pixels},
      {"one byte short", header(2, 2, 2, 24) + pixels.substr(1)},
      {"huge", header(2, 0xffff, 0xffff, 32) + pixels},
      {"header short", header(2, 2, 2, 24).substr(0, 15)},
      {"empty", ""},
  };
  for (const auto& row : rows) {
    TextureImage image;
    image.pixels = {9};
    EXPECT_FALSE(readTGA(dir.write("t.tga", row.file).c_str(), image)) << row.what;
    EXPECT_TRUE(image.pixels.empty()) << row.what;
  }
  TextureImage image;
  EXPECT_FALSE(readTGA(dir.file("missing.tga").c_str(), image));
}
