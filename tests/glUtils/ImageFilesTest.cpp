#include "ImageFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Capture.h"
#include "TempDir.h"

namespace fs = std::filesystem;
using zolt::test::captureStdout;
using zolt::test::readAll;
using zolt::test::TempDir;

namespace {

void put(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A BMP header written from the field list, independently of writeBMP.
std::string header(uint32_t fileSize, uint32_t offset, int32_t width, int32_t height,
                   uint32_t planes = 1, uint32_t bpp = 24) {
  std::string h = "BM";
  put(h, fileSize, 4);
  put(h, 0, 4);
  put(h, offset, 4);
  put(h, 40, 4);
  put(h, static_cast<uint32_t>(width), 4);
  put(h, static_cast<uint32_t>(height), 4);
  put(h, planes, 2);
  put(h, bpp, 2);
  h.append(24, '\0');
  return h;
}

std::vector<unsigned char> testPixels(int count) {
  std::vector<unsigned char> p(count);
  for (int i = 0; i < count; ++i) p[i] = static_cast<unsigned char>(37 * i + 11);
  return p;
}

}  // namespace

TEST(ImageFiles, BmpRoundTripPadsRowsToFourBytes) {
  const struct {
    int width, rowBytes;
  } rows[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {8, 24}};
  TempDir dir;
  const int height = 3;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.width);
    const std::string path = dir.file("w" + std::to_string(r.width) + ".bmp");
    const std::vector<unsigned char> bgr = testPixels(3 * r.width * height);
    GLUtils::writeBMP(path.c_str(), bgr.data(), r.width, height);
    std::string expected = header(54 + height * r.rowBytes, 54, r.width, height);
    for (int y = 0; y < height; ++y) {
      expected.append(bgr.begin() + 3 * r.width * y, bgr.begin() + 3 * r.width * (y + 1));
      expected.append(r.rowBytes - 3 * r.width, '\0');
    }
    EXPECT_EQ(readAll(path), expected);

    std::vector<unsigned char> rgb = bgr;
    for (size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
    GLUtils::BMPImage image;
    ASSERT_TRUE(GLUtils::readBMP(path.c_str(), &image));
    EXPECT_EQ(image.width, r.width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(std::vector<unsigned char>(image.data, image.data + rgb.size()), rgb);
    delete[] image.data;
  }
}

TEST(ImageFiles, ReadBmpHonoursPixelOffsetAndMissingLastPadding) {
  // Width 2: rows of 6 pixel bytes and 2 padding bytes, 10 bytes of other
  // data between the header and the pixels, the last row's padding cut off.
  std::string file = header(0, 64, 2, 2);
  file.append(10, '\x55');
  file += std::string("\x01\x02\x03\x04\x05\x06\xee\xee", 8);
  file += std::string("\x07\x08\x09\x0a\x0b\x0c", 6);
  TempDir dir;
  dir.write("offset.bmp", file);
  GLUtils::BMPImage image;
  ASSERT_TRUE(GLUtils::readBMP(dir.file("offset.bmp").c_str(), &image));
  const std::vector<unsigned char> rgb(image.data, image.data + 12);
  EXPECT_EQ(rgb, (std::vector<unsigned char>{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
  delete[] image.data;
}

TEST(ImageFiles, ReadBmpRefusesBadFilesWithItsMessage) {
  struct Row {
    const char* name;
    std::string bytes;  // empty: no file
    const char* message;
  };
  const std::string pixels4x2(2 * 12, '\x7f');
  const Row rows[] = {
      {"missing", "", "File Not Found : %s\n"},
      {"8 bit", header(0, 54, 4, 2, 1, 8) + pixels4x2, "Bpp from %s is not 24: 8\n"},
      {"32 bit", header(0, 54, 4, 2, 1, 32) + pixels4x2 + pixels4x2, "Bpp from %s is not 24: 32\n"},
      {"two planes", header(0, 54, 4, 2, 2) + pixels4x2, "Planes from %s is not 1: 2\n"},
      {"short header", header(0, 54, 4, 2).substr(0, 12), "Error reading width from %s.\n"},
      {"no height", header(0, 54, 4, 2).substr(0, 24), "Error reading height from %s.\n"},
      {"no planes", header(0, 54, 4, 2).substr(0, 27), "Error reading planes from %s.\n"},
      {"no bpp", header(0, 54, 4, 2).substr(0, 29), "Error reading bpp from %s.\n"},
      {"zero width", header(0, 54, 0, 2) + pixels4x2, "Error reading width from %s.\n"},
      {"negative height", header(0, 54, 4, -2) + pixels4x2, "Error reading height from %s.\n"},
      {"truncated", header(0, 54, 4, 2) + pixels4x2.substr(0, 23),
       "Error reading image data from %s.\n"},
      {"huge", header(0, 54, 0x7fffffff, 0x7fffffff) + pixels4x2,
       "Error reading image data from %s.\n"},
      {"huge rows", header(0, 54, 1, 0x7fffffff) + pixels4x2,
       "Error reading image data from %s.\n"},
      {"offset inside header", header(0, 20, 4, 2) + pixels4x2,
       "Error reading image data from %s.\n"},
      {"offset past end", header(0, 4000, 4, 2) + pixels4x2, "Error reading image data from %s.\n"},
  };
  TempDir dir;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = dir.file(std::string(r.name) + ".bmp");
    if (!r.bytes.empty()) dir.write(std::string(r.name) + ".bmp", r.bytes);
    char expected[512];
    std::snprintf(expected, sizeof expected, r.message, path.c_str());
    GLUtils::BMPImage image{-1, -1, reinterpret_cast<unsigned char*>(&image)};
    bool ok = true;
    EXPECT_EQ(captureStdout([&] { ok = GLUtils::readBMP(path.c_str(), &image); }), expected);
    EXPECT_FALSE(ok);
    EXPECT_EQ(image.data, nullptr);
  }
}

// Numbers have at least four digits.
TEST(ImageFiles, NextFreeNameSkipsExistingFiles) {
  EXPECT_EQ(GLUtils::numberedFileName("d/", "image", 12345, "bmp"), "d/image12345.bmp");
  EXPECT_EQ(GLUtils::numberedFileName("d/", "image", 2147483647, "raw"), "d/image2147483647.raw");
  TempDir dir;
  const std::string prefix = dir.path.string() + "/";
  auto next = [&](const std::string& d, const char* ext = "bmp") {
    char* name = nullptr;
    GLUtils::nextFreeFileName(d.c_str(), "image", ext, &name);
    std::string s = name;
    delete[] name;
    return s;
  };
  EXPECT_EQ(next(prefix), prefix + "image0000.bmp");
  for (int i = 0; i < 10; ++i)
    std::ofstream(GLUtils::numberedFileName(prefix.c_str(), "image", i, "bmp"));
  EXPECT_EQ(next(prefix), prefix + "image0010.bmp");
  for (int i = 10; i < 1000; ++i)
    std::ofstream(GLUtils::numberedFileName(prefix.c_str(), "image", i, "bmp"));
  EXPECT_EQ(next(prefix), prefix + "image1000.bmp");
  // Other extensions are counted apart.
  EXPECT_EQ(next(prefix, "raw"), prefix + "image0000.raw");

  // A directory name far longer than any fixed buffer.
  fs::path deep = dir.path;
  for (int level = 0; level < 4; ++level) deep /= std::string(120, static_cast<char>('a' + level));
  fs::create_directories(deep);
  const std::string deepPrefix = deep.string() + "/";
  std::ofstream(deepPrefix + "image0000.bmp");
  EXPECT_EQ(next(deepPrefix), deepPrefix + "image0001.bmp");
}
