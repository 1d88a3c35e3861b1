#include <gtest/gtest.h>

#include <cfloat>
#include <fstream>
#include <sstream>

#include "ModelFiles.h"
#include "ModelgenTesting.h"

using namespace zolt::modelgen;
using zolt::modelgen::test::freshDirectory;

TEST(ModelFiles, FloatTextIsTheShortestExactText) {
  const struct {
    float value;
    const char* text;  // null: only the round trip is checked
  } rows[] = {{0.0f, "0"},        {-0.0f, "0"},           {1.0f, "1"},
              {0.1f, "0.1"},      {-0.45f, "-0.45"},      {1.0f / 3.0f, "0.33333334"},
              {0.7f, "0.7"},      {1e-8f, "1e-08"},       {FLT_MAX, nullptr},
              {FLT_MIN, nullptr}, {0.1f + 0.2f, nullptr}, {12345.678f, nullptr}};
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

TEST(ModelFiles, ParamsAndSurfaceFilesReadBackAsWritten) {
  const std::string dir = freshDirectory("ModelFilesRead");
  ASSERT_TRUE(writeParamsFile(dir + "m.params", 3, 10, {0, 4, 9}));
  std::ifstream params(dir + "m.params");
  unsigned nElements = 0, nVertices = 0, nFixed = 0;
  params >> nElements;
  float stiffness = 0, density = 0;
  for (unsigned e = 0; e < nElements; ++e) {
    params >> stiffness >> density;
    EXPECT_EQ(stiffness, 1.0f);
    EXPECT_EQ(density, 1.0f);
  }
  params >> nVertices >> nFixed;
  std::vector<int> fixed(nFixed);
  for (int& v : fixed) params >> v;
  EXPECT_TRUE(params);
  EXPECT_EQ(nElements, 3u);
  EXPECT_EQ(nVertices, 10u);
  EXPECT_EQ(fixed, (std::vector<int>{0, 4, 9}));

  TriangleSurface s;
  s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  s.triangles = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  ASSERT_TRUE(writeSurfaceFile(dir + "s.obj", s, {{0, 0}, {1, 0}, {0, 1}, {0.5, 0.25}}));
  std::ifstream surface(dir + "s.obj");
  std::string line;
  int v = 0, vt = 0, f = 0;
  while (std::getline(surface, line)) {
    float a, b, c;
    int i[6];
    if (std::sscanf(line.c_str(), "v %f %f %f", &a, &b, &c) == 3) {
      EXPECT_EQ(a, s.vertices[v].x);
      EXPECT_EQ(b, s.vertices[v].y);
      EXPECT_EQ(c, s.vertices[v].z);
      ++v;
    } else if (std::sscanf(line.c_str(), "vt %f %f", &a, &b) == 2) {
      ++vt;
    } else if (std::sscanf(line.c_str(), "f %d/%d %d/%d %d/%d", i, i + 1, i + 2, i + 3, i + 4,
                           i + 5) == 6) {
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(i[2 * k], s.triangles[f][k] + 1);
        EXPECT_EQ(i[2 * k + 1], i[2 * k]);  // one texture coordinate per vertex
      }
      ++f;
    }
  }
  EXPECT_EQ(v, 4);
  EXPECT_EQ(vt, 4);
  EXPECT_EQ(f, 4);
}

TEST(ModelFiles, UnwritablePathIsReported) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writeTextFile("/nonexistent-dir/x.config", "LEVEL 1\n"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("[ModelFiles, writeTextFile] Error"),
            std::string::npos);
}
