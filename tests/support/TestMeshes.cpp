#include "TestMeshes.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <numeric>
#include <random>

#include "Tetrahedron.h"
#include "Vertex.h"

namespace zolt::test {

namespace {

double det3(const double a[3], const double b[3], const double c[3]) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

double orientedDet(const float* p0, const float* p1, const float* p2, const float* p3) {
  double a[3], b[3], c[3];
  for (int k = 0; k < 3; ++k) {
    a[k] = double(p1[k]) - p0[k];
    b[k] = double(p2[k]) - p0[k];
    c[k] = double(p3[k]) - p0[k];
  }
  return det3(a, b, c);
}

}  // namespace

std::unique_ptr<TetHierarchy> meshFromCorners(const std::vector<Point>& positions,
                                              const std::vector<Corners>& corners, int nLevels) {
  auto h = std::make_unique<TetHierarchy>(nLevels);
  for (size_t i = 0; i < positions.size(); ++i) {
    auto* v = new Vertex;
    v->index = static_cast<int>(i);
    for (int k = 0; k < 3; ++k) v->restPosition[k] = positions[i][k];
    h->vertices[0].push_back(v);
  }
  // First pass without masks, to let the oracle see every element.
  std::vector<Corners> oriented;
  for (Corners c : corners) {
    const auto& vs = h->vertices[0];
    if (orientedDet(vs[c[0]]->restPosition, vs[c[1]]->restPosition, vs[c[2]]->restPosition,
                    vs[c[3]]->restPosition) > 0)
      std::swap(c[2], c[3]);
    oriented.push_back(c);
  }
  std::vector<FiniteElement*> plain;
  for (const Corners& c : oriented) {
    const auto& vs = h->vertices[0];
    plain.push_back(new Tetrahedron(vs[c[0]], vs[c[1]], vs[c[2]], vs[c[3]], 0));
  }
  const std::vector<uint8_t> masks = boundaryMasks(plain);
  for (FiniteElement* e : plain) delete e;

  for (size_t i = 0; i < oriented.size(); ++i) {
    const auto& vs = h->vertices[0];
    const Corners& c = oriented[i];
    auto* t = new Tetrahedron(vs[c[0]], vs[c[1]], vs[c[2]], vs[c[3]], masks[i]);
    t->id = static_cast<int>(i);
    h->elements[0].push_back(t);
  }
  if (nLevels > 1) h->buildNestedHierarchy();
  return h;
}

std::unique_ptr<TetHierarchy> singleTetrahedron(int nLevels) {
  return meshFromCorners({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2, 3}}, nLevels);
}

void boxCorners(int k, int l, int m, float edge, std::vector<Point>& positions,
                std::vector<Corners>& corners) {
  auto id = [&](int i, int j, int n) { return i + (k + 1) * (j + (l + 1) * n); };
  positions.clear();
  corners.clear();
  for (int n = 0; n <= m; ++n)
    for (int j = 0; j <= l; ++j)
      for (int i = 0; i <= k; ++i) positions.push_back({i * edge, j * edge, n * edge});

  int axes[3] = {0, 1, 2};
  for (int n = 0; n < m; ++n)
    for (int j = 0; j < l; ++j)
      for (int i = 0; i < k; ++i) {
        std::sort(axes, axes + 3);
        do {
          // Path from the lowest to the highest corner, one axis at a time.
          int p[3] = {i, j, n};
          Corners c;
          c[0] = id(p[0], p[1], p[2]);
          for (int s = 0; s < 3; ++s) {
            ++p[axes[s]];
            c[s + 1] = id(p[0], p[1], p[2]);
          }
          corners.push_back(c);
        } while (std::next_permutation(axes, axes + 3));
      }
}

int fixFloorAndNumberFixedFirst(TetHierarchy& h, int level) {
  auto& list = h.vertices[level];
  for (Vertex* v : list) v->fixed = v->restPosition[2] == 0.0f;
  std::stable_partition(list.begin(), list.end(), [](const Vertex* v) { return v->fixed != 0; });
  int nFixed = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    list[i]->index = static_cast<int>(i);
    nFixed += list[i]->fixed;
  }
  return nFixed;
}

std::unique_ptr<TetHierarchy> box(int k, int l, int m, float edge, int nLevels) {
  std::vector<Point> positions;
  std::vector<Corners> corners;
  boxCorners(k, l, m, edge, positions, corners);
  return meshFromCorners(positions, corners, nLevels);
}

void irregularBox(int k, float edge, unsigned seed, std::vector<Point>& positions,
                  std::vector<Corners>& corners) {
  boxCorners(k, k, k, edge, positions, corners);
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> shift(-0.15f * edge, 0.15f * edge);
  const float top = k * edge;
  for (Point& p : positions)
    for (float& c : p)
      if (c > 0.0f && c < top) c += shift(random);
  std::vector<int> order(positions.size());
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), random);
  std::vector<Point> moved(positions.size());
  for (size_t i = 0; i < order.size(); ++i) moved[static_cast<size_t>(order[i])] = positions[i];
  positions.swap(moved);
  for (Corners& c : corners)
    for (int& v : c) v = order[static_cast<size_t>(v)];
  std::shuffle(corners.begin(), corners.end(), random);
}

void writeMeshText(const std::string& base, const std::vector<Point>& positions,
                   const std::vector<Corners>& corners) {
  std::ofstream node(base + ".node"), ele(base + ".ele");
  node << positions.size() << " 3 0 0\n";
  for (size_t i = 0; i < positions.size(); ++i)
    node << i + 1 << ' ' << positions[i][0] << ' ' << positions[i][1] << ' ' << positions[i][2]
         << '\n';
  ele << corners.size() << " 4 0\n";
  for (size_t e = 0; e < corners.size(); ++e)
    ele << e + 1 << ' ' << corners[e][0] + 1 << ' ' << corners[e][1] + 1 << ' ' << corners[e][2] + 1
        << ' ' << corners[e][3] + 1 << '\n';
}

std::unique_ptr<TetHierarchy> unitCube(int nLevels) { return box(1, 1, 1, 1.0f, nLevels); }

std::vector<uint8_t> boundaryMasks(const std::vector<FiniteElement*>& elements) {
  auto faceKey = [](const FiniteElement* e, int f) {
    std::array<Vertex*, 3> key;
    int n = 0;
    for (int i = 0; i < 4; ++i)
      if (i != f) key[n++] = e->getVertex(i);
    std::sort(key.begin(), key.end());
    return key;
  };
  std::map<std::array<Vertex*, 3>, int> count;
  for (const FiniteElement* e : elements)
    for (int f = 0; f < 4; ++f) ++count[faceKey(e, f)];
  std::vector<uint8_t> masks;
  for (const FiniteElement* e : elements) {
    uint8_t mask = 0;
    for (int f = 0; f < 4; ++f)
      if (count[faceKey(e, f)] == 1) mask |= static_cast<uint8_t>(1 << f);
    masks.push_back(mask);
  }
  return masks;
}

double restVolume(const FiniteElement& e) {
  return -orientedDet(e.getVertex(0)->restPosition, e.getVertex(1)->restPosition,
                      e.getVertex(2)->restPosition, e.getVertex(3)->restPosition) /
         6.0;
}

void attachCurrentPositions(TetHierarchy& h, int level, std::vector<float>& storage) {
  const auto& vs = h.vertices[level];
  storage.assign(3 * vs.size(), 0.0f);
  for (size_t i = 0; i < vs.size(); ++i) {
    for (int k = 0; k < 3; ++k) storage[3 * i + k] = vs[i]->restPosition[k];
    vs[i]->currentPosition = &storage[3 * i];
  }
}

}  // namespace zolt::test
