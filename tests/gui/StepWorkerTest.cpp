// The worker hand-off of each frame's step (under ThreadSanitizer too).

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "Capture.h"
#include "StepWorker.h"

namespace {

// A control that counts. The counters are plain ints on purpose: without
// the hand-off's ordering ThreadSanitizer reports them as races.
class CountingParts : public FrameParts {
 public:
  int prepared = 0;  // frames prepared (main thread)
  int steps = 0;     // steps taken (worker)
  int presented = 0;
  int staleSteps = 0;  // steps that did not see their frame's data
  std::atomic<bool> inStep{false};
  std::atomic<int> overlaps{0};
  std::vector<char> order;  // inline runs only: s, p, d (direct) or r (redisplay)
  bool recordOrder = false;

  void prepare() override {
    if (inStep) ++overlaps;
    ++prepared;
    if (recordOrder) order.push_back('p');
  }
  void step() override {
    inStep = true;
    if (steps + 1 != prepared && !recordOrder) ++staleSteps;
    volatile double work = 0;  // long enough to overlap the drawing
    for (int i = 0; i < 2000; ++i) work = work + i;
    ++steps;
    if (recordOrder) order.push_back('s');
    inStep = false;
  }
  void present(bool direct) override {
    ++presented;
    if (recordOrder) order.push_back(direct ? 'd' : 'r');
  }
};

int failWithEagain(pthread_t*, const pthread_attr_t*, Threads::Routine, void*) { return EAGAIN; }

TEST(StepWorker, TwoHundredFramesGiveTwoHundredStepsThatNeverOverlapTheUpdate) {
  Threads threads;
  CountingParts parts;
  StepWorker worker(threads);
  ASSERT_TRUE(worker.start(&parts));
  for (int frame = 1; frame <= 200; ++frame) {
    worker.frame(true);
    // After a frame the worker is idle: its count is readable without a lock.
    ASSERT_EQ(parts.steps, frame);
  }
  EXPECT_EQ(parts.prepared, 200);
  EXPECT_EQ(parts.presented, 200);
  EXPECT_EQ(parts.overlaps, 0);
  EXPECT_EQ(parts.staleSteps, 0);
  worker.stop();
  EXPECT_FALSE(threads.running);
  EXPECT_EQ(parts.steps, 200);  // stopping takes no extra step
}

TEST(StepWorker, WithoutAWorkerFramesStepInlineInsteadOfWaiting) {
  struct Case {
    bool failCreation;
    bool useWorker;
  } cases[] = {{true, true}, {false, false}};
  for (const Case& c : cases) {
    Threads threads;
    CountingParts parts;
    parts.recordOrder = true;
    StepWorker worker(threads);
    if (c.failCreation) Threads::createThread = failWithEagain;
    std::string err;
    bool started = false;
    err = zolt::test::captureStderr([&] { started = worker.start(&parts); });
    Threads::createThread = pthread_create;
    EXPECT_EQ(started, !c.failCreation);
    if (c.failCreation) {
      EXPECT_EQ(err,
                "[StepWorker, start] Warning: The step thread could not be created (Err: 11);"
                " frames step on this thread\n");
    }
    for (int frame = 0; frame < 200; ++frame) worker.frame(c.useWorker);
    EXPECT_EQ(parts.steps, 200);
    ASSERT_EQ(parts.order.size(), 600u);
    for (size_t i = 0; i < parts.order.size(); i += 3)
      ASSERT_EQ(std::string(&parts.order[i], 3), "spr") << "frame " << i / 3;
  }
}

}  // namespace
