#include "SurfaceExtraction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "TetMesh.h"

namespace zolt::modelgen {

namespace {

class Extractor {
 public:
  Extractor(const Implicit& shape, Vec3 lo, Vec3 hi, double spacing) : shape_(shape), lo_(lo) {
    for (int a = 0; a < 3; ++a) {
      const double extent = a == 0 ? hi.x - lo.x : a == 1 ? hi.y - lo.y : hi.z - lo.z;
      cells_[a] = std::max(1, static_cast<int>(std::ceil(extent / spacing)));
      step_[a] = extent / cells_[a];
    }
    values_.resize(static_cast<size_t>(cells_[0] + 1) * (cells_[1] + 1) * (cells_[2] + 1));
    for (int k = 0; k <= cells_[2]; ++k)
      for (int j = 0; j <= cells_[1]; ++j)
        for (int i = 0; i <= cells_[0]; ++i) values_[pointIndex(i, j, k)] = shape(point(i, j, k));
  }

  TriangleSurface run() {
    for (int k = 0; k < cells_[2]; ++k)
      for (int j = 0; j < cells_[1]; ++j)
        for (int i = 0; i < cells_[0]; ++i)
          for (const auto& tet : kCubeTetrahedra) {
            size_t corner[4];
            for (int c = 0; c < 4; ++c)
              corner[c] = pointIndex(i + (tet[c] & 1), j + (tet[c] >> 1 & 1), k + (tet[c] >> 2));
            addTetrahedron(corner);
          }
    return std::move(surface_);
  }

 private:
  const Implicit& shape_;
  Vec3 lo_;
  int cells_[3];
  double step_[3];
  std::vector<double> values_;
  std::unordered_map<uint64_t, int> edgeVertex_;
  TriangleSurface surface_;

  size_t pointIndex(int i, int j, int k) const {
    return (static_cast<size_t>(k) * (cells_[1] + 1) + j) * (cells_[0] + 1) + i;
  }
  Vec3 point(int i, int j, int k) const {
    return lo_ + Vec3{i * step_[0], j * step_[1], k * step_[2]};
  }
  Vec3 point(size_t index) const {
    const size_t nx = static_cast<size_t>(cells_[0] + 1), ny = static_cast<size_t>(cells_[1] + 1);
    return point(static_cast<int>(index % nx), static_cast<int>(index / nx % ny),
                 static_cast<int>(index / (nx * ny)));
  }
  bool inside(size_t p) const { return values_[p] < 0.0; }

  // The vertex on the edge from an inside point to an outside one.
  int edgeVertex(size_t in, size_t out) {
    const uint64_t key = (static_cast<uint64_t>(std::min(in, out)) << 32) | std::max(in, out);
    auto [it, isNew] = edgeVertex_.try_emplace(key, static_cast<int>(surface_.vertices.size()));
    if (!isNew) return it->second;
    const Vec3 a = point(in), b = point(out);
    double t0 = 0.0, t1 = 1.0;  // f(t0) < 0 <= f(t1)
    for (int iteration = 0; iteration < 30; ++iteration) {
      const double t = 0.5 * (t0 + t1);
      (shape_(a + t * (b - a)) < 0.0 ? t0 : t1) = t;
    }
    const double t = std::clamp(0.5 * (t0 + t1), 0.1, 0.9);
    surface_.vertices.push_back(a + t * (b - a));
    return it->second;
  }

  // Appends the triangle (a, b, c), turned so that its normal points from
  // the inside point `in` towards the outside point `out`.
  void addTriangle(int a, int b, int c, size_t in, size_t out) {
    const Vec3& pa = surface_.vertices[a];
    const Vec3 n = cross(surface_.vertices[b] - pa, surface_.vertices[c] - pa);
    if (dot(n, point(out) - point(in)) < 0.0) std::swap(b, c);
    surface_.triangles.push_back({a, b, c});
  }

  void addTetrahedron(const size_t corner[4]) {
    size_t in[4], out[4];
    int nIn = 0, nOut = 0;
    for (int c = 0; c < 4; ++c) (inside(corner[c]) ? in[nIn++] : out[nOut++]) = corner[c];
    if (nIn == 0 || nOut == 0) return;
    if (nIn == 1) {
      addTriangle(edgeVertex(in[0], out[0]), edgeVertex(in[0], out[1]), edgeVertex(in[0], out[2]),
                  in[0], out[0]);
    } else if (nIn == 3) {
      addTriangle(edgeVertex(in[0], out[0]), edgeVertex(in[1], out[0]), edgeVertex(in[2], out[0]),
                  in[0], out[0]);
    } else {
      // Quad around the tetrahedron: in0-out0, in0-out1, in1-out1, in1-out0.
      const int q0 = edgeVertex(in[0], out[0]), q1 = edgeVertex(in[0], out[1]);
      const int q2 = edgeVertex(in[1], out[1]), q3 = edgeVertex(in[1], out[0]);
      addTriangle(q0, q1, q2, in[0], out[0]);
      addTriangle(q0, q2, q3, in[1], out[1]);
    }
  }
};

}  // namespace

TriangleSurface extractSurface(const Implicit& shape, Vec3 lo, Vec3 hi, double spacing) {
  return Extractor(shape, lo, hi, spacing).run();
}

}  // namespace zolt::modelgen
