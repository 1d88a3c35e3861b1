// The ".path" record against bytes laid out by hand.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "RecordingFiles.h"

namespace {

// Little-endian bytes of v at offset `at` of buffer b.
template <class T>
void put(std::string& b, size_t at, T v) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, &v, sizeof(T));  // the test machine is little-endian
  for (size_t i = 0; i < sizeof(T); ++i) b[at + i] = static_cast<char>(raw[i]);
}

TEST(PathRecord, FieldsSitAtTheirOffsets) {
  PathRecord r;
  std::string expected(kPathRecordSize, '\0');
  for (int i = 0; i < 16; ++i) put(expected, 4 * i, r.viewRotation[i] = 0.5f * float(i) - 3.0f);
  put(expected, 64, r.shiftX = 1.25f);
  put(expected, 68, r.shiftY = -2.5f);
  put(expected, 72, r.zoom = -7.0f);
  for (int k = 0; k < 4; ++k) put(expected, 76 + 4 * k, r.vertices[k] = k == 3 ? -1 : 100 + k);
  put(expected, 92, r.forceNorm = 812.5f);
  for (int k = 0; k < 3; ++k) put(expected, 96 + 8 * k, r.dragForce[k] = 1e-3 * (k + 1) - 0.7);
  put(expected, 120, r.pointerX = 0.375f);
  put(expected, 124, r.pointerY = 0.8125f);
  uint8_t* bytes[] = {&r.pull,    &r.squeeze, &r.gravityOn, &r.forcesOn, &r.deformationForceOn,
                      &r.inertia, &r.reset};
  for (int k = 0; k < 7; ++k) put(expected, 128 + k, *bytes[k] = uint8_t(k % 2 + 1));
  std::stringstream s;
  writePathRecord(s, r);
  EXPECT_EQ(s.str(), expected);

  // Read back from the hand-made bytes; a short record leaves the old one.
  PathRecord back;
  std::istringstream in(expected);
  ASSERT_TRUE(readPathRecord(in, back));
  std::stringstream again;
  writePathRecord(again, back);
  EXPECT_EQ(again.str(), expected);
  std::istringstream shortRecord(expected.substr(0, kPathRecordSize - 1));
  PathRecord kept;
  EXPECT_FALSE(readPathRecord(shortRecord, kept));
  EXPECT_EQ(kept.forceNorm, 0.0f);
}

}  // namespace
