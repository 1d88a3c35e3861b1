#include "ProgressBar.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Capture.h"

using zolt::test::captureStdout;

namespace {

const std::string BS7 = "\b\b\b\b\b\b\b";

std::string run(ProgressBar& bar, unsigned total, unsigned steps) {
  return captureStdout([&] {
    bar.setTitle("Work");
    bar.setTotal(total);
    bar.start();
    for (unsigned i = 0; i < steps; ++i) bar.step();
    bar.finish();
  });
}

}  // namespace

TEST(ProgressBarIO, TotalThreeShowsEveryThird) {
  ProgressBarIO bar;
  EXPECT_EQ(run(bar, 3, 3), "==>  Work    0.0 %" + BS7 + " 33.3 %" + BS7 + " 66.7 %" + BS7 +
                                "100.0 %" + BS7 + "100.0 %\n");
}

TEST(ProgressBarIO, TotalZeroCountsAsOne) {
  ProgressBarIO bar;
  EXPECT_EQ(run(bar, 0, 1), "==>  Work    0.0 %" + BS7 + "100.0 %" + BS7 + "100.0 %\n");
  EXPECT_EQ(bar.total, 1u);
}

TEST(ProgressBarIO, TotalTwoThousandCountsUpInTenths) {
  ProgressBarIO bar;
  std::string out = run(bar, 2000, 2000);
  const std::string head = "==>  Work    0.0 %", tail = BS7 + "100.0 %\n";
  ASSERT_EQ(out.substr(0, head.size()), head);
  ASSERT_EQ(out.substr(out.size() - tail.size()), tail);
  // Every update replaces exactly seven characters with the next value.
  std::string body = out.substr(head.size(), out.size() - head.size() - tail.size());
  ASSERT_EQ(body.size() % 14, 0u);
  double last = 0.0;
  size_t updates = body.size() / 14;
  for (size_t u = 0; u < updates; ++u) {
    ASSERT_EQ(body.substr(14 * u, 7), BS7);
    ASSERT_EQ(body.substr(14 * u + 12, 2), " %");
    double v = std::stod(body.substr(14 * u + 7, 5));
    // Single-precision rounding may skip a tenth, never more.
    EXPECT_GT(v, last + 0.05);
    EXPECT_LT(v, last + 0.25);
    last = v;
  }
  EXPECT_GE(last, 99.8);  // 100.0 itself may come only with finish
  EXPECT_GT(updates, 600u);
  EXPECT_LE(updates, 1000u);
}

TEST(ProgressBarIO, FirstUpdateOfTwoThousandComesWithSecondStep) {
  ProgressBarIO bar;
  std::string out = captureStdout([&] {
    bar.setTitle("T");
    bar.setTotal(2000);
    bar.start();
    bar.step();
  });
  EXPECT_EQ(out, "==>  T    0.0 %");
  out = captureStdout([&] { bar.step(); });
  EXPECT_EQ(out, BS7 + "  0.1 %");
}

TEST(ProgressBarIO, FinishEndsLineWhateverWasShown) {
  ProgressBarIO bar;
  EXPECT_EQ(run(bar, 10, 4), "==>  Work    0.0 %" + BS7 + " 10.0 %" + BS7 + " 20.0 %" + BS7 +
                                 " 30.0 %" + BS7 + " 40.0 %" + BS7 + "100.0 %\n");
}

TEST(ProgressBarIO, RestartResetsCounters) {
  ProgressBarIO bar;
  run(bar, 4, 4);
  run(bar, 4, 1);
  EXPECT_EQ(bar.count, 1u);
  EXPECT_FLOAT_EQ(bar.percent, 25.0f);
}
