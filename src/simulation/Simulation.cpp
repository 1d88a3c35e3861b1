#include "Simulation.h"

#include "TimeIntegration.h"

// Out of line: anchors the interface's vtable and type information here.
// The scheme goes last: its kept vectors, then the object.
Simulation::~Simulation() { delete integrator; }
