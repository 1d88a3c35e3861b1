// Ramp weights of the held and impulse force queues, checked against the
// weight fractions written out by hand.

#include <gtest/gtest.h>

#include <vector>

#include "ForceQueue.h"
#include "Matrix.h"

namespace {

const double kValue[3] = {3.0, -5.0, 7.0};

// The contribution to component 0..2 of one vertex (first unknown dof) in
// each of `steps` impulse steps.
std::vector<std::vector<double>> runImpulses(ForceQueue& q, int steps, int dof = 3) {
  ImpulseRamp ramp(3);
  Vector<double> f(9);
  std::vector<std::vector<double>> out;
  for (int s = 0; s < steps; ++s) {
    f[0] = 99.0;  // stale entries must be cleared
    ramp.apply(q, f);
    out.push_back({f[dof], f[dof + 1], f[dof + 2]});
  }
  return out;
}

// b accumulates nothing between steps: each step starts from zero.
std::vector<double> runHeld(ForceQueue& q, const HeldRamp& ramp, int steps) {
  Vector<double> b(6);
  std::vector<double> out;
  for (int s = 0; s < steps; ++s) {
    for (int i = 0; i < b.n; ++i) b[i] = 0.0;
    ramp.apply(q, b);
    out.push_back(b[3]);
  }
  return out;
}

}  // namespace

TEST(ImpulseRamp, SmoothImpulseSpreadsOverFiveStepsAndOneShotActsOnce) {
  struct Row {
    bool smooth;
    std::vector<double> sixteenths;  // per step; then the queue is empty
  } rows[] = {{true, {1, 4, 6, 4, 1, 0}}, {false, {16, 0, 0}}};
  for (const Row& r : rows) {
    ForceQueue q;
    queueForce(q, 3, kValue, 3, r.smooth);
    auto steps = runImpulses(q, static_cast<int>(r.sixteenths.size()));
    double sum[3] = {0, 0, 0};
    for (size_t s = 0; s < steps.size(); ++s)
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(steps[s][k], kValue[k] * r.sixteenths[s] / 16.0) << r.smooth << " step " << s;
        sum[k] += steps[s][k];
      }
    for (int k = 0; k < 3; ++k) EXPECT_EQ(sum[k], kValue[k]);
    EXPECT_TRUE(q.empty());
  }
}

TEST(ImpulseRamp, RecordsAddUpAndLeaveWithoutReorderingTheRest) {
  ForceQueue q;
  const double other[3] = {1.0, 1.0, 1.0};
  queueForce(q, 3, kValue, 3, true);
  queueForce(q, 0, other, 3, false);
  queueForce(q, 3, kValue, 3, true);
  queueForce(q, 6, other, 3, true);
  Vector<double> f(9);
  ImpulseRamp(3).apply(q, f);
  EXPECT_EQ(f[3], 2.0 * kValue[0] / 16.0);
  EXPECT_EQ(f[0], 1.0);
  ASSERT_EQ(q.size(), 3u);
  EXPECT_EQ(q[0].dof, 3u);
  EXPECT_EQ(q[1].dof, 3u);
  EXPECT_EQ(q[2].dof, 6u);
}

TEST(HeldRamp, RampsUpHoldsAndRampsDownAfterRelease) {
  const double kFloat = 1e-7;  // weights and norm are single precision
  struct Row {
    const char* name;
    int stepsBeforeRelease;           // -1: never released
    std::vector<double> seventieths;  // per step, of forceNorm * value
    bool emptyAtEnd;
  } rows[] = {
      {"held", -1, {1, 8, 28, 56, 70, 70, 70}, false},
      {"released at full strength", 6, {1, 8, 28, 56, 70, 70, 70, 56, 28, 8, 1, 0}, true},
      {"released while ramping up", 2, {1, 8, 28, 8, 1, 0}, true},
      {"released before acting", 0, {0, 0}, true},
  };
  float forceNorm = 3.0f;
  const HeldRamp ramp(&forceNorm, 3);
  for (const Row& r : rows) {
    ForceQueue q;
    queueForce(q, 3, kValue, 3, true);
    std::vector<double> got;
    for (size_t s = 0; s < r.seventieths.size(); ++s) {
      if (static_cast<int>(s) == r.stepsBeforeRelease) HeldRamp::release(q);
      got.push_back(runHeld(q, ramp, 1)[0]);
    }
    for (size_t s = 0; s < got.size(); ++s)
      EXPECT_NEAR(got[s], 3.0 * kValue[0] * r.seventieths[s] / 70.0, 21.0 * kFloat)
          << r.name << " step " << s;
    EXPECT_EQ(q.empty(), r.emptyAtEnd) << r.name;
  }
}

TEST(HeldRamp, ChangedNormActsFromTheNextStep) {
  float forceNorm = 2.0f;
  const HeldRamp ramp(&forceNorm, 3);
  ForceQueue q;
  queueForce(q, 3, kValue, 3, true);
  runHeld(q, ramp, 5);  // at full strength from now on
  EXPECT_EQ(runHeld(q, ramp, 1)[0], 2.0 * kValue[0]);
  forceNorm = 0.5f;
  EXPECT_EQ(runHeld(q, ramp, 1)[0], 0.5 * kValue[0]);
}

TEST(ForceQueue, TwoDimensionsIgnoreTheThirdComponent) {
  ForceQueue q;
  queueForce(q, 2, kValue, 2, false);
  EXPECT_EQ(q[0].value[2], 0.0);
  Vector<double> f(5);
  ImpulseRamp(2).apply(q, f);
  const double expected[5] = {0.0, 0.0, kValue[0], kValue[1], 0.0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f[i], expected[i]) << i;

  float forceNorm = 1.0f;
  queueForce(q, 2, kValue, 2, true);
  for (int s = 0; s < 5; ++s) HeldRamp(&forceNorm, 2).apply(q, f);
  EXPECT_EQ(f[4], 0.0);
}
