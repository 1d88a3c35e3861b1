#include "Refinement.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace zolt::modelgen {

TetMesh refine(const TetMesh& coarse) {
  static const int kEdges[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  TetMesh fine;
  fine.positions = coarse.positions;
  fine.tets.reserve(coarse.tets.size() * 8);
  fine.masks.reserve(coarse.tets.size() * 8);

  std::unordered_map<uint64_t, int> midpoints;
  midpoints.reserve(coarse.tets.size() * 2);
  int next = coarse.vertexCount();
  for (size_t e = 0; e < coarse.tets.size(); ++e) {
    const Corners& c = coarse.tets[e];
    int m[6];
    for (int k = 0; k < 6; ++k) {
      const int a = c[kEdges[k][0]], b = c[kEdges[k][1]];
      const uint64_t key =
          (static_cast<uint64_t>(std::min(a, b)) << 32) | static_cast<uint32_t>(std::max(a, b));
      auto [it, isNew] = midpoints.try_emplace(key, next);
      if (isNew) {
        ++next;
        const float* pa = coarse.position(a);
        const float* pb = coarse.position(b);
        for (int j = 0; j < 3; ++j) fine.positions.push_back((pa[j] + pb[j]) * 0.5f);
      }
      m[k] = it->second;
    }
    const int m01 = m[0], m02 = m[1], m03 = m[2], m12 = m[3], m13 = m[4], m23 = m[5];
    const Corners children[8] = {
        {c[0], m01, m02, m03}, {m01, c[1], m12, m13}, {m02, m12, c[2], m23}, {m03, m13, m23, c[3]},
        {m01, m13, m02, m03},  {m02, m13, m23, m03},  {m02, m12, m23, m13},  {m02, m01, m12, m13}};
    static const uint8_t kMasks[8] = {14, 13, 11, 7, 4, 2, 1, 8};
    for (int k = 0; k < 8; ++k) {
      fine.tets.push_back(children[k]);
      fine.masks.push_back(static_cast<uint8_t>(coarse.masks[e] & kMasks[k]));
    }
  }
  return fine;
}

std::vector<TetMesh> buildLevels(const TetMesh& level0, int nLevels) {
  std::vector<TetMesh> levels;
  levels.reserve(static_cast<size_t>(std::max(nLevels, 1)));
  levels.push_back(level0);
  for (int l = 1; l < nLevels; ++l) levels.push_back(refine(levels.back()));
  return levels;
}

}  // namespace zolt::modelgen
