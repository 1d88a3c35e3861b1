#include "ImageFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <utility>

#include "BinaryIO.h"

namespace GLUtils {
namespace {

const uint32_t kHeaderSize = 54;  // file header (14) + information header (40)

// Stored bytes of one row: 3 width rounded up to a multiple of 4.
int64_t rowSize(int64_t width) { return (3 * width + 3) / 4 * 4; }

// Whether the pixels the header announces lie within the file.
bool pixelsFit(std::ifstream& in, uint32_t offset, int64_t width, int64_t height) {
  if (offset < kHeaderSize || !in.seekg(offset)) return false;
  // The last row's padding may be missing; every pixel must be there.
  // Divided, not multiplied: a forged size must not overflow the test.
  const int64_t left = zolt::bin::bytesLeft(in);
  return left >= 3 * width && height - 1 <= (left - 3 * width) / rowSize(width);
}

// Rows from the read position into width x height x 3 bytes, padding skipped.
bool readRows(std::ifstream& in, unsigned char* data, int64_t width, int64_t height) {
  for (int64_t y = 0; y < height; ++y) {
    in.read(reinterpret_cast<char*>(data + 3 * width * y), 3 * width);
    if (y + 1 < height) in.ignore(rowSize(width) - 3 * width);
  }
  return static_cast<bool>(in);
}

void saveFailed(const char* path) { std::printf("Error while saving data into file %s.\n", path); }

// Opens path for writing when there is something to write; reports when
// nothing is opened.
bool openOutput(std::ofstream& out, const char* path, bool haveData) {
  if (haveData) out.open(path, std::ios::binary);
  if (!out.is_open()) saveFailed(path);
  return out.is_open();
}

}  // namespace

bool readBMP(const char* path, BMPImage* image) {
  image->data = nullptr;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::printf("File Not Found : %s\n", path);
    return false;
  }
  // Prints a message naming the file; false for the caller to return.
  auto refuse = [path](const char* format, unsigned value = 0) {
    std::printf(format, path, value);
    return false;
  };
  uint32_t offset = 0;
  int32_t width = 0, height = 0;
  uint16_t planes = 0, bpp = 0;
  in.ignore(10);
  const bool haveOffset = zolt::bin::readU32(in, offset);
  in.ignore(4);
  if (!haveOffset || !zolt::bin::readI32(in, width) || width <= 0)
    return refuse("Error reading width from %s.\n");
  if (!zolt::bin::readI32(in, height) || height <= 0)
    return refuse("Error reading height from %s.\n");
  if (!zolt::bin::readU16(in, planes)) return refuse("Error reading planes from %s.\n");
  if (planes != 1) return refuse("Planes from %s is not 1: %u\n", planes);
  if (!zolt::bin::readU16(in, bpp)) return refuse("Error reading bpp from %s.\n");
  if (bpp != 24) return refuse("Bpp from %s is not 24: %u\n", bpp);
  // Sizes are checked against the file before anything is allocated.
  if (!pixelsFit(in, offset, width, height)) return refuse("Error reading image data from %s.\n");
  const int64_t bytes = int64_t{3} * width * height;
  unsigned char* data = new (std::nothrow) unsigned char[bytes];
  if (!data) {
    std::printf("Error allocating memory for color-corrected image data");
    std::fflush(stdout);
    return false;
  }
  if (!readRows(in, data, width, height)) {
    delete[] data;
    return refuse("Error reading image data from %s.\n");
  }
  image->width = width;
  image->height = height;
  image->data = data;
  for (int64_t i = 0; i < bytes; i += 3) std::swap(data[i], data[i + 2]);
  return true;
}

void writeBMP(const char* path, const unsigned char* bgr, int width, int height) {
  std::ofstream out;
  if (!openOutput(out, path, bgr && width > 0 && height > 0)) return;
  const int64_t row = 3 * int64_t{width}, padded = rowSize(width);
  using namespace zolt::bin;
  out.write("BM", 2);
  writeU32(out, static_cast<uint32_t>(kHeaderSize + padded * height));
  writeU32(out, 0);
  writeU32(out, kHeaderSize);
  writeU32(out, 40);
  writeI32(out, width);
  writeI32(out, height);
  writeU16(out, 1);
  writeU16(out, 24);
  const char zeros[24] = {};
  out.write(zeros, 24);
  if (padded == row) {
    out.write(reinterpret_cast<const char*>(bgr), row * height);
  } else {
    for (int64_t y = 0; y < height; ++y) {
      out.write(reinterpret_cast<const char*>(bgr + row * y), row);
      out.write(zeros, padded - row);
    }
  }
  if (!out.flush()) saveFailed(path);
}

void writeRaw(const char* path, const unsigned char* rgba, int width, int height) {
  std::ofstream out;
  if (!openOutput(out, path, rgba && width > 0 && height > 0)) return;
  out.write(reinterpret_cast<const char*>(rgba), int64_t{4} * width * height);
  if (!out.flush()) saveFailed(path);
}

std::string numberedFileName(const char* dir, const char* base, int number, const char* ext) {
  const char* format = "%s%s%04d.%s";
  const int n = std::snprintf(nullptr, 0, format, dir, base, number, ext);
  std::string name(n > 0 ? n : 0, '\0');
  std::snprintf(name.data(), name.size() + 1, format, dir, base, number, ext);
  return name;
}

void nextFreeFileName(const char* dir, const char* base, const char* ext, char** name) {
  std::string candidate;
  std::error_code ec;
  for (int i = 0;; ++i) {
    candidate = numberedFileName(dir, base, i, ext);
    if (!std::filesystem::exists(candidate, ec)) break;
  }
  *name = new char[candidate.size() + 1];
  std::memcpy(*name, candidate.c_str(), candidate.size() + 1);
}

}  // namespace GLUtils
