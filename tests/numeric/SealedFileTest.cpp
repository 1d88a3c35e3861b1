// Sealed files against the seal computed straight from the hash library,
// however they are written or read.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "BinaryIO.h"
#include "Sealed.h"
#include "SealedFile.h"

using namespace zolt::test;

namespace {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

constexpr size_t kPayload = 700001;

// What a reader saw, and whether the seal held afterwards.
struct Reading {
  std::string seen;
  bool sealOk;
};

using Reader = std::function<std::string(std::istream&)>;

Reading readSealed(const std::string& file, const Reader& read) {
  std::istringstream src(file);
  zolt::SealedInBuf sealed(*src.rdbuf());
  std::istream in(&sealed);
  const std::string seen = read(in);
  return {seen, sealed.verify()};
}

std::string take(std::istream& in, size_t n) {
  std::string s(n, '\0');
  in.read(&s[0], static_cast<std::streamsize>(n));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

// Takes limit bytes, then refuses.
struct FullDisk : std::streambuf {
  std::streamsize room;
  explicit FullDisk(std::streamsize limit) : room(limit) {}
  std::streamsize xsputn(const char*, std::streamsize n) override {
    const std::streamsize k = std::min(n, room);
    room -= k;
    return k;
  }
  int_type overflow(int_type c) override { return xsputn(nullptr, 1) ? c : traits_type::eof(); }
};
}  // namespace

TEST(SealedFile, WriterAppendsTheSealOfThePayload) {
  const std::string payload = randomBytes(900000, 1);
  std::stringstream dst;
  {
    zolt::SealedOutBuf sealed(*dst.rdbuf());
    std::ostream out(&sealed);
    out.put(payload[0]);
    size_t at = 1;
    for (size_t piece : {4, 3, 100000, 7, 600000, 13, 199972})  // small, buffered and direct
      out.write(payload.data() + at, static_cast<std::streamsize>(piece)), at += piece;
    ASSERT_TRUE(out.good());
    EXPECT_TRUE(sealed.seal());
  }
  EXPECT_EQ(dst.str(), sealedFile(payload));
  // An empty payload has a seal too.
  std::stringstream empty;
  zolt::SealedOutBuf sealed(*empty.rdbuf());
  EXPECT_TRUE(sealed.seal());
  EXPECT_EQ(empty.str(), sealedFile(""));
}

TEST(SealedFile, EveryWayOfReadingSeesThePayloadAndChecksTheSeal) {
  const std::string payload = randomBytes(kPayload, 2), file = sealedFile(payload);
  const struct {
    const char* how;
    size_t from, count;  // the part of the payload the reader returns
    Reader read;
  } rows[] = {
      {"a byte and 13 bytes in turn", 0, kPayload,
       [](std::istream& in) {
         std::string s;
         for (int c; (c = in.get()) != EOF;) s += static_cast<char>(c) + take(in, 13);
         return s;
       }},
      {"one large read", 0, kPayload, [](std::istream& in) { return take(in, kPayload + 100); }},
      {"seeking back and asking for the bytes left", 0, kPayload,
       [](std::istream& in) {
         std::string s = take(in, 12345);
         EXPECT_EQ(zolt::bin::bytesLeft(in), int64_t(kPayload - 12345));
         s += take(in, 300000 - 12345);
         in.seekg(-100000, std::ios::cur);  // back across the buffer
         EXPECT_TRUE(take(in, 100000) == s.substr(200000));
         in.seekg(5);
         EXPECT_EQ(take(in, 10), s.substr(5, 10));
         in.seekg(300000);
         EXPECT_EQ(zolt::bin::bytesLeft(in), int64_t(kPayload - 300000));
         return s + take(in, kPayload);
       }},
      // The gap is hashed unread.
      {"skipping ahead", kPayload - 1000, 1000,
       [](std::istream& in) {
         in.seekg(kPayload - 1000);
         return take(in, 2000);
       }},
      {"stopping early", 0, 1000, [](std::istream& in) { return take(in, 1000); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.how);
    const Reading clean = readSealed(file, row.read);
    EXPECT_TRUE(clean.seen == payload.substr(row.from, row.count));
    EXPECT_TRUE(clean.sealOk);
    for (size_t bit : seededBits(0, file.size(), 9))
      EXPECT_FALSE(readSealed(flipped(file, bit), row.read).sealOk) << bit;
  }
}

TEST(SealedFile, TooShortForASealIsRefused) {
  for (size_t n = 0; n < 8; ++n) {
    const Reading r = readSealed(std::string(n, 'x'), [](std::istream& in) {
      return std::to_string(zolt::bin::bytesLeft(in)) + take(in, 8);
    });
    EXPECT_EQ(r.seen, "-1") << n;
    EXPECT_FALSE(r.sealOk) << n;
  }
  // Eight bytes: an empty payload, sealed or not.
  EXPECT_TRUE(readSealed(sealedFile(""), [](std::istream& in) { return take(in, 1); }).sealOk);
  EXPECT_FALSE(readSealed(std::string(8, '\0'), [](std::istream&) { return ""; }).sealOk);
}

TEST(SealedFile, AFailedWriteIsReported) {
  const std::string payload = randomBytes(400000, 3);
  for (std::streamsize limit : {0, 100, 262143, 400000, 400007}) {
    FullDisk disk(limit);
    zolt::SealedOutBuf sealed(disk);
    std::ostream out(&sealed);
    out.write(payload.data(), static_cast<std::streamsize>(payload.size()));
    EXPECT_FALSE(sealed.seal() && out.good()) << limit;
  }
}
