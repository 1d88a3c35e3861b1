#include "BinaryIO.h"

#include <algorithm>
#include <cstring>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zolt::bin {
namespace {

template <int N>
void putLE(std::ostream& s, uint64_t bits) {
  char b[N];
  for (int i = 0; i < N; ++i) b[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
  s.write(b, N);
}

template <int N>
bool getLE(std::istream& s, uint64_t& bits) {
  unsigned char b[N];
  if (!s.read(reinterpret_cast<char*>(b), N)) return false;
  bits = 0;
  for (int i = 0; i < N; ++i) bits |= static_cast<uint64_t>(b[i]) << (8 * i);
  return true;
}

}  // namespace

void writeU8(std::ostream& s, uint8_t v) { putLE<1>(s, v); }
void writeU16(std::ostream& s, uint16_t v) { putLE<2>(s, v); }
void writeI16(std::ostream& s, int16_t v) { putLE<2>(s, static_cast<uint16_t>(v)); }
void writeI32(std::ostream& s, int32_t v) { putLE<4>(s, static_cast<uint32_t>(v)); }
void writeU32(std::ostream& s, uint32_t v) { putLE<4>(s, v); }
void writeF32(std::ostream& s, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  putLE<4>(s, u);
}
void writeF64(std::ostream& s, double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  putLE<8>(s, u);
}

bool readU8(std::istream& s, uint8_t& v) {
  uint64_t b;
  if (!getLE<1>(s, b)) return false;
  v = static_cast<uint8_t>(b);
  return true;
}
bool readU16(std::istream& s, uint16_t& v) {
  uint64_t b;
  if (!getLE<2>(s, b)) return false;
  v = static_cast<uint16_t>(b);
  return true;
}
bool readI16(std::istream& s, int16_t& v) {
  uint64_t b;
  if (!getLE<2>(s, b)) return false;
  v = static_cast<int16_t>(static_cast<uint16_t>(b));
  return true;
}
bool readI32(std::istream& s, int32_t& v) {
  uint64_t b;
  if (!getLE<4>(s, b)) return false;
  v = static_cast<int32_t>(static_cast<uint32_t>(b));
  return true;
}
bool readU32(std::istream& s, uint32_t& v) {
  uint64_t b;
  if (!getLE<4>(s, b)) return false;
  v = static_cast<uint32_t>(b);
  return true;
}
bool readF32(std::istream& s, float& v) {
  uint64_t b;
  if (!getLE<4>(s, b)) return false;
  uint32_t u = static_cast<uint32_t>(b);
  std::memcpy(&v, &u, 4);
  return true;
}
bool readF64(std::istream& s, double& v) {
  uint64_t b;
  if (!getLE<8>(s, b)) return false;
  std::memcpy(&v, &b, 8);
  return true;
}

int64_t bytesLeft(std::istream& s) {
  if (!s) return -1;
  std::streampos here = s.tellg();
  if (here == std::streampos(-1)) return -1;
  s.seekg(0, std::ios::end);
  std::streampos end = s.tellg();
  s.seekg(here);
  if (end == std::streampos(-1) || !s) return -1;
  return static_cast<int64_t>(end - here);
}

ChunkReader::ChunkReader(std::istream& s, int64_t limit)
    : s_(s), left_(std::max<int64_t>(limit, 0)) {
  buf_.resize(static_cast<size_t>(std::min<int64_t>(left_, int64_t(1) << 18)) + 8);
}

bool ChunkReader::refill(size_t n) {
  std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
  end_ -= pos_;
  pos_ = 0;
  const int64_t room = static_cast<int64_t>(buf_.size() - end_);
  const int64_t want = std::min(left_, room);
  if (want > 0 && s_) {
    s_.read(reinterpret_cast<char*>(buf_.data() + end_), want);
    const int64_t got = s_.gcount();
    end_ += static_cast<size_t>(got);
    left_ = got < want ? 0 : left_ - got;
  }
  return end_ >= n;
}

bool ChunkReader::readF32(float& v) {
  uint32_t u;
  if (!readU32(u)) return false;
  std::memcpy(&v, &u, 4);
  return true;
}

void ChunkWriter::writeF32(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  put<4>(u);
}

void ChunkWriter::writeF64(double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  put<8>(u);
}

void ChunkWriter::flush() {
  if (end_ > 0) s_.write(reinterpret_cast<const char*>(buf_.data()), end_);
  end_ = 0;
}

}  // namespace zolt::bin

namespace zolt {

void adviseHugePages(void* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr size_t kHuge = size_t(2) << 20;
  if (!p || bytes < kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace zolt
