// The inversion correction on one tetrahedron pushed through the face
// opposite its apex: forces from closed-form volumes and centroids, and their
// load under a lumped and a consistent mass.

#include <gtest/gtest.h>

#include <cmath>

#include "LinearModel.h"
#include "TimeIntegration.h"

using namespace zolt::test;

namespace {

// The corners (0,0,0), (1,0,0), (0,1,0), (0,0,1); with fixOrigin the first
// is fixed and owns no unknowns.
struct OneElement : LinearModel {
  explicit OneElement(bool fixOrigin)
      : LinearModel(singleTetrahedron(), [fixOrigin](const float* p) {
          return fixOrigin && p[0] + p[1] + p[2] == 0.0f;
        }) {}
};

constexpr double kVolume = 1.0 / 6.0;

}  // namespace

// The apex (0, 0, 1) is pushed to z = -0.5 (volume -1/12). From rest
// (volume 1/6) the step overshot by t = 1/3: the apex is pulled back by
// 1.5 t / 2 = 0.25. Already at z = -0.25 before (volume -1/24), t = 2: every
// free corner moves a fifth of the way to the centroid (0.25, 0.25, -0.125).
// Pushed only to z = 0.1 nothing is inverted and b is left alone.
TEST(InversionCorrection, ForcesAndLoadsOfBothBranches) {
  const double centroid[3] = {0.25, 0.25, -0.125};
  const double deformed[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -0.5}};
  enum Branch { kNone, kInterpolating, kCentroid };
  struct Row {
    bool fixOrigin;
    int scheme;
    double apexBefore;  // z displacement of the apex before the step
    Branch branch;
  } rows[] = {{false, 1, 0.0, kInterpolating}, {false, 0, 0.0, kInterpolating},
              {true, 1, 0.0, kInterpolating},  {false, 1, -1.25, kCentroid},
              {false, 0, -1.25, kCentroid},    {true, 0, -1.25, kCentroid},
              {false, 4, 0.0, kInterpolating}, {false, 0, 0.0, kNone}};
  for (const Row& r : rows) {
    OneElement m(r.fixOrigin);
    auto sim = m.load(true, r.scheme);
    auto dofOf = [&](int corner) {
      return 3 * (m.finest()[corner]->index - m.settings.fixedCount);
    };
    (*sim->displacement)[dofOf(3) + 2] = r.branch == kNone ? -0.9 : -1.5;
    (*sim->integrator->xPrev)[dofOf(3) + 2] = r.apexBefore;
    for (int i = 0; i < sim->rightSide->n; ++i) (*sim->rightSide)[i] = i;
    (*sim->forces)[0] = 7.0;
    EXPECT_EQ(sim->correctInversion(), r.branch != kNone);
    double f[4][3] = {};
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 3; ++k)
        if (r.branch == kCentroid) f[c][k] = 0.2 * (centroid[k] - deformed[c][k]);
    if (r.branch == kInterpolating) f[3][2] = 0.25;
    const double c0 = sim->integrator->c0;
    const double tolerance = r.branch == kNone ? 0.0 : 1e-6;  // nothing inverted: exact
    for (int c = r.fixOrigin ? 1 : 0; c < 4; ++c)
      for (int k = 0; k < 3; ++k) {
        const int i = dofOf(c) + k;
        EXPECT_NEAR((*sim->forces)[i], f[c][k], tolerance) << c << k;
        double load = 0.0;  // lumped V/4, consistent V/20 (1 + delta)
        if (r.scheme == 1) load = c0 * kVolume / 4 * f[c][k];
        for (int d = r.fixOrigin ? 1 : 0; r.scheme == 0 && d < 4; ++d)
          load += c0 * kVolume / 20 * (c == d ? 2 : 1) * f[d][k];
        EXPECT_NEAR((*sim->rightSide)[i] - i, load, tolerance * c0 * kVolume) << c << k << r.scheme;
      }
  }
}
