#pragma once
// Field-by-field little-endian record I/O. Writers never dump structs;
// readers return false on a short read so that callers can refuse a record.

#include <cstdint>
#include <istream>
#include <ostream>

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

}  // namespace zolt::bin
