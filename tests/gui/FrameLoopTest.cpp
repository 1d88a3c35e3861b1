// The frame loop without a window: pacing, the frame-rate counter and
// title, the status line, the model list, the window layout, the GUI block,
// and the worker hand-off (under ThreadSanitizer too).

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Capture.h"
#include "FpsCounter.h"
#include "FramePacing.h"
#include "GuiSettings.h"
#include "ModelList.h"
#include "StatusText.h"
#include "StepWorker.h"
#include "TempDir.h"
#include "WindowLayout.h"

namespace {

timeval atMs(double ms) {
  const long us = static_cast<long>(ms * 1000.0);
  return timeval{us / 1000000, us % 1000000};
}

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

TEST(FpsCounter, RateOverEachIntervalLongerThan999Ms) {
  // {frames counted at the start, time of the checking call, shown, rate}
  const struct {
    int frames;
    long atMs;
    bool shown;
    float fps;
  } rows[] = {{30, 1200, true, 25.0f},
              {30, 999, false, 0.0f},
              {10, 1000, true, 10.0f},
              {1, 4000, true, 0.25f},
              {0, 1500, true, 0.0f}};
  for (const auto& r : rows) {
    FpsCounter c;
    c.start(atMs(7000));
    for (int i = 0; i < r.frames; ++i) ASSERT_FALSE(c.count(atMs(7000)));
    EXPECT_EQ(c.count(atMs(7000 + r.atMs)), r.shown) << r.frames << " frames at " << r.atMs;
    if (!r.shown) continue;
    EXPECT_FLOAT_EQ(c.fps, r.fps);
    char title[kTitleSize];
    formatFpsTitle(title, sizeof title, "ZOLT v0.1 (Dec 2026) ", c.fps, "No Force");
    EXPECT_TRUE(r.frames != 30 ||
                std::string(title) == "ZOLT v0.1 (Dec 2026)  @ 25.00 fps -- No Force")
        << title;
  }
  // The mark moves to the showing call, which counts into the next interval.
  FpsCounter c;
  c.start(atMs(0));
  ASSERT_TRUE(c.count(atMs(1500)));
  EXPECT_FALSE(c.count(atMs(2499)));
  ASSERT_TRUE(c.count(atMs(2500)));  // the frames at 1500 and 2499
  EXPECT_FLOAT_EQ(c.fps, 2.0f);
}

// The force and gravity parts are checked through the control object; here
// the recording marks, which only these lines carry.
TEST(StatusText, RecordingMarksFollowTheLine) {
  char out[kStatusSize];
  formatStatus(out, sizeof out, {true, 0.5f, true, true, 0.123456, true, true});
  EXPECT_STREQ(out, "5.000e-01 N -- Gravity -- maxu: 0.1235 -- REC DISP -- REC EVENTS");
  formatStatus(out, sizeof out, {false, 0.0f, false, false, 0.0, false, true});
  EXPECT_STREQ(out, "No Force -- No Gravity -- REC EVENTS");
}

TEST(StatusText, ADivergingBodyIsCutAtTheBufferEnd) {
  // Guard bytes around the status buffer catch a write past its end.
  char frame[kStatusSize + 32];
  std::memset(frame, '#', sizeof frame);
  char* out = frame + 16;
  StatusFields f;
  f.hasSimulation = true;
  f.maxDisplacement = 1e200;
  f.recordDisplacements = true;
  formatStatus(out, kStatusSize, f);
  EXPECT_EQ(std::strlen(out), kStatusSize - 1);
  const std::string line(out);
  EXPECT_EQ(line.substr(0, 32), "No Force -- No Gravity -- maxu: ");
  EXPECT_EQ(line.find_first_not_of("0123456789", 32), std::string::npos);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(frame[i], '#');
  for (size_t i = 16 + kStatusSize; i < sizeof frame; ++i) EXPECT_EQ(frame[i], '#');

  char title[kTitleSize];
  formatFpsTitle(title, sizeof title, "ZOLT v0.1 (date) ", 19.5f, out);
  EXPECT_EQ(std::string(title).rfind("ZOLT v0.1 (date)  @ 19.50 fps -- No Force", 0), 0u);
  char shortTitle[24];
  formatFpsTitle(shortTitle, sizeof shortTitle, "ZOLT", 1e30f, out);
  EXPECT_EQ(std::strlen(shortTitle), sizeof shortTitle - 1);
}

TEST(ModelList, ListsConfigNamesWithoutSuffixSortedByBytes) {
  zolt::test::TempDir dir;
  for (const char* name : {"a.config", "b.txt", "B.config", ".config", "c.config.bak", "config",
                           "bunnyFur.config", "bunny.config"})
    dir.write(name, "x");
  const std::vector<std::string> expected = {"B", "a", "bunny", "bunnyFur"};
  EXPECT_EQ(listFiles(dir.path.c_str(), ".config"), expected);
  EXPECT_TRUE(listFiles(dir.file("missing").c_str(), ".config").empty());
}

TEST(ModelList, SelectionMatchesOnlyTheExactName) {
  const std::vector<std::string> list = {"bunny", "bunnyFur", "bunnyFurTex"};
  for (const char* name : {"bunnyF", "bunnyFurTexX", "", "Bunny"})
    EXPECT_EQ(modelListIndex(list, name), 0) << name;
  EXPECT_EQ(modelListIndex(list, "bunnyFur"), 2);
  for (int outside : {0, 4, -1}) EXPECT_EQ(modelListEntry(list, outside), "");
}

TEST(ModelList, ElementModelAndSchemeTables) {
  const int elementModels[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 0}, {-1, 0}};
  for (const auto& r : elementModels) EXPECT_EQ(elementModelForChoice(r[0]), r[1]) << r[0];
  const int schemes[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 5}, {5, 4}, {6, 0}, {-2, 0}};
  for (const auto& r : schemes) EXPECT_EQ(schemeForSelection(r[0]), r[1]) << r[0];
}

TEST(WindowLayout, SizeByScreenStrictlyLargerAndCentred) {
  // screen w, h -> window w, h, x, y
  const int rows[][6] = {{1280, 1024, 1024, 768, 128, 128}, {1024, 768, 800, 600, 112, 84},
                         {1025, 769, 1024, 768, 0, 0},      {1920, 700, 1024, 600, 448, 50},
                         {640, 480, 800, 600, -80, -60},    {801, 601, 800, 600, 0, 0}};
  for (const auto& r : rows) {
    const WindowLayout l = windowLayoutForScreen(r[0], r[1]);
    EXPECT_EQ(std::vector<int>({l.width, l.height, l.x, l.y}), std::vector<int>(r + 2, r + 6))
        << r[0] << "x" << r[1];
  }
}

const uint8_t* bytes(const GuiSettings& g) { return reinterpret_cast<const uint8_t*>(&g); }

template <class T>
T wordAs(const GuiSettings& g, int k, int byteOffset = 0) {
  T value;
  std::memcpy(&value, bytes(g) + 4 * k + byteOffset, sizeof value);
  return value;
}

void scramble(GuiSettings& g) { std::memset(static_cast<void*>(&g), 0xA5, sizeof g); }

// Every byte of the state (the block, the change bytes and the mouse bytes,
// up to the padding before lastMouseX) is defined: equal to a fresh block.
TEST(GuiSettings, DefaultsDefineEveryByteOfTheState) {
  scramble(guiSettings);
  initGuiDefaults();
  const GuiSettings fresh;
  EXPECT_EQ(std::memcmp(&guiSettings, &fresh, 4 * kGuiWordCount + 10), 0);
}

// The block as the drawing code sees it: word k read raw from byte 4 k, by
// the word numbers of the layout table rather than field names.
TEST(GuiSettings, ANewModelKeepsTheWindowWordsAndResetsTheRest) {
  GuiSettings g;
  scramble(g);
  resetGuiForNewModel(g);
  const GuiSettings fresh;
  // Words kept by number: full screen, separate panel window, frame light
  // position and the word after it, window size.
  const std::set<int> kept = {3, 26, 51, 52, 53, 54, 59, 60};
  for (int k = 0; k < kGuiWordCount; ++k) {
    uint32_t expected;
    if (kept.count(k))
      expected = 0xA5A5A5A5u;
    else if (k == 25)
      expected = 0;  // panelAutoHide is switched off
    else
      std::memcpy(&expected, bytes(fresh) + 4 * k, 4);
    EXPECT_EQ(wordAs<uint32_t>(g, k), expected) << "word " << k;
  }
  for (int b = 0; b < 10; ++b) EXPECT_EQ(wordAs<uint8_t>(g, kGuiWordCount, b), 0) << b;
  // The last mouse position lives outside the block and is kept.
  EXPECT_EQ(static_cast<uint32_t>(g.lastMouseX), 0xA5A5A5A5u);
}

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
      EXPECT_EQ(err, "[Threads, constructor] Error: Thread creation failed (Err: 11)!\n");
    }
    for (int frame = 0; frame < 200; ++frame) worker.frame(c.useWorker);
    EXPECT_EQ(parts.steps, 200);
    ASSERT_EQ(parts.order.size(), 600u);
    for (size_t i = 0; i < parts.order.size(); i += 3)
      ASSERT_EQ(std::string(&parts.order[i], 3), "spr") << "frame " << i / 3;
  }
}

}  // namespace
