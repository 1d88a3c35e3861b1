#pragma once
// Tetrahedral meshes of solids on a regular grid of cubes.

#include "ImplicitShape.h"
#include "TetMesh.h"

namespace zolt::modelgen {

// Cube (i, j, k) spans origin + spacing * (i, j, k) .. + spacing, for
// 0 <= i < cells[0] and so on.
struct VoxelGrid {
  Vec3 origin;
  double spacing;
  int cells[3];
};

// The cubes whose centre lies inside the shape (f < 0), keeping only the
// largest group joined through faces, each split into six tetrahedra around
// its diagonal from the lowest to the highest corner. Neighbouring cubes cut
// their common face along the same diagonal, so the mesh is conforming.
// Vertices are numbered in grid order (x fastest, then y, then z), elements
// cube by cube in the same order; corners are in the reader's kept order
// and the face masks are set.
TetMesh voxelise(const Implicit& shape, const VoxelGrid& grid);

// Moves every boundary vertex, in vertex order, towards the surface f = 0
// (Newton steps along the gradient), by at most half the grid spacing, and
// only as far as every element around it keeps at least `minShare` of a
// cube tetrahedron's volume; the staircase of the cubes then follows the
// surface closely. Vertices on the plane y = floorY (the soles of a body
// cut by a floor) move only within that plane. Topology, corner order and
// masks are unchanged.
void fitBoundary(TetMesh& mesh, const Implicit& shape, double spacing, double minShare = 0.3,
                 double floorY = -1e30);

}  // namespace zolt::modelgen
