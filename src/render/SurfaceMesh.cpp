#include "SurfaceMesh.h"

#include <cmath>

#include "TetHierarchy.h"
#include "Vec3.h"

void SurfaceMesh::attachMesh(TetHierarchy* h) {
  mesh = h;
  const size_t nodes = h ? h->vertices[h->nLevels - 1].size() : 0;
  nodeDisplacements.assign(3 * nodes, 0.0f);
}

void SurfaceMesh::finishMesh() {
  vertexCount = static_cast<uint32_t>(restPositions.size() / 3);
  positions = restPositions;
  normals.assign(restPositions.size(), 0.0f);
  accumulateFaceNormals(true);
  mergeSeamNormals();
  normalizeNormals();
}

bool SurfaceMesh::bindingComplete() const {
  const size_t n = vertexCount;
  return n > 0 && weights.size() == 4 * n && nodeIndices.size() == 4 * n &&
         restPositions.size() == 3 * n && !nodeDisplacements.empty();
}

void SurfaceMesh::skinVertices() {
  positions.resize(restPositions.size());
  normals.assign(restPositions.size(), 0.0f);
  if (!bindingComplete()) {
    positions = restPositions;
    return;
  }
  // Node numbers are below the node count: read files are checked, searched
  // ones are vertex indices of the finest level.
  const float* rest = restPositions.data();
  const float* w = weights.data();
  const uint32_t* node = nodeIndices.data();
  const float* u = nodeDisplacements.data();
  float* out = positions.data();
  for (size_t i = 0; i < vertexCount; ++i, rest += 3, out += 3, w += 4, node += 4) {
    float x = rest[0], y = rest[1], z = rest[2];
    for (int j = 0; j < 4; ++j) {
      const float* d = u + 3 * static_cast<size_t>(node[j]);
      x += w[j] * d[0];
      y += w[j] * d[1];
      z += w[j] * d[2];
    }
    out[0] = x;
    out[1] = y;
    out[2] = z;
  }
}

void SurfaceMesh::accumulateFaceNormals(bool clear) {
  if (clear) normals.assign(positions.size(), 0.0f);
  const float* p = positions.data();
  float* n = normals.data();
  for (size_t t = 0; t + 2 < indices.size(); t += 3) {
    const size_t a = 3 * static_cast<size_t>(indices[t]);
    const size_t b = 3 * static_cast<size_t>(indices[t + 1]);
    const size_t c = 3 * static_cast<size_t>(indices[t + 2]);
    float f[3];
    triangleNormal3(p + a, p + b, p + c, f);
    for (int k = 0; k < 3; ++k) {
      n[a + k] += f[k];
      n[b + k] += f[k];
      n[c + k] += f[k];
    }
  }
}

void SurfaceMesh::normalizeNormals() {
  for (size_t i = 0; i + 2 < normals.size(); i += 3) {
    float* n = &normals[i];
    const float length2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    if (!(length2 > 0.0f)) continue;
    const float s = 1.0f / std::sqrt(length2);
    n[0] *= s;
    n[1] *= s;
    n[2] *= s;
  }
}

void SurfaceMesh::mergeSeamNormals() {
  for (size_t k = 0; k < seamFirst.size(); ++k) {
    float* first = &normals[3 * static_cast<size_t>(seamFirst[k])];
    float* second = &normals[3 * static_cast<size_t>(seamSecond[k])];
    float* third =
        seamThird[k] != kNoSeamCopy ? &normals[3 * static_cast<size_t>(seamThird[k])] : nullptr;
    for (int c = 0; c < 3; ++c) {
      first[c] += second[c] + (third ? third[c] : 0.0f);
      second[c] = first[c];
      if (third) third[c] = first[c];
    }
  }
}

void SurfaceMesh::clearMesh() {
  positions.clear();
  restPositions.clear();
  normals.clear();
  texCoords.clear();
  indices.clear();
  texCoordIndices.clear();
}

void SurfaceMesh::clearWeights() {
  weights.clear();
  nodeIndices.clear();
}

void SurfaceMesh::projectOntoFacePlane(const float* a, const float* b, const float* c,
                                       const float* p, float* q, float& distance) {
  float n[3];
  triangleNormal3(a, b, c, n);
  const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  const float d = ((p[0] - a[0]) * n[0] + (p[1] - a[1]) * n[1] + (p[2] - a[2]) * n[2]) / length;
  for (int k = 0; k < 3; ++k) q[k] = p[k] - n[k] * d / length;
  distance = std::fabs(d);
}

float SurfaceMesh::pointPlaneDistance(const float* a, const float* b, const float* c,
                                      const float* p) {
  float q[3], distance;
  projectOntoFacePlane(a, b, c, p, q, distance);
  return distance;
}
