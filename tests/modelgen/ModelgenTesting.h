#pragma once
// Test side of the generator: a mesh level written by the generator is read
// back with the element reader of the mesh library and refined by the
// hierarchy, as the model loader does, and compared with the generator's own
// arrays; closedness, orientation and size of triangle surfaces.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "ModelFiles.h"
#include "SurfaceExtraction.h"
#include "TetHierarchy.h"
#include "TetMesh.h"
#include "Tetrahedron.h"
#include "Vertex.h"

namespace zolt::modelgen::test {

// Reads base.node (header "n dim attributes k", k = 0) into level 0 and
// base.ele with Tetrahedron::read, then refines to nLevels levels.
inline std::unique_ptr<TetHierarchy> loadHierarchy(const std::string& base, int nLevels) {
  auto h = std::make_unique<TetHierarchy>(nLevels);
  std::ifstream node(base + ".node");
  int n = 0, dim = 0, attributes = 0, k = -1;
  node >> n >> dim >> attributes >> k;
  EXPECT_TRUE(node && k == 0) << base;
  for (int i = 0; i < n && node; ++i) {
    auto* v = new Vertex;
    int number = 0;
    node >> number >> v->restPosition[0] >> v->restPosition[1] >> v->restPosition[2];
    v->index = i;
    h->vertices[0].push_back(v);
  }
  EXPECT_TRUE(node) << base;
  std::ifstream ele(base + ".ele");
  Tetrahedron::read(ele, h.get(), 0, 0);
  h->buildNestedHierarchy();
  return h;
}

// The loaded level equals the generator's level bit for bit: positions,
// corners (so the reader exchanged none) and face masks.
inline void expectSameLevel(const TetHierarchy& h, int level, const TetMesh& mesh) {
  const auto& vertices = h.vertices[level];
  const auto& elements = h.elements[level];
  ASSERT_EQ(static_cast<int>(vertices.size()), mesh.vertexCount()) << "level " << level;
  ASSERT_EQ(static_cast<int>(elements.size()), mesh.elementCount()) << "level " << level;
  int positionMismatches = 0, elementMismatches = 0;
  for (int v = 0; v < mesh.vertexCount(); ++v) {
    ASSERT_EQ(vertices[v]->index, v);
    for (int k = 0; k < 3; ++k)
      positionMismatches +=
          std::memcmp(&vertices[v]->restPosition[k], &mesh.position(v)[k], sizeof(float)) != 0;
  }
  for (int e = 0; e < mesh.elementCount(); ++e) {
    bool same = elements[e]->getFaceMask() == mesh.masks[e];
    for (int c = 0; c < 4; ++c) same = same && elements[e]->getVertex(c)->index == mesh.tets[e][c];
    elementMismatches += !same;
  }
  EXPECT_EQ(positionMismatches, 0) << "level " << level;
  EXPECT_EQ(elementMismatches, 0) << "level " << level;
}

struct SurfaceMeasures {
  double area = 0.0, volume = 0.0;
  // Directed edges that are not used exactly once, together with their
  // reverse exactly once: 0 for a closed, consistently wound surface.
  int badEdges = 0;
  int euler = 0;  // V - E + F
};

inline SurfaceMeasures measure(const TriangleSurface& s) {
  SurfaceMeasures m;
  std::map<std::pair<int, int>, int> directed;
  for (const auto& t : s.triangles) {
    const Vec3 &a = s.vertices[t[0]], &b = s.vertices[t[1]], &c = s.vertices[t[2]];
    const Vec3 n = cross(b - a, c - a);
    m.area += 0.5 * std::sqrt(dot(n, n));
    m.volume += dot(a, cross(b, c)) / 6.0;  // divergence theorem: positive when outward
    for (int k = 0; k < 3; ++k) ++directed[{t[k], t[(k + 1) % 3]}];
  }
  for (const auto& [edge, uses] : directed) {
    const auto reverse = directed.find({edge.second, edge.first});
    m.badEdges += uses != 1 || reverse == directed.end() || reverse->second != 1;
  }
  m.euler = static_cast<int>(s.vertices.size()) - static_cast<int>(directed.size() / 2) +
            static_cast<int>(s.triangles.size());
  return m;
}

// Distance from p to the triangle (a, b, c): the closest point by the
// Voronoi regions of its corners, edges and face.
inline double pointTriangleDistance(Vec3 p, Vec3 a, Vec3 b, Vec3 c) {
  const Vec3 ab = b - a, ac = c - a, ap = p - a;
  auto length = [](Vec3 v) { return std::sqrt(dot(v, v)); };
  const double d1 = dot(ab, ap), d2 = dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return length(ap);
  const Vec3 bp = p - b;
  const double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return length(bp);
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return length(p - (a + (d1 / (d1 - d3)) * ab));
  const Vec3 cp = p - c;
  const double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return length(cp);
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return length(p - (a + (d2 / (d2 - d6)) * ac));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0)
    return length(p - (b + ((d4 - d3) / ((d4 - d3) + (d5 - d6))) * (c - b)));
  const double denom = 1.0 / (va + vb + vc);
  return length(p - (a + (vb * denom) * ab + (vc * denom) * ac));
}

}  // namespace zolt::modelgen::test
