#include "Simulation.h"

#include "TimeIntegration.h"

// The scheme goes last: its kept vectors, then the object.
Simulation::~Simulation() { delete integrator; }
