#pragma once
// A state-less StateSimulation that records the impulses it is given, for
// code that pushes vertices (barriers) tested without a simulation chain.

#include "StateSimulation.h"

namespace zolt::test {

struct RecordingSimulation : StateSimulation {
  inline static SimulationSettings none;
  RecordingSimulation() : StateSimulation(&none, 0, 3) {}
};

}  // namespace zolt::test
