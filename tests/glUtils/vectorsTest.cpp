#include "vectors.h"

#include <gtest/gtest.h>

TEST(VECTOR3, IndexOutOfRangeStops) {
  VECTOR3<float> v(1.0f, 2.0f, 3.0f);
  v[1] += v[2];
  EXPECT_EQ(v[1], 5.0f);
  const VECTOR3<float>& c = v;
  EXPECT_DEATH(v[3] = 0.0f, "Assertion `i<3' failed");
  EXPECT_DEATH((void)c[7], "Assertion `i<3' failed");
}
