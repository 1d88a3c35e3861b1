#pragma once
// Image files, free of GL: 24-bit BMP reading and writing, raw RGBA frame
// dumps and numbered screenshot and movie-frame names. Messages go to
// standard output; no helper ends the program.

#include <string>

namespace GLUtils {

// Filled by readBMP: width x height x 3 bytes RGB, rows bottom-up as
// stored. data is allocated by readBMP with new[]; the caller frees it with
// delete[]. After a failed read data is null.
struct BMPImage {
  int width;
  int height;
  unsigned char* data;
};

// Reads an uncompressed 24-bit BMP (bottom-up rows, padded to 4 bytes, at
// the offset its header names). Refuses other depths, non-positive sizes and
// files too short for the pixels their header announces.
bool readBMP(const char* path, BMPImage* image);

// Writes width x height pixels, rows bottom-up, 3 bytes each in the order
// blue, green, red, as a 24-bit BMP with its rows padded to 4 bytes.
void writeBMP(const char* path, const unsigned char* bgr, int width, int height);

// Writes width x height x 4 bytes as they are, no header.
void writeRaw(const char* path, const unsigned char* rgba, int width, int height);

// dir + base + number (zero-padded to at least four digits) + "." + ext.
std::string numberedFileName(const char* dir, const char* base, int number, const char* ext);

// The first numbered name, counting from 0, under which no file exists.
// *name is allocated with new[]; the caller frees it with delete[].
void nextFreeFileName(const char* dir, const char* base, const char* ext, char** name);

}  // namespace GLUtils
