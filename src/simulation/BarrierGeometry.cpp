// Barrier construction, linking and motion. Everything is single precision:
// the planes are recomputed from the moved corners with the same float
// operations the constructors use.

#include <cmath>
#include <cstring>
#include <iostream>
#include <utility>

#include "Barrier.h"
#include "Simulation.h"
#include "Vec3.h"

namespace {

// Plane k of a cuboid: the three corners spanning its normal (n = (b - a) x
// (c - a)) and the corner its offset is taken from.
constexpr int kPlaneCorners[6][4] = {
    {0, 1, 2, 0}, {4, 5, 1, 0}, {5, 6, 2, 1}, {6, 7, 3, 2}, {7, 4, 0, 0}, {5, 4, 7, 4},
};

// n = (b - a) x (c - a) scaled by scale / |n|.
void planeNormal(const float* a, const float* b, const float* c, float scale, float* n) {
  triangleNormal3(a, b, c, n);
  const float length = length3(n);
  for (int i = 0; i < 3; ++i) n[i] = n[i] / (scale * length);
}

float planeOffset(const float* n, const float* p) {
  return -(n[0] * p[0] + n[1] * p[1] + n[2] * p[2]);
}

// Normals (scale 1: outward for the cuboid, -1: inward for the box) and offsets.
void cuboidPlanes(const float (*c)[3], float scale, float (*normals)[3], float* offsets) {
  for (int k = 0; k < 6; ++k) {
    const int* p = kPlaneCorners[k];
    planeNormal(c[p[0]], c[p[1]], c[p[2]], scale, normals[k]);
    offsets[k] = planeOffset(normals[k], c[p[3]]);
  }
}

void cuboidOffsets(const float (*c)[3], const float (*normals)[3], float* offsets) {
  for (int k = 0; k < 6; ++k) offsets[k] = planeOffset(normals[k], c[kPlaneCorners[k][3]]);
}

void translate(float* points, int count, const float* v) {
  for (int i = 0; i < count; ++i)
    for (int j = 0; j < 3; ++j) points[3 * i + j] += v[j];
}

}  // namespace

// ---- Barrier ----------------------------------------------------------------

Barrier::~Barrier() { releaseGLResources(); }

void Barrier::setCollisionData(float* positions_, int* indices_, float* displacements_, int count_,
                               Simulation* target_) {
  positions = positions_;
  indices = indices_;
  displacements = displacements_;
  count = count_;
  target = target_;
}

void Barrier::setTexturePath(std::string path) { texturePath = std::move(path); }

void Barrier::push(int v, const float* w) {
  float* d = displacements + 3 * static_cast<long>(v);
  d[0] += w[0];
  d[1] += w[1];
  d[2] += w[2];
  const double force[3] = {w[0], w[1], w[2]};
  target->addVertexValueFlagged(v, force, false);
}

namespace {

// Velocity per frame step; the step count restarts.
void startMotion(float dx, float dy, float dz, float* velocity, unsigned char& moving,
                 int& stepCount) {
  velocity[0] = dx;
  velocity[1] = dy;
  velocity[2] = dz;
  moving = 1;
  stepCount = 0;
}

}  // namespace

// ---- GroundBarrier ------------------------------------------------------------

GroundBarrier::GroundBarrier(const float* c) {
  std::memcpy(corners, c, sizeof(corners));
  std::memcpy(home, c, sizeof(home));
  planeNormal(corners[0], corners[1], corners[2], 1.0f, normal);
  offset = planeOffset(normal, corners[0]);
}

GroundBarrier::~GroundBarrier() = default;

void GroundBarrier::setMoving(float dx, float dy, float dz) {
  startMotion(dx, dy, dz, velocity, moving, stepCount);
  std::memcpy(home, corners, sizeof(home));
}

void GroundBarrier::move() {
  if (!moving) return;
  ++stepCount;
  translate(&corners[0][0], 4, velocity);
  offset = planeOffset(normal, corners[0]);
}

void GroundBarrier::resetPosition() {
  if (moving) {
    std::memcpy(corners, home, sizeof(corners));
    offset = planeOffset(normal, corners[0]);
  }
  stepCount = 0;
}

// ---- SphereBarrier ------------------------------------------------------------

SphereBarrier::SphereBarrier(const float* c, float r) : radius(r) {
  std::memcpy(centre, c, sizeof(centre));
  std::memcpy(home, c, sizeof(home));
}

SphereBarrier::~SphereBarrier() = default;

void SphereBarrier::setMoving(float dx, float dy, float dz) {
  startMotion(dx, dy, dz, velocity, moving, stepCount);
  std::memcpy(home, centre, sizeof(home));
}

void SphereBarrier::move() {
  if (!moving) return;
  ++stepCount;
  translate(centre, 1, velocity);
}

void SphereBarrier::resetPosition() {
  if (moving) std::memcpy(centre, home, sizeof(centre));
  stepCount = 0;
}

// ---- QuaderBarrier ------------------------------------------------------------

QuaderBarrier::QuaderBarrier(const float* c) {
  std::memcpy(corners, c, sizeof(corners));
  std::memcpy(home, c, sizeof(home));
  cuboidPlanes(corners, 1.0f, normals, offsets);
}

QuaderBarrier::~QuaderBarrier() = default;

void QuaderBarrier::setMoving(float dx, float dy, float dz) {
  startMotion(dx, dy, dz, velocity, moving, stepCount);
  std::memcpy(home, corners, sizeof(home));
}

void QuaderBarrier::move() {
  if (!moving) return;
  ++stepCount;
  translate(&corners[0][0], 8, velocity);
  cuboidOffsets(corners, normals, offsets);
}

void QuaderBarrier::resetPosition() {
  if (moving) {
    std::memcpy(corners, home, sizeof(corners));
    cuboidOffsets(corners, normals, offsets);
  }
  stepCount = 0;
}

// ---- BoxBarrier ---------------------------------------------------------------

BoxBarrier::BoxBarrier(const float* c) {
  std::memcpy(corners, c, sizeof(corners));
  cuboidPlanes(corners, -1.0f, normals, offsets);
}

BoxBarrier::~BoxBarrier() = default;

void BoxBarrier::setMoving(float, float, float) {
  std::cout << "[BoxBarrier, setMoving] Not implemented yet! " << std::endl;
}

void BoxBarrier::move() {}

void BoxBarrier::resetPosition() {}
