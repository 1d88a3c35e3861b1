#include <gtest/gtest.h>

#include "TetMesh.h"

using namespace zolt::modelgen;

TEST(TetMesh, FacesUsedOnceAreBoundaryFaces) {
  // Tetrahedra (0 1 2 3) and (1 2 3 4) share the face (1 2 3); (5 6 7 8) is
  // alone; (0 1 2 9) shares (0 1 2) with the first.
  const struct {
    std::vector<Corners> tets;
    std::vector<uint8_t> masks;
  } rows[] = {
      {{{0, 1, 2, 3}}, {15}},
      {{{0, 1, 2, 3}, {1, 2, 3, 4}}, {14, 7}},
      {{{0, 1, 2, 3}, {4, 3, 2, 1}}, {14, 14}},
      {{{0, 1, 2, 3}, {1, 2, 3, 4}, {5, 6, 7, 8}, {0, 1, 2, 9}}, {6, 7, 15, 7}},
  };
  for (const auto& row : rows) EXPECT_EQ(countBoundaryFaces(row.tets), row.masks);
}

TEST(TetMesh, DeterminantSignAndVolumeOfTheUnitCorner) {
  TetMesh mesh;
  mesh.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  mesh.tets = {{0, 1, 2, 3}, {0, 2, 1, 3}};
  EXPECT_FLOAT_EQ(readerDeterminant(mesh, 0), 1.0f);
  EXPECT_DOUBLE_EQ(volume(mesh, 0), -1.0 / 6.0);
  EXPECT_FLOAT_EQ(readerDeterminant(mesh, 1), -1.0f);
  EXPECT_DOUBLE_EQ(volume(mesh, 1), 1.0 / 6.0);
}
