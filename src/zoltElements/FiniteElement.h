#pragma once
// The abstract element of the mesh hierarchy. It holds no data; the
// operations keep a fixed order.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "Matrix.h"
#include "Polynom.h"

struct Vertex;
struct IntegrationDomain;
template <class T>
class SparseMatrix;

// An edge of a level, keyed by its two end vertices, the lower identity
// first, so that every element sharing the edge finds the same entry.
using EdgeKey = std::pair<Vertex*, Vertex*>;
struct EdgeKeyLess {
  bool operator()(const EdgeKey& a, const EdgeKey& b) const {
    std::less<Vertex*> less;
    if (a.first != b.first) return less(a.first, b.first);
    return less(a.second, b.second);
  }
};
// Edge -> midpoint vertex of the next finer level, shared by all elements of
// the level being refined.
using EdgeMidpointMap = std::map<EdgeKey, Vertex*, EdgeKeyLess>;

inline EdgeKey makeEdgeKey(Vertex* a, Vertex* b) {
  return std::less<Vertex*>()(b, a) ? EdgeKey(b, a) : EdgeKey(a, b);
}

// Polynomials keyed by three ints, for integrateMap.
using PolynomMap = std::map<std::array<int, 3>, Polynom<double>>;

class FiniteElement {
 public:
  using ElementIterator = std::vector<FiniteElement*>::const_iterator;

  virtual ~FiniteElement() = default;

  // Number of nodes.
  virtual int degreeOfFreedom() const = 0;
  virtual void computeShapeFunctions() = 0;
  // One shape function per node; computed on first use.
  virtual Polynom<double>* getShapeFunctions() = 0;
  virtual void computeStrainMatrix(Matrix<Polynom<double>>& B) = 0;
  virtual double getVolume() const = 0;
  virtual void computeIntegrationDomain(IntegrationDomain& dom) = 0;
  virtual void integrateMatrix(Matrix<Polynom<double>>& M, IntegrationDomain& dom) = 0;
  virtual void computeLoadMatrix(IntegrationDomain& dom) = 0;
  virtual void computeMassMatrix(Matrix<double>& Me, IntegrationDomain& dom) = 0;
  virtual void integrateMap(PolynomMap& m, IntegrationDomain& dom) = 0;
  virtual void computeGradients(IntegrationDomain& dom) = 0;
  virtual SparseMatrix<double>* getLoadMatrix() const = 0;
  // Entry (row, col) of the load matrix, 0 without one; an element may
  // answer without building the matrix.
  virtual double loadEntry(int row, int col) const = 0;
  virtual double* getGradients() const = 0;
  // Point location with the shape functions (which must be computed).
  virtual bool containsPoint(const float p[3]) const = 0;
  virtual bool containsPointBeyondBoundary(const float p[3]) const = 0;
  virtual Vertex* getVertex(int i) const = 0;
  // Append three vertices per boundary (resp. inner) face, wound outward.
  virtual void collectBoundaryFaces(std::vector<Vertex*>& out) const = 0;
  virtual void collectInnerFaces(std::vector<Vertex*>& out) const = 0;
  // Immediate-mode triangles at the current positions, inside the caller's
  // glBegin(GL_TRIANGLES) / glEnd.
  virtual void draw(bool surfaceOnly) const = 0;
  // Recomputes the face mask: a face shared with an element of the range is
  // inner.
  virtual void computeFaceMask(ElementIterator first, ElementIterator last) = 0;
  virtual uint8_t getFaceMask() const = 0;
  // Appends the element's children to nextElements; new edge midpoints go
  // into edgeMidpoints only, numbered from nextIndex on.
  virtual void refine(std::vector<FiniteElement*>& nextElements, std::vector<Vertex*>& nextVertices,
                      EdgeMidpointMap& edgeMidpoints, int& nextIndex) = 0;
  virtual void reservedOperation() = 0;
  virtual float getStiffness() const = 0;
  virtual void setStiffness(float s) = 0;
  virtual float getDensity() const = 0;
  virtual void setDensity(float d) = 0;
  // Signed volume with every free node moved by its block of u (nodes with
  // index < nFixed stay at rest).
  virtual float getDisplacedVolume(const double* u, int nFixed) const = 0;
  // Signed volume at the current positions.
  virtual float getCurrentVolume() const = 0;

 protected:
  FiniteElement() = default;
  FiniteElement(const FiniteElement&) = default;
  FiniteElement& operator=(const FiniteElement&) = default;
};
