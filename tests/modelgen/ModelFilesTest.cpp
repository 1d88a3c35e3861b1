#include <gtest/gtest.h>

#include <cfloat>
#include <sstream>

#include "ModelFiles.h"

using namespace zolt::modelgen;

// Node positions must read back as the very floats the refinement replica
// used.
TEST(ModelFiles, FloatTextIsTheShortestExactText) {
  const struct {
    float value;
    const char* text;  // null: only the round trip is checked
  } rows[] = {{0.0f, "0"},
              {-0.0f, "0"},
              {1.0f, "1"},
              {0.1f, "0.1"},
              {-0.45f, "-0.45"},
              {0.7f, "0.7"},
              {1e-8f, "1e-08"},
              {1.0f / 3.0f, "0.33333334"},
              {FLT_MAX, nullptr},
              {FLT_MIN, nullptr},
              {0.1f + 0.2f, nullptr},
              {12345.678f, nullptr}};
  for (const auto& row : rows) {
    const std::string text = floatText(row.value);
    float back = 0.0f;
    std::istringstream(text) >> back;  // as the node reader extracts it
    EXPECT_EQ(back, row.value) << text;
    if (row.text) {
      EXPECT_EQ(text, row.text);
    }
  }
}
