#pragma once
// A Simulation with state vectors of the real sizes (dim per free vertex,
// strain components per vertex for the stress) that records the steps it is
// asked for, the impulses it is given, and its force-queue, gravity, reset
// and hierarchy calls as one word each in log ("add v x y z", "impulse v x y
// z", "smooth v x y z", "purge", ...), for code that reads the state or
// drives the step without a simulation chain.

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
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
  std::string log;
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
    log += "reset ";
    for (int i = 0; i < displacement.n; ++i) displacement[i] = 0.0;
  }
  double maxVertexNorm() override { return largestVertexNorm(displacement, dim); }
  Vector<double>* getDisplacement() override { return &displacement; }
  Vector<double>* getRightSide() override { return &rightSide; }
  Vector<double>* getStress() override { return &stress; }
  Vector<double>* getResidual() override { return &residual; }

  void addVertexValue(int v, const double* f) override { add("add", v, f); }
  void addVertexValueFlagged(int v, const double* f, bool smooth) override {
    impulses.push_back({v, {f[0], f[1], f[2]}, smooth});
    add(smooth ? "smooth" : "impulse", v, f);
  }
  void purgeQueue() override { log += "purge "; }
  void freezeForces() override { log += "freeze "; }
  void addGravity() override { log += "gravity+ "; }
  void removeGravity() override { log += "gravity- "; }
  void updateHierarchy() override { log += "hierarchy "; }
  void benchmarkSolver() override { log += "benchmark "; }

  void reserved1() override {}
  void setSolver(int) override {}
  Vector<double>* getForces() override { return nullptr; }
  Vector<double>* getPreviousForces() override { return nullptr; }

 private:
  void add(const char* what, int v, const double* f) {
    char s[96];
    std::snprintf(s, sizeof s, "%s %d %g %g %g ", what, v, f[0], f[1], f[2]);
    log += s;
  }
};

}  // namespace zolt::test
