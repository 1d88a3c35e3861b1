// The weight file: u32 format word, u32 vertex count, u32 finest element
// count, u64 fingerprint of the surface the binding is for (weightKey), then
// per vertex 4 u32 node numbers, and 4 f32 each of weights, normal frame and
// face coordinates, array after array, and the seal (SealedFile.h):
// 28 + 64 V bytes. A file of the unsealed first format starts with its
// vertex count.

#include <cmath>
#include <cstdio>
#include <fstream>

#include "AtomicFile.h"
#include "BinaryIO.h"
#include "SealedFile.h"
#include "SurfaceMesh.h"
#include "TetHierarchy.h"

namespace {

constexpr int64_t kBytesPerVertex = 64;
constexpr uint32_t kWeightMagic = 0x7A91B003;  // 2: no fingerprint

bool readFloats(std::istream& in, std::vector<float>& out, size_t n) {
  out.resize(n);
  for (float& v : out)
    if (!zolt::bin::readF32(in, v)) return false;
  return true;
}

}  // namespace

std::string SurfaceMesh::weightFilePath(const char* cacheName, bool fur) {
  return std::string(cacheName ? cacheName : "") + (fur ? ".weightFur" : ".weight");
}

uint64_t SurfaceMesh::surfaceFingerprint(float weighting) const {
  return zolt::bytesFingerprint({{restPositions.data(), 4 * restPositions.size()},
                                 {indices.data(), 4 * indices.size()},
                                 {&weighting, sizeof weighting}});
}

bool SurfaceMesh::readWeights(const char* cacheName, bool fur) {
  if (!mesh) return false;
  const std::string path = weightFilePath(cacheName, fur);
  if (!zolt::notAFile(path).empty()) return false;  // writeWeights says why
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::printf("Can't read the file %s!\n", path.c_str());
    return false;
  }
  std::printf("Read Weights from File: %s\n", path.c_str());
  zolt::SealedInBuf sealed(*file.rdbuf());
  std::istream in(&sealed);
  uint32_t magic = 0;
  const size_t nodes = mesh->vertices[mesh->nLevels - 1].size();
  const size_t elements = mesh->elements[mesh->nLevels - 1].size();
  uint32_t storedVertices = 0, storedElements = 0, low = 0, high = 0;
  bool ok = zolt::bin::readU32(in, magic) && magic == kWeightMagic &&
            zolt::bin::readU32(in, storedVertices) && zolt::bin::readU32(in, storedElements) &&
            zolt::bin::readU32(in, low) && zolt::bin::readU32(in, high) &&
            storedVertices == restPositions.size() / 3 && storedVertices == vertexCount &&
            storedElements == elements &&
            zolt::bin::bytesLeft(in) == kBytesPerVertex * static_cast<int64_t>(storedVertices);
  if (ok && (uint64_t(high) << 32 | low) != weightKey && sealed.verify()) {
    std::printf(
        "[SurfaceMesh, readWeights] The surface changed since %s was written; the weights are "
        "searched again.\n",
        path.c_str());
    clearWeights();
    return false;
  }
  const size_t n = 4 * static_cast<size_t>(vertexCount);
  if (ok) {
    nodeIndices.resize(n);
    for (uint32_t& k : nodeIndices) ok = ok && zolt::bin::readU32(in, k) && k < nodes;
    ok = ok && readFloats(in, weights, n) && readFloats(in, normalFrame, n) &&
         readFloats(in, faceCoords, n);
    for (float w : weights) ok = ok && std::isfinite(w);
  }
  const bool sound = ok;
  ok = ok && sealed.verify();
  if (!ok) {
    if (sound)
      std::printf(
          "[SurfaceMesh, readWeights] Error: Checksum mismatch in %s; the weights are "
          "searched again.\n",
          path.c_str());
    else
      std::printf("Stored weight file does not match current object.\n");
    clearWeights();
    normalFrame.clear();
    faceCoords.clear();
    return false;
  }
  return true;
}

bool SurfaceMesh::writeWeights(const char* cacheName, bool fur) const {
  const std::string path = weightFilePath(cacheName, fur);
  const size_t n = 4 * static_cast<size_t>(vertexCount);
  if (!mesh || nodeIndices.size() != n || weights.size() != n || normalFrame.size() != n ||
      faceCoords.size() != n)
    return false;
  zolt::AtomicFile file(path);
  if (!file.is_open()) {
    const std::string& why = file.why();
    std::printf("Error: The file %s could not be opened%s\n", path.c_str(),
                why.empty() ? "" : (" (it " + why + ")").c_str());
    return false;
  }
  zolt::SealedOutBuf sealed(*file.stream().rdbuf());
  std::ostream out(&sealed);
  zolt::bin::writeU32(out, kWeightMagic);
  zolt::bin::writeU32(out, vertexCount);
  zolt::bin::writeU32(out, static_cast<uint32_t>(mesh->elements[mesh->nLevels - 1].size()));
  zolt::bin::writeU32(out, static_cast<uint32_t>(weightKey));
  zolt::bin::writeU32(out, static_cast<uint32_t>(weightKey >> 32));
  for (uint32_t k : nodeIndices) zolt::bin::writeU32(out, k);
  for (const std::vector<float>* a : {&weights, &normalFrame, &faceCoords})
    for (float v : *a) zolt::bin::writeF32(out, v);
  if (!sealed.seal() || !out) file.stream().setstate(std::ios::failbit);
  return file.commit();
}
