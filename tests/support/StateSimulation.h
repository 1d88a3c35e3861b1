#pragma once
// A Simulation with state vectors of the real sizes (dim per free vertex,
// strain components per vertex for the stress) that records the steps and
// impulses it is given, for code that reads the state, drives the step or
// pushes vertices (barriers) without a simulation chain.

#include <array>
#include <cmath>
#include <vector>

#include "Matrix.h"
#include "Simulation.h"
#include "SimulationSettings.h"

namespace zolt::test {

struct Impulse {
  int vertex;
  std::array<double, 3> value;
  bool smooth;
};

struct StepCall {
  bool stress, residual;
  int extraPasses;
  bool average;
};

class StateSimulation : public Simulation {
 public:
  Vector<double> displacement, rightSide, stress, residual;
  std::vector<StepCall> steps;
  std::vector<Impulse> impulses;
  int resets = 0;

  // Without state vectors: records impulses only.
  StateSimulation() : Simulation(nullptr, nullptr, 3) {}

  // vertices: finest-level vertex count; settings->fixedCount fixed.
  StateSimulation(SimulationSettings* s, int vertices, uint8_t dim)
      : Simulation(nullptr, s, dim),
        displacement(dim * (vertices - s->fixedCount)),
        rightSide(dim * (vertices - s->fixedCount)),
        stress((dim == 3 ? 6 : 3) * vertices),
        residual(dim * (vertices - s->fixedCount)) {}

  void computeStep(bool s, bool r, int extra, bool average) override {
    steps.push_back({s, r, extra, average});
    // Each step moves every unknown by 1, so frames are told apart.
    for (int i = 0; i < displacement.n; ++i) displacement[i] += 1.0;
  }
  void resetState() override {
    ++resets;
    for (int i = 0; i < displacement.n; ++i) displacement[i] = 0.0;
  }
  double maxVertexNorm() override {
    double best = 0.0;
    for (int t = 0; t + dim <= displacement.n; t += dim) {
      double s = 0.0;
      for (int k = 0; k < dim; ++k) s += displacement[t + k] * displacement[t + k];
      best = std::max(best, std::sqrt(s));
    }
    return best;
  }
  Vector<double>* getDisplacement() override { return &displacement; }
  Vector<double>* getRightSide() override { return &rightSide; }
  Vector<double>* getStress() override { return &stress; }
  Vector<double>* getResidual() override { return &residual; }

  void reserved1() override {}
  void addVertexValue(int, const double*) override {}
  void purgeQueue() override {}
  void freezeForces() override {}
  void addGravity() override {}
  void removeGravity() override {}
  void addVertexValueFlagged(int vertex, const double* v, bool smooth) override {
    impulses.push_back({vertex, {v[0], v[1], v[2]}, smooth});
  }
  void setSolver(int) override {}
  void updateHierarchy() override {}
  Vector<double>* getForces() override { return nullptr; }
  Vector<double>* getPreviousForces() override { return nullptr; }
};

}  // namespace zolt::test
