#include "Simulation.h"

// Out of line: anchors the interface's vtable and type information here.
Simulation::~Simulation() = default;
