// The force fields against closed forms and physical expectations: radial
// and tangential directions, element volumes, the number of random draws
// (read back from a seeded rand()), and the entries that must stay untouched.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "DeformationForce.h"
#include "FiniteElement.h"
#include "IntegrationDomain.h"
#include "Matrix.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"

namespace {

using zolt::test::box;

// A mesh with current positions, element volumes, lumped masses (by vertex)
// and a right-hand side with zero guard entries on both sides: a write for a
// fixed vertex, whose degree-of-freedom base is negative, lands in a guard.
struct Scene {
  std::unique_ptr<TetHierarchy> h;
  std::vector<float> current;
  float norm = 1000.0f;
  uint8_t on = 1;
  int fixed;
  uint8_t dim;
  DeformationForce field;
  static constexpr int kGuard = 64;
  std::vector<double> storage;
  Vector<double> m, b;

  Scene(std::unique_ptr<TetHierarchy> mesh, uint8_t dim_, int fixed_ = 0)
      : h(std::move(mesh)), fixed(fixed_), dim(dim_), field(h.get(), &norm, &on, dim_) {
    zolt::test::attachCurrentPositions(*h, h->nLevels - 1, current);
    for (FiniteElement* e : elements()) {
      IntegrationDomain dom;
      e->computeShapeFunctions();
      e->computeIntegrationDomain(dom);
      e->computeLoadMatrix(dom);
    }
    const int n = dim * (static_cast<int>(finest().size()) - fixed);
    m.resize(n);
    storage.assign(n + 2 * kGuard, 0.0);
    for (int i = 0; i < n; ++i) {
      m[i] = 0.5 + 0.01 * (i + dim * fixed);
      storage[kGuard + i] = std::sin(1.0 + i);
    }
    b.view(storage.data() + kGuard, n);
  }
  const std::vector<Vertex*>& finest() const { return h->vertices[h->nLevels - 1]; }
  const std::vector<FiniteElement*>& elements() const { return h->elements[h->nLevels - 1]; }
  int dof(const Vertex* v) const { return dim * (v->index - fixed); }
  std::vector<double> rhs() const { return std::vector<double>(b.data, b.data + b.n); }
  // b after minus b before.
  std::vector<double> apply() {
    std::vector<double> before = rhs();
    field.apply(m, b, &fixed);
    for (int i = 0; i < b.n; ++i) before[i] = b[i] - before[i];
    return before;
  }
  bool guardsClean() const {
    for (int i = 0; i < kGuard; ++i)
      if (storage[i] != 0.0 || storage[storage.size() - 1 - i] != 0.0) return false;
    return true;
  }
};

// What rand() returns after `draws` draws from seed.
int randAfter(unsigned seed, int draws) {
  std::srand(seed);
  for (int i = 0; i < draws; ++i) std::rand();
  return std::rand();
}

// Type t with parameters that move b; for type 5 the cube x < 1 of a
// box(2, ...) mesh is soft and the field acts on the interface x = 1.
void configure(Scene& s, int t) {
  DeformationForce& f = s.field;
  f.type = t;
  const float vector[3] = {0.5f, 0.5f, 0.5f}, param[3] = {0.7f, 0.2f, 0.4f};
  std::memcpy(f.vector, vector, sizeof(vector));
  std::memcpy(f.param, param, sizeof(param));
  f.phase = 1.0f;
  if (t == 5 || t == 6) f.elements = std::make_unique<std::vector<FiniteElement*>>();
  for (FiniteElement* e : s.elements()) {
    float x = 0;
    for (int j = 0; j < 4; ++j) x += e->getVertex(j)->restPosition[0];
    e->setStiffness(x < 4.0f ? 0.05f : 2.0f);
    if (t == 6 || (t == 5 && !(e->getStiffness() > 0.1))) f.elements->push_back(e);
  }
  if (t == 5) f.markSoftOnlyNodes();
}

TEST(DeformationForce, SwitchOffChangesNothing) {
  for (int t = 1; t <= 6; ++t) {
    Scene s(box(2, 1, 1), 3);
    configure(s, t);
    const std::vector<double> before = s.rhs();
    s.on = 0;
    std::srand(11);
    s.apply();
    const int next = std::rand();
    EXPECT_EQ(next, randAfter(11, 0)) << t << ": no draw";
    EXPECT_EQ(std::memcmp(before.data(), s.b.data, sizeof(double) * before.size()), 0) << t;
    EXPECT_EQ(s.field.phase, 1.0f) << t;
    s.on = 1;  // the same field switched on acts
    EXPECT_NE(s.apply(), std::vector<double>(s.b.n, 0.0)) << t;
  }
}

TEST(DeformationForce, SphericalPhaseAdvancesAndWrapsOnAnEmptyLevel) {
  const float rows[][3] = {// phase, step, expected
                           {3.0f, 0.5f, 3.5f - 6.2831855f},
                           {1.0f, 0.5f, 1.5f},
                           {-3.0f, 0.25f, -2.75f}};
  for (const auto& r : rows) {
    Scene s(std::make_unique<TetHierarchy>(1), 3);
    s.field.type = 1;
    s.field.phase = r[0];
    s.field.param[1] = r[1];
    s.apply();
    EXPECT_EQ(s.field.phase, r[2]) << r[0] << " + " << r[1];
  }
}

TEST(DeformationForce, SphericalWaveIsRadialWithTheSineProfile) {
  // sin(k r + phase) s m along d / r at the current positions; the vertex at
  // the centre and the two fixed vertices get nothing.
  for (uint8_t dim : {uint8_t(2), uint8_t(3)}) {
    Scene s(box(2, 2, 1, 0.5f), dim, 2);
    s.field.type = 1;
    for (size_t i = 0; i < s.current.size(); ++i) s.current[i] += 0.01f * std::sin(float(i));
    std::memcpy(s.field.vector, s.finest()[7]->currentPosition, sizeof(s.field.vector));
    s.field.param[0] = 1.3f * 3.1415927f;
    s.field.phase = 0.7f;
    const std::vector<double> f = s.apply();
    EXPECT_TRUE(s.guardsClean());
    for (const Vertex* v : s.finest()) {
      if (v->index < s.fixed) continue;
      double d[3] = {0, 0, 0}, r = 0;
      for (int k = 0; k < dim; ++k)
        r += std::pow(d[k] = v->currentPosition[k] - s.field.vector[k], 2);
      r = std::sqrt(r);
      for (int k = 0; k < dim; ++k) {
        const int i = s.dof(v) + k;
        const double expected =
            v == s.finest()[7] ? 0.0 : std::sin(r * 1.3 * M_PI + 0.7) * 1000.0 * d[k] / r * s.m[i];
        EXPECT_NEAR(f[i], expected, 2e-3) << int(dim) << " vertex " << v->index << " axis " << k;
      }
    }
  }
}

TEST(DeformationForce, RandomPushesOnlyForwardByLessThanTheMass) {
  Scene zero(box(3, 3, 3, 0.5f), 3);
  zero.field.type = 2;
  zero.norm = 0.0f;
  EXPECT_EQ(zero.apply(), std::vector<double>(zero.b.n, 0.0));

  Scene s(box(3, 3, 3, 0.5f), 3);
  s.field.type = 2;
  std::srand(5);
  const std::vector<double> f = s.apply();
  const int next = std::rand();
  EXPECT_EQ(next, randAfter(5, s.b.n)) << "one draw per entry";
  double mean = 0.0;
  for (int i = 0; i < s.b.n; ++i) {
    const double fraction = f[i] / (1000.0 * s.m[i]);
    EXPECT_TRUE(fraction >= 0.0 && fraction < 1.0) << i;
    mean += fraction / s.b.n;
  }
  EXPECT_NEAR(mean, 0.5, 0.05);  // 192 uniform draws
}

TEST(DeformationForce, WindBlowsAlongItsVectorWithGusts) {
  // No gust amplitude: entry (i, k) gets s m (q + 0.01) g_k, q in [0, 1].
  // Draws: dim gust draws, one per entry, one for the phase.
  for (uint8_t dim : {uint8_t(2), uint8_t(3)}) {
    Scene s(box(2, 1, 1), dim, 3);
    s.field.type = 3;
    const float wind[3] = {2.0f, -1.0f, 0.5f};
    std::memcpy(s.field.vector, wind, sizeof(wind));
    std::srand(9);
    const std::vector<double> f = s.apply();
    const int next = std::rand();
    EXPECT_EQ(next, randAfter(9, dim + s.b.n + 1)) << int(dim);
    for (int i = 0; i < s.b.n; ++i) {
      const double gust = f[i] / (1000.0 * s.m[i] * wind[i % dim]);
      EXPECT_TRUE(gust >= 0.01 - 1e-9 && gust <= 1.01 + 1e-9) << int(dim) << " " << i;
    }
  }
}

TEST(DeformationForce, VortexTurnsAboutAxisTwo) {
  // 2D, centre at the origin: the vertex at (1, 0) is pushed along (0, -1),
  // the one at (0, 1) along (1, 0); the two at the centre get nothing.
  Scene s(zolt::test::singleTetrahedron(), 2);
  s.field.type = 4;
  const std::vector<double> f = s.apply();
  const double expected[4][2] = {{0, 0}, {0, -1}, {1, 0}, {0, 0}};  // directions, by vertex
  for (int v = 0; v < 4; ++v)
    for (int k = 0; k < 2; ++k) {
      const double gust = f[2 * v + k] / (1000.0 * s.m[2 * v + k]);
      if (expected[v][k] == 0)
        EXPECT_EQ(gust, 0.0) << v << " " << k;
      else
        EXPECT_TRUE(gust * expected[v][k] >= 0.01 && gust * expected[v][k] <= 1.01)
            << v << " " << k;
    }
}

TEST(DeformationForce, RadialActsOncePerListEntryWithTheElementVolume) {
  // One tetrahedron of volume 1/6, centre outside it: unit direction from the
  // centre times s V strength, per list entry; fixed vertices excluded.
  for (int copies : {1, 2})
    for (int fixed : {0, 2}) {
      Scene s(zolt::test::singleTetrahedron(), 3, fixed);
      s.field.type = 6;
      const float centre[3] = {-1.0f, -2.0f, 0.5f};
      std::memcpy(s.field.vector, centre, sizeof(centre));
      s.field.param[1] = 0.8f;
      s.field.elements = std::make_unique<std::vector<FiniteElement*>>(copies, s.elements()[0]);
      const std::vector<double> f = s.apply();
      EXPECT_TRUE(s.guardsClean());
      for (const Vertex* v : s.finest()) {
        if (v->index < fixed) continue;
        double d[3], r = 0;
        for (int k = 0; k < 3; ++k) r += std::pow(d[k] = double(v->restPosition[k]) - centre[k], 2);
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(f[s.dof(v) + k], copies * d[k] / std::sqrt(r) * 1000.0 / 6.0 * 0.8, 1e-3)
              << copies << " copies, vertex " << v->index << " axis " << k;
      }
    }
}

TEST(DeformationForce, ImplantPushesTheInterfaceWithTheStiffTissue) {
  // Oracle: radial (param[0]) minus the sag (param[1]) on axis 1, times the
  // height weight, s and the soft volume around the node (from rest corners).
  Scene s(box(2, 1, 1), 3);
  configure(s, 5);
  const std::vector<double> f = s.apply();
  for (const Vertex* v : s.finest()) {
    const float* p = v->restPosition;
    double soft = 0, d[3], r = 0;
    for (const FiniteElement* e : *s.field.elements)
      for (int j = 0; j < 4; ++j) soft += e->getVertex(j) == v ? zolt::test::restVolume(*e) : 0.0;
    for (int k = 0; k < 3; ++k) r += std::pow(d[k] = p[k] - 0.5, 2);
    const double h = std::max(0.0, 0.6 + (0.5 - p[2]) * 0.4);
    for (int k = 0; k < 3; ++k) {
      const double expected =
          p[0] == 1.0f ? (0.7 * d[k] / std::sqrt(r) - (k == 1) * 0.2) * h * 1000.0 * soft : 0.0;
      EXPECT_NEAR(f[s.dof(v) + k], expected, 1e-3)
          << p[0] << " " << p[1] << " " << p[2] << " axis " << k;
    }
  }
}

TEST(DeformationForce, ImplantSurvivesVertexRenumbering) {
  // Preprocessing renumbers the vertices after the configuration built the
  // field (text load); a mesh-cache load builds it after the renumbering.
  Scene s(box(2, 1, 1), 3);
  configure(s, 5);
  std::vector<double> f = s.apply(), byVertex;
  for (const Vertex* v : s.finest())
    byVertex.insert(byVertex.end(), &f[s.dof(v)], &f[s.dof(v)] + 3);
  const std::vector<uint8_t> mask = s.field.nodeMask;
  for (Vertex* v : s.finest()) v->index = (v->index * 5 + 3) % 12;
  f = s.apply();
  for (size_t i = 0; i < s.finest().size(); ++i)
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(f[s.dof(s.finest()[i]) + k], byVertex[3 * i + k], 1e-9) << i;
  s.field.markSoftOnlyNodes();
  EXPECT_EQ(s.field.nodeMask, mask);
}

TEST(DeformationForce, NothingAtTheCentreAndNothingForFixedVertices) {
  for (int t : {1, 4, 5, 6}) {
    Scene all(box(2, 1, 1), 3), pinned(box(2, 1, 1), 3, 5);
    configure(all, t);
    configure(pinned, t);
    // Types 5 and 6 divide by the distance from the centre: put a free
    // interface vertex, (1, 0, 1), exactly there.
    const Vertex* centre = all.finest()[7];
    for (Scene* s : {&all, &pinned}) std::memcpy(s->field.vector, centre->restPosition, 12);
    const std::vector<double> free = all.apply(), f = pinned.apply();
    EXPECT_TRUE(pinned.guardsClean()) << t << ": nothing written for a fixed vertex";
    for (int i = 0; i < all.b.n; ++i) EXPECT_TRUE(std::isfinite(free[i])) << t << " " << i;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(free[all.dof(centre) + k], 0.0) << t;
    if (t == 4) continue;  // random gusts; the other types are deterministic
    for (int i = 0; i < pinned.b.n; ++i) EXPECT_NEAR(f[i], free[i + 15], 1e-9) << t << " " << i;
  }
}

}  // namespace
