#include "ImplicitShape.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zolt::modelgen {

Implicit boxShape(Vec3 lo, Vec3 hi) {
  const Vec3 centre = 0.5 * (lo + hi);
  const Vec3 half = 0.5 * (hi - lo);
  return [centre, half](const Vec3& p) {
    const Vec3 q = {std::abs(p.x - centre.x) - half.x, std::abs(p.y - centre.y) - half.y,
                    std::abs(p.z - centre.z) - half.z};
    const Vec3 outside = {std::max(q.x, 0.0), std::max(q.y, 0.0), std::max(q.z, 0.0)};
    return std::sqrt(dot(outside, outside)) + std::min(std::max(q.x, std::max(q.y, q.z)), 0.0);
  };
}

Implicit ellipsoid(Vec3 centre, Vec3 radii, double tilt) {
  const double c = std::cos(tilt), s = std::sin(tilt);
  const double scale = std::min(radii.x, std::min(radii.y, radii.z));
  return [=](const Vec3& p) {
    const Vec3 d = p - centre;
    // Into the ellipsoid's own frame: the inverse of the tilt.
    const Vec3 local = {c * d.x + s * d.y, -s * d.x + c * d.y, d.z};
    const Vec3 u = {local.x / radii.x, local.y / radii.y, local.z / radii.z};
    return (std::sqrt(dot(u, u)) - 1.0) * scale;
  };
}

Implicit smoothUnion(Implicit a, Implicit b, double k) {
  return [a = std::move(a), b = std::move(b), k](const Vec3& p) {
    const double da = a(p), db = b(p);
    const double h = std::clamp(0.5 + 0.5 * (db - da) / k, 0.0, 1.0);
    return db + (da - db) * h - k * h * (1.0 - h);
  };
}

Implicit aboveFloor(Implicit a, double floorY) {
  return [a = std::move(a), floorY](const Vec3& p) { return std::max(a(p), floorY - p.y); };
}

Implicit creature() {
  // One side (z >= 0), mirrored: exactly symmetric.
  Implicit half = ellipsoid({-0.05, 0.40, 0.0}, {0.40, 0.30, 0.27}, 0.25);
  half = smoothUnion(half, ellipsoid({0.36, 0.66, 0.0}, {0.21, 0.19, 0.18}), 0.08);
  half = smoothUnion(half, ellipsoid({0.27, 0.93, 0.15}, {0.075, 0.28, 0.06}, 0.12), 0.08);
  half = smoothUnion(half, ellipsoid({-0.12, 0.03, 0.17}, {0.24, 0.09, 0.085}), 0.06);
  half = smoothUnion(half, ellipsoid({0.26, 0.17, 0.09}, {0.08, 0.2, 0.065}), 0.05);
  half = smoothUnion(half, ellipsoid({-0.48, 0.36, 0.0}, {0.10, 0.10, 0.10}), 0.04);
  return aboveFloor([half](const Vec3& p) { return half({p.x, p.y, std::abs(p.z)}); }, 0.0);
}

Vec3 gradient(const Implicit& f, Vec3 p, double h) {
  const double s = 0.5 / h;
  return {(f({p.x + h, p.y, p.z}) - f({p.x - h, p.y, p.z})) * s,
          (f({p.x, p.y + h, p.z}) - f({p.x, p.y - h, p.z})) * s,
          (f({p.x, p.y, p.z + h}) - f({p.x, p.y, p.z - h})) * s};
}

}  // namespace zolt::modelgen
