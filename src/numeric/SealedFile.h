#pragma once
// Sealed cache files: the last 8 bytes of the file are the XXH3-64 of every
// byte before them (little-endian), so that one flipped bit anywhere is
// seen before the cache is used.
//
// SealedInBuf reads the payload of a sealed stream and hashes it on the way,
// each byte once, however the reader seeks inside it; the payload ends
// before the seal, so the readers' size checks see the payload alone.
// SealedOutBuf hashes what is written through it and appends the seal.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace zolt {

class SealedInBuf : public std::streambuf {
 public:
  // Reads src from its current position; src must be able to seek.
  explicit SealedInBuf(std::streambuf& src);
  ~SealedInBuf() override;
  SealedInBuf(const SealedInBuf&) = delete;
  SealedInBuf& operator=(const SealedInBuf&) = delete;

  // False when the stream is shorter than a seal or cannot seek.
  bool hasSeal() const { return sealed_; }
  // Hashes the part of the payload not read yet and compares the digest
  // with the seal. Throws std::bad_alloc when a read of the source ran out
  // of memory, here or before (which the reading istream only marks bad).
  bool verify();

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* s, std::streamsize n) override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
  std::streamsize showmanyc() override;

 private:
  int64_t position() const { return pending_ >= 0 ? pending_ : bufPos_ + (gptr() - eback()); }
  bool resolvePending();
  int64_t fetch(int64_t at, char* dst, int64_t n);
  void hashNew(const char* p, int64_t at, int64_t n);
  bool hashUpTo(int64_t end);

  std::streambuf& src_;
  struct State;
  std::unique_ptr<State> state_;
  std::vector<char> buf_;
  bool sealed_ = false;
  uint64_t seal_ = 0;
  int64_t base_ = 0, end_ = 0;  // payload [base_, end_) in src offsets
  int64_t bufPos_ = 0;          // offset of eback()
  int64_t pending_ = -1;        // read position after a seek away from the held bytes
  int64_t srcPos_ = -1;         // where src reads next, -1 unknown
  int64_t hashed_ = 0;          // payload hashed up to here
  bool outOfMemory_ = false;    // a read of src threw std::bad_alloc
};

class SealedOutBuf : public std::streambuf {
 public:
  explicit SealedOutBuf(std::streambuf& dst);
  ~SealedOutBuf() override;
  SealedOutBuf(const SealedOutBuf&) = delete;
  SealedOutBuf& operator=(const SealedOutBuf&) = delete;

  // Writes what is buffered and the seal; false when any write failed.
  bool seal();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool pass(const char* p, std::streamsize n);
  bool drain();

  std::streambuf& dst_;
  struct State;
  std::unique_ptr<State> state_;
  std::vector<char> buf_;
  bool failed_ = false;
};

// Why path cannot hold a cache file: "is a directory" or "is not a regular
// file"; empty when it is a regular file or nothing is there.
std::string notAFile(const std::string& path);

// XXH3-64 of the byte ranges {data, size} in order, each preceded by its
// size.
uint64_t bytesFingerprint(std::initializer_list<std::pair<const void*, size_t>> ranges);

// XXH3-64 of the contents of the given files in order, each preceded by
// its size (a missing file counts as size -1), then of `text`, so that
// editing any of them changes the value.
uint64_t filesFingerprint(const std::vector<std::string>& paths, const std::string& text = "");

}  // namespace zolt
