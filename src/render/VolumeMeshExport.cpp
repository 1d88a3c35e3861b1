#include "VolumeMeshExport.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <utility>

#include "BinaryIO.h"

using namespace zolt::bin;

namespace {

constexpr int kEdgeCorners[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};

}  // namespace

VolumeMeshExport::VolumeMeshExport(int nodeCount, int tetCount, const float* positions,
                                   const int* nodeIndices, const float* weights,
                                   const int* tetNodes) {
  nodes.resize(size_t(std::max(0, nodeCount)));
  for (size_t i = 0; i < nodes.size(); ++i) {
    Node& n = nodes[i];
    for (int k = 0; k < 3 && positions; ++k) n.position[k] = positions[3 * i + k];
    for (int k = 0; k < 4 && weights; ++k) n.weights[k] = weights[4 * i + k];
    for (int k = 0; k < 4 && nodeIndices; ++k) n.nodeIndices[k] = nodeIndices[4 * i + k];
  }
  for (int t = 0; t < tetCount && tetNodes; ++t) {
    Tet tet;
    bool valid = true;
    for (int k = 0; k < 4; ++k) {
      tet.node[k] = tetNodes[4 * t + k];
      valid = valid && tet.node[k] >= 0 && tet.node[k] < nodeCount;
    }
    if (valid) tets.push_back(tet);
  }

  std::map<std::pair<int32_t, int32_t>, int32_t> edgeNumber;
  auto key = [](const Tet& t, int e) {
    const int32_t a = t.node[kEdgeCorners[e][0]], b = t.node[kEdgeCorners[e][1]];
    return a < b ? std::make_pair(a, b) : std::make_pair(b, a);
  };
  for (const Tet& t : tets)
    for (int e = 0; e < 6; ++e) edgeNumber.emplace(key(t, e), 0);
  int32_t next = 0;
  for (auto& entry : edgeNumber) entry.second = next++;
  edges.resize(edgeNumber.size());
  // The last tetrahedron naming an edge decides the order of its two nodes.
  for (Tet& t : tets)
    for (int e = 0; e < 6; ++e) {
      t.edge[e] = edgeNumber[key(t, e)];
      edges[size_t(t.edge[e])] = {{t.node[kEdgeCorners[e][0]], t.node[kEdgeCorners[e][1]]}};
    }
}

bool VolumeMeshExport::write(const char* fileName, const float* positions, const float* scalars,
                             const float* colours) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    Node& n = nodes[i];
    for (int k = 0; k < 3 && positions; ++k) n.position[k] = positions[3 * i + k];
    if (scalars) n.scalar = scalars[i];
    if (colours) {
      for (int k = 0; k < 3; ++k) n.colour[k] = colours[3 * i + k];
      n.colour[3] = 1.0f;
    }
  }
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  writeU32(out, kStartMagic);
  const float frame[5][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
  for (const auto& v : frame)
    for (float c : v) writeF32(out, c);
  for (size_t count : {nodes.size(), edges.size(), tets.size(), size_t(0), size_t(0)})
    writeU32(out, static_cast<uint32_t>(count));
  for (const Node& n : nodes) {
    for (float v : n.position) writeF32(out, v);
    for (int k = 0; k < 3; ++k) writeF32(out, 0.0f);
    for (float v : n.colour) writeF32(out, v);
    writeF32(out, n.scalar);
    for (int k = 0; k < 5; ++k) writeU32(out, 0);
    for (float v : n.weights) writeF32(out, v);
    for (int32_t v : n.nodeIndices) writeI32(out, v);
  }
  for (const Edge& e : edges)
    for (int32_t v : e.node) writeI32(out, v);
  for (const Tet& t : tets) {
    for (int32_t v : t.node) writeI32(out, v);
    for (int32_t v : t.edge) writeI32(out, v);
  }
  writeU32(out, kEndMagic);
  out.close();
  if (out) return true;
  std::cout << "[VolumeMeshExport, write] Error: Can't write file \"" << fileName << "\""
            << std::endl;
  std::remove(fileName);
  return false;
}
