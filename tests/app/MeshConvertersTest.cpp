#include <gtest/gtest.h>

#include <functional>

#include "Capture.h"
#include "Converters.h"
#include "ToolFiles.h"

using namespace zolt::test;

TEST(MeshConverters, RewriteKeepsTheFirstAttributeAndCountsFromZero) {
  const struct {
    const char *node, *ele, *expected;
  } rows[] = {
      {"4 3 0 2\n1 0 0 0 7 8\n2 1.5 0 0 9 10\n3 0 1 0 11 12\n4 0 0 -1 13 14\n",
       "2 4 1\n1 1 2 3 4 8\n2 4 3 2 1 0\n",
       "4 2\n0 0 0 7\n1.5 0 0 9\n0 1 0 11\n0 0 -1 13\n0 1 2 3\n3 2 1 0\n"},
      {"1 3 0 0\n1 2 3 4\n", "0 4 0\n", "1 0\n2 3 4 0\n"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    dir.write("in.node", r.node);
    dir.write("in.ele", r.ele);
    ASSERT_TRUE(rewriteNodeEle(dir.file("in"), dir.file("out")));
    EXPECT_EQ(readFile(dir.file("out")), r.expected);
  }
}

TEST(MeshConverters, MergeAppendsTheSecondMeshShiftedPerLevel) {
  // Two levels with face masks; the same base is merged with itself.
  const char node[] =
      "4 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 0 1 0 0\n4 0 0 1 0\n"
      "5 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 0 1 0 0\n4 0 0 1 0\n5 -1 0.5 -0.25 0\n";
  const char ele[] = "1 4 1\n1 1 2 3 4 8\n2 4 1\n1 1 2 3 4 1\n2 5 1 3 4 2\n";
  const struct {
    float offset[3], scaleA, scaleB;
  } rows[] = {{{0, 0, 0}, 1, 1}, {{3, -1, 0.5f}, 2, 0.5f}, {{0, 0, 2e38f}, -3e38f, 1e38f}};
  for (const auto& r : rows) {
    TempDir dir;
    const std::string base = dir.file("base");
    dir.write("base.node", node);
    dir.write("base.ele", ele);
    EXPECT_EQ(
        captureStdout([&] {
          EXPECT_TRUE(convertMeshA(2, r.offset, r.scaleA, r.scaleB, dir.file("m"), base, base));
        }),
        "Read: " + base + "\nRead: " + base + "\n");
    const auto in = blocks(node, true), inEle = blocks(ele, false);
    const auto out = blocks(readFile(dir.file("m.node")), true);
    const auto outEle = blocks(readFile(dir.file("m.ele")), false);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(outEle.size(), 2u);
    for (size_t l = 0; l < 2; ++l) {
      const size_t n = in[l].v.size(), m = inEle[l].v.size();
      ASSERT_EQ(out[l].v.size(), 2 * n);
      ASSERT_EQ(outEle[l].v.size(), 2 * m);
      for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(out[l].number[n + i], long(n + i));
        for (size_t k = 0; k < 3; ++k) {
          EXPECT_FLOAT_EQ(out[l].v[i][k], r.scaleA * in[l].v[i][k]);
          EXPECT_FLOAT_EQ(out[l].v[n + i][k], r.scaleB * in[l].v[i][k] + r.offset[k]);
        }
      }
      for (size_t e = 0; e < m; ++e) {
        EXPECT_EQ(outEle[l].number[m + e], long(m + e));
        for (size_t k = 0; k < 4; ++k) EXPECT_EQ(outEle[l].v[m + e][k], inEle[l].v[e][k] + n);
        EXPECT_EQ(outEle[l].v[e], inEle[l].v[e]);
        EXPECT_EQ(outEle[l].v[m + e][4], inEle[l].v[e][4]);  // face mask
      }
    }
  }
}

TEST(MeshConverters, MinMaxKeepsTheMiddleElementsWithClosedBoundsAndStackMakesLevels) {
  TempDir dir;
  // x and z span 0..10: kept are x in [3, 7] and z in [4, 6].
  const std::string in = dir.write("pts",
                                   "# points\n5\n0 -1 0 0.5 9 9 9 9 9\n10 1 10 1.5 9 9 9 9 9\n"
                                   "5 0 5 2.5 0 0 0 0 0\n7 0 6 3.5 0 0 0 0 0\n"
                                   "7.1 0 5 4.5 0 0 0 0 0\n3\n2 3 2 3\n2 3 4 2\n0 2 3 2\n");
  EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(convertMeshMinMax(dir.file("mm"), in)); }),
            "Read: " + in + "\nmin: 0; -1; 0\nmax: 10; 1; 10\n");
  EXPECT_EQ(readFile(dir.file("mm.ele")), "1 4 0\n1 3 4 3 4\n");
  EXPECT_EQ(blocks(readFile(dir.file("mm.node")), true)[0].v[4],
            (std::vector<double>{7.1, 0, 5, 4.5}));

  const std::string a = dir.write("a", "4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n1\n9 1 2 3 4\n");
  const std::string b = dir.write("b", "2\n0 0 0\n# apex\n-2 0 0\n2\n0 1 2 1 2\n0 2 1 2 1\n");
  captureStdout([&] { EXPECT_TRUE(convertMeshC(dir.file("s"), {a, b})); });
  EXPECT_EQ(
      readFile(dir.file("s.node")),
      "4 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 0 1 0 0\n4 0 0 1 0\n2 3 0 1\n1 0 0 0 0\n2 -2 0 0 0\n");
  EXPECT_EQ(readFile(dir.file("s.ele")), "1 4 0\n1 1 2 3 4\n2 4 0\n1 1 2 1 2\n2 2 1 2 1\n");
}

TEST(MeshConverters, MalformedInputIsRefusedWithOneLineAndNoOutput) {
  using Run = std::function<bool(const TempDir&)>;
  const Run rewrite = [](const TempDir& d) { return rewriteNodeEle(d.file("in"), d.file("out")); };
  const Run merge = [](const TempDir& d) {
    const float zero[3] = {0, 0, 0};
    return convertMeshA(2, zero, 1, 1, d.file("out"), d.file("in"), d.file("in"));
  };
  const auto mergeWith = [](float oz, float scaleA, float scaleB) -> Run {
    return [=](const TempDir& d) {
      const float offset[3] = {0, 0, oz};
      return convertMeshA(1, offset, scaleA, scaleB, d.file("out"), d.file("in"), d.file("in"));
    };
  };
  const Run minmax = [](const TempDir& d) {
    return convertMeshMinMax(d.file("out"), d.file("in.node"));
  };
  const Run stack = [](const TempDir& d) {
    return convertMeshC(d.file("out"), {d.file("in.node")});
  };
  const char tet[] = "4 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 0 1 0 0\n4 0 0 1 0\n";
  const char pts[] = "1\n0 0 0 1 0 0 0 0 0\n";
  const struct {
    const char* method;
    Run run;
    std::string node;
    const char *ele, *file, *what;
  } rows[] = {
      {"rewriteNodeEle", rewrite, "3 3 0 0\n1 0 0 0\n2 1 0 0\n", "", "in.node",
       "vertex 3: the file ends before it"},
      {"rewriteNodeEle", rewrite, "-2 3 0 0\n", "", "in.node", "vertex count -2 is negative"},
      {"rewriteNodeEle", rewrite, "2000000000 3 0 0\n1 0 0 0\n", "", "in.node",
       "vertex count 2000000000 exceeds the file"},
      {"rewriteNodeEle", rewrite, tet, "1 3 0\n1 1 2 3\n", "in.ele", "corner count: 3, expected 4"},
      {"convertMeshA", merge, tet, "1 4 1\n1 1 2 3 4 0\n", "in.node",
       "level 1 vertex count: the file ends before it"},
      {"convertMeshA", merge, tet, "1 4 1\n1 1 2 0 4 0\n", "in.ele",
       "level 0 element 1: vertex number 0 out of range 1..4"},
      {"convertMeshA", merge, tet, "1 4 2\n1 1 2 3 4 0 0\n", "in.ele",
       "level 0 extra count: 2 not allowed"},
      // Coordinates past the float range, or a mesh collapsed to a point.
      {"convertMeshA", mergeWith(3.4e38f, 1, 1e38f), tet, "1 4 0\n1 1 2 3 4\n", "in.node",
       "level 0 vertex 4: scaleB 1e+38 with oz 3.4e+38 gives a coordinate that is not finite"},
      {"convertMeshA", mergeWith(0, 1e38f, 1), "2 3 0 1\n1 0 0 0 0\n2 0 -20 0 0\n",
       "1 4 0\n1 1 2 1 2\n", "in.node",
       "level 0 vertex 2: scaleA 1e+38 gives a coordinate that is not finite"},
      {"convertMeshA", mergeWith(0, 0, 1), tet, "1 4 0\n1 1 2 3 4\n", "in.node",
       "scaleA 0 collapses the mesh to a point"},
      {"convertMeshA", mergeWith(0, 1, -0.0f), tet, "1 4 0\n1 1 2 3 4\n", "in.node",
       "scaleB 0 collapses the mesh to a point"},
      {"convertMeshMinMax", minmax, "1\n0 0 0 1 0 0 0 0 zz\n", "", "in.node",
       "vertex 1: not nine numbers"},
      {"convertMeshMinMax", minmax, std::string(pts) + "1\n0 0 1 0\n", "", "in.node",
       "element 1: vertex number 1 out of range 0..0"},
      {"convertMeshMinMax", minmax, std::string(pts) + "100\n0 0 0 0\n", "", "in.node",
       "element count 100 exceeds the file"},
      {"convertMeshC", stack, "1\n0 0 0\nmany\n", "", "in.node",
       "element count: not a number in range"},
      {"convertMeshC", stack, "", "", "in.node", "cannot be opened"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    if (!r.node.empty()) dir.write("in.node", r.node);
    dir.write("in.ele", r.ele);
    bool ok = true;
    const std::string err = captureStderr([&] { captureStdout([&] { ok = r.run(dir); }); });
    EXPECT_FALSE(ok) << r.what;
    EXPECT_EQ(err, std::string("[Converters, ") + r.method + "] Error: " + dir.file(r.file) + ": " +
                       r.what + "\n");
    EXPECT_FALSE(exists(dir, "out") || exists(dir, "out.node") || exists(dir, "out.ele")) << r.what;
  }
}
