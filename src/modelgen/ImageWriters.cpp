#include "ImageWriters.h"

#include <fstream>
#include <iostream>

namespace zolt::modelgen {

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xff));
  out.push_back(static_cast<uint8_t>(v >> 8 & 0xff));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes, const char* method) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "[ImageWriters, " << method << "] Error: cannot write \"" << path << "\"\n";
    return false;
  }
  return true;
}

bool validImage(const Image& image, int channels, const char* method) {
  const size_t expected = static_cast<size_t>(image.width) * image.height * channels;
  if (image.width <= 0 || image.height <= 0 || image.width > 0xffff || image.height > 0xffff ||
      image.channels != channels || image.pixels.size() != expected) {
    std::cerr << "[ImageWriters, " << method << "] Error: image size or channels invalid\n";
    return false;
  }
  return true;
}

}  // namespace

bool writeTGA(const std::string& path, const Image& image) {
  if (!validImage(image, 4, "writeTGA")) return false;
  std::vector<uint8_t> bytes = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  put16(bytes, static_cast<uint32_t>(image.width));
  put16(bytes, static_cast<uint32_t>(image.height));
  bytes.push_back(32);
  bytes.push_back(8);  // alpha bits; origin bottom left
  bytes.reserve(bytes.size() + image.pixels.size());
  for (size_t i = 0; i < image.pixels.size(); i += 4)
    bytes.insert(bytes.end(),
                 {image.pixels[i + 2], image.pixels[i + 1], image.pixels[i], image.pixels[i + 3]});
  return writeBytes(path, bytes, "writeTGA");
}

bool writeBMP(const std::string& path, const Image& image) {
  if (!validImage(image, 3, "writeBMP")) return false;
  const uint32_t rowSize = (3u * static_cast<uint32_t>(image.width) + 3u) & ~3u;
  const uint32_t pixelBytes = rowSize * static_cast<uint32_t>(image.height);
  std::vector<uint8_t> bytes = {'B', 'M'};
  put32(bytes, 54 + pixelBytes);
  put32(bytes, 0);
  put32(bytes, 54);
  put32(bytes, 40);
  put32(bytes, static_cast<uint32_t>(image.width));
  put32(bytes, static_cast<uint32_t>(image.height));
  put16(bytes, 1);
  put16(bytes, 24);
  bytes.resize(54, 0);
  for (int row = 0; row < image.height; ++row) {
    const uint8_t* p = &image.pixels[static_cast<size_t>(row) * image.width * 3];
    for (int x = 0; x < image.width; ++x)
      bytes.insert(bytes.end(), {p[3 * x + 2], p[3 * x + 1], p[3 * x]});
    bytes.resize(54 + static_cast<size_t>(row + 1) * rowSize, 0);
  }
  return writeBytes(path, bytes, "writeBMP");
}

}  // namespace zolt::modelgen
