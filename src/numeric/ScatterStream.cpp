#include "ScatterStream.h"

#include <cstring>
#include <iostream>

#include "ZoltAssert.h"

namespace {
void putLE(std::vector<unsigned char>& out, uint64_t bits, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}
}  // namespace

void ScatterStream::append(double weight, const int* targets, unsigned char n) {
  ZOLT_ASSERT(n >= 1 && n <= (startNewHeaderByte ? 8 : 15));
  uint64_t w;
  std::memcpy(&w, &weight, 8);
  putLE(data, w, 8);
  for (int k = 0; k < n; ++k) putLE(data, static_cast<uint32_t>(targets[k]), 4);
  if (startNewHeaderByte) {
    header.push_back(static_cast<unsigned char>(((n - 1) << 4) | (markNext ? 0x80 : 0)));
    markNext = false;
    startNewHeaderByte = false;
  } else {
    header.back() |= n;
    startNewHeaderByte = true;
  }
}

void ScatterStream::shrink() {
  data.shrink_to_fit();
  header.shrink_to_fit();
  float bytes = static_cast<float>(data.size() + header.size());
  std::cout << "[ScatterStream] Memory used  = " << bytes * 9.536743e-7f << "MB" << std::endl;
}
