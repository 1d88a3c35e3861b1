#pragma once
// The processor side of a render volume: a tetrahedral mesh of its own,
// read from ".node" / ".ele" text files and coloured by one scalar per node,
// bound node by node to the finest-level tetrahedron of the simulation mesh
// with the nearest centroid by its four shape-function values, and moved
// each frame by the weighted displacements of those four nodes. Weights,
// node numbers, scalars, texture coordinates and the smoothed 3D image are
// kept in a cache file. No GL: RenderVolume derives from this and adds the
// texture and the drawing.
//
// Arrays are per node (or per tetrahedron) and owned by the object.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VolumeImage.h"

class TetHierarchy;
struct RenderSettings;
class VolumeMeshExport;

// What the owning drawable lends a volume while it loads.
struct VolumeLink {
  bool hasSimulation = false;   // weights are computed and cached only then
  int firstFreeNode = 0;        // fixed vertex count
  float boxMin[3] = {0, 0, 0};  // rest box of the finest level
  float boxMax[3] = {0, 0, 0};
};

class VolumeMesh {
 public:
  TetHierarchy* mesh = nullptr;              // not owned; its finest level is bound to
  const RenderSettings* settings = nullptr;  // not owned
  int nodeCount = 0;
  int tetCount = 0;
  std::vector<int32_t> tets;         // 4 node numbers per tetrahedron, negatively oriented
  std::vector<float> positions;      // current, 3 per node
  std::vector<float> restPositions;  // as read (scaled, centred), 3 per node
  std::vector<float> weights;        // 4 per node
  std::vector<int32_t> nodeIndices;  // 4 simulation node numbers per node
  std::vector<float> scalars;        // 1 per node, in [0, 1] once normalised or sampled
  std::vector<float> texCoords;      // 3 per node, each in [0, 1]
  // The smoothed image while a 3D texture is wanted, for the GL side to upload.
  VolumeImage image;
  std::unique_ptr<VolumeMeshExport> meshExport;  // built on the first export

  VolumeMesh();
  ~VolumeMesh();
  VolumeMesh(const VolumeMesh&) = delete;
  VolumeMesh& operator=(const VolumeMesh&) = delete;

  // Reads settings->volumePath + ".node" / ".ele", normalises the scalars,
  // then takes weights, node numbers, scalars and texture coordinates from
  // the cache when it fits, or computes them (with a simulation) and writes
  // the cache; finally the node-number shift. With wantImage the smoothed
  // image (from the cache or the raw file) is left in `image`.
  void load(TetHierarchy* mesh, const RenderSettings* settings, const VolumeLink& link,
            bool shiftIndices, int smoothingPasses, bool wantImage);

  // Text readers; nothing is kept from a file that cannot be opened. Node
  // and element records end at the first malformed one; an element naming a
  // node that does not exist is left out. readNodes is true when the nodes
  // carry scalars.
  bool readNodes(const std::string& path);
  void readElements(const std::string& path);
  // Logarithm and negation by the settings, then [min, max] onto [0, 1]
  // unless all scalars are equal. Without node-file scalars: all zero.
  void normaliseScalars(bool fromFile);

  // Binds every node to the finest element with the nearest centroid; the
  // nodes of vertices below firstFreeNode get number 0 and weight 0.
  void calcWeightsIndices(int firstFreeNode);
  // Reads and smooths the raw image of the settings into `smoothed` and
  // samples it at every node: texture coordinates and scalars. False, with
  // one error line and the scalars unchanged, when it cannot be read.
  bool bindToVolume(const VolumeLink& link, int smoothingPasses, VolumeImage& smoothed);

  // True when the cache file exists and fits: this node count, node numbers
  // of the finest level, complete records, and scalars with an image of the
  // configured size whenever a raw image is configured. Nothing is taken
  // from a cache that does not fit.
  bool readCache(const std::string& path, bool wantImage);
  // The whole cache, or no file: weights and node numbers, then scalars,
  // texture coordinates and the image when withScalars.
  bool writeCache(const std::string& path, bool withScalars, const VolumeImage& smoothed) const;

  // Every node number that is not 0 becomes number - firstFreeNode (fixed
  // nodes are 0 already), so numbers count free nodes from 0.
  void shiftNodeIndices(int firstFreeNode);

  // positions = rest + weighted displacements (3 doubles per free node, of
  // which `length` exist; numbers beyond them add nothing).
  void displace(const double* displacement, int length);
  // positions += weighted offsets (3 floats per free node from `offsets`,
  // `length` floats).
  void addNodeOffsets(const float* offsets, int length);
  // scalar = weighted colour scalars, looked up through renderIndexOfVertex
  // (vertexCount entries) at vertex first + number.
  void interpolateFrom(const float* colourScalars, const int* renderIndexOfVertex, int vertexCount,
                       int first);

  // Writes the volume as one file (VolumeMeshExport); the topology is built
  // on the first call.
  bool exportMesh(const char* fileName);
};
