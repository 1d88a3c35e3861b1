#pragma once
// Offline tools: converters that turn meshes and data of other programs into
// the node (".node") and element (".ele") text files the model loader reads,
// two keyword parsers and the line reader they share. Nothing in the
// simulator calls them; zolt_tools is their front end.
//
// Output base names get ".node" and ".ele" appended. Numbers are written
// with default stream formatting (six significant digits) unless a printf
// format is named. Every converter reads and checks all of its input before
// it writes anything: counts must be non-negative and fit in the file,
// vertex numbers must name a vertex of their block. A bad input prints one
// line "[Converters, <name>] Error: <file>: <item> ..." on standard error
// and the converter returns false with no output written (the OBJ and
// flow-field converters print their own messages for a missing file and a
// mismatched flow file on standard output). Element file headers are taken
// at their word: four corners, and the extras they announce.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "ElementModel.h"
#include "TimeIntegration.h"

// Removes a trailing ".config" from a model name, in place.
void stripConfigSuffix(char* name);

// First substring found wins: "explizit", "eulerlump", "euler",
// "newmarklump", "newmark", "static"; Euler when none is found.
IntegrationScheme parseIntegrationScheme(const char* text);

// First substring found wins: "nonlinear", "linear", "rotated", "partition";
// Cauchy when none is found.
ElementModel parseElementModel(const char* text);

// The next line of f without "#" comment lines, positioned at its first
// number (a digit, or a sign or point that starts one) or its first 'v', 'f'
// or 's'; a '#' before that skips the line; a line with none of them is
// returned whole. Null at end of file. The whole line, however long, lives
// in one shared buffer that the next call overwrites.
char* readToolLine(FILE* f);

// 256 lines of four bytes (0..255) into 256 lines of floats: the ramp
// min + i * step (step = (max - min) / 255) and each channel switched on,
// scaled to 0..1. Bounds whose ramp is not finite are refused.
bool convertTransferFunction(const std::string& inPath, const std::string& outPath,
                             const bool channels[4], float min, float max);

// The first level of inBase.node / inBase.ele into one file: "n m", per
// vertex "x y z a" (a: its first attribute, 0 without one), per element its
// four vertex numbers counted from 0.
bool rewriteNodeEle(const std::string& inBase, const std::string& outPath);

// Merges two hierarchies of `levels` levels level by level: A scaled by
// scaleA, then B scaled by scaleB and moved by offset, B's vertex numbers
// shifted by A's vertex count. Vertex lines hold one value after x y z; an
// element's face mask is kept (0 when its file has none). A scale of 0, or
// one (with the offset) that takes a coordinate past the float range, is
// refused.
bool convertMeshA(int levels, const float offset[3], float scaleA, float scaleB,
                  const std::string& outBase, const std::string& inBaseA,
                  const std::string& inBaseB);

// The slab [-1, 1] x [-1, 1] x [0, thickness]: level l has 2^l cells per
// side, each cell a prism of six tetrahedra. levels 1..10, thickness > 0.
bool generateSlabMesh(const std::string& outBase, int levels, float thickness);

// A point/element text file (n, n lines "x y z value" and five more numbers,
// m, m lines of four 0-based vertex numbers): writes all vertices with their
// value and keeps the elements whose corners lie in the middle 40% of the
// x range and the middle 20% of the z range.
bool convertMeshMinMax(const std::string& outBase, const std::string& inPath);

// Each input (n, n lines "x y z", m, m lines "number v0 v1 v2 v3" with
// 1-based vertex numbers) becomes one level block.
bool convertMeshC(const std::string& outBase, const std::vector<std::string>& inPaths);

// A binary file of triangle levels over one array of 16-bit coordinates;
// per level an element block of its triangles and a node block of the
// vertices up to the largest one used, y negated.
bool convertSurfaceLevels(const std::string& inPath, const std::string& outBase);

// Triangles oriented consistently while they are collected: a directed edge
// held by a stored triangle may not recur in the same direction.
struct OrientedTriangles {
  std::vector<std::array<int, 3>> triangles;
  // Directed edge (from << 32 | to, as unsigned) -> first triangle holding it.
  std::unordered_map<uint64_t, int> firstWithEdge;
};

// Stores (a, b, c), turned over when the first stored triangle that holds
// one of its directed edges in the same direction is found: edge a->b gives
// (b, a, c) and "Case 1", edge c->a gives (c, b, a) and "Case 2", edge b->c
// gives (a, c, b) and "Case 3" (tested in that order). Returns the case, 0
// when nothing conflicts.
int splitFaceCase(OrientedTriangles& list, int a, int b, int c);

// OBJ surfaces ("v" and "f" lines; faces "i", "i/t", "i//n" or "i/t/n",
// three or four corners; a quad gives two triangles), one level block per
// input. A face line in none of the forms prints "error!!" and is skipped.
bool convertObjMesh(const std::string& outBase, const std::vector<std::string>& inPaths);

// A tetrahedral flow-solver grid (counts, then "VERTICES", "TRIANGLES" and
// "TETRAHEDRA" sections, vertex numbers counted from 1) and its flow file
// (node count, Mach number, angle of attack, Reynolds number, time, then per
// vertex density, three momentum components and energy): prints statistics
// and writes the tetrahedra with the energy as vertex value. 1 on success,
// 0 on any failure.
int convertFlowField(const std::string& gridPath, const std::string& flowPath,
                     const std::string& outBase);
