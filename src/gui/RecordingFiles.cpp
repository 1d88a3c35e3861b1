#include "RecordingFiles.h"

#include <iostream>

#include "BinaryIO.h"
#include "FiniteElement.h"
#include "Vertex.h"

using namespace zolt::bin;

void PathRecord::setDrag(const FiniteElement& element, const double force[3]) {
  const int n = element.degreeOfFreedom();
  for (int k = 0; k < 4; ++k) vertices[k] = k < n ? element.getVertex(k)->index : -1;
  for (int k = 0; k < 3; ++k) dragForce[k] = force[k];
}

void writePathRecord(std::ostream& s, const PathRecord& r) {
  for (float v : r.viewRotation) writeF32(s, v);
  writeF32(s, r.shiftX);
  writeF32(s, r.shiftY);
  writeF32(s, r.zoom);
  for (int32_t v : r.vertices) writeI32(s, v);
  writeF32(s, r.forceNorm);
  for (double v : r.dragForce) writeF64(s, v);
  writeF32(s, r.pointerX);
  writeF32(s, r.pointerY);
  for (uint8_t v : {r.pull, r.squeeze, r.gravityOn, r.forcesOn, r.deformationForceOn, r.inertia,
                    r.reset, uint8_t(0)})
    writeU8(s, v);
}

bool readPathRecord(std::istream& s, PathRecord& r) {
  PathRecord t;
  bool ok = true;
  for (float& v : t.viewRotation) ok = ok && readF32(s, v);
  ok = ok && readF32(s, t.shiftX) && readF32(s, t.shiftY) && readF32(s, t.zoom);
  for (int32_t& v : t.vertices) ok = ok && readI32(s, v);
  ok = ok && readF32(s, t.forceNorm);
  for (double& v : t.dragForce) ok = ok && readF64(s, v);
  ok = ok && readF32(s, t.pointerX) && readF32(s, t.pointerY);
  uint8_t padding = 0;
  for (uint8_t* v : {&t.pull, &t.squeeze, &t.gravityOn, &t.forcesOn, &t.deformationForceOn,
                     &t.inertia, &t.reset, &padding})
    ok = ok && readU8(s, *v);
  if (ok) r = t;
  return ok;
}

namespace {

bool reopen(std::fstream& s, const std::string& path, std::ios::openmode mode) {
  s.close();
  s.clear();
  s.open(path, mode | std::ios::binary);
  if (s.is_open()) return true;
  std::cout << "[ZoltControl, startRecording] Error: Can't open file \"" << path << "\""
            << std::endl;
  return false;
}

}  // namespace

bool openForRecording(std::fstream& s, const std::string& path) {
  return reopen(s, path, std::ios::out | std::ios::trunc);
}

bool openForReplay(std::fstream& s, const std::string& path, int64_t recordBytes) {
  if (!reopen(s, path, std::ios::in)) return false;
  if (bytesLeft(s) >= recordBytes && bytesLeft(s) > 0) return true;
  std::cout << "[ZoltControl, startRecording] Error: No complete record in \"" << path << "\""
            << std::endl;
  s.close();
  s.setstate(std::ios::failbit);
  return false;
}
