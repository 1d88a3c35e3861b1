// Ramp weights of the held and impulse force queues, checked against the
// weight fractions written out by hand.

#include <gtest/gtest.h>

#include <vector>

#include "ForceQueue.h"
#include "Matrix.h"

namespace {

const double kValue[3] = {3.0, -5.0, 7.0};

// Component k of unknowns 3..5 after one application to a fresh vector.
double impulseStep(ForceQueue& q, int k, uint8_t dim = 3) {
  Vector<double> f(9);
  f[3 + k] = 99.0;  // stale entries are cleared
  ImpulseRamp(dim).apply(q, f);
  return f[3 + k];
}
double heldStep(ForceQueue& q, const HeldRamp& ramp) {
  Vector<double> b(6);
  ramp.apply(q, b);
  return b[3];
}

}  // namespace

TEST(ImpulseRamp, SmoothImpulseSpreadsOverFiveStepsAndOneShotActsOnce) {
  struct Row {
    bool smooth;
    std::vector<double> sixteenths;  // per step; the queue is empty afterwards
  } rows[] = {{true, {1, 4, 6, 4, 1, 0}}, {false, {16, 0, 0}}};
  for (const Row& r : rows) {
    for (int k = 0; k < 3; ++k) {
      ForceQueue q;
      queueForce(q, 3, kValue, 3, r.smooth);
      double sum = 0.0;
      for (double part : r.sixteenths) {
        const double got = impulseStep(q, k);
        EXPECT_EQ(got, kValue[k] * part / 16.0) << r.smooth << " component " << k;
        sum += got;
      }
      EXPECT_EQ(sum, kValue[k]);
      EXPECT_TRUE(q.empty());
    }
  }
}

TEST(ImpulseRamp, RecordsAddUpAndLeaveWithoutReorderingTheRest) {
  ForceQueue q;
  const double one[3] = {1.0, 1.0, 1.0};
  queueForce(q, 3, kValue, 3, true);
  queueForce(q, 0, one, 3, false);
  queueForce(q, 3, kValue, 3, true);
  queueForce(q, 6, one, 3, true);
  EXPECT_EQ(impulseStep(q, 0), 2.0 * kValue[0] / 16.0);
  ASSERT_EQ(q.size(), 3u);
  EXPECT_EQ(q[0].dof, 3u);
  EXPECT_EQ(q[1].dof, 3u);
  EXPECT_EQ(q[2].dof, 6u);
}

TEST(HeldRamp, RampsUpHoldsAndRampsDownAfterRelease) {
  struct Row {
    const char* name;
    int releaseBeforeStep;            // -1: never released
    std::vector<double> seventieths;  // per step, of forceNorm * value
  } rows[] = {
      {"held", -1, {1, 8, 28, 56, 70, 70, 70}},
      {"released at full strength", 6, {1, 8, 28, 56, 70, 70, 70, 56, 28, 8, 1, 0}},
      {"released while ramping up", 2, {1, 8, 28, 8, 1, 0}},
      {"released before acting", 0, {0, 0}},
  };
  float forceNorm = 3.0f;
  const HeldRamp ramp(&forceNorm, 3);
  for (const Row& r : rows) {
    ForceQueue q;
    queueForce(q, 3, kValue, 3, true);
    for (size_t s = 0; s < r.seventieths.size(); ++s) {
      if (static_cast<int>(s) == r.releaseBeforeStep) HeldRamp::release(q);
      // Weights and norm are single precision.
      EXPECT_NEAR(heldStep(q, ramp), 3.0 * kValue[0] * r.seventieths[s] / 70.0, 1e-6)
          << r.name << " step " << s;
    }
    EXPECT_EQ(q.empty(), r.releaseBeforeStep >= 0) << r.name;
  }
}

TEST(HeldRamp, ChangedNormActsFromTheNextStep) {
  float forceNorm = 2.0f;
  const HeldRamp ramp(&forceNorm, 3);
  ForceQueue q;
  queueForce(q, 3, kValue, 3, true);
  for (int s = 0; s < 5; ++s) heldStep(q, ramp);  // full strength from now on
  EXPECT_EQ(heldStep(q, ramp), 2.0 * kValue[0]);
  forceNorm = 0.5f;
  EXPECT_EQ(heldStep(q, ramp), 0.5 * kValue[0]);
}

TEST(ForceQueue, TwoDimensionsIgnoreTheThirdComponent) {
  ForceQueue q;
  queueForce(q, 3, kValue, 2, false);
  EXPECT_EQ(q[0].value[2], 0.0);
  EXPECT_EQ(impulseStep(q, 2, 2), 0.0);
  ForceQueue held;
  queueForce(held, 3, kValue, 2, true);
  float forceNorm = 1.0f;
  Vector<double> b(9);
  for (int s = 0; s < 5; ++s) HeldRamp(&forceNorm, 2).apply(held, b);
  EXPECT_EQ(b[5], 0.0);
}
