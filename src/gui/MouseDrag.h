#pragma once
// The arithmetic of mouse drags and picks as plain functions, and the drag
// fields of the ".path" record, so they run without a window.

#include <cstdint>
#include <vector>

class FiniteElement;
class Simulation;
struct VertexForce;

// The view at a drag start: view = rotation (column-major) with entries
// 12-14 replaced by shiftX, shiftY, zoom; axis = (R[2], R[6], R[10]).
void captureDragView(const float* rotation, float shiftX, float shiftY, float zoom, float* view,
                     double* axis);
// The eye in model space of a drag view: -R^T t, t = view[12..14].
void eyePosition(const float* view, float* eye);

// forceNorm of a squeeze dragged by dx right and dy up from its start:
// forceValue exp(0.005 (dx + dy)), doubling about every 139 pixels.
float squeezeForceNorm(float forceValue, int dx, int dy);

// Pull force of one step, dragged by dx right and dy up: stepScale times
// the screen vector (dx, dy, 0) in model space through the drag view; with
// quadratic (Shift at the press) each component grows as 0.1 d |d|.
void pullForce(const float* view, float stepScale, int dx, int dy, bool quadratic, double* force);

// The flag every free vertex of a rectangle gets from a vertices flagged
// and b not: set when none is flagged, else by strict majority.
uint8_t rectangleFlag(int flagged, int unflagged);

// The name of the nearest hit of a selection buffer (smallest minimum
// depth, the later record on a tie); -1 when none, when hits is negative
// (overflow) or a record runs past the buffer.
int nearestHit(const uint32_t* buffer, int size, int hits);
// Every name of a selection buffer, as nearestHit reads it.
std::vector<int> allHits(const uint32_t* buffer, int size, int hits);

// Queues every record of a forces list as a held force.
void queueForces(Simulation* simulation, const std::vector<VertexForce>& forces);
