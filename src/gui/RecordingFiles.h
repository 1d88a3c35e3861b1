#pragma once
// The two recording files of a model: ".sequence" (displacement frames, raw
// doubles) and ".path" (one PathRecord per frame: the view and the user's
// interaction). Both are read and written field by field, little-endian.

#include <cstdint>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>

class FiniteElement;

// Size of a ".path" record.
constexpr int kPathRecordSize = 136;

// One frame of a ".path" recording. A zeroed record is the state right after
// resetState: nothing held, no gravity, no drag.
struct PathRecord {
  float viewRotation[16] = {};  // column-major
  float shiftX = 0.0f, shiftY = 0.0f, zoom = 0.0f;
  int32_t vertices[4] = {0, 0, 0, 0};  // dragged element's vertex indices; -1 beyond its count
  float forceNorm = 0.0f;              // the value that squeezing scales
  double dragForce[3] = {0.0, 0.0, 0.0};
  float pointerX = 0.0f, pointerY = 0.0f;  // pointer / window size
  uint8_t pull = 0, squeeze = 0;           // drag kinds active in this frame
  uint8_t gravityOn = 0, forcesOn = 0, deformationForceOn = 0;
  uint8_t inertia = 0, reset = 0;  // ids 106 and 105 in this frame

  // The drag fields of the mouse code: the element's first four vertex
  // indices (-1 where it has fewer) and the force of the drag.
  void setDrag(const FiniteElement& element, const double force[3]);
};

void writePathRecord(std::ostream& s, const PathRecord& r);
// False on a short read; r is then left as it was.
bool readPathRecord(std::istream& s, PathRecord& r);

// Opens path for binary writing (truncated) after closing s and clearing its
// state; false, with one error line, when it cannot be opened.
bool openForRecording(std::fstream& s, const std::string& path);
// Opens path for binary reading likewise; false, with one error line, when
// it cannot be opened or holds less than one record of recordBytes.
bool openForReplay(std::fstream& s, const std::string& path, int64_t recordBytes);
