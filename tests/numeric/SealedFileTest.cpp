// Sealed streams against the seal computed straight from the hash library.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "BinaryIO.h"
#include "Sealed.h"
#include "SealedFile.h"
#include "TempDir.h"

using namespace zolt::test;
using Reader = std::function<std::string(std::istream&)>;

namespace {

constexpr size_t kPayload = 700001;
const std::string payload = [] {  // no repeat within 2 MB
  std::string s(kPayload, '\0');
  for (size_t i = 0; i < kPayload; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
  return s;
}();

std::string take(std::istream& in, size_t n) {
  std::string s(n, '\0');
  in.read(&s[0], static_cast<std::streamsize>(n));
  return s.substr(0, static_cast<size_t>(in.gcount()));
}

// What the reader saw, and whether the seal held.
std::pair<std::string, bool> readSealed(const std::string& file, const Reader& read) {
  std::istringstream src(file);
  zolt::SealedInBuf sealed(*src.rdbuf());
  std::istream in(&sealed);
  std::string seen = read(in);
  return {seen, sealed.verify()};
}

// A sealed file whose reads throw once they reach byte `at`: a read error
// as a file buffer throws it, or std::bad_alloc.
struct FailingSource : std::stringbuf {
  std::streamsize at;
  bool outOfMemory;
  FailingSource(const std::string& file, std::streamsize at, bool outOfMemory)
      : std::stringbuf(file), at(at), outOfMemory(outOfMemory) {}
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    const std::streamsize pos = pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    if (pos + n > at && pos < at) {
      if (outOfMemory) throw std::bad_alloc();
      throw std::ios_base::failure("read error");
    }
    return std::stringbuf::xsgetn(s, n);
  }
};

struct FullDisk : std::streambuf {  // takes n bytes, then refuses
  std::string room;
  explicit FullDisk(size_t n) : room(n, '\0') { setp(&room[0], &room[0] + n); }
};

}  // namespace

// Small, buffered and direct writes; then writes that fail part way.
TEST(SealedFile, WriterAppendsTheSealAndReportsAFailedWrite) {
  std::stringstream dst;
  zolt::SealedOutBuf sealed(*dst.rdbuf());
  std::ostream out(&sealed);
  size_t at = 0;
  for (size_t piece : {1, 4, 3, 100000, 7, 500000, 13, 99973})
    out.write(payload.data() + at, static_cast<std::streamsize>(piece)), at += piece;
  EXPECT_TRUE(sealed.seal() && out.good());
  EXPECT_EQ(dst.str(), sealedFile(payload));
  for (size_t room : {0, 100, 262143, 700001, 700008}) {
    FullDisk disk(room);
    zolt::SealedOutBuf full(disk);
    std::ostream o(&full);
    o.write(payload.data(), static_cast<std::streamsize>(payload.size()));
    EXPECT_FALSE(full.seal() && o.good()) << room;
  }
}

// Seeks, a skipped gap and an early stop still hash the whole payload.
TEST(SealedFile, EveryWayOfReadingSeesThePayloadAndChecksTheSeal) {
  const std::string file = sealedFile(payload);
  const struct {
    size_t from, count;  // what the reader returns
    Reader read;
  } rows[] = {
      {0, kPayload,
       [](std::istream& in) {
         std::string s = take(in, 300000);
         in.seekg(-100000, std::ios::cur);  // back across the buffer
         EXPECT_TRUE(take(in, 100000) == s.substr(200000));
         EXPECT_EQ((in.seekg(5), take(in, 10)), s.substr(5, 10));
         return in.seekg(300000), s + take(in, kPayload);
       }},
      {100000, 1000, [](std::istream& in) { return in.seekg(100000), take(in, 1000); }},
  };
  for (const auto& row : rows) {
    const auto clean = readSealed(file, row.read);
    EXPECT_TRUE(clean == std::make_pair(payload.substr(row.from, row.count), true))
        << row.from << " " << row.count;
    for (size_t bit : seededBits(0, file.size(), 9))
      EXPECT_FALSE(readSealed(flipped(file, bit), row.read).second) << row.count << " " << bit;
  }
}

// Shorter than a seal: no payload and no seal. Eight bytes: an empty payload.
TEST(SealedFile, TooShortForASealIsRefused) {
  const Reader read = [](std::istream& in) {
    return std::to_string(zolt::bin::bytesLeft(in)) + take(in, 8);
  };
  for (size_t n = 0; n < 8; ++n)
    EXPECT_EQ(readSealed(std::string(n, 'x'), read), std::make_pair(std::string("-1"), false)) << n;
  EXPECT_TRUE(readSealed(sealedFile(""), read).second);
  EXPECT_FALSE(readSealed(std::string(8, '\0'), read).second);
  // A directory opens as a file whose reads fail (the file buffer throws):
  // no seal, nothing read, nothing thrown.
  TempDir dir;
  std::ifstream file(dir.file(""), std::ios::binary);
  ASSERT_TRUE(file.is_open());
  zolt::SealedInBuf sealed(*file.rdbuf());
  std::istream in(&sealed);
  EXPECT_EQ(read(in), "-1");
  EXPECT_FALSE(sealed.hasSeal() || sealed.verify());
  EXPECT_EQ(zolt::notAFile(dir.file("")), "is a directory");
  EXPECT_EQ(zolt::notAFile(dir.file("none")), "");
}

// A read error reads as the end of the data; running out of memory is no
// end of data: the reader sees a bad stream and verify() throws it on.
TEST(SealedFile, AReadErrorEndsTheDataAndRunningOutOfMemoryIsThrownOn) {
  const std::string file = sealedFile(payload);
  for (std::streamsize at : {1, 300000, 699999})
    for (bool outOfMemory : {false, true}) {
      SCOPED_TRACE(std::to_string(at) + (outOfMemory ? " out of memory" : " read error"));
      FailingSource source(file, at, outOfMemory);
      zolt::SealedInBuf sealed(source);
      std::istream in(&sealed);
      EXPECT_LT(take(in, kPayload).size(), kPayload);
      bool thrown = false;
      try {
        EXPECT_FALSE(sealed.verify());
      } catch (const std::bad_alloc&) {
        thrown = true;
      }
      EXPECT_EQ(thrown, outOfMemory);
    }
}
