#pragma once
// The force field of one model: one of six analytic fields whose nodal
// forces the time step adds to the right-hand side while the model's
// force-field switch is on. Created with type 0 (none) by the scene object,
// configured by the second configuration pass, owned by the settings block.

#include <cstdint>
#include <memory>
#include <vector>

template <class T>
class Vector;
class TetHierarchy;
class FiniteElement;

enum class ForceFieldType : int {
  None = 0,
  Spherical = 1,
  Random = 2,
  Wind = 3,
  Vortex = 4,
  Implant = 5,
  Radial = 6,
};

struct DeformationForce {
  TetHierarchy* hierarchy;      // borrowed
  const float* forceNorm;       // borrowed: SimulationSettings::forceNorm
  const uint8_t* forceFieldOn;  // borrowed: SimulationSettings::forceFieldOn
  uint8_t dim;
  int type = 0;
  float vector[3] = {0.0f, 0.0f, 0.0f};  // centre, or the base wind vector
  float param[3] = {0.0f, 0.0f, 0.0f};
  float phase = 0.0f;
  // Types 5 and 6: the elements the field acts on; null until configured.
  std::unique_ptr<std::vector<FiniteElement*>> elements;
  // Type 5: for each entry of `elements` in order, one byte per node
  // j < degreeOfFreedom(): 1 when that node belongs to soft elements only (it
  // receives nothing). Keyed by element and node, not by vertex index, so it
  // stays right when preprocessing renumbers the vertices. Filled by
  // markSoftOnlyNodes.
  std::vector<uint8_t> nodeMask;

  DeformationForce(TetHierarchy* hierarchy, const float* forceNorm, const uint8_t* forceFieldOn,
                   uint8_t dim)
      : hierarchy(hierarchy), forceNorm(forceNorm), forceFieldOn(forceFieldOn), dim(dim) {}

  // Adds the field's forces to b (m: lumped mass per unknown) and advances
  // the phase of types 1 and 3. Random draws come from rand().
  void apply(const Vector<double>& m, Vector<double>& b, const int* fixedCount);

  // Type 5: fills nodeMask for the current `elements` from the stiffness
  // factors of the finest level's elements (above 0.1: stiff).
  void markSoftOnlyNodes();
};
