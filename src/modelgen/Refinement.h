#pragma once
// The regular 1-to-8 refinement of the model loader, reproduced on plain
// arrays, so that the generator knows every finer level's vertex numbers
// (the parameter files name vertices of the finest level) without the mesh
// library.
//
// Level l+1 begins with the vertices of level l under the same numbers;
// each edge's midpoint follows, numbered in the order the edges are first met
// when the elements are visited in list order and their edges in the order
// (0,1), (0,2), (0,3), (1,2), (1,3), (2,3). Each element gives eight
// children, in this order and with the parent's mask ANDed as shown:
//   (c0 m01 m02 m03) & 14, (m01 c1 m12 m13) & 13, (m02 m12 c2 m23) & 11,
//   (m03 m13 m23 c3) & 7, (m01 m13 m02 m03) & 4, (m02 m13 m23 m03) & 2,
//   (m02 m12 m23 m13) & 1, (m02 m01 m12 m13) & 8.
// A midpoint's position is (a + b) * 0.5f per coordinate, in float.

#include <vector>

#include "TetMesh.h"

namespace zolt::modelgen {

TetMesh refine(const TetMesh& coarse);

// Level 0 and nLevels - 1 refinements of it.
std::vector<TetMesh> buildLevels(const TetMesh& level0, int nLevels);

}  // namespace zolt::modelgen
