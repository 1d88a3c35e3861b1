#include "UniformTypes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {
const UniformArgs kArray = UniformArgs::FloatArray, kFloats = UniformArgs::Floats,
                  kInts = UniformArgs::Ints;
const UniformCall kF = UniformCall::Float, kI = UniformCall::Int, kNone = UniformCall::None;
}  // namespace

TEST(UniformTypes, DeclaredTypeChoosesCallAndComponents) {
  // Per declared type: the call for the array, float and int forms.
  const struct {
    GLenum type;
    int count;
    UniformCall array, floats, ints;
  } rows[] = {
      {GL_FLOAT, 1, kF, kF, kF},
      {GL_FLOAT_VEC2, 2, kF, kF, kF},
      {GL_FLOAT_VEC3, 3, kF, kF, kF},
      {GL_FLOAT_VEC4, 4, kF, kF, kF},
      {GL_INT, 1, kI, kI, kI},
      {GL_INT_VEC2, 2, kI, kI, kI},
      {GL_INT_VEC3, 3, kI, kI, kI},
      {GL_INT_VEC4, 4, kI, kI, kI},
      {GL_BOOL, 1, kF, kF, kI},
      {GL_BOOL_VEC2, 2, kF, kF, kI},
      {GL_BOOL_VEC3, 3, kF, kF, kI},
      {GL_BOOL_VEC4, 4, kF, kF, kI},
      {GL_SAMPLER_1D, 1, kI, kI, kI},
      {GL_SAMPLER_2D, 1, kI, kI, kI},
      {GL_SAMPLER_3D, 1, kI, kI, kI},
      {GL_SAMPLER_CUBE, 1, kI, kI, kI},
      {GL_SAMPLER_1D_SHADOW, 1, kI, kI, kI},
      {GL_SAMPLER_2D_SHADOW, 1, kI, kI, kI},
      {GL_SAMPLER_2D_RECT, 1, kI, kI, kI},
      {GL_SAMPLER_2D_RECT_SHADOW, 1, kI, kI, kI},
      {GL_FLOAT_MAT2, 0, kNone, kNone, kNone},
      {GL_FLOAT_MAT4, 0, kNone, kNone, kNone},
      {GL_SAMPLER_1D_ARRAY, 0, kNone, kNone, kNone},
      {GL_UNSIGNED_INT, 0, kNone, kNone, kNone},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.type);
    const UniformSetter a = uniformSetter(r.type, kArray), f = uniformSetter(r.type, kFloats),
                        i = uniformSetter(r.type, kInts);
    EXPECT_EQ(a.call, r.array);
    EXPECT_EQ(f.call, r.floats);
    EXPECT_EQ(i.call, r.ints);
    EXPECT_EQ(a.count, r.count);
    EXPECT_EQ(f.count, r.count);
    EXPECT_EQ(i.count, r.count);
  }
}

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
