// The frame-rate counter and the title it is shown in.

#include <gtest/gtest.h>

#include <string>

#include "ClockTime.h"
#include "FpsCounter.h"
#include "StatusText.h"

using zolt::test::atMs;

namespace {

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

}  // namespace
