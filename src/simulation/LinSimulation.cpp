#include "LinSimulation.h"

#include "Iteration.h"
#include "Multigrid.h"
#include "PackedMatrix.h"

// The multigrid goes before the solver and after K: neither touches K when
// it is released.
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
