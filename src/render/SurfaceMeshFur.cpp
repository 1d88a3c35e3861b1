// The fur build of a surface: planar fur texture coordinates by the
// dominant axis of each triangle, then one render vertex per fur coordinate
// with the copies of a vertex listed for the seam merge.

#include <cmath>

#include "SurfaceMesh.h"

void SurfaceMesh::buildFurTexCoords(float cellSize) {
  const size_t n = restPositions.size() / 3;
  std::vector<uint8_t> used(3 * n, 0);
  std::vector<std::vector<uint32_t>> corners(3 * n);  // per vertex and axis
  const float* p = restPositions.data();
  for (size_t k = 0; k + 2 < indices.size(); k += 3) {
    const float* a = p + 3 * size_t(indices[k]);
    const float* b = p + 3 * size_t(indices[k + 1]);
    const float* c = p + 3 * size_t(indices[k + 2]);
    const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const float nx = std::fabs(u[1] * v[2] - u[2] * v[1]);
    const float ny = std::fabs(u[2] * v[0] - u[0] * v[2]);
    const float nz = std::fabs(u[0] * v[1] - u[1] * v[0]);
    const int axis = nz > std::fmax(nx, ny) ? 2 : nx < ny ? 1 : 0;
    for (size_t j = k; j < k + 3; ++j) {
      used[3 * size_t(indices[j]) + axis] = 1;
      corners[3 * size_t(indices[j]) + axis].push_back(static_cast<uint32_t>(j));
    }
  }
  furTexCoords.assign(2 * n, 0.0f);
  furIndices = indices;
  const float scale = 1.0f / cellSize;
  for (size_t i = 0; i < n; ++i) {
    bool first = true;
    for (int axis = 0; axis < 3; ++axis) {
      if (!used[3 * i + axis]) continue;
      const float* q = p + 3 * i;
      const float s = (axis == 0 ? q[1] : q[0]) * scale, t = (axis == 2 ? q[1] : q[2]) * scale;
      if (first) {
        furTexCoords[2 * i] = s;
        furTexCoords[2 * i + 1] = t;
        first = false;
        continue;
      }
      const uint32_t entry = static_cast<uint32_t>(furTexCoords.size() / 2);
      furTexCoords.push_back(s);
      furTexCoords.push_back(t);
      for (uint32_t corner : corners[3 * i + axis]) furIndices[corner] = entry;
    }
  }
}

void SurfaceMesh::splitByFurTexCoords() {
  const size_t entries = furTexCoords.size() / 2;
  if (entries == 0 || furIndices.size() != indices.size()) return;
  const size_t n = restPositions.size() / 3;
  std::vector<float> newPositions(3 * entries, 0.0f), newTexCoords;
  if (textured) newTexCoords.assign(2 * entries, 0.0f);
  // The copies of each old vertex; kNoSeamCopy marks an empty slot, so
  // entry 0 is a copy like any other.
  std::vector<uint32_t> first(n, kNoSeamCopy), second(n, kNoSeamCopy), third(n, kNoSeamCopy);
  for (size_t k = 0; k < indices.size(); ++k) {
    const uint32_t p = indices[k], f = furIndices[k];
    if (p >= n || f >= entries) continue;  // both come from this surface's own build
    if (first[p] == kNoSeamCopy)
      first[p] = f;
    else if (second[p] == kNoSeamCopy)
      second[p] = f != first[p] ? f : kNoSeamCopy;
    else if (third[p] == kNoSeamCopy && f != first[p] && f != second[p])
      third[p] = f;
    for (int c = 0; c < 3; ++c) newPositions[3 * f + c] = restPositions[3 * p + c];
    if (textured && 2 * p + 1 < texCoords.size())
      for (int c = 0; c < 2; ++c) newTexCoords[2 * f + c] = texCoords[2 * p + c];
    indices[k] = f;
  }
  restPositions.swap(newPositions);
  if (textured)
    texCoords.swap(newTexCoords);
  else
    texCoords.resize(2 * entries, 0.0f);
  for (size_t p = 0; p < n; ++p) {
    if (second[p] == kNoSeamCopy) continue;
    seamFirst.push_back(first[p]);
    seamSecond.push_back(second[p]);
    seamThird.push_back(third[p]);
  }
}
