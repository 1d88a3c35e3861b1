#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FpsCounter.h"

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

TEST(FpsCounter, TitleFormatAndBound) {
  char out[512];
  formatFpsTitle(out, sizeof out, "ZOLT v0.1 (2026) ", 25.0f, "No Force -- No Gravity");
  EXPECT_STREQ(out, "ZOLT v0.1 (2026)  @ 25.00 fps -- No Force -- No Gravity");
  const std::string longStatus(2000, 'x');
  std::memset(out, '#', sizeof out);
  formatFpsTitle(out, 64, "T", 1e30f, longStatus.c_str());
  EXPECT_EQ(std::strlen(out), 63u);
  EXPECT_EQ(out[64], '#');
}
