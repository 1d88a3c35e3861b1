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
          return fixOrigin && p[0] == 0.0f && p[1] == 0.0f && p[2] == 0.0f;
        }) {}
};

constexpr double kVolume = 1.0 / 6.0;

}  // namespace

TEST(InversionCorrection, ForcesAndLoadsOfBothBranches) {
  // The apex is at z = -0.5 after the step (volume -1/12). From rest (volume
  // 1/6) the step overshot by t = 1/3: the apex is pulled back by
  // (0 - (-1.5)) * t / 2 = 0.25. Already at z = -0.25 before (volume -1/24),
  // t = 2: every free corner moves a fifth of the way to the centroid
  // (0.25, 0.25, -0.125) of the inverted element.
  const double centroid[3] = {0.25, 0.25, -0.125};
  const double deformed[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -0.5}};
  struct Row {
    bool fixOrigin;
    int scheme;
    double apexBefore;  // z displacement of the apex before the step
    bool centroidBranch;
  } rows[] = {{false, 1, 0.0, false},  {false, 0, 0.0, false},  {true, 1, 0.0, false},
              {false, 1, -1.25, true}, {false, 0, -1.25, true}, {true, 0, -1.25, true},
              {false, 4, 0.0, false}};
  for (const Row& r : rows) {
    OneElement m(r.fixOrigin);
    auto sim = m.load(true, r.scheme);
    const int fixed = m.settings.fixedCount;
    auto dofOf = [&](int corner) { return 3 * (m.finest()[corner]->index - fixed); };
    (*sim->displacement)[dofOf(3) + 2] = -1.5;
    (*sim->integrator->xPrev)[dofOf(3) + 2] = r.apexBefore;
    for (int i = 0; i < sim->rightSide->n; ++i) (*sim->rightSide)[i] = i;

    EXPECT_TRUE(sim->correctInversion());

    // Expected forces per corner, then their load.
    double f[4][3] = {};
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 3; ++k)
        if (r.centroidBranch) f[c][k] = 0.2 * (centroid[k] - deformed[c][k]);
    if (!r.centroidBranch) f[3][2] = 0.25;
    const double c0 = sim->integrator->c0;
    for (int c = 0; c < 4; ++c) {
      if (r.fixOrigin && c == 0) continue;
      for (int k = 0; k < 3; ++k) {
        const int i = dofOf(c) + k;
        EXPECT_NEAR((*sim->forces)[i], f[c][k], 1e-6) << c << k;
        double load = 0.0;  // lumped V/4, consistent V/20 (1 + delta)
        if (r.scheme == 1) load = c0 * kVolume / 4 * f[c][k];
        if (r.scheme == 0)
          for (int d = 0; d < 4; ++d)
            if (!(r.fixOrigin && d == 0)) load += c0 * kVolume / 20 * (c == d ? 2 : 1) * f[d][k];
        EXPECT_NEAR((*sim->rightSide)[i] - i, load, 1e-6 * c0 * kVolume) << c << k << r.scheme;
      }
    }
  }
}

TEST(InversionCorrection, NothingInvertedLeavesTheRightSide) {
  OneElement m(false);
  auto sim = m.load(true, 0);
  (*sim->displacement)[11] = -0.9;  // flattened, not inverted
  for (int i = 0; i < sim->rightSide->n; ++i) (*sim->rightSide)[i] = 0.5 * i;
  (*sim->forces)[2] = 7.0;
  EXPECT_FALSE(sim->correctInversion());
  for (int i = 0; i < sim->rightSide->n; ++i) {
    EXPECT_EQ((*sim->rightSide)[i], 0.5 * i);
    EXPECT_EQ((*sim->forces)[i], 0.0);
  }
}
