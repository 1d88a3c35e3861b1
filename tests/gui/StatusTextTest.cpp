// The status line and the window title.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "StatusText.h"

namespace {

// The force and gravity parts are checked through the control object; here
// the recording marks, which only these lines carry.
TEST(StatusText, RecordingMarksFollowTheLine) {
  char out[kStatusSize];
  formatStatus(out, sizeof out, {true, 0.5f, true, true, 0.123456, true, true});
  EXPECT_STREQ(out, "5.000e-01 N -- Gravity -- maxu: 0.1235 -- REC DISP -- REC EVENTS");
  formatStatus(out, sizeof out, {false, 0.0f, false, false, 0.0, false, true});
  EXPECT_STREQ(out, "No Force -- No Gravity -- REC EVENTS");
}

TEST(StatusText, ANaNDisplacementReadsNan) {
  for (const auto& [value, line] : {std::pair{std::nan(""), "nan"}, std::pair{-std::nan(""), "nan"},
                                    std::pair{HUGE_VAL, "inf"}}) {
    char out[kStatusSize];
    formatStatus(out, sizeof out, {false, 0.0f, false, true, value, false, false});
    EXPECT_EQ(std::string(out), std::string("No Force -- No Gravity -- maxu: ") + line);
  }
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

}  // namespace
