#include "VoxelMesh.h"

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace zolt::modelgen {

namespace {

// The largest face-connected group of the marked cells (the first found of
// equal ones); every other cell is unmarked.
void keepLargestGroup(std::vector<uint8_t>& inside, const int n[3]) {
  const size_t count = inside.size();
  std::vector<int> group(count, -1);
  std::vector<size_t> sizes;
  std::vector<size_t> stack;
  const long long strides[3] = {1, n[0], static_cast<long long>(n[0]) * n[1]};
  for (size_t start = 0; start < count; ++start) {
    if (!inside[start] || group[start] >= 0) continue;
    const int id = static_cast<int>(sizes.size());
    size_t members = 0;
    stack.push_back(start);
    group[start] = id;
    while (!stack.empty()) {
      const size_t c = stack.back();
      stack.pop_back();
      ++members;
      long long rest = static_cast<long long>(c);
      const int ijk[3] = {static_cast<int>(rest % n[0]), static_cast<int>(rest / n[0] % n[1]),
                          static_cast<int>(rest / strides[2])};
      for (int axis = 0; axis < 3; ++axis)
        for (int step : {-1, 1}) {
          const int q = ijk[axis] + step;
          if (q < 0 || q >= n[axis]) continue;
          const size_t d = static_cast<size_t>(static_cast<long long>(c) + step * strides[axis]);
          if (inside[d] && group[d] < 0) {
            group[d] = id;
            stack.push_back(d);
          }
        }
    }
    sizes.push_back(members);
  }
  int best = -1;
  for (size_t g = 0; g < sizes.size(); ++g)
    if (best < 0 || sizes[g] > sizes[static_cast<size_t>(best)]) best = static_cast<int>(g);
  for (size_t c = 0; c < count; ++c) inside[c] = group[c] == best && best >= 0;
}

}  // namespace

TetMesh voxelise(const Implicit& shape, const VoxelGrid& grid) {
  const int* n = grid.cells;
  const double h = grid.spacing;
  auto cellOf = [n](int i, int j, int k) { return (static_cast<size_t>(k) * n[1] + j) * n[0] + i; };
  std::vector<uint8_t> inside(static_cast<size_t>(n[0]) * n[1] * n[2], 0);
  for (int k = 0; k < n[2]; ++k)
    for (int j = 0; j < n[1]; ++j)
      for (int i = 0; i < n[0]; ++i) {
        const Vec3 centre = grid.origin + Vec3{(i + 0.5) * h, (j + 0.5) * h, (k + 0.5) * h};
        inside[cellOf(i, j, k)] = shape(centre) < 0.0;
      }
  keepLargestGroup(inside, n);

  // Grid points used by a kept cube, numbered in grid order.
  const int p[3] = {n[0] + 1, n[1] + 1, n[2] + 1};
  auto pointOf = [&](int i, int j, int k) {
    return (static_cast<size_t>(k) * p[1] + j) * p[0] + i;
  };
  std::vector<int> number(static_cast<size_t>(p[0]) * p[1] * p[2], -1);
  for (int k = 0; k < n[2]; ++k)
    for (int j = 0; j < n[1]; ++j)
      for (int i = 0; i < n[0]; ++i)
        if (inside[cellOf(i, j, k)])
          for (int c = 0; c < 8; ++c)
            number[pointOf(i + (c & 1), j + (c >> 1 & 1), k + (c >> 2))] = 0;

  TetMesh mesh;
  int next = 0;
  for (int k = 0; k < p[2]; ++k)
    for (int j = 0; j < p[1]; ++j)
      for (int i = 0; i < p[0]; ++i) {
        int& v = number[pointOf(i, j, k)];
        if (v < 0) continue;
        v = next++;
        const Vec3 x = grid.origin + Vec3{i * h, j * h, k * h};
        mesh.positions.insert(
            mesh.positions.end(),
            {static_cast<float>(x.x), static_cast<float>(x.y), static_cast<float>(x.z)});
      }

  for (int k = 0; k < n[2]; ++k)
    for (int j = 0; j < n[1]; ++j)
      for (int i = 0; i < n[0]; ++i) {
        if (!inside[cellOf(i, j, k)]) continue;
        for (const auto& tet : kCubeTetrahedra) {
          Corners t;
          for (int c = 0; c < 4; ++c)
            t[c] = number[pointOf(i + (tet[c] & 1), j + (tet[c] >> 1 & 1), k + (tet[c] >> 2))];
          mesh.tets.push_back(t);
          if (readerDeterminant(mesh, mesh.elementCount() - 1) >= 0.0f)
            std::swap(mesh.tets.back()[2], mesh.tets.back()[3]);
        }
      }
  mesh.masks = countBoundaryFaces(mesh.tets);
  return mesh;
}

void fitBoundary(TetMesh& mesh, const Implicit& shape, double spacing, double minShare,
                 double floorY) {
  const int nv = mesh.vertexCount();
  std::vector<uint8_t> boundary(static_cast<size_t>(nv), 0);
  std::vector<std::vector<int>> around(static_cast<size_t>(nv));
  for (int e = 0; e < mesh.elementCount(); ++e) {
    const Corners& t = mesh.tets[e];
    for (int c = 0; c < 4; ++c) around[t[c]].push_back(e);
    for (int f = 0; f < 4; ++f)
      if (mesh.masks[e] & (8 >> f))
        for (int c : kFaceCorners[f]) boundary[t[c]] = 1;
  }

  // Targets: the surface point reached from the grid position, at most
  // half a cube away.
  const double maxMove = 0.5 * spacing;
  std::vector<Vec3> target(static_cast<size_t>(nv));
  for (int v = 0; v < nv; ++v) {
    const float* x = mesh.position(v);
    const Vec3 start = {x[0], x[1], x[2]};
    Vec3 q = start;
    for (int iteration = 0; boundary[v] && iteration < 8; ++iteration) {
      const Vec3 g = gradient(shape, q);
      const double gg = dot(g, g);
      if (gg < 1e-12) break;
      q = q - (shape(q) / gg) * g;
    }
    if (start.y == floorY) q.y = floorY;
    const Vec3 move = q - start;
    const double length = std::sqrt(dot(move, move));
    target[v] = length > maxMove ? start + (maxMove / length) * move : q;
  }

  // A vertex goes as far towards its target as its elements allow; later
  // passes let vertices follow that their neighbours blocked before.
  const double minVolume = minShare * spacing * spacing * spacing / 6.0;
  for (int pass = 0; pass < 4; ++pass)
    for (int v = 0; v < nv; ++v) {
      if (!boundary[v]) continue;
      float* x = &mesh.positions[3 * static_cast<size_t>(v)];
      const Vec3 from = {x[0], x[1], x[2]};
      auto place = [x](Vec3 p) {
        x[0] = static_cast<float>(p.x);
        x[1] = static_cast<float>(p.y);
        x[2] = static_cast<float>(p.z);
      };
      for (double share : {1.0, 0.5, 0.25}) {
        place(from + share * (target[v] - from));
        bool valid = true;
        for (int e : around[v])
          valid = valid && volume(mesh, e) >= minVolume && readerDeterminant(mesh, e) < 0.0f;
        if (valid) break;
        place(from);  // exact: from holds the float position
      }
    }
}

}  // namespace zolt::modelgen
