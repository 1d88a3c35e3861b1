#pragma once
// Linear four-node tetrahedron.
//
// Face f is the face opposite corner f; its face-mask bit is 1 << f (set:
// the face lies on the body's surface). Outward corner orders, for corners
// stored in the orientation read() produces:
//   face 0: V1 V3 V2   face 1: V0 V2 V3   face 2: V0 V3 V1   face 3: V0 V1 V2
//
// draw() and drawTriangle() live in the GL-side unit (TetrahedronDraw.cpp);
// a program without GL links the no-op unit (TetrahedronNoDraw.cpp) instead.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

#include "FiniteElement.h"

class TetHierarchy;

class Tetrahedron : public FiniteElement {
 public:
  uint8_t flag = 0;  // free for the user interface
  uint8_t cut = 0;   // set: cut away from the body, not picked
  int id = 0;        // sequence number within its level
  Vertex* v[4];      // corners, not owned
  double volume = 0.0;
  uint8_t faceMask;  // low four bits
  FiniteElement* neighbour[4] = {nullptr, nullptr, nullptr, nullptr};
  Polynom<double> N[4];  // shape functions
  // Owned; after prepareVolume built on first use.
  mutable SparseMatrix<double>* loadMatrix = nullptr;
  double* gradients = nullptr;  // 12 values, owned
  float stiffness = 1.0f;
  float density = 1.0f;
  bool shapeFunctionsReady = false;
  bool loadPending = false;  // set by prepareVolume: the load is a quarter of the volume

  // Every corner of a face whose bit is set in mask becomes a surface vertex.
  Tetrahedron(Vertex* v0, Vertex* v1, Vertex* v2, Vertex* v3, uint8_t mask);
  ~Tetrahedron() override;
  Tetrahedron(const Tetrahedron&) = delete;
  Tetrahedron& operator=(const Tetrahedron&) = delete;
  // A model holds hundreds of thousands: they come from a pool of large
  // slabs (ObjectPool).
  static void* operator new(std::size_t n);
  static void operator delete(void* p, std::size_t n);
  // Gives the pool's slabs without a live element back to the system; the
  // bytes returned.
  static std::size_t trimPool();

  int degreeOfFreedom() const override { return 4; }
  void computeShapeFunctions() override;
  Polynom<double>* getShapeFunctions() override;
  void computeStrainMatrix(Matrix<Polynom<double>>& B) override;
  double getVolume() const override { return volume; }
  void computeIntegrationDomain(IntegrationDomain& dom) override;
  void integrateMatrix(Matrix<Polynom<double>>& M, IntegrationDomain& dom) override;
  void computeLoadMatrix(IntegrationDomain& dom) override;
  void computeMassMatrix(Matrix<double>& Me, IntegrationDomain& dom) override;
  void integrateMap(PolynomMap& m, IntegrationDomain& dom) override;
  void computeGradients(IntegrationDomain& dom) override;
  // The preparation of a cold load in closed form: the shape functions as
  // computeShapeFunctions sets them, the volume |det| / 6 and the load
  // matrix (every corner a quarter of the volume) that computeLoadMatrix
  // integrates, and the gradients when asked. grad[i] receives the constant
  // gradient of N_i. Returns the volume.
  double prepareLinear(bool withGradients, double (&grad)[4][3]);
  // prepareLinear without allocations: the volume, grad and (when asked)
  // the gradients now; the shape functions and the load matrix, equal to
  // prepareLinear's, on first use (getShapeFunctions, getLoadMatrix).
  double prepareVolume(bool withGradients, double (&grad)[4][3]);
  // prepareVolume without the gradients, for matrices read from a cache.
  double prepareVolume();
  SparseMatrix<double>* getLoadMatrix() const override;
  double loadEntry(int row, int col) const override;
  double* getGradients() const override { return gradients; }
  bool containsPoint(const float p[3]) const override;
  bool containsPointBeyondBoundary(const float p[3]) const override;
  Vertex* getVertex(int i) const override { return v[i]; }
  void collectBoundaryFaces(std::vector<Vertex*>& out) const override;
  void collectInnerFaces(std::vector<Vertex*>& out) const override;
  void draw(bool surfaceOnly) const override;
  void computeFaceMask(ElementIterator first, ElementIterator last) override;
  uint8_t getFaceMask() const override { return faceMask; }
  void refine(std::vector<FiniteElement*>& nextElements, std::vector<Vertex*>& nextVertices,
              EdgeMidpointMap& edgeMidpoints, int& nextIndex) override;
  void reservedOperation() override {}
  float getStiffness() const override { return stiffness; }
  void setStiffness(float s) override { stiffness = s; }
  float getDensity() const override { return density; }
  void setDensity(float d) override { density = d; }
  float getDisplacedVolume(const double* u, int nFixed) const override;
  float getCurrentVolume() const override;

  // Reads one level's element records (text: header "nElements
  // nVerticesPerElement nExtras", then per element its number, four vertex
  // numbers counted from firstNumber and, with one extra, the face mask) and
  // appends the elements to h's list of that level; vertex k names entry
  // vertexOffset + k - firstNumber of that level's vertex list. Corners are stored so
  // that getCurrentVolume() at rest is positive. A bad record prints one
  // "Error: ..." line on standard output (naming source, the level and the
  // element when a source is given) and ends the program (exit code 1).
  static void read(std::istream& in, TetHierarchy* h, int level, int vertexOffset,
                   const char* source = nullptr, int firstNumber = 1);

  // 0..3 for the corner p, -1 when p is no corner.
  int vertexIndex(const Vertex* p) const;
  // The face spanned by three corners; -1 when one of them is no corner.
  int faceIndex(const Vertex* a, const Vertex* b, const Vertex* c) const;
  // Corner k (0..2) of a face in outward order; null when out of range.
  Vertex* faceVertex(int face, int k) const;
  // Rest-position centroids; (0, 0, 0) for a face out of range.
  void centroid(double c[3]) const;
  void faceCentroid(int face, double c[3]) const;
  // Rest-position area of a face; 0 for a face out of range.
  double faceArea(int face) const;

  void setNeighbour(int face, FiniteElement* e) { neighbour[face] = e; }
  // Records every element of the list that shares exactly one face.
  void findNeighbors(const std::vector<FiniteElement*>& list);
  // Prints "Neighbor missing on face f: <address>" for every element of the
  // list that shares face f but is not recorded as its neighbour.
  void checkNeighbors(const std::vector<FiniteElement*>& list) const;
  // This element and, through the recorded neighbours, the elements around
  // the edge (a, b), each once.
  void collectAroundEdge(Vertex* a, Vertex* b, std::vector<FiniteElement*>& out);
  // Stops the program when a shape function is not 1 at its own corner and
  // 0 at the others (within 1e-6).
  void testSfm() const;

  // glNormal3fv of (b - a) x (c - a), then glVertex3fv of a, b and c.
  static void drawTriangle(const float* a, const float* b, const float* c);

 private:
  // The corners (in outward order) of face f.
  static const int kFaceCorners[4][3];
  // Faces in drawing and collecting order.
  static const int kFaceOrder[4];

  void collectFaces(std::vector<Vertex*>& out, bool boundary) const;
  // Number of this element's corners that are corners of e (by identity);
  // *unshared receives the last corner of this element that is not.
  int sharedCorners(const FiniteElement* e, int* unshared) const;
};
