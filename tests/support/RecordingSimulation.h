#pragma once
// A Simulation that only records the impulses it is given, for code that
// pushes vertices (barriers) tested without a simulation chain.

#include <array>
#include <vector>

#include "Simulation.h"

namespace zolt::test {

struct Impulse {
  int vertex;
  std::array<double, 3> value;
  bool smooth;
};

class RecordingSimulation : public Simulation {
 public:
  std::vector<Impulse> impulses;

  RecordingSimulation() : Simulation(nullptr, nullptr, 3) {}
  void addVertexValueFlagged(int vertex, const double* v, bool smooth) override {
    impulses.push_back({vertex, {v[0], v[1], v[2]}, smooth});
  }

  void reserved1() override {}
  void addVertexValue(int, const double*) override {}
  void purgeQueue() override {}
  void freezeForces() override {}
  void addGravity() override {}
  void removeGravity() override {}
  void resetState() override {}
  void setSolver(int) override {}
  void computeStep(bool, bool, int, bool) override {}
  void updateHierarchy() override {}
  Vector<double>* getDisplacement() override { return nullptr; }
  Vector<double>* getRightSide() override { return nullptr; }
  Vector<double>* getStress() override { return nullptr; }
  Vector<double>* getResidual() override { return nullptr; }
  Vector<double>* getForces() override { return nullptr; }
  Vector<double>* getPreviousForces() override { return nullptr; }
  double maxVertexNorm() override { return 0.0; }
};

}  // namespace zolt::test
