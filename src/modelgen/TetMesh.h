#pragma once
// One level of a tetrahedral mesh as the model files hold it: float
// positions, four 0-based corners per element and the boundary-face mask of
// each element.
//
// Corner order: the element reader keeps an element as written when
// det(p1 - p0, p2 - p0, p3 - p0) < 0 and exchanges its last two corners
// otherwise; every mesh made here is written in the kept order. Face-mask
// bits: 8 the face (0, 1, 2), 4 (0, 1, 3), 2 (0, 2, 3), 1 (1, 2, 3); a set
// bit marks a face that no other element shares.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zolt::modelgen {

using Corners = std::array<int, 4>;

struct TetMesh {
  std::vector<float> positions;  // 3 per vertex
  std::vector<Corners> tets;
  std::vector<uint8_t> masks;  // one per element

  int vertexCount() const { return static_cast<int>(positions.size() / 3); }
  int elementCount() const { return static_cast<int>(tets.size()); }
  const float* position(int v) const { return &positions[3 * static_cast<size_t>(v)]; }
};

// Corners of the faces with the mask bits 8, 4, 2 and 1 (bit 8 >> f).
inline constexpr int kFaceCorners[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};

// The six tetrahedra of a cube, by corner bits (1 x, 2 y, 4 z): the paths
// from corner 0 to corner 7 along the three axes in every order. Cubes of a
// grid split this way cut each common face along the same diagonal.
inline constexpr int kCubeTetrahedra[6][4] = {{0, 1, 3, 7}, {0, 1, 5, 7}, {0, 2, 3, 7},
                                              {0, 2, 6, 7}, {0, 4, 5, 7}, {0, 4, 6, 7}};

// det(p1 - p0, p2 - p0, p3 - p0) of element e, in float and in the
// reader's order of operations.
float readerDeterminant(const TetMesh& mesh, int e);
// The element's volume, -det/6, in double from the float positions.
double volume(const TetMesh& mesh, int e);

// Face masks from a count of faces over all elements.
std::vector<uint8_t> countBoundaryFaces(const std::vector<Corners>& tets);

}  // namespace zolt::modelgen
