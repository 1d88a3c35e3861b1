// Binding of the render surface to the boundary tetrahedra of the finest
// level: for every vertex the boundary face with the best score among the
// elements of its octant, and that element's shape functions at the vertex.

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "FiniteElement.h"
#include "ProgressBar.h"
#include "ProgressBarRoute.h"
#include "SurfaceMesh.h"
#include "TetHierarchy.h"
#include "Vec3.h"
#include "Vertex.h"

namespace {

constexpr float kNoScore = 3e37f;
// Elements join the buckets of every octant they reach within this margin.
constexpr float kOctantMargin = 0.03f;

// Faces in search order: mask bit, corners a, b, c, opposite corner.
struct FaceCorners {
  uint8_t bit;
  int corner[3];
  int opposite;
};
constexpr FaceCorners kFaces[4] = {
    {8, {0, 1, 2}, 3}, {4, {1, 0, 3}, 2}, {2, {3, 0, 2}, 1}, {1, {2, 1, 3}, 0}};

// Shape functions of one element, evaluated as Polynom::eval does: linear
// ones from their four coefficients in term order (same sums, no map walk),
// others through the polynomial.
struct ShapeFunctions {
  const Polynom<double>* polynoms = nullptr;
  double coef[4][4];  // constant, x, y, z
  bool linear = true;

  explicit ShapeFunctions(const Polynom<double>* n) : polynoms(n) {
    for (int j = 0; j < 4; ++j) {
      for (double& c : coef[j]) c = 0.0;
      for (const auto& [key, c] : n[j]) {
        const int slot = key == 0           ? 0
                         : key == 1         ? 1
                         : key == (1 << 8)  ? 2
                         : key == (1 << 16) ? 3
                                            : -1;
        if (slot < 0)
          linear = false;
        else
          coef[j][slot] = c;
      }
    }
  }

  double value(int j, const float* p) const {
    const double x = p[0], y = p[1], z = p[2];
    if (!linear) return polynoms[j].eval(x, y, z);
    return coef[j][0] + coef[j][1] * x + coef[j][2] * y + coef[j][3] * z;
  }
};

// One boundary element with what the search needs of it at rest.
struct Candidate {
  ShapeFunctions shape;
  uint8_t mask;
  uint32_t node[4];
  float corner[4][3];
  // Per face of kFaces: unnormalised normal, its length, centroid.
  float normal[4][3];
  float normalLength[4];
  float centroid[4][3];

  Candidate(FiniteElement* e) : shape(e->getShapeFunctions()), mask(e->getFaceMask()) {
    for (int k = 0; k < 4; ++k) {
      const Vertex* v = e->getVertex(k);
      node[k] = static_cast<uint32_t>(v->index);
      for (int c = 0; c < 3; ++c) corner[k][c] = v->restPosition[c];
    }
    for (int f = 0; f < 4; ++f) {
      const float* a = corner[kFaces[f].corner[0]];
      const float* b = corner[kFaces[f].corner[1]];
      const float* c = corner[kFaces[f].corner[2]];
      triangleNormal3(a, b, c, normal[f]);
      normalLength[f] = length3(normal[f]);
      for (int k = 0; k < 3; ++k) centroid[f][k] = (a[k] + b[k] + c[k]) * 0.33333334f;
    }
  }
};

struct BestFace {
  float score = kNoScore;
  const Candidate* element = nullptr;
  int face = -1;
  float shape[4];
};

bool inWidenedOctant(const float* p, int octant) {
  for (int axis = 0; axis < 3; ++axis) {
    const bool negative = (octant >> axis) & 1;
    if (negative ? !(p[axis] < kOctantMargin) : !(p[axis] >= -kOctantMargin)) return false;
  }
  return true;
}

// Scores every marked face of the listed candidates at p; the first of
// equal scores is kept.
void scoreFaces(const std::vector<Candidate>& all, const std::vector<uint32_t>& list,
                const float* p, float weighting, BestFace& best) {
  for (uint32_t id : list) {
    const Candidate& e = all[id];
    // One evaluation per element serves its four faces.
    float n[4];
    float penalty = 1.0f;
    for (int j = 0; j < 4; ++j) {
      n[j] = static_cast<float>(e.shape.value(j, p));
      if (n[j] < 0.0f) penalty -= n[j];
    }
    for (int f = 0; f < 4; ++f) {
      if (!(e.mask & kFaces[f].bit)) continue;
      const float* a = e.corner[kFaces[f].corner[0]];
      const float* nf = e.normal[f];
      const float d = ((p[0] - a[0]) * nf[0] + (p[1] - a[1]) * nf[1] + (p[2] - a[2]) * nf[2]) /
                      e.normalLength[f];
      const float* g = e.centroid[f];
      const float dx = g[0] - p[0], dy = g[1] - p[1], dz = g[2] - p[2];
      const float score =
          std::sqrt(dx * dx + dy * dy + dz * dz) * weighting * penalty + std::fabs(d);
      if (score < best.score) {
        best.score = score;
        best.element = &e;
        best.face = f;
        for (int j = 0; j < 4; ++j) best.shape[j] = n[j];
      }
    }
  }
}

// Stores the binding of vertex i to the best face, and the normal frame and
// face coordinates that go with it into the weight file.
void bindVertex(SurfaceMesh& surface, size_t i, const BestFace& best) {
  const float* p = &surface.restPositions[3 * i];
  const Candidate& e = *best.element;
  const FaceCorners& face = kFaces[best.face];
  const int local[4] = {face.corner[0], face.corner[1], face.corner[2], face.opposite};
  for (int j = 0; j < 4; ++j) {
    surface.weights[4 * i + j] = best.shape[local[j]];
    surface.nodeIndices[4 * i + j] = e.node[local[j]];
  }
  const float* a = e.corner[local[0]];
  const float* b = e.corner[local[1]];
  const float* c = e.corner[local[2]];
  float q[3], distance;
  SurfaceMesh::projectOntoFacePlane(a, b, c, p, q, distance);

  // Barycentric coordinates of q on the face.
  double bary[3];
  double sum = 0.0;
  for (int j = 0; j < 3; ++j) {
    bary[j] = std::fmax(0.0, e.shape.value(local[j], q));
    sum += bary[j];
  }
  for (int j = 0; j < 3; ++j) bary[j] = sum > 0.0 ? bary[j] / sum : 1.0 / 3.0;

  // Node normal blended over the face; zero without the drawable's normals.
  float m[3] = {0.0f, 0.0f, 0.0f};
  if (surface.nodeNormals && surface.nodeIndexMap) {
    for (int j = 0; j < 3; ++j) {
      const float* n =
          surface.nodeNormals + 3 * static_cast<size_t>(surface.nodeIndexMap[e.node[local[j]]]);
      for (int k = 0; k < 3; ++k) m[k] += static_cast<float>(bary[j]) * n[k];
    }
  }
  float f[3];
  const float* fn = e.normal[best.face];
  for (int k = 0; k < 3; ++k) f[k] = fn[k] / e.normalLength[best.face];
  const float* v = &surface.normals[3 * i];
  const float fv = f[0] * v[0] + f[1] * v[1] + f[2] * v[2];
  const float fm = f[0] * m[0] + f[1] * m[1] + f[2] * m[2];
  float r = fv / fm;
  if (!std::isfinite(r)) r = 0.0f;  // normal blend parallel to the face
  float x[3];
  for (int k = 0; k < 3; ++k) {
    surface.normalFrame[4 * i + k] = v[k] - r * m[k];
    x[k] = q[k] + surface.normalFrame[4 * i + k];
  }
  surface.normalFrame[4 * i + 3] = r;
  surface.faceCoords[4 * i + 0] = static_cast<float>(bary[0]);
  surface.faceCoords[4 * i + 1] = static_cast<float>(bary[1]);
  surface.faceCoords[4 * i + 2] =
      static_cast<float>(e.shape.value(local[0], x) - e.shape.value(local[0], q));
  surface.faceCoords[4 * i + 3] =
      static_cast<float>(e.shape.value(local[1], x) - e.shape.value(local[1], q));
}

}  // namespace

int SurfaceMesh::octantOf(const float* p) {
  return (0.0f > p[0] ? 1 : 0) | (0.0f > p[1] ? 2 : 0) | (0.0f > p[2] ? 4 : 0);
}

std::vector<std::vector<uint32_t>> SurfaceMesh::octantBuckets(
    const std::vector<FiniteElement*>& elements) {
  std::vector<std::vector<uint32_t>> buckets(8);
  for (size_t i = 0; i < elements.size(); ++i) {
    const FiniteElement* e = elements[i];
    if (e->getFaceMask() == 0) continue;
    for (int o = 0; o < 8; ++o) {
      for (int k = 0; k < 4; ++k) {
        if (inWidenedOctant(e->getVertex(k)->restPosition, o)) {
          buckets[o].push_back(static_cast<uint32_t>(i));
          break;
        }
      }
    }
  }
  return buckets;
}

bool SurfaceMesh::searchWeights(float weighting) {
  const std::vector<FiniteElement*>& elements = mesh->elements[mesh->nLevels - 1];
  // Candidates are the boundary elements; buckets index them.
  std::vector<Candidate> candidates;
  std::vector<uint32_t> candidateOf(elements.size(), 0);
  std::vector<uint32_t> allCandidates;
  for (size_t i = 0; i < elements.size(); ++i) {
    if (elements[i]->getFaceMask() == 0) continue;
    candidateOf[i] = static_cast<uint32_t>(candidates.size());
    allCandidates.push_back(static_cast<uint32_t>(candidates.size()));
    candidates.emplace_back(elements[i]);
  }
  std::vector<std::vector<uint32_t>> buckets = octantBuckets(elements);
  for (auto& bucket : buckets)
    for (uint32_t& id : bucket) id = candidateOf[id];

  // The window's disc while a window loads the model, else the console.
  const std::unique_ptr<ProgressBar> bar(
      ProgressBarRoute::create("Bind render surface", vertexCount));
  bar->start();
  bool complete = true;
  for (size_t i = 0; i < vertexCount; ++i) {
    const float* p = &restPositions[3 * i];
    BestFace best;
    scoreFaces(candidates, buckets[octantOf(p)], p, weighting, best);
    // An octant without boundary elements: any boundary face, same score.
    if (!best.element) scoreFaces(candidates, allCandidates, p, weighting, best);
    if (!best.element) {
      std::printf(" Error: no face found!! \n");
      complete = false;
      break;
    }
    bindVertex(*this, i, best);
    bar->step();
  }
  bar->finish();
  return complete;
}

void SurfaceMesh::generateWeights(const char* cacheName, bool fur, float weighting) {
  const std::clock_t start = std::clock();
  clearWeights();
  weightKey = surfaceFingerprint(weighting);
  const bool read = mesh && readWeights(cacheName, fur);
  std::printf("Highresmesh:        \n");
  std::printf(" Faces              %zu\n", indices.size() / 3);
  std::printf(" Points             %u\n", vertexCount);
  std::printf(" Normal vectors     %zu\n", normals.size() / 3);
  std::printf(" Texture positions  %zu\n", texCoords.size() / 2);
  if (!read && mesh) {
    const size_t n = 4 * static_cast<size_t>(vertexCount);
    nodeIndices.assign(n, 0);
    weights.assign(n, 0.0f);
    normalFrame.assign(n, 0.0f);
    faceCoords.assign(n, 0.0f);
    std::printf("\nGenerating surface weights\n");
    if (searchWeights(weighting)) {
      if (!writeWeights(cacheName, fur)) std::printf("Error: Can't save the weight to file!\n");
    } else {
      // Nothing half-bound: the surface then stays at rest.
      clearWeights();
      normalFrame.clear();
      faceCoords.clear();
    }
  }
  std::printf(" Weightarray Size: %zu\n", weights.size() / 4);
  const long ms = static_cast<long>((std::clock() - start) * 1000 / CLOCKS_PER_SEC);
  std::printf("Debug: Calculated weights. Time: %ld\n", ms);
}
