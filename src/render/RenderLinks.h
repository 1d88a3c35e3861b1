#pragma once
// What the control object of a model and its drawable read from each other,
// as two narrow interfaces, so that neither library needs the other's class:
// the drawable reads the simulation and the collision offsets, the control
// object hands the drawable's positions to the barrier.

class Simulation;

// Implemented by the control object.
class DrawableSource {
 public:
  // Not owned; null: nothing is stepped and nothing moves.
  virtual Simulation* drawnSimulation() = 0;
  // Not owned; 3 floats per finest-level vertex (by vertex index).
  virtual float* collisionOffsetData() = 0;

 protected:
  ~DrawableSource() = default;
};

// The drawable's displaced positions (3 per render index), the vertex index
// of each render index, and their count; none owned by the reader.
struct RenderPositions {
  float* positions = nullptr;
  int* vertexOfRenderIndex = nullptr;
  int count = 0;
};

// Implemented by the drawable.
class RenderPositionSource {
 public:
  virtual RenderPositions renderPositions() = 0;

 protected:
  ~RenderPositionSource() = default;
};
