#pragma once
// Byte-coded plan of a Galerkin coarse product: for every stored fine value,
// the coarse values it feeds and with which weight. Items are an 8-byte
// weight followed by n 4-byte target words; one header byte describes one or
// two items (bit 7: advance to the next fine value; bits 6..4: targets - 1
// of the first item; bits 3..0: targets of the second item, 0 = none).

#include <vector>

struct ScatterStream {
  std::vector<unsigned char> data;
  std::vector<unsigned char> header;
  bool startNewHeaderByte = true;
  bool markNext = false;

  // Appends one item: at most 8 targets when it opens a header byte, at
  // most 15 when it closes one.
  void append(double weight, const int* targets, unsigned char n);
  // Trims both buffers to their size and prints the memory they use.
  void shrink();
};
