#pragma once
// The processor side of a skinned render surface: a triangle surface read
// from text mesh files, bound vertex by vertex to four nodes of a boundary
// tetrahedron of the finest mesh level, and moved each frame by the weighted
// displacements of those nodes. No GL: the drawing class derives from this
// and adds buffers, texture and program.
//
// Arrays are per render vertex unless said otherwise; the object owns them.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "RenderSettings.h"

class FiniteElement;
class TetHierarchy;

class SurfaceMesh {
 public:
  // Marks an absent third copy in seamThird.
  static constexpr uint32_t kNoSeamCopy = 0xffffffffu;
  // Texture index of a face corner in a file without texture coordinates.
  static constexpr uint32_t kNoTexCoord = 0xffffffffu;

  // The model's hierarchy (not owned); its finest level is bound to.
  TetHierarchy* mesh = nullptr;
  // The drawable's node normals (3 floats per array entry) and its
  // node-to-entry map, indexed by node number; not owned, may be null.
  const float* nodeNormals = nullptr;
  const int* nodeIndexMap = nullptr;

  std::vector<float> positions;           // skinned, 3 per vertex
  std::vector<float> restPositions;       // 3 per vertex
  std::vector<float> normals;             // 3 per vertex
  std::vector<float> texCoords;           // 2 per vertex
  std::vector<float> furTexCoords;        // 2 per vertex (fur surfaces only)
  std::vector<uint32_t> indices;          // 3 per triangle
  std::vector<uint32_t> texCoordIndices;  // texture index of each corner, as read
  std::vector<uint32_t> furIndices;       // corners redirected to furTexCoords
  // Copies of one vertex split by the fur build: first, second, third
  // (kNoSeamCopy when there is none).
  std::vector<uint32_t> seamFirst, seamSecond, seamThird;

  // 3 per finest-level node, indexed by node number.
  std::vector<float> nodeDisplacements;
  // The binding, 4 per vertex: node numbers (face corners a, b, c, then the
  // opposite corner), the shape function values of those nodes at the rest
  // position, and two records kept only for the weight file.
  std::vector<uint32_t> nodeIndices;
  std::vector<float> weights;
  std::vector<float> normalFrame;
  std::vector<float> faceCoords;

  uint8_t textured = 0;
  uint32_t vertexCount = 0;
  // What the binding is for (surfaceFingerprint); generateWeights sets it,
  // the weight file stores it and a file with another one is searched again.
  uint64_t weightKey = 0;

  // Binds to the finest level of h: nodeDisplacements become 3 zeros per
  // node.
  void attachMesh(TetHierarchy* h);

  // Reads path (when not empty) and then every entry of surfaces (a path and
  // the transform of its "v" points: x' = m0 x + m1 y + m2 z + m3, likewise
  // rows 2 and 3) into restPositions, texCoords, indices and
  // texCoordIndices; each position is then scaled by scale and moved by
  // -centre. Faces naming no point of their file are skipped with a warning.
  // Re-indexes by texture coordinates. False (and vertexCount 0) when
  // nothing was read; `textured` is cleared when no file holds a texture
  // coordinate.
  bool readMesh(const char* path, const std::vector<MeshEntry>& surfaces, const float scale[3],
                const double centre[3]);
  // The next line of a text mesh file with content, from its first
  // character that is not ' '; lines that are blank or start with '#' are
  // skipped. A line longer than kLineBuffer - 1 bytes comes in pieces. The
  // text lives in a per-thread buffer until the next call; null at the end
  // of the file. lineNumber, when given, counts every line read.
  static constexpr int kLineBuffer = 1024;
  static const char* readLine(std::FILE* stream, int* lineNumber = nullptr);
  // One render vertex per texture coordinate, when every corner names one.
  void reindexByTexCoords();
  // Fur texture coordinates by planar projection onto the dominant axis of
  // each triangle, in cells of cellSize: a vertex on triangles of several
  // axes gets one coordinate per axis, and furIndices names them per corner.
  void buildFurTexCoords(float cellSize);
  // One render vertex per fur texture coordinate; the copies of a vertex go
  // to the seam lists, so that their normals are merged.
  void splitByFurTexCoords();
  // vertexCount, positions and unit normals from the rest positions.
  void finishMesh();

  // positions = rest + weighted node displacements; normals = 0. Without a
  // complete binding the positions are the rest positions.
  void skinVertices();
  // Adds the area-weighted face normal of every triangle to its corners.
  void accumulateFaceNormals(bool clear);
  // Unit normals; a zero normal stays zero.
  void normalizeNormals();
  // Every copy of a split vertex gets the sum of their normals.
  void mergeSeamNormals();

  void clearMesh();
  void clearWeights();

  // Binds every vertex: reads the weight file cacheName + ".weight" (or
  // ".weightFur"), or searches and writes it. weighting scales the distance
  // to a face centroid against the distance to the face plane.
  void generateWeights(const char* cacheName, bool fur, float weighting);
  // True when the file exists and matches this surface (weightKey) and mesh.
  bool readWeights(const char* cacheName, bool fur);
  // Fingerprint of the rest positions and triangles and of the weighting:
  // moving one vertex of the surface file changes it.
  uint64_t surfaceFingerprint(float weighting) const;
  // True when the whole file was written; a failed write leaves no file.
  bool writeWeights(const char* cacheName, bool fur) const;

  // q = p projected onto the plane of (a, b, c); distance = |p - q|.
  static void projectOntoFacePlane(const float* a, const float* b, const float* c, const float* p,
                                   float* q, float& distance);
  // Distance of p from the plane of (a, b, c).
  static float pointPlaneDistance(const float* a, const float* b, const float* c, const float* p);

  static std::string weightFilePath(const char* cacheName, bool fur);

  // Octant of a rest position: bit 0, 1, 2 set when x, y, z is below 0.
  static int octantOf(const float* p);
  // Per octant, the elements with a boundary face and a corner in the
  // octant widened by 0.03, as indices into elements, in element order.
  static std::vector<std::vector<uint32_t>> octantBuckets(
      const std::vector<FiniteElement*>& elements);

 private:
  bool bindingComplete() const;
  // Search part of generateWeights; false when some vertex found no face.
  bool searchWeights(float weighting);
};
