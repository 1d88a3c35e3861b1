#include "LinSimulation.h"

#include "Iteration.h"
#include "Multigrid.h"
#include "PackedMatrix.h"

// In this order; neither the multigrid nor the solver touches K or the state
// vectors when it is released.
LinSimulation::~LinSimulation() {
  K.reset();
  unconstrainedK.reset();
  M.reset();
  lumpedMass.reset();
  S.reset();
  multigrid.reset();
  solver.reset();
  prescribed.clear();
  prescribed.shrink_to_fit();
}
