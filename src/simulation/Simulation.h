#pragma once
// The simulation interface: one object per loaded model owns its whole
// numerical state. Chain: Simulation (this interface) -> FEMSimulation (state
// vectors, force queues, gravity) -> LinSimulation (matrices, multigrid,
// solver; the only concrete class). The scene object owns it and deletes it
// through the virtual destructor.

#include <cstdint>

template <class T>
class Vector;
class TetHierarchy;
struct SimulationSettings;
class TimeIntegration;

class Simulation {
 public:
  TetHierarchy* hierarchy;       // not owned; the last level is the finest
  SimulationSettings* settings;  // not owned
  uint8_t dim;
  TimeIntegration* integrator = nullptr;  // owned; null until set up

  Simulation(TetHierarchy* hierarchy, SimulationSettings* settings, uint8_t dim)
      : hierarchy(hierarchy), settings(settings), dim(dim) {}
  virtual ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Virtual operations in slot order.
  virtual void reserved1() = 0;
  // Held force on vertex number `vertex` (ramped while held).
  virtual void addVertexValue(int vertex, const double* value) = 0;
  virtual void purgeQueue() = 0;
  virtual void freezeForces() = 0;
  virtual void addGravity() = 0;
  virtual void removeGravity() = 0;
  // Impulse on vertex number `vertex`: smooth over five steps, or once.
  virtual void addVertexValueFlagged(int vertex, const double* value, bool smooth) = 0;
  virtual void resetState() = 0;
  virtual void setSolver(int kind) = 0;
  virtual void setSolverParameters(float accuracy, int preSweeps, int postSweeps) {}
  virtual void reserved2() {}
  virtual void getSolverParameters(float* accuracy, int* preSweeps, int* postSweeps) {}
  virtual void reserved3() {}
  virtual void computeStep(bool computeStress, bool computeResidual, int extraPasses,
                           bool averageForces) = 0;
  virtual void updateHierarchy() = 0;
  virtual Vector<double>* getDisplacement() = 0;
  virtual Vector<double>* getRightSide() = 0;
  virtual Vector<double>* getStress() = 0;
  virtual Vector<double>* getResidual() = 0;
  virtual Vector<double>* getForces() = 0;
  virtual Vector<double>* getPreviousForces() = 0;
  virtual double maxVertexNorm() = 0;
  // Measures the solver on the current step's system; nothing by default.
  virtual void benchmarkSolver() {}

  // False once the largest vertex displacement is not finite (an entry is
  // infinite or NaN, or a norm passes the largest double): such a state is
  // broken and is never drawn or reported as a result.
  bool stateFinite();
};

// The largest Euclidean norm of the dim-vectors of x; the squares never
// overflow. NaN when an entry is NaN.
double largestVertexNorm(const Vector<double>& x, int dim);
