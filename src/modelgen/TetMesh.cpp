#include "TetMesh.h"

#include <algorithm>
#include <unordered_map>

namespace zolt::modelgen {

namespace {

uint64_t faceKey(int a, int b, int c) {
  int s[3] = {a, b, c};
  std::sort(s, s + 3);
  return (static_cast<uint64_t>(s[0]) << 42) | (static_cast<uint64_t>(s[1]) << 21) |
         static_cast<uint64_t>(s[2]);
}

}  // namespace

float readerDeterminant(const TetMesh& mesh, int e) {
  const Corners& t = mesh.tets[e];
  const float* p0 = mesh.position(t[0]);
  const float* p1 = mesh.position(t[1]);
  const float* p2 = mesh.position(t[2]);
  const float* p3 = mesh.position(t[3]);
  const float a[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
  const float b[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const float c[3] = {p3[0] - p0[0], p3[1] - p0[1], p3[2] - p0[2]};
  return (b[1] * a[2] - b[2] * a[1]) * c[0] + (b[2] * a[0] - b[0] * a[2]) * c[1] +
         (b[0] * a[1] - b[1] * a[0]) * c[2];
}

double volume(const TetMesh& mesh, int e) {
  const Corners& t = mesh.tets[e];
  double d[3][3];
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k)
      d[i][k] = static_cast<double>(mesh.position(t[i + 1])[k]) - mesh.position(t[0])[k];
  const double det = d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1]) -
                     d[0][1] * (d[1][0] * d[2][2] - d[1][2] * d[2][0]) +
                     d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0]);
  return -det / 6.0;
}

std::vector<uint8_t> countBoundaryFaces(const std::vector<Corners>& tets) {
  // Keys of face f of element e at 4 e + f, made once for both passes.
  std::vector<uint64_t> keys;
  keys.reserve(tets.size() * 4);
  for (const Corners& t : tets)
    for (const auto& f : kFaceCorners) keys.push_back(faceKey(t[f[0]], t[f[1]], t[f[2]]));
  std::unordered_map<uint64_t, int> uses;
  uses.reserve(keys.size());
  for (uint64_t key : keys) ++uses[key];
  std::vector<uint8_t> masks(tets.size(), 0);
  for (size_t e = 0; e < tets.size(); ++e)
    for (int f = 0; f < 4; ++f)
      if (uses[keys[4 * e + f]] == 1) masks[e] |= static_cast<uint8_t>(8 >> f);
  return masks;
}

}  // namespace zolt::modelgen
