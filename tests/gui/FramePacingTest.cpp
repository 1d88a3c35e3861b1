#include <gtest/gtest.h>

#include <vector>

#include "FramePacing.h"

namespace {

timeval atMs(double ms) {
  const long us = static_cast<long>(ms * 1000.0);
  return timeval{us / 1000000, us % 1000000};
}

}  // namespace

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
      {1, 30, 0.0, 0, 0, 33, false, false},
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
  EXPECT_EQ(effectiveTargetFps(60), 60u);
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

TEST(FramePacing, FramesStartOnTheScheduleOfTheSpanNotAfterThePreviousFrame) {
  FramePacer p;
  p.start(50, atMs(1000.0));
  const std::vector<double> starts = runChain(p, 1000.0, 3.0, 40);
  ASSERT_EQ(starts.size(), 40u);
  for (size_t n = 0; n < starts.size(); ++n) EXPECT_DOUBLE_EQ(starts[n], 1000.0 + 20.0 * n);
}

TEST(FramePacing, ALateFrameRestartsTheSpan) {
  FramePacer p;
  p.start(50, atMs(0.0));
  runChain(p, 0.0, 1.0, 5);  // frames at 0, 20, .., 80; the next is due at 100
  // Frame 5 starts at 100 and takes 27 ms: 7 ms past the due time of frame 6.
  const PacingResult late = p.afterTimerFrame(5, atMs(127.0));
  EXPECT_EQ(late.next, PacingResult::Next::Timer);
  EXPECT_EQ(late.delay, 0);
  EXPECT_EQ(p.lastDelay, -7);
  // The span restarted at 127: the next frame is due 20 ms later, not at once.
  EXPECT_EQ(p.afterTimerFrame(6, atMs(128.0)).delay, 19);
}

TEST(FramePacing, AMachineThatCannotKeepUpSwitchesToIdleAtChainValue20) {
  FramePacer p;
  p.start(50, atMs(0.0));
  PacingResult last{};
  const std::vector<double> starts = runChain(p, 0.0, 30.0, 100, &last);
  EXPECT_EQ(starts.size(), 21u);
  EXPECT_EQ(last.next, PacingResult::Next::Idle);
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
