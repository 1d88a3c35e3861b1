#include "VolumeMesh.h"

#include <cmath>
#include <fstream>
#include <iostream>

#include "RenderSettings.h"
#include "VolumeMeshExport.h"

VolumeMesh::VolumeMesh() = default;
VolumeMesh::~VolumeMesh() = default;

void VolumeMesh::load(TetHierarchy* m, const RenderSettings* s, const VolumeLink& link,
                      bool shiftIndices, int smoothingPasses, bool wantImage) {
  mesh = m;
  settings = s;
  std::cout << " Loading RenderVolume ... " << std::endl;
  const bool fileScalars = readNodes(s->volumePath + ".node");
  readElements(s->volumePath + ".ele");
  if (nodeCount < 1) return;
  std::cout << " ---- RenderVolume ----" << std::endl
            << "  # vertices: " << nodeCount << std::endl
            << "  # tets:     " << tetCount << std::endl;
  const size_t n = size_t(nodeCount);
  restPositions = positions;
  weights.assign(4 * n, 0.0f);
  nodeIndices.assign(4 * n, 0);
  normaliseScalars(fileScalars);
  texCoords.assign(3 * n, 0.0f);

  const bool shift = link.hasSimulation && link.firstFreeNode > 0 && shiftIndices;
  if (readCache(s->volumeCachePath, wantImage)) {
    std::cout << "Read Render Volume weights & scalars ..." << std::endl;
    if (shift) shiftNodeIndices(link.firstFreeNode);
    return;
  }
  if (link.hasSimulation) calcWeightsIndices(link.firstFreeNode);
  VolumeImage smoothed;
  const bool sampled =
      !s->volumeTexturePath.empty() && bindToVolume(link, smoothingPasses, smoothed);
  if (link.hasSimulation) {
    std::cout << "Cache Render Volume weights in file \"" << s->volumeCachePath << "\""
              << std::endl;
    writeCache(s->volumeCachePath, sampled, smoothed);
  }
  if (sampled && wantImage) image = std::move(smoothed);
  if (shift) shiftNodeIndices(link.firstFreeNode);
}

bool VolumeMesh::readNodes(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cout << "Error: File \"" << path << "\" doesn`t exist!" << std::endl;
    return false;
  }
  int count = 0, dimension = 0, attributes = 0, marker = 0;
  in >> count >> dimension >> attributes >> marker;
  const bool withScalar = marker == 1;
  positions.clear();
  scalars.clear();
  for (int i = 0; i < count; ++i) {
    double index, p[3], scalar = 0.0;
    if (!(in >> index >> p[0] >> p[1] >> p[2]) || (withScalar && !(in >> scalar))) {
      std::cout << "[RenderVolume, readNodes] Error: \"" << path << "\" ends after node " << i
                << std::endl;
      break;
    }
    if (settings && settings->swapXY) std::swap(p[0], p[1]);
    for (int k = 0; k < 3; ++k) {
      const double scale = settings ? settings->scale[k] : 1.0;
      const double centre = settings ? settings->centre[k] : 0.0;
      positions.push_back(static_cast<float>(float(p[k]) * scale - centre));
    }
    if (withScalar) scalars.push_back(static_cast<float>(scalar));
  }
  nodeCount = static_cast<int>(positions.size() / 3);
  return withScalar && nodeCount > 0;
}

namespace {

float orientation(const float* a, const float* b, const float* c, const float* d) {
  float u[3], v[3], w[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = b[k] - a[k];
    v[k] = c[k] - a[k];
    w[k] = d[k] - a[k];
  }
  return (u[1] * v[2] - u[2] * v[1]) * w[0] + (u[2] * v[0] - u[0] * v[2]) * w[1] +
         (u[0] * v[1] - u[1] * v[0]) * w[2];
}

}  // namespace

void VolumeMesh::readElements(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cout << "Error: File \"" << path << "\" doesn`t exist!" << std::endl;
    return;
  }
  int count = 0, perElement = 0, attributes = 0;
  in >> count >> perElement >> attributes;
  tets.clear();
  for (int t = 0; t < count; ++t) {
    int index, node[4], attribute;
    if (!(in >> index >> node[0] >> node[1] >> node[2] >> node[3]) ||
        (attributes == 1 && !(in >> attribute))) {
      std::cout << "[RenderVolume, readElements] Error: \"" << path << "\" ends after element " << t
                << std::endl;
      break;
    }
    bool valid = true;
    for (int& v : node) valid = valid && --v >= 0 && v < nodeCount;
    if (!valid) {
      std::cout << "[RenderVolume, readElements] Error: Element " << index
                << " names a node that does not exist" << std::endl;
      continue;
    }
    const float* p = positions.data();
    if (orientation(p + 3 * node[0], p + 3 * node[1], p + 3 * node[2], p + 3 * node[3]) >= 0.0f)
      std::swap(node[2], node[3]);
    tets.insert(tets.end(), node, node + 4);
  }
  tetCount = static_cast<int>(tets.size() / 4);
}

void VolumeMesh::normaliseScalars(bool fromFile) {
  if (!fromFile) {
    scalars.assign(size_t(nodeCount), 0.0f);
    return;
  }
  float lo = 1.0e7f, hi = -1.0e7f;
  for (float& s : scalars) {
    if (settings->volumeLogScalars) s = std::log(s);
    if (settings->volumeInvScalars) s = -s;
    lo = std::min(lo, s);
    hi = std::max(hi, s);
  }
  std::cout << "  scalar range " << lo << " ... " << hi << std::endl;
  if (!(lo < hi)) return;
  const float scale = 1.0f / (hi - lo);
  for (float& s : scalars) s = (s - lo) * scale;
}

void VolumeMesh::shiftNodeIndices(int firstFreeNode) {
  for (int32_t& j : nodeIndices)
    if (j != 0) j -= firstFreeNode;
}

void VolumeMesh::displace(const double* d, int length) {
  for (int i = 0; i < nodeCount; ++i) {
    double p[3] = {restPositions[3 * i], restPositions[3 * i + 1], restPositions[3 * i + 2]};
    for (int k = 0; k < 4; ++k) {
      const int64_t j = nodeIndices[4 * i + k];
      if (j < 0 || 3 * j + 2 >= length) continue;
      const double w = weights[4 * i + k];
      for (int c = 0; c < 3; ++c) p[c] += w * d[3 * j + c];
    }
    for (int c = 0; c < 3; ++c) positions[3 * i + c] = static_cast<float>(p[c]);
  }
}

void VolumeMesh::addNodeOffsets(const float* q, int length) {
  for (int i = 0; i < nodeCount; ++i)
    for (int k = 0; k < 4; ++k) {
      const int64_t j = nodeIndices[4 * i + k];
      if (j < 0 || 3 * j + 2 >= length) continue;
      const float w = weights[4 * i + k];
      for (int c = 0; c < 3; ++c) positions[3 * i + c] += w * q[3 * j + c];
    }
}

void VolumeMesh::interpolateFrom(const float* colourScalars, const int* renderIndexOfVertex,
                                 int vertexCount, int first) {
  for (int i = 0; i < nodeCount; ++i) {
    float s = 0.0f;
    for (int k = 0; k < 4; ++k) {
      const int64_t v = int64_t(first) + nodeIndices[4 * i + k];
      if (v < 0 || v >= vertexCount) continue;
      const int r = renderIndexOfVertex[v];
      if (r >= 0 && r < vertexCount) s += weights[4 * i + k] * colourScalars[r];
    }
    scalars[size_t(i)] = s;
  }
}

bool VolumeMesh::exportMesh(const char* fileName) {
  if (!meshExport)
    meshExport = std::make_unique<VolumeMeshExport>(
        nodeCount, tetCount, positions.data(), nodeIndices.data(), weights.data(), tets.data());
  return meshExport->write(fileName, positions.data(), scalars.data(), nullptr);
}
