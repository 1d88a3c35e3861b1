#include "TgaImage.h"

#include <cstring>
#include <fstream>
#include <utility>

#include "BinaryIO.h"

bool readTGA(const char* path, TextureImage& image) {
  static const unsigned char kHeader[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  image.pixels.clear();
  std::ifstream in(path, std::ios::binary);
  unsigned char header[12], size[6];
  if (!in.read(reinterpret_cast<char*>(header), 12) || std::memcmp(header, kHeader, 12) != 0 ||
      !in.read(reinterpret_cast<char*>(size), 6))
    return false;
  const uint32_t width = size[0] + 256u * size[1];
  const uint32_t height = size[2] + 256u * size[3];
  const uint32_t bits = size[4];
  if (width == 0 || height == 0 || (bits != 24 && bits != 32)) return false;
  const size_t bytesPerPixel = bits / 8;
  const size_t bytes = static_cast<size_t>(width) * height * bytesPerPixel;
  // Trailing bytes (a footer) are allowed, missing ones are not.
  if (zolt::bin::bytesLeft(in) < static_cast<int64_t>(bytes)) return false;
  image.pixels.resize(bytes);
  if (!in.read(reinterpret_cast<char*>(image.pixels.data()), static_cast<std::streamsize>(bytes))) {
    image.pixels.clear();
    return false;
  }
  for (size_t i = 0; i < bytes; i += bytesPerPixel) std::swap(image.pixels[i], image.pixels[i + 2]);
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bits;
  return true;
}
