#pragma once
// The settings block of one model: embedded in the scene object, filled by
// the configuration passes, read by the simulation, the force field and the
// control object through a pointer. Owns the barrier, the material and the
// force field (deleted with the block).

#include <cstdint>
#include <string>
#include <vector>

#include "MaterialProperties.h"

struct Vertex;
class Barrier;
struct DeformationForce;

// A configured force or deformation target on one vertex.
struct VertexForce {
  Vertex* vertex = nullptr;
  double value[3] = {0.0, 0.0, 0.0};
};

struct SimulationSettings {
  float gravity[3] = {0.0f, -9.81f, 0.0f};
  float collisionExtrusion[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  float collisionResponse[2] = {0.5f, 2.0f};
  // Magnitude of the force field and of the held-force ramp; read on every
  // step, so a change acts from the next one.
  float forceNorm = 1000.0f;
  std::vector<VertexForce> forces;
  std::vector<VertexForce> deformations;
  Barrier* barrier = nullptr;                    // owned, may be null
  MaterialProperties* material = nullptr;        // owned
  DeformationForce* deformationForce = nullptr;  // owned
  uint8_t forceFieldOn = 0;                      // the force field acts only while set
  int fixedCount = 0;
  std::string hierarchyCachePath;
  // The file behind the matrix-cache stream; removed when a write fails.
  std::string matrixCachePath;
  // Fingerprint of the model's source files (.node, .ele, .params), kept in
  // the caches.
  uint64_t sourceFingerprint = 0;

  SimulationSettings() = default;
  ~SimulationSettings();
  SimulationSettings(const SimulationSettings&) = delete;
  SimulationSettings& operator=(const SimulationSettings&) = delete;
};
