#pragma once
// The render volume as one binary file: nodes (position, colour, scalar and
// binding), edges and tetrahedra with the numbers of their edges, between
// two magic numbers. The topology is built once; each write refreshes the
// per-node values. No GL.

#include <cstdint>
#include <vector>

class VolumeMeshExport {
 public:
  static constexpr uint32_t kStartMagic = 0xDEADBEEFu;
  static constexpr uint32_t kEndMagic = 0xBEEFDEADu;
  static constexpr int kHeaderBytes = 84, kNodeBytes = 96, kEdgeBytes = 8, kTetBytes = 40;

  struct Node {
    float position[3] = {0, 0, 0};
    float colour[4] = {0, 0, 0, 0};  // alpha 1 once colours are given
    float scalar = 0.0f;
    float weights[4] = {0, 0, 0, 0};
    int32_t nodeIndices[4] = {0, 0, 0, 0};
  };
  struct Edge {
    int32_t node[2];
  };
  // Edges in the order (0,1), (0,2), (0,3), (1,2), (1,3), (2,3) of its nodes.
  struct Tet {
    int32_t node[4];
    int32_t edge[6];
  };

  std::vector<Node> nodes;
  std::vector<Edge> edges;  // numbered by (smaller, larger) node pair, ascending
  std::vector<Tet> tets;

  // Arrays of 3 (positions) or 4 (the rest) entries per node or tetrahedron;
  // null arrays leave zeros. Tetrahedra naming a node outside 0 .. nodes-1
  // are left out.
  VolumeMeshExport(int nodes, int tets, const float* positions, const int* nodeIndices,
                   const float* weights, const int* tetNodes);

  // Copies the given per-node values (each may be null: 3 floats of position,
  // one scalar, 3 floats of colour) and writes the file. False, with one
  // error line and no file left, when it cannot be written.
  bool write(const char* fileName, const float* positions, const float* scalars,
             const float* colours);
};
