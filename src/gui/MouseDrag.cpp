#include "MouseDrag.h"

#include <cmath>
#include <cstring>

#include "FiniteElement.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "Vertex.h"

void captureDragView(const float* rotation, float shiftX, float shiftY, float zoom, float* view,
                     double* axis) {
  std::memcpy(view, rotation, 16 * sizeof(float));
  view[12] = shiftX;
  view[13] = shiftY;
  view[14] = zoom;
  axis[0] = rotation[2];
  axis[1] = rotation[6];
  axis[2] = rotation[10];
}

void eyePosition(const float* view, float* eye) {
  const float* t = view + 12;
  for (int i = 0; i < 3; ++i)
    eye[i] = -(view[4 * i] * t[0] + view[4 * i + 1] * t[1] + view[4 * i + 2] * t[2]);
}

float squeezeForceNorm(float forceValue, int dx, int dy) {
  return static_cast<float>(forceValue * std::exp(0.005 * (dx + dy)));
}

void pullForce(const float* view, float stepScale, int dx, int dy, bool quadratic, double* force) {
  float x = static_cast<float>(dx), y = static_cast<float>(dy);
  if (quadratic) {
    x = x * 0.1f * std::fabs(x);
    y = y * 0.1f * std::fabs(y);
  }
  for (int i = 0; i < 3; ++i) force[i] = stepScale * (x * view[4 * i] + y * view[4 * i + 1]);
}

uint8_t rectangleFlag(int flagged, int unflagged) {
  return flagged == 0 || (unflagged != 0 && flagged > unflagged) ? 1 : 0;
}

namespace {

// Walks the hit records: count, min depth, max depth, count names.
template <class Visit>
bool forEachHit(const uint32_t* buffer, int size, int hits, Visit visit) {
  if (hits < 0) return false;
  int at = 0;
  for (int h = 0; h < hits; ++h) {
    if (at + 3 > size) return false;
    const uint32_t names = buffer[at];
    if (names > static_cast<uint32_t>(size - at - 3)) return false;
    if (names > 0) visit(buffer[at + 1], static_cast<int>(buffer[at + 3 + names - 1]));
    at += 3 + static_cast<int>(names);
  }
  return true;
}

}  // namespace

int nearestHit(const uint32_t* buffer, int size, int hits) {
  int best = -1;
  uint32_t bestDepth = 0;
  const bool whole = forEachHit(buffer, size, hits, [&](uint32_t depth, int name) {
    if (best < 0 || depth <= bestDepth) {
      best = name;
      bestDepth = depth;
    }
  });
  return whole ? best : -1;
}

std::vector<int> allHits(const uint32_t* buffer, int size, int hits) {
  std::vector<int> names;
  if (!forEachHit(buffer, size, hits, [&](uint32_t, int name) { names.push_back(name); }))
    names.clear();
  return names;
}

void queueForces(Simulation* simulation, const std::vector<VertexForce>& forces) {
  for (const VertexForce& f : forces)
    if (f.vertex) simulation->addVertexValue(f.vertex->index, f.value);
}
