#pragma once
// The finite-element part of a simulation: the state vectors of the time
// step, the held and impulse force queues, gravity and the static load.
// Unknowns belong to free vertices only: vertex number v owns the entries
// dim * (v - fixed count) + k of every state vector, k < dim.
//
// Owns its eight vectors and both queues; reads the settings block through
// the pointer (fixed count, gravity, material, force norm, barrier).

#include <cstdint>
#include <iosfwd>
#include <memory>

#include "ForceQueue.h"
#include "Simulation.h"

// Set to 1 by a matrix-cache check that finds the cache stale; the model
// set-up clears it after rebuilding.
extern int cacheInvalid;
// Set with cacheInvalid when the cached matrices were built from other
// element factors or another geometry than the mesh now loaded.
extern int cacheMeshMismatch;

namespace zolt {
class SealedInBuf;
}

class FEMSimulation : public Simulation {
 public:
  HeldRamp heldRamp;
  ForceQueue heldQueue;
  ImpulseRamp impulseRamp;
  ForceQueue impulseQueue;
  std::unique_ptr<Vector<double>> rightSide;     // b of the current step
  std::unique_ptr<Vector<double>> displacement;  // x, the solution
  std::unique_ptr<Vector<double>> gravityLoad;   // built once by addGravity
  std::unique_ptr<Vector<double>> staticLoad;    // added to b on every step
  std::unique_ptr<Vector<double>> forces;        // the step's impulse vector
  std::unique_ptr<Vector<double>> previousForces;
  // S x: one entry per stress row, strain components per vertex (six in
  // three dimensions, three in two), fixed vertices included.
  std::unique_ptr<Vector<double>> stress;
  std::unique_ptr<Vector<double>> residual;  // b - K x; scratch of the inversion check
  uint8_t gravityBuilt = 0;
  int nFree;  // finest-level vertices minus the fixed ones

  FEMSimulation(TetHierarchy* hierarchy, SimulationSettings* settings, uint8_t dim);
  ~FEMSimulation() override;

  void reserved1() override {}
  void addVertexValue(int vertex, const double* value) override;
  void purgeQueue() override;
  // The forces acting now become part of the static load; both queues are
  // emptied. Overwrites b.
  void freezeForces() override;
  // Adds the nodal gravity load (rho g integrated with the element density
  // factors) to the static load; the load is built on the first call.
  void addGravity() override;
  void removeGravity() override;
  void addVertexValueFlagged(int vertex, const double* value, bool smooth) override;
  // Zeroes the displacement, the static load, the previous forces and the
  // scheme's history, empties both queues and resets the barrier.
  void resetState() override;
  Vector<double>* getDisplacement() override { return displacement.get(); }
  Vector<double>* getRightSide() override { return rightSide.get(); }
  Vector<double>* getStress() override { return stress.get(); }
  Vector<double>* getResidual() override { return residual.get(); }
  Vector<double>* getForces() override { return forces.get(); }
  Vector<double>* getPreviousForces() override { return previousForces.get(); }
  // The largest Euclidean norm of a vertex's displacement; NaN when any
  // component is NaN.
  double maxVertexNorm() override;

  // The 96-byte matrix-cache header: written at the stream's position, or
  // read and compared with the model (mesh sizes, fixed count, lambda and mu,
  // model files, factor and mesh fingerprints). A mismatch sets cacheInvalid
  // and prints one line naming the matrix cache: its warning, or, when
  // `seal` (the stream's sealed reader) fails, the damage.
  virtual void readWriteCacheHeader(bool write, std::iostream& stream,
                                    zolt::SealedInBuf* seal = nullptr);

  // After a solve: pulls the nodes of every inverted finest element back
  // (towards their previous positions, or towards the element's centroid
  // when it was inverted before the step) and adds the load of those forces
  // to b. True when an element was inverted. Leaves the correction forces
  // in the force vector; uses the residual vector as scratch.
  bool correctInversion();

  // Strain components per vertex: the stress rows of one vertex.
  static int strainComponents(uint8_t dim) { return dim == 3 ? 6 : 3; }

 protected:
  // The first unknown of vertex number `vertex`, or -1 for a fixed vertex.
  // A number beyond the finest level is reported (as `method`) and gives -1.
  int firstDof(int vertex, const char* method) const;
};
