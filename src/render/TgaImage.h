#pragma once
// Uncompressed true-colour TGA files (image type 2, 24 or 32 bits, no image
// ID, no colour map), read into RGB(A) bytes with rows in file order.

#include <cstdint>
#include <vector>

struct TextureImage {
  std::vector<uint8_t> pixels;  // width * height * bitsPerPixel / 8 bytes
  uint32_t bitsPerPixel = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  unsigned int texture = 0;  // GL texture name, 0 while there is none
};

// False, with pixels empty, when the file is missing, of another kind
// (run-length encoded, colour-mapped, with an image ID), has a zero size or
// other depth, or holds fewer pixel bytes than its header announces.
bool readTGA(const char* path, TextureImage& image);
