#pragma once
// Sealed files from the hash library itself (payload, then its XXH3-64
// little-endian), and seeded bit flips.

#include <xxhash.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace zolt::test {

inline std::string payloadOf(const std::string& file) {
  return file.size() < 8 ? std::string() : file.substr(0, file.size() - 8);
}

inline std::string sealedFile(std::string payload) {
  const uint64_t h = XXH3_64bits(payload.data(), payload.size());
  for (int i = 0; i < 8; ++i) payload.push_back(static_cast<char>(h >> (8 * i)));
  return payload;
}

// Ten distinct bit positions inside bytes [from, to), seeded.
inline std::vector<size_t> seededBits(size_t from, size_t to, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<size_t> pick(8 * from, 8 * to - 1);
  std::set<size_t> bits;
  while (bits.size() < 10 && 8 * (to - from) >= 10) bits.insert(pick(rng));
  return {bits.begin(), bits.end()};
}

inline std::string flipped(std::string bytes, size_t bit) {
  bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
  return bytes;
}

}  // namespace zolt::test
