#pragma once
// Closed triangle surfaces of solids by marching tetrahedra.

#include <array>
#include <vector>

#include "ImplicitShape.h"

namespace zolt::modelgen {

struct TriangleSurface {
  std::vector<Vec3> vertices;
  std::vector<std::array<int, 3>> triangles;  // counter-clockwise seen from outside
};

// The surface f = 0 of a solid that lies strictly inside the box lo..hi.
// The box is covered by cubes of about `spacing`, each split into six
// tetrahedra as the voxel meshes are; every tetrahedron edge that crosses
// the surface gives one vertex, shared by the triangles of the tetrahedra
// around that edge, so the surface is closed. A vertex is the root of f on
// its edge (found by bisection), kept at least a tenth of the edge away from
// both ends so that no triangle degenerates.
TriangleSurface extractSurface(const Implicit& shape, Vec3 lo, Vec3 hi, double spacing);

}  // namespace zolt::modelgen
