#include "Tetrahedron.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "ObjectPool.h"
#include "SparseMatrix.h"
#include "TetHierarchy.h"
#include "Vertex.h"
#include "ZoltAssert.h"

const int Tetrahedron::kFaceCorners[4][3] = {{1, 3, 2}, {0, 2, 3}, {0, 3, 1}, {0, 1, 2}};
const int Tetrahedron::kFaceOrder[4] = {3, 2, 0, 1};

namespace {

constexpr double kShapeTolerance = 1e-6;

// Signed volume in float: -det(p1 - p0, p2 - p0, p3 - p0) / 6, positive for
// corners in the stored orientation.
float signedVolume(const float* p0, const float* p1, const float* p2, const float* p3) {
  const float a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const float b[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
  const float c[3] = {p3[0] - p0[0], p3[1] - p0[1], p3[2] - p0[2]};
  return (a[0] * b[2] * c[1] + a[2] * b[1] * c[0] + a[1] * b[0] * c[2] - a[0] * b[1] * c[2] -
          a[1] * b[2] * c[0] - a[2] * b[0] * c[1]) *
         0.16666667f;
}

double valueAt(const Polynom<double>& n, const float p[3]) {
  return n.eval(static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2]));
}

// With a source, the line also names the file, the level and the element;
// a hint ends it in parentheses.
[[noreturn]] void readError(const char* message, const char* source = nullptr, int level = 0,
                            int element = -1, const char* hint = nullptr) {
  std::cout << message;
  if (source) {
    std::cout << " (\"" << source << "\", level " << level;
    if (element >= 0) std::cout << ", element " << element + 1;
    std::cout << ")";
  }
  if (hint) std::cout << " (" << hint << ")";
  std::cout << std::endl;
  std::exit(1);
}

}  // namespace

Tetrahedron::Tetrahedron(Vertex* v0, Vertex* v1, Vertex* v2, Vertex* v3, uint8_t mask)
    : v{v0, v1, v2, v3}, faceMask(mask) {
  for (int f = 0; f < 4; ++f) {
    if (!(mask & (1 << f))) continue;
    for (int k = 0; k < 3; ++k) v[kFaceCorners[f][k]]->onSurface = 1;
  }
}

Tetrahedron::~Tetrahedron() {
  delete loadMatrix;
  delete[] gradients;
}

namespace {
// Lives as long as the program: elements may be deleted during exit.
zolt::ObjectPool& tetrahedronPool() {
  static auto* pool = new zolt::ObjectPool(sizeof(Tetrahedron));
  return *pool;
}
}  // namespace

void* Tetrahedron::operator new(std::size_t n) {
  if (zolt::ObjectPool::enabled() && n == sizeof(Tetrahedron)) return tetrahedronPool().allocate();
  return ::operator new(n);
}

void Tetrahedron::operator delete(void* p, std::size_t n) {
  if (zolt::ObjectPool::enabled() && n == sizeof(Tetrahedron))
    tetrahedronPool().release(p);
  else
    ::operator delete(p);
}

std::size_t Tetrahedron::trimPool() {
  return zolt::ObjectPool::enabled() ? tetrahedronPool().trim() : 0;
}

// The element-matrix operations are in TetrahedronMatrices.cpp.

Polynom<double>* Tetrahedron::getShapeFunctions() {
  if (!shapeFunctionsReady) computeShapeFunctions();
  return N;
}

bool Tetrahedron::containsPoint(const float p[3]) const {
  for (int i = 0; i < 4; ++i) {
    if (N[i].empty()) continue;
    if (valueAt(N[i], p) < -kShapeTolerance) return false;
  }
  return true;
}

bool Tetrahedron::containsPointBeyondBoundary(const float p[3]) const {
  double value[4];
  for (int i = 0; i < 4; ++i) {
    value[i] = valueAt(N[i], p);
    if (std::fabs(value[i]) < kShapeTolerance) value[i] = 0.0;
  }
  // Beyond a surface face is still accepted, beyond an inner face is not.
  for (int f = 3; f >= 0; --f)
    if (!(faceMask & (1 << f)) && value[f] < 0.0) return false;
  return true;
}

void Tetrahedron::collectFaces(std::vector<Vertex*>& out, bool boundary) const {
  for (int f : kFaceOrder) {
    if (((faceMask & (1 << f)) != 0) != boundary) continue;
    for (int k = 0; k < 3; ++k) out.push_back(v[kFaceCorners[f][k]]);
  }
}

void Tetrahedron::collectBoundaryFaces(std::vector<Vertex*>& out) const { collectFaces(out, true); }

void Tetrahedron::collectInnerFaces(std::vector<Vertex*>& out) const { collectFaces(out, false); }

int Tetrahedron::sharedCorners(const FiniteElement* e, int* unshared) const {
  const int n = e->degreeOfFreedom();
  int shared = 0;
  for (int i = 0; i < 4; ++i) {
    bool found = false;
    for (int j = 0; j < n && !found; ++j) found = e->getVertex(j) == v[i];
    if (found)
      ++shared;
    else
      *unshared = i;
  }
  return shared;
}

void Tetrahedron::computeFaceMask(ElementIterator first, ElementIterator last) {
  faceMask = 15;
  for (auto it = first; it != last; ++it) {
    int unshared = -1;
    if (sharedCorners(*it, &unshared) == 3) faceMask &= static_cast<uint8_t>(~(1 << unshared));
  }
}

void Tetrahedron::refine(std::vector<FiniteElement*>& nextElements,
                         std::vector<Vertex*>& nextVertices, EdgeMidpointMap& edgeMidpoints,
                         int& nextIndex) {
  static const int kEdges[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  Vertex* m[6];
  for (int e = 0; e < 6; ++e) {
    Vertex* a = v[kEdges[e][0]];
    Vertex* b = v[kEdges[e][1]];
    auto [it, isNew] = edgeMidpoints.try_emplace(makeEdgeKey(a, b), nullptr);
    if (isNew) {
      auto mid = std::make_unique<Vertex>();
      mid->index = nextIndex++;
      for (int k = 0; k < 3; ++k)
        mid->restPosition[k] = (a->restPosition[k] + b->restPosition[k]) * 0.5f;
      mid->parents = {{a, 0.5f}, {b, 0.5f}};
      it->second = mid.release();
    }
    m[e] = it->second;
  }
  Vertex* c[4];
  for (int i = 0; i < 4; ++i) {
    const int index = v[i]->index;
    ZOLT_ASSERT(index >= 0 && index < static_cast<int>(nextVertices.size()));
    c[i] = nextVertices[index];
  }
  Vertex *m01 = m[0], *m02 = m[1], *m03 = m[2], *m12 = m[3], *m13 = m[4], *m23 = m[5];
  // Corner children, then the inner octahedron cut along m02 - m13; each
  // child keeps the bits of the parent faces it lies in.
  const struct {
    Vertex* corner[4];
    uint8_t mask;
  } children[8] = {
      {{c[0], m01, m02, m03}, 14}, {{m01, c[1], m12, m13}, 13}, {{m02, m12, c[2], m23}, 11},
      {{m03, m13, m23, c[3]}, 7},  {{m01, m13, m02, m03}, 4},   {{m02, m13, m23, m03}, 2},
      {{m02, m12, m23, m13}, 1},   {{m02, m01, m12, m13}, 8},
  };
  for (const auto& child : children) {
    auto t =
        std::make_unique<Tetrahedron>(child.corner[0], child.corner[1], child.corner[2],
                                      child.corner[3], static_cast<uint8_t>(faceMask & child.mask));
    t->id = static_cast<int>(nextElements.size());
    nextElements.push_back(t.get());
    t.release();
  }
}

float Tetrahedron::getDisplacedVolume(const double* u, int nFixed) const {
  float p[4][3];
  for (int k = 0; k < 4; ++k) {
    const int block = v[k]->index - nFixed;
    for (int j = 0; j < 3; ++j) {
      p[k][j] = v[k]->restPosition[j];
      if (block >= 0) p[k][j] = static_cast<float>(static_cast<double>(p[k][j]) + u[3 * block + j]);
    }
  }
  return signedVolume(p[0], p[1], p[2], p[3]);
}

float Tetrahedron::getCurrentVolume() const {
  return signedVolume(v[0]->currentPosition, v[1]->currentPosition, v[2]->currentPosition,
                      v[3]->currentPosition);
}

void Tetrahedron::read(std::istream& in, TetHierarchy* h, int level, int vertexOffset,
                       const char* source, int firstNumber) {
  ZOLT_ASSERT(h != nullptr && level >= 0 && level < h->nLevels);
  int nElements = 0, nVerticesPerElement = 0, nExtras = 0;
  in >> nElements >> nVerticesPerElement >> nExtras;
  if (!in) readError("Error: Could not read the element header!", source, level);
  if (nVerticesPerElement != 4) readError("Error: Wrong number of vertices!", source, level);
  if (nExtras != 0 && nExtras != 1) readError("Error: Wrong number of extras!", source, level);
  if (nElements < 0) readError("Error: Wrong number of elements!", source, level);

  std::vector<Vertex*>& levelVertices = h->vertices[level];
  std::vector<FiniteElement*>& levelElements = h->elements[level];
  const long long nVertices = static_cast<long long>(levelVertices.size());
  for (int e = 0; e < nElements; ++e) {
    int number = 0, k[4] = {0, 0, 0, 0}, mask = 0;
    in >> number >> k[0] >> k[1] >> k[2] >> k[3];
    if (nExtras == 1) in >> mask;
    if (!in) readError("Error: Could not read an element!", source, level, e);
    Vertex* corner[4];
    for (int i = 0; i < 4; ++i) {
      // Numbers count from firstNumber within this record's own vertices.
      const long long entry = static_cast<long long>(vertexOffset) + k[i] - firstNumber;
      if (k[i] < firstNumber || entry >= nVertices)
        readError("Error: Vertex number out of range!", source, level, e,
                  k[i] == 0 && firstNumber == 1
                      ? "vertex numbers start at 1: the file seems to number them from 0"
                        " (TetGen's -z)"
                      : nullptr);
      corner[i] = levelVertices[static_cast<size_t>(entry)];
    }

    const float* p0 = corner[0]->restPosition;
    const float* p1 = corner[1]->restPosition;
    const float* p2 = corner[2]->restPosition;
    const float* p3 = corner[3]->restPosition;
    const float a[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    const float b[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const float c[3] = {p3[0] - p0[0], p3[1] - p0[1], p3[2] - p0[2]};
    const float d = (b[1] * a[2] - b[2] * a[1]) * c[0] + (b[2] * a[0] - b[0] * a[2]) * c[1] +
                    (b[0] * a[1] - b[1] * a[0]) * c[2];
    if (d >= 0.0f) {
      std::swap(corner[2], corner[3]);
      // Face (V0, V1, V2) becomes (V0, V1, V3) and the reverse.
      if (((mask & 4) != 0) != ((mask & 8) != 0)) mask ^= 12;
    }

    // Held until the level owns it: a failed push_back frees it.
    auto t = std::make_unique<Tetrahedron>(corner[0], corner[1], corner[2], corner[3],
                                           static_cast<uint8_t>(mask & 0xff));
    const auto* last =
        levelElements.empty() ? nullptr : dynamic_cast<const Tetrahedron*>(levelElements.back());
    t->id = last ? last->id + 1 : 0;
    levelElements.push_back(t.get());
    t.release();
  }
  if (level > h->startLevel) h->startLevel = level;
}

int Tetrahedron::vertexIndex(const Vertex* p) const {
  for (int i = 0; i < 4; ++i)
    if (v[i] == p) return i;
  return -1;
}

int Tetrahedron::faceIndex(const Vertex* a, const Vertex* b, const Vertex* c) const {
  const int ia = vertexIndex(a), ib = vertexIndex(b), ic = vertexIndex(c);
  if (ia < 0 || ib < 0 || ic < 0) return -1;
  for (int f = 0; f < 4; ++f)
    if (f != ia && f != ib && f != ic) return f;
  return -1;
}

Vertex* Tetrahedron::faceVertex(int face, int k) const {
  if (face < 0 || face > 3 || k < 0 || k > 2) return nullptr;
  return v[kFaceCorners[face][k]];
}

void Tetrahedron::centroid(double c[3]) const {
  for (int k = 0; k < 3; ++k) {
    const float s = (v[0]->restPosition[k] + v[1]->restPosition[k]) +
                    (v[2]->restPosition[k] + v[3]->restPosition[k]);
    c[k] = static_cast<double>(s) * 0.25;
  }
}

void Tetrahedron::faceCentroid(int face, double c[3]) const {
  if (face < 0 || face > 3) {
    c[0] = c[1] = c[2] = 0.0;
    return;
  }
  const float* a = v[kFaceCorners[face][0]]->restPosition;
  const float* b = v[kFaceCorners[face][1]]->restPosition;
  const float* d = v[kFaceCorners[face][2]]->restPosition;
  for (int k = 0; k < 3; ++k) c[k] = static_cast<double>(a[k] + b[k] + d[k]) * (1.0 / 3.0);
}

double Tetrahedron::faceArea(int face) const {
  static const int kCorners[4][3] = {{1, 2, 3}, {0, 2, 3}, {0, 1, 3}, {0, 1, 2}};
  if (face < 0 || face > 3) return 0.0;
  const float* a = v[kCorners[face][0]]->restPosition;
  const float* b = v[kCorners[face][1]]->restPosition;
  const float* c = v[kCorners[face][2]]->restPosition;
  const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                       u[0] * w[1] - u[1] * w[0]};
  return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

void Tetrahedron::findNeighbors(const std::vector<FiniteElement*>& list) {
  for (FiniteElement* e : list) {
    int unshared = -1;
    if (sharedCorners(e, &unshared) == 3) neighbour[unshared] = e;
  }
}

void Tetrahedron::checkNeighbors(const std::vector<FiniteElement*>& list) const {
  for (FiniteElement* e : list) {
    int unshared = -1;
    if (sharedCorners(e, &unshared) == 3 && neighbour[unshared] != e)
      std::cout << "Neighbor missing on face " << unshared << ": " << static_cast<const void*>(e)
                << std::endl;
  }
}

void Tetrahedron::collectAroundEdge(Vertex* a, Vertex* b, std::vector<FiniteElement*>& out) {
  out.push_back(this);
  for (int f = 0; f < 4; ++f) {
    if (v[f] == a || v[f] == b) continue;
    auto* next = dynamic_cast<Tetrahedron*>(neighbour[f]);
    if (!next) continue;
    bool seen = false;
    for (const FiniteElement* e : out) seen = seen || e == next;
    if (!seen) next->collectAroundEdge(a, b, out);
  }
}

void Tetrahedron::testSfm() const {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      const double value = valueAt(N[i], v[j]->restPosition);
      const double expected = i == j ? 1.0 : 0.0;
      // Written so that a NaN value fails too.
      ZOLT_ASSERT(std::fabs(value - expected) <= kShapeTolerance);
    }
  }
}
