#pragma once
// Field-by-field little-endian record I/O. Writers never dump structs;
// readers return false on a short read so that callers can refuse a record.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

namespace zolt::bin {

void writeU8(std::ostream& s, uint8_t v);
void writeU16(std::ostream& s, uint16_t v);
void writeI16(std::ostream& s, int16_t v);
void writeI32(std::ostream& s, int32_t v);
void writeU32(std::ostream& s, uint32_t v);
void writeF32(std::ostream& s, float v);
void writeF64(std::ostream& s, double v);

bool readU8(std::istream& s, uint8_t& v);
bool readU16(std::istream& s, uint16_t& v);
bool readI16(std::istream& s, int16_t& v);
bool readI32(std::istream& s, int32_t& v);
bool readU32(std::istream& s, uint32_t& v);
bool readF32(std::istream& s, float& v);
bool readF64(std::istream& s, double& v);

// Bytes between the read position and the end of the stream, or -1 when the
// stream cannot seek. The read position is left where it was.
int64_t bytesLeft(std::istream& s);

// Reads the next limit bytes of a stream (fewer when it ends first) in
// pieces of at most 256 KiB, never past limit, and decodes them field by
// field as the functions above do.
class ChunkReader {
 public:
  ChunkReader(std::istream& s, int64_t limit);
  bool readU8(uint8_t& v) {
    if (!need(1)) return false;
    v = buf_[pos_++];
    return true;
  }
  bool readI32(int32_t& v) {
    const unsigned char* b = take(4);
    if (b) v = static_cast<int32_t>(u32(b));
    return b != nullptr;
  }
  bool readU32(uint32_t& v) {
    const unsigned char* b = take(4);
    if (b) v = u32(b);
    return b != nullptr;
  }
  bool readF32(float& v);
  bool readF64(double& v) {
    const unsigned char* b = take(8);
    if (b) v = f64(b);
    return b != nullptr;
  }
  // The next n bytes (at most 256 KiB) in one piece, valid until the next
  // read; null when the limit or the stream ends first.
  const unsigned char* take(size_t n) {
    if (!need(n)) return nullptr;
    const unsigned char* b = buf_.data() + pos_;
    pos_ += n;
    return b;
  }
  // Little-endian fields at b.
  static uint32_t u32(const unsigned char* b) {
    return b[0] | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  }
  static double f64(const unsigned char* b) {
    const uint64_t u = u32(b) | (static_cast<uint64_t>(u32(b + 4)) << 32);
    double v;
    __builtin_memcpy(&v, &u, 8);
    return v;
  }
  // Bytes of the limit not yet handed out.
  int64_t remaining() const { return left_ + static_cast<int64_t>(end_ - pos_); }

 private:
  bool need(size_t n) { return end_ - pos_ >= n || refill(n); }
  bool refill(size_t n);

  std::istream& s_;
  int64_t left_;  // bytes of the limit not yet read from the stream
  std::vector<unsigned char> buf_;
  size_t pos_ = 0, end_ = 0;
};

// Collects fields in a 256 KiB buffer and hands it to the stream in one
// write when full, on flush() and when destroyed; the stream's state tells
// whether the writes succeeded.
class ChunkWriter {
 public:
  explicit ChunkWriter(std::ostream& s) : s_(s), buf_(kSize) {}
  ~ChunkWriter() { flush(); }
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;
  void writeU8(uint8_t v) { put<1>(v); }
  void writeI32(int32_t v) { put<4>(static_cast<uint32_t>(v)); }
  void writeF32(float v);
  void writeF64(double v);
  void flush();

 private:
  static constexpr size_t kSize = size_t(1) << 18;
  template <int N>
  void put(uint64_t bits) {
    if (end_ + N > kSize) flush();
    for (int i = 0; i < N; ++i) buf_[end_++] = static_cast<unsigned char>(bits >> (8 * i));
  }

  std::ostream& s_;
  std::vector<unsigned char> buf_;
  size_t end_ = 0;
};

}  // namespace zolt::bin

namespace zolt {

// Asks for huge pages behind a large allocation before its first touch:
// filling it then takes a page fault per 2 MB instead of per 4 KB, and
// streaming it later misses the TLB less. Only the whole 2 MB pages inside
// the allocation are advised. A hint only.
void adviseHugePages(void* p, size_t bytes);

}  // namespace zolt
