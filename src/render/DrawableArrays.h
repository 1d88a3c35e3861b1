#pragma once
// The drawable's render arrays as plain functions: render order, triangle
// list, normals, texture coordinates and the rest box. No GL; the drawable
// uploads what these compute.
//
// Render order: every surface vertex comes before every inner vertex, each
// group in vertex-index order. Arrays indexed "by render index" hold one
// entry (or 2 or 3 floats) per render index.

#include <cstdint>
#include <vector>

struct Vertex;
class FiniteElement;

// Fills renderIndexOfVertex (by vertex index) and vertexOfRenderIndex (by
// render index), n entries each, n = vertices.size(); the vertex indices must
// be 0 .. n-1. A vertex is a surface vertex when its onSurface flag is set,
// or always with allSurface (a two-dimensional model). Returns the number of
// surface vertices.
int buildRenderOrder(const std::vector<Vertex*>& vertices, bool allSurface,
                     int* renderIndexOfVertex, int* vertexOfRenderIndex);

// restPositions and positions of every render index = the rest position of
// its vertex; each vertex's current position then points at its entry of
// positions, so the mesh, the picking and the drawing see one array.
void attachPositions(const std::vector<Vertex*>& vertices, const int* renderIndexOfVertex,
                     float* restPositions, float* positions);

// Each vertex's current position = its entry of positions.
void pointCurrentPositions(const std::vector<Vertex*>& vertices, const int* renderIndexOfVertex,
                           float* positions);

// The triangles of the elements in render indices: the boundary faces of
// every element in element order, then the inner faces of every element.
// Returns the number of boundary triangles (a prefix of the list).
int collectTriangles(const std::vector<FiniteElement*>& elements, const int* renderIndexOfVertex,
                     std::vector<uint32_t>& triangles);

// Normals of the surface vertices (render indices below surfaceCount): zero,
// then every boundary triangle (p0, p1, p2) adds 1024 (p1 - p0) x (p2 - p0)
// to each corner. Not normalised: larger triangles weigh more. The normals of
// inner vertices are left as they are.
void computeNormals(const float* positions, const uint32_t* triangles, int boundaryTriangleCount,
                    int surfaceCount, float* normals);

// Texture coordinate modes of the render settings.
enum class TexCoordMode : int { Spherical = 0, DominantAxis = 1, Planar = 2 };

// Two floats per render index from the positions (3 per index) and normals:
//   0 spherical: angles of the direction from the origin, times scale / pi;
//     a vertex at the origin or on the y axis gets finite coordinates;
//   1 by dominant normal axis: the two other position components, negated
//     when that normal component is negative (ties go to x, then y), times
//     scale;
//   2 planar: x and y mapped from the rest box onto [0, 1] (a flat extent
//     maps to 0), no scale.
// Any other mode gives zeros.
void computeTexCoords(int mode, float scale, const float* positions, const float* normals,
                      const float* restPositions, int n, float* texCoords);

// The per-vertex arrays kept by render index, moved together when a vertex
// changes its render index. Every pointer must be valid.
struct RenderSlots {
  int* renderIndexOfVertex;
  int* vertexOfRenderIndex;
  float* positions;      // 3 per index
  float* restPositions;  // 3 per index
  float* normals;        // 3 per index
  float* texCoords;      // 2 per index
  float* colours;        // 3 per index
  float* scalars;        // 1 per index
};

// Brings the listed vertices (vertex indices, in order) into the surface
// range: a vertex beyond it swaps render slots with the first index after
// the range, which then grows by one; a vertex already inside stays.
// newOfOld (n entries) maps every old render index to its new one. Returns
// the new surface count.
int moveIntoSurface(const RenderSlots& slots, int n, int surfaceCount,
                    const std::vector<int>& vertices, std::vector<int>& newOfOld);

// Renumbers the triangles through newOfOld and reorders them stably: first
// the old boundary triangles, then the listed faces (render indices after
// the move, 3 per face, matched with their winding) whose corners all lie
// below surfaceCount, then the rest. boundaryCount becomes the length of
// that prefix.
void reworkTriangles(std::vector<uint32_t>& triangles, int& boundaryCount,
                     const std::vector<int>& newOfOld, const std::vector<uint32_t>& faces,
                     int surfaceCount);

// Smallest and largest x, y, z of n points (3 floats each); min starts at 1e8
// and max at -1e8, so no points give an inverted box.
void pointBox(const float* points, int n, float boxMin[3], float boxMax[3]);

// The 256 RGB texels of the skin colour ramp, dark to light, interpolated
// between fixed anchor colours.
constexpr int kSkinRampSize = 256;
void buildSkinRamp(uint8_t rgb[3 * kSkinRampSize]);
