#pragma once
// The two force queues of a simulation and their ramp tables. A held force
// ramps up over five steps, stays at full strength while held and ramps down
// after release; an impulse is spread over five steps (weights summing to 1)
// or acts once. The queues only hold records: the time step applies them.

#include <cstdint>
#include <vector>

template <class T>
class Vector;

// One queued force on one vertex.
struct ForceRecord {
  uint32_t dof;     // first unknown of the vertex: dim * (number - fixed count)
  double value[3];  // the third is 0.0 unless dim is 3
  uint8_t counter;  // position in the ramp table, 0..4
  uint8_t active;   // 1: held, or spread over five steps; 0: released or one-shot
};

using ForceQueue = std::vector<ForceRecord>;

// Appends {dof, value, counter 0, active}; value holds dim doubles.
void queueForce(ForceQueue& queue, uint32_t dof, const double* value, uint8_t dim, bool active);

// Held forces: weights 1/70, 8/70, 28/70, 56/70, 1, each times the force
// norm at the moment of use.
struct HeldRamp {
  const float* forceNorm;  // SimulationSettings::forceNorm, not owned
  uint8_t dim;
  float weights[5];

  HeldRamp(const float* forceNorm, uint8_t dim);

  // Adds every record to b with its current weight, then moves it one step:
  // a held record up to the last entry, a released one down, and a released
  // record at entry 0 leaves the queue.
  void apply(ForceQueue& queue, Vector<double>& b) const;
  // Releases every record; one that has not acted yet leaves at once.
  static void release(ForceQueue& queue);
};

// Impulses: weights 1/16, 4/16, 6/16, 4/16, 1/16.
struct ImpulseRamp {
  uint8_t dim;
  float weights[5];

  explicit ImpulseRamp(uint8_t dim);

  // Zeroes f, then adds every record: an active one with its current weight,
  // leaving after its fifth step; a one-shot record at full strength, once.
  void apply(ForceQueue& queue, Vector<double>& f) const;
};
