#pragma once
// A StateSimulation that also logs the force-queue, gravity, reset and
// hierarchy calls it gets, one word each ("add v x y z", "impulse v x y z
// smooth", "purge", ...), for the control actions and the mouse.

#include <cstdio>
#include <string>

#include "StateSimulation.h"

namespace zolt::test {

class QueueSimulation : public StateSimulation {
 public:
  std::string log;
  using StateSimulation::StateSimulation;

  void addVertexValue(int v, const double* f) override { add("add", v, f); }
  void addVertexValueFlagged(int v, const double* f, bool smooth) override {
    add(smooth ? "smooth" : "impulse", v, f);
  }
  void purgeQueue() override { log += "purge "; }
  void freezeForces() override { log += "freeze "; }
  void addGravity() override { log += "gravity+ "; }
  void removeGravity() override { log += "gravity- "; }
  void resetState() override {
    StateSimulation::resetState();
    log += "reset ";
  }
  void updateHierarchy() override { log += "hierarchy "; }
  void benchmarkSolver() override { log += "benchmark "; }

 private:
  void add(const char* what, int v, const double* f) {
    char s[96];
    std::snprintf(s, sizeof s, "%s %d %g %g %g ", what, v, f[0], f[1], f[2]);
    log += s;
  }
};

}  // namespace zolt::test
