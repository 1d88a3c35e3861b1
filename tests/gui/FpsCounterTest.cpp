#include <gtest/gtest.h>

#include "FpsCounter.h"
#include "StatusText.h"

namespace {

timeval atMs(long ms) { return timeval{ms / 1000, (ms % 1000) * 1000}; }

}  // namespace

TEST(FpsCounter, RateOverEachIntervalLongerThan999Ms) {
  struct Row {
    int frames;  // counted at the start, before the checking call
    long atMs;   // time of the checking call
    bool shown;
    float fps;
  };
  const Row rows[] = {
      {30, 1200, true, 25.0f}, {30, 999, false, 0.0f}, {10, 1000, true, 10.0f},
      {60, 1000, true, 60.0f}, {1, 4000, true, 0.25f}, {0, 1500, true, 0.0f},
  };
  for (const Row& r : rows) {
    FpsCounter c;
    c.start(atMs(7000));
    for (int i = 0; i < r.frames; ++i) ASSERT_FALSE(c.count(atMs(7000)));
    EXPECT_EQ(c.count(atMs(7000 + r.atMs)), r.shown) << r.frames << " frames at " << r.atMs;
    if (r.shown) {
      EXPECT_FLOAT_EQ(c.fps, r.fps);
    }
    if (r.frames == 30 && r.shown) {
      char title[kTitleSize];
      formatFpsTitle(title, sizeof title, "ZOLT v0.1 (Dec 2026) ", c.fps, "No Force");
      EXPECT_STREQ(title, "ZOLT v0.1 (Dec 2026)  @ 25.00 fps -- No Force");
    }
  }
}

TEST(FpsCounter, TheMarkMovesToTheShowingCallWhichCountsIntoTheNextInterval) {
  FpsCounter c;
  c.start(atMs(0));
  ASSERT_TRUE(c.count(atMs(1500)));
  EXPECT_FALSE(c.count(atMs(2499)));
  ASSERT_TRUE(c.count(atMs(2500)));  // the frames at 1500 and 2499
  EXPECT_FLOAT_EQ(c.fps, 2.0f);
}
