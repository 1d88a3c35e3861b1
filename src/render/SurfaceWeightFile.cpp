// The weight file: u32 vertex count, u32 finest element count, then per
// vertex 4 u32 node numbers, and 4 f32 each of weights, normal frame and
// face coordinates, array after array: 8 + 64 V bytes.

#include <cmath>
#include <cstdio>
#include <fstream>

#include "BinaryIO.h"
#include "SurfaceMesh.h"
#include "TetHierarchy.h"

namespace {

constexpr int64_t kBytesPerVertex = 64;

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

bool SurfaceMesh::readWeights(const char* cacheName, bool fur) {
  if (!mesh) return false;
  const std::string path = weightFilePath(cacheName, fur);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::printf("Can't read the file %s!\n", path.c_str());
    return false;
  }
  std::printf("Read Weights from File: %s\n", path.c_str());
  const size_t nodes = mesh->vertices[mesh->nLevels - 1].size();
  const size_t elements = mesh->elements[mesh->nLevels - 1].size();
  uint32_t storedVertices = 0, storedElements = 0;
  bool ok = zolt::bin::readU32(in, storedVertices) && zolt::bin::readU32(in, storedElements) &&
            storedVertices == restPositions.size() / 3 && storedVertices == vertexCount &&
            storedElements == elements &&
            zolt::bin::bytesLeft(in) == kBytesPerVertex * static_cast<int64_t>(storedVertices);
  const size_t n = 4 * static_cast<size_t>(vertexCount);
  if (ok) {
    nodeIndices.resize(n);
    for (uint32_t& k : nodeIndices) ok = ok && zolt::bin::readU32(in, k) && k < nodes;
    ok = ok && readFloats(in, weights, n) && readFloats(in, normalFrame, n) &&
         readFloats(in, faceCoords, n);
    for (float w : weights) ok = ok && std::isfinite(w);
  }
  if (!ok) {
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::printf("Error: The file %s could not be opened\n", path.c_str());
    return false;
  }
  zolt::bin::writeU32(out, vertexCount);
  zolt::bin::writeU32(out, static_cast<uint32_t>(mesh->elements[mesh->nLevels - 1].size()));
  for (uint32_t k : nodeIndices) zolt::bin::writeU32(out, k);
  for (const std::vector<float>* a : {&weights, &normalFrame, &faceCoords})
    for (float v : *a) zolt::bin::writeF32(out, v);
  out.close();
  if (!out) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}
