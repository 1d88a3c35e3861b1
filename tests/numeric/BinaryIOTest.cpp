#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "BinaryIO.h"

using namespace zolt::bin;

TEST(BinaryIO, FieldsAreLittleEndianWithoutPadding) {
  std::stringstream s;
  writeU8(s, 1);
  writeU16(s, 0x0102);
  writeI32(s, -2);
  writeU32(s, 0x01020304u);
  writeF32(s, 1.0f);
  writeF64(s, 1.0);
  const std::string expected(
      "\x01"
      "\x02\x01"
      "\xfe\xff\xff\xff"
      "\x04\x03\x02\x01"
      "\x00\x00\x80\x3f"
      "\x00\x00\x00\x00\x00\x00\xf0\x3f",
      23);
  EXPECT_EQ(s.str(), expected);
}

TEST(BinaryIO, RoundTripAndShortReads) {
  std::stringstream s;
  writeI32(s, -123456);
  writeF64(s, -0.1);
  writeF32(s, NAN);
  writeU16(s, 0xfffe);
  EXPECT_EQ(bytesLeft(s), 18);
  int32_t i;
  double d;
  float f;
  ASSERT_TRUE(readI32(s, i));
  EXPECT_EQ(bytesLeft(s), 14);
  ASSERT_TRUE(readF64(s, d));
  ASSERT_TRUE(readF32(s, f));
  EXPECT_EQ(i, -123456);
  EXPECT_EQ(d, -0.1);
  EXPECT_TRUE(std::isnan(f));
  uint16_t h;
  ASSERT_TRUE(readU16(s, h));
  EXPECT_EQ(h, 0xfffe);
  uint8_t b;
  EXPECT_FALSE(readU8(s, b));

  std::stringstream shortRecord(std::string("\x01\x02", 2));
  uint32_t u;
  EXPECT_FALSE(readU32(shortRecord, u));
}

TEST(BinaryIO, SixteenBitFieldsKeepTheirSign) {
  std::stringstream s;
  writeU16(s, 0xfffe);
  writeI16(s, -32768);
  writeI16(s, 258);
  EXPECT_EQ(s.str(), std::string("\xfe\xff\x00\x80\x02\x01", 6));
  uint16_t u;
  int16_t a, b, c;
  ASSERT_TRUE(readU16(s, u) && readI16(s, a) && readI16(s, b));
  EXPECT_EQ(u, 0xfffe);
  EXPECT_EQ(a, -32768);
  EXPECT_EQ(b, 258);
  EXPECT_FALSE(readI16(s, c));
}

// The chunk writer's bytes equal the field writers', and the chunk reader
// decodes them, across their 256 KiB pieces; the reader never reads past
// its limit: the bytes after it stay in the stream for the next record.
TEST(BinaryIO, ChunkWriterAndReaderRoundTripStopsAtTheLimit) {
  struct Case {
    int values;    // u8, i32, f64 and f32 fields written
    int64_t cut;   // the limit (17 bytes a group; negative reads nothing)
    bool readAll;  // every group decodes
  };
  const Case cases[] = {{0, 0, true},          {1, 17, true},          {3, 51, true},
                        {20000, 340000, true}, {20000, 339999, false}, {5, -1, false}};
  for (const Case& c : cases) {
    std::stringstream s, direct;
    {
      ChunkWriter out(s);
      for (int k = 0; k < c.values; ++k) {
        writeU8(direct, static_cast<uint8_t>(k));
        writeI32(direct, -k);
        writeF64(direct, 0.1 * k);
        writeF32(direct, 0.5f * k);
        out.writeU8(static_cast<uint8_t>(k));
        out.writeI32(-k);
        out.writeF64(0.1 * k);
        out.writeF32(0.5f * k);
      }
    }
    EXPECT_EQ(s.str(), direct.str()) << c.values;
    writeI32(s, 77);  // the next record
    ChunkReader in(s, c.cut);
    bool ok = true;
    for (int k = 0; k < c.values && ok; ++k) {
      uint8_t u;
      int32_t i;
      double d;
      float f;
      ok = in.readU8(u) && in.readI32(i) && in.readF64(d) && in.readF32(f);
      ASSERT_TRUE(!ok || (u == uint8_t(k) && i == -k && d == 0.1 * k && f == 0.5f * k)) << k;
    }
    EXPECT_EQ(ok, c.readAll) << c.values;
    if (!c.readAll) continue;
    EXPECT_EQ(in.remaining(), 0);
    uint8_t b;
    EXPECT_FALSE(in.readU8(b));
    int32_t next;
    ASSERT_TRUE(readI32(s, next));
    EXPECT_EQ(next, 77);
  }
}
