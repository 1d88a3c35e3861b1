#pragma once
// Small tetrahedral meshes for tests. Every mesh is level 0 of a new
// hierarchy; with nLevels > 1 the finer levels are built by refinement.
// Elements are oriented as the element reader stores them (positive volume
// at rest) and carry the face masks of their own boundary, found here by
// counting faces, independently of the element code.
//
// A program that uses these links zolt_elements_nodraw (or zolt_elements_gl).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TetHierarchy.h"

class FiniteElement;

namespace zolt::test {

using Point = std::array<float, 3>;
using Corners = std::array<int, 4>;

// Level 0 from positions and 0-based corner lists; corners are reordered
// (last two exchanged) where needed for a positive volume.
std::unique_ptr<TetHierarchy> meshFromCorners(const std::vector<Point>& positions,
                                              const std::vector<Corners>& corners, int nLevels = 1);

// The tetrahedron (0,0,0), (1,0,0), (0,1,0), (0,0,1).
std::unique_ptr<TetHierarchy> singleTetrahedron(int nLevels = 1);

// k x l x m cubes of edge `edge` from the origin, each split into 6
// tetrahedra around its diagonal from the lowest to the highest corner
// (a conforming split). Vertex (i, j, n) of the grid has index
// i + (k + 1) * (j + (l + 1) * n).
std::unique_ptr<TetHierarchy> box(int k, int l, int m, float edge = 1.0f, int nLevels = 1);

// Fixes the vertices of level `level` at z = 0 and numbers them first, as
// the model set-up does on the finest level, so that the assembler removes
// one leading range; returns how many are fixed.
int fixFloorAndNumberFixedFirst(TetHierarchy& h, int level);

// An irregular k x k x k box: the corners of box(k, k, k, edge) with every
// inner coordinate moved by up to 0.15 edge at random, vertices and
// elements in a random order.
void irregularBox(int k, float edge, unsigned seed, std::vector<Point>& positions,
                  std::vector<Corners>& corners);

// base.node and base.ele (1-based numbers) of a mesh.
void writeMeshText(const std::string& base, const std::vector<Point>& positions,
                   const std::vector<Corners>& corners);

// The unit cube as 6 tetrahedra: box(1, 1, 1).
std::unique_ptr<TetHierarchy> unitCube(int nLevels = 1);

// Face-count oracle: per element, bit 1 << f set when the face opposite
// corner f is a face of no other element of the list.
std::vector<uint8_t> boundaryMasks(const std::vector<FiniteElement*>& elements);

// Signed volume from rest positions in double: -det(p1-p0, p2-p0, p3-p0)/6.
double restVolume(const FiniteElement& e);

// Points the current positions of one level into `storage` (resized to 3
// floats per vertex, filled with the rest positions).
void attachCurrentPositions(TetHierarchy& h, int level, std::vector<float>& storage);

}  // namespace zolt::test
