// Frame pacing without a window: the pacing step and the timer chains.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ClockTime.h"
#include "FramePacing.h"

using zolt::test::atMs;

namespace {

TEST(FramePacing, PacingStepTable) {
  struct Row {
    uint32_t frames, target;
    double elapsedMs;
    int prev, value;
    int delay;
    bool restart, idle;
  };
  const Row rows[] = {
      // Frame n is due at n * 1000 / target ms from the span's start.
      {1, 50, 0.0, 0, 0, 20, false, false},
      {2, 50, 20.5, 19, 1, 19, false, false},
      {10, 50, 150.0, 20, 9, 50, false, false},
      {1, 30, 33.4, 0, 0, -1, false, false},
      // Late after an on-time frame, by any amount: the span starts over.
      {3, 50, 60.001, 19, 2, -1, true, false},
      {3, 50, 500.0, 1, 30, -440, true, false},
      // Late twice running: idle frames only after frame 19 of the chain.
      {21, 50, 420.0, 0, 20, 0, false, true},
      {20, 50, 405.0, -5, 19, -5, false, false},
      {30, 50, 700.0, -3, 25, -100, false, true},
      // On time after a late frame does not switch.
      {21, 50, 400.0, -3, 25, 20, false, false},
      // A rate below 1 runs at one frame per second instead of dividing by 0.
      {1, 0, 0.0, 0, 0, 1000, false, false},
      // A clock jump far into the future stays a valid delay.
      {1, 1, 1e16, 0, 0, -1000000000, false, false},
  };
  for (const Row& r : rows) {
    const PacingStep s = pacingStep(r.frames, r.target, r.elapsedMs * 1000.0, r.prev, r.value);
    SCOPED_TRACE(testing::Message() << "frames " << r.frames << " elapsed " << r.elapsedMs);
    EXPECT_EQ(s.delay, r.delay);
    EXPECT_EQ(s.restart, r.restart);
    EXPECT_EQ(s.switchToIdle, r.idle);
  }
  EXPECT_EQ(effectiveTargetFps(-3), 1u);
}

// Drives the pacer as the timer does: each frame takes workMs, the next
// callback comes after the returned delay. Returns the callback times.
std::vector<double> runChain(FramePacer& p, double t0, double workMs, int frames,
                             PacingResult* last = nullptr) {
  std::vector<double> starts;
  double t = t0;
  for (int value = 0; value < frames; ++value) {
    if (!p.acceptTimerCallback(value)) break;
    starts.push_back(t);
    t += workMs;
    const PacingResult r = p.afterTimerFrame(value, atMs(t));
    if (last) *last = r;
    if (r.next != PacingResult::Next::Timer) break;
    t += r.delay;
  }
  return starts;
}

TEST(FramePacing, ChainsKeepTheSpanScheduleUntilTheyCannotKeepUp) {
  // Frames start on the span's schedule, not after the previous frame; a
  // machine that cannot keep up switches to idle at chain value 20.
  const struct {
    double workMs;
    size_t frames;
    PacingResult::Next last;
  } rows[] = {{3.0, 40, PacingResult::Next::Timer}, {30.0, 21, PacingResult::Next::Idle}};
  for (const auto& r : rows) {
    FramePacer p;
    p.start(50, atMs(1000.0));
    PacingResult last{};
    const std::vector<double> starts = runChain(p, 1000.0, r.workMs, 40, &last);
    ASSERT_EQ(starts.size(), r.frames) << r.workMs;
    EXPECT_EQ(last.next, r.last) << r.workMs;
    for (size_t n = 0; n < starts.size() && r.workMs < 20.0; ++n)
      EXPECT_DOUBLE_EQ(starts[n], 1000.0 + 20.0 * n);
  }
  // Frames at 0, 20, .., 80; frame 5 starts at 100 and takes 27 ms, 7 ms
  // past the due time of frame 6: the span restarts at 127.
  FramePacer p;
  p.start(50, atMs(0.0));
  runChain(p, 0.0, 1.0, 5);
  const PacingResult late = p.afterTimerFrame(5, atMs(127.0));
  EXPECT_EQ(late.next, PacingResult::Next::Timer);
  EXPECT_EQ(late.delay, 0);
  EXPECT_EQ(p.lastDelay, -7);
  EXPECT_EQ(p.afterTimerFrame(6, atMs(128.0)).delay, 19);  // due 20 ms later, not at once
}

TEST(FramePacing, StoppedLoopAndUnloadEndTheChain) {
  FramePacer p;
  p.start(25, atMs(0.0));
  p.loopStopped = true;
  EXPECT_EQ(p.afterTimerFrame(3, atMs(5.0)).next, PacingResult::Next::End);
  p.start(25, atMs(10.0));
  EXPECT_FALSE(p.loopStopped);
  p.unload();
  EXPECT_EQ(p.afterTimerFrame(4, atMs(50.0)).next, PacingResult::Next::End);
  // Stale callbacks of the old chain are dropped; a new chain's first runs.
  EXPECT_FALSE(p.acceptTimerCallback(5));
  EXPECT_FALSE(p.acceptTimerCallback(1));
  EXPECT_TRUE(p.acceptTimerCallback(0));
  EXPECT_TRUE(p.acceptTimerCallback(1));
}

}  // namespace
