#include "UniformTypes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

TEST(UniformTypes, FloatsTruncateTowardZeroWithinIntRange) {
  const struct {
    float in;
    int out;
  } rows[] = {{2.9f, 2},           {-2.9f, -2},      {0.999f, 0},
              {-0.5f, 0},          {1e10f, INT_MAX}, {-1e10f, INT_MIN},
              {INFINITY, INT_MAX}, {NAN, 0},         {16777216.0f, 16777216}};
  for (const auto& r : rows) EXPECT_EQ(truncateToInt(r.in), r.out) << r.in;
}

TEST(UniformTypes, NamesMatchArraysByBaseName) {
  const struct {
    const char* active;
    const char* wanted;
    bool match;
  } rows[] = {
      {"shadowMap", "shadowMap", true},   {"shadowMap", "shadowMa", false},
      {"shadowMa", "shadowMap", false},   {"weights[0]", "weights", true},
      {"weights[0]", "weights[3]", true}, {"weights[0]", "weight", false},
      {"light.pos", "light.pos", true},   {"lights[0].pos", "lights[1].pos", false},
  };
  for (const auto& r : rows)
    EXPECT_EQ(uniformNameMatches(r.active, r.wanted), r.match) << r.active << " / " << r.wanted;
}
