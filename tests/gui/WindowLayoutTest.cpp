#include <gtest/gtest.h>

#include "WindowLayout.h"

TEST(WindowLayout, SizeByScreenStrictlyLargerAndCentred) {
  const int rows[][6] = {
      // screen w, h -> window w, h, x, y
      {1280, 1024, 1024, 768, 128, 128}, {1024, 768, 800, 600, 112, 84},
      {1025, 769, 1024, 768, 0, 0},      {1920, 700, 1024, 600, 448, 50},
      {640, 480, 800, 600, -80, -60},    {801, 601, 800, 600, 0, 0},
  };
  for (const auto& r : rows) {
    const WindowLayout l = windowLayoutForScreen(r[0], r[1]);
    EXPECT_EQ(l.width, r[2]) << r[0] << "x" << r[1];
    EXPECT_EQ(l.height, r[3]) << r[0] << "x" << r[1];
    EXPECT_EQ(l.x, r[4]) << r[0] << "x" << r[1];
    EXPECT_EQ(l.y, r[5]) << r[0] << "x" << r[1];
  }
}
