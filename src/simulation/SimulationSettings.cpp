#include "SimulationSettings.h"

#include "Barrier.h"
#include "DeformationForce.h"

SimulationSettings::~SimulationSettings() {
  delete barrier;
  delete deformationForce;
  delete material;
}
