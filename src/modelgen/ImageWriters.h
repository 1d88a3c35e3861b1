#pragma once
// Uncompressed image files: 32-bit true-colour TGA and 24-bit BMP.
// Pixels are given bottom row first, row by row, as RGBA (4 bytes) or RGB
// (3 bytes); the files store them as BGRA / BGR.

#include <cstdint>
#include <string>
#include <vector>

namespace zolt::modelgen {

struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;  // 3 RGB or 4 RGBA
  std::vector<uint8_t> pixels;
};

// TGA image type 2 without image id or colour map, bottom-left origin,
// 8 alpha bits; channels must be 4.
bool writeTGA(const std::string& path, const Image& image);
// Windows BMP, 40-byte information header, rows padded to 4 bytes;
// channels must be 3.
bool writeBMP(const std::string& path, const Image& image);

}  // namespace zolt::modelgen
