// Binding of the render-volume nodes: to the simulation mesh by shape
// functions, and to the raw 3D image by sampling.

#include <algorithm>
#include <iostream>

#include "FiniteElement.h"
#include "RenderSettings.h"
#include "TetHierarchy.h"
#include "Vertex.h"
#include "VolumeMesh.h"

void VolumeMesh::calcWeightsIndices(int firstFreeNode) {
  std::cout << "Calculate Render Volume weights ... " << std::endl;
  const std::vector<FiniteElement*>& elements = mesh->elements[mesh->nLevels - 1];
  if (elements.empty()) return;
  if (elements[0]->degreeOfFreedom() != 4)
    std::cout << "[RenderVolume, calcWeightsIndices] Error: No tetrahedral elements used in FEM "
                 "simulation"
              << std::endl;
  // A node takes at most four corners of its element.
  auto cornersOf = [](const FiniteElement* e) { return std::min(e->degreeOfFreedom(), 4); };

  std::vector<float> centroids(3 * elements.size(), 0.0f);
  for (size_t e = 0; e < elements.size(); ++e) {
    const int v = elements[e]->degreeOfFreedom();
    for (int k = 0; k < v; ++k)
      for (int c = 0; c < 3; ++c)
        centroids[3 * e + c] += elements[e]->getVertex(k)->restPosition[c];
    for (int c = 0; c < 3; ++c) centroids[3 * e + c] *= 1.0f / float(v);
  }

  for (int i = 0; i < nodeCount; ++i) {
    const float* p = &positions[3 * size_t(i)];
    size_t nearest = 0;
    float best = 1e32f;
    for (size_t e = 0; e < elements.size(); ++e) {
      float d = 0.0f;
      for (int c = 0; c < 3; ++c)
        d += (p[c] - centroids[3 * e + c]) * (p[c] - centroids[3 * e + c]);
      if (d < best) {
        best = d;
        nearest = e;
      }
    }
    FiniteElement* e = elements[nearest];
    const Polynom<double>* shape = e->getShapeFunctions();
    for (int k = 0; k < cornersOf(e); ++k) {
      const int index = e->getVertex(k)->index;
      const bool fixed = index < firstFreeNode;
      nodeIndices[4 * size_t(i) + k] = fixed ? 0 : index;
      weights[4 * size_t(i) + k] =
          fixed ? 0.0f : static_cast<float>(shape[k].eval(p[0], p[1], p[2]));
    }
  }
}

namespace {

// Voxel coordinate of x in [lo, hi] on n samples; 0 on a flat box or one sample.
float voxelCoordinate(float x, float lo, float hi, int n) {
  if (n < 2 || !(hi < lo || hi > lo)) return 0.0f;
  return (x - lo) * float(n - 1) / (hi - lo);
}

}  // namespace

bool VolumeMesh::bindToVolume(const VolumeLink& link, int smoothingPasses, VolumeImage& smoothed) {
  const std::string& path = settings->volumeTexturePath;
  std::cout << "Calculate Render Volume skalars from 3D texture \"" << path << "\"" << std::endl;
  const int* n = settings->volumeSamples;
  if (!readRawVolume(path, n[0], n[1], n[2], smoothed)) {
    std::cout << "[RenderVolume, bindToVolume] Error: Can\u00b4t read file \"" << path << "\""
              << std::endl;
    return false;
  }
  smoothVolume(smoothed, smoothingPasses);
  float lo[3], hi[3];
  for (int a = 0; a < 3; ++a) {
    lo[a] = link.boxMin[a] + settings->scale[a] * settings->volumeBounds[2 * a];
    hi[a] = link.boxMax[a] + settings->scale[a] * settings->volumeBounds[2 * a + 1];
  }
  scalars.assign(size_t(nodeCount), 0.0f);
  for (int i = 0; i < nodeCount; ++i) {
    float c[3];
    for (int a = 0; a < 3; ++a) {
      c[a] = voxelCoordinate(positions[3 * size_t(i) + a], lo[a], hi[a], n[a]);
      const float t = n[a] > 1 ? c[a] / float(n[a] - 1) : 0.0f;
      texCoords[3 * size_t(i) + a] = std::min(1.0f, std::max(0.0f, t));
    }
    scalars[size_t(i)] = sampleVolume(smoothed, c[0], c[1], c[2]) * 0.003921569f;
  }
  return true;
}
