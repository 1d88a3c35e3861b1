// The window size and position chosen for a screen.

#include <gtest/gtest.h>

#include <vector>

#include "WindowLayout.h"

namespace {

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

}  // namespace
