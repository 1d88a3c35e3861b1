#pragma once
// One mesh node of one level of the hierarchy.

#include <cstdint>
#include <vector>

struct Vertex;

// One term of a vertex's interpolation from the next coarser level.
struct InterpolationEntry {
  Vertex* parent;  // a vertex of the next coarser level
  float weight;
};

struct Vertex {
  // Number within its level: a level of n vertices holds exactly 0 .. n-1.
  int index = 0;
  // Non-zero: held in place. A vertex fixed at load owns no degrees of
  // freedom and gets no interpolation; a free vertex that the user marks
  // later keeps its unknowns, which the simulation pins.
  uint8_t fixed = 0;
  // Non-zero: a corner of a boundary face.
  uint8_t onSurface = 0;
  // Interpolation from the next coarser level; empty on level 0.
  std::vector<InterpolationEntry> parents;
  float restPosition[3] = {0.0f, 0.0f, 0.0f};
  // Current (displaced) position: 3 floats owned by the drawable model;
  // null until it points it there, and always null on coarser levels.
  float* currentPosition = nullptr;
};
