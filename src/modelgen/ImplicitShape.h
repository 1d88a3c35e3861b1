#pragma once
// Solids given as functions of a point: negative inside, positive outside,
// close to the signed distance from the surface near it.

#include <functional>

namespace zolt::modelgen {

struct Vec3 {
  double x, y, z;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

using Implicit = std::function<double(const Vec3&)>;

// The axis-aligned box lo..hi (exact signed distance).
Implicit boxShape(Vec3 lo, Vec3 hi);
// An ellipsoid with the given semi-axes, turned by `tilt` radians about the
// z axis (x towards y) around its centre.
Implicit ellipsoid(Vec3 centre, Vec3 radii, double tilt = 0.0);
// Union that blends the two surfaces over a width of about k.
Implicit smoothUnion(Implicit a, Implicit b, double k);
// The part of a that lies above the plane y = floorY.
Implicit aboveFloor(Implicit a, double floorY);

// A sitting long-eared creature, about 1.2 long along x (nose towards +x),
// standing on two hind feet and two front paws whose soles lie in y = 0;
// symmetric in z.
Implicit creature();

// Central-difference gradient with step h.
Vec3 gradient(const Implicit& f, Vec3 p, double h = 1e-5);

}  // namespace zolt::modelgen
