#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "BinaryIO.h"
#include "Capture.h"
#include "Converters.h"
#include "ToolFiles.h"

using namespace zolt::test;
namespace bin = zolt::bin;

namespace {

// Levels of u16 indices over i16 coordinates, as the surface file stores them.
std::string surfaceFile(int levels, const std::vector<int16_t>& x,
                        const std::vector<std::vector<uint16_t>>& index) {
  std::ostringstream s;
  bin::writeU8(s, uint8_t(levels));
  bin::writeU8(s, 0);
  bin::writeU32(s, uint32_t(x.size()));
  for (int16_t v : x) bin::writeI16(s, v);
  for (const auto& level : index) {
    bin::writeU32(s, uint32_t(level.size()));
    for (uint16_t i : level) bin::writeU16(s, i);
  }
  return s.str();
}

const std::vector<int16_t> kCoordinates = {1, 2, 3, -4, 5, -6, 7, -32768, 9, 10, 11, 12};

// The orientation rule written as a walk over the stored triangles.
int literalCase(std::vector<std::array<int, 3>>& list, int a, int b, int c) {
  auto holds = [](const std::array<int, 3>& t, int from, int to) {
    for (int k = 0; k < 3; ++k)
      if (t[k] == from && t[(k + 1) % 3] == to) return true;
    return false;
  };
  for (const auto& t : list) {
    const int kase = holds(t, a, b) ? 1 : holds(t, c, a) ? 2 : holds(t, b, c) ? 3 : 0;
    if (kase == 0) continue;
    list.push_back(kase == 1   ? std::array<int, 3>{b, a, c}
                   : kase == 2 ? std::array<int, 3>{c, b, a}
                               : std::array<int, 3>{a, c, b});
    return kase;
  }
  list.push_back({a, b, c});
  return 0;
}

}  // namespace

TEST(SurfaceConverters, LevelsNegateYAndSizeNodesByTheLargestIndex) {
  TempDir dir;
  const std::string in =
      dir.write("s.bin", surfaceFile(2, kCoordinates, {{0, 2, 1}, {0, 1, 3, 3, 1, 0}}));
  const std::string out =
      captureStdout([&] { EXPECT_TRUE(convertSurfaceLevels(in, dir.file("o"))); });
  EXPECT_EQ(out, "#Levels: 2\n#Vertices: 12\n#Triangles: 3\n#Triangles: 6\n");
  EXPECT_EQ(readFile(dir.file("o.ele")), "1 3 0\n1 1 3 2\n2 3 0\n1 1 2 4\n2 4 2 1\n");
  EXPECT_EQ(readFile(dir.file("o.node")),
            "3 3 0 1\n1 1 -2 3 0\n2 -4 -5 -6 0\n3 7 32768 9 0\n"
            "4 3 0 1\n1 1 -2 3 0\n2 -4 -5 -6 0\n3 7 32768 9 0\n4 10 -11 12 0\n");
}

TEST(SurfaceConverters, MalformedLevelsAreRefused) {
  const std::string good = surfaceFile(1, kCoordinates, {{0, 1, 2}});
  const struct {
    std::string bytes;
    const char* what;
  } rows[] = {
      {good.substr(0, 4), "header ends early"},
      {surfaceFile(1, {1, 2, 3, 4}, {{0, 0, 0}}), "coordinate count 4 is no multiple of 3"},
      {good.substr(0, 6 + 2 * 11), "coordinate count 12 exceeds the file"},
      {surfaceFile(2, kCoordinates, {{0, 1, 2}}), "level 1 index count: the file ends before it"},
      {surfaceFile(1, kCoordinates, {{0, 1}}), "level 0 index count 2 is no multiple of 3"},
      {good.substr(0, good.size() - 1), "level 0 index count 3 exceeds the file"},
      {surfaceFile(1, kCoordinates, {{0, 4, 1}}),
       "level 0 triangle 1: vertex index 4 out of range 0..3"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    const std::string in = dir.write("s.bin", r.bytes);
    bool ok = true;
    const std::string err = captureStderr(
        [&] { captureStdout([&] { ok = convertSurfaceLevels(in, dir.file("o")); }); });
    EXPECT_FALSE(ok) << r.what;
    EXPECT_EQ(err, "[Converters, convertSurfaceLevels] Error: " + in + ": " + r.what + "\n");
    EXPECT_FALSE(exists(dir, "o.node"));
  }
}

TEST(SurfaceConverters, SplitFaceCaseMatchesTheLiteralWalk) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> vertex(0, 5);
  OrientedTriangles list;
  std::vector<std::array<int, 3>> reference;
  std::string expectedOut;
  const std::string out = captureStdout([&] {
    for (int i = 0; i < 300; ++i) {
      const int a = vertex(random), b = vertex(random), c = vertex(random);
      const int kase = literalCase(reference, a, b, c);
      if (kase) expectedOut += "Case " + std::to_string(kase) + "\n";
      ASSERT_EQ(splitFaceCase(list, a, b, c), kase) << i;
    }
  });
  EXPECT_EQ(list.triangles, reference);
  EXPECT_EQ(out, expectedOut);
}

TEST(SurfaceConverters, ObjFaceFormsCasesAndBadLines) {
  const char kQuad[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\n# corner\nv 0 1 0 1.0\nvn 0 0 1\nvt 0 0\n";
  const struct {
    const char *faces, *out, *ele;
  } rows[] = {
      {"f 1 2 3\n", "", "1 3 0\n1 1 2 3\n"},
      {"f 1/1 2/2 3/3\n", "", "1 3 0\n1 1 2 3\n"},
      {"f 1//1 2//1 3//1\n", "", "1 3 0\n1 1 2 3\n"},
      {"f 1/1/1 2/2/1 3/3/1\n", "", "1 3 0\n1 1 2 3\n"},
      {"f 1 2 3 4\n", "", "2 3 0\n1 1 2 3\n2 1 3 4\n"},
      {"f 1/1 2/1 3/1 4/1\n", "", "2 3 0\n1 1 2 3\n2 1 3 4\n"},
      {"f 1//1 2//1 3//1 4//1\n", "", "2 3 0\n1 1 2 3\n2 1 3 4\n"},
      {"f 1/1/1 2/2/2 3/3/3 4/4/4\n", "", "2 3 0\n1 1 2 3\n2 1 3 4\n"},
      {"f 1 2 3\nf 1 2 4\n", "Case 1\n", "2 3 0\n1 1 2 3\n2 2 1 4\n"},
      {"f 1 2 3\nf 2 4 1\n", "Case 2\n", "2 3 0\n1 1 2 3\n2 1 4 2\n"},
      {"f 1 2 3\nf 4 2 3\n", "Case 3\n", "2 3 0\n1 1 2 3\n2 4 3 2\n"},
      {"f 1 2\nf 1/2/3 4 5\nf a b c\ng four\nf 3 2 1\n", "error!!\nerror!!\nerror!!\n",
       "1 3 0\n1 3 2 1\n"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    const std::string in = dir.write("m.obj", std::string(kQuad) + r.faces);
    bool ok = false;
    const std::string out = captureStdout([&] { ok = convertObjMesh(dir.file("o"), {in}); });
    EXPECT_TRUE(ok) << r.faces;
    EXPECT_EQ(out, r.out) << r.faces;
    EXPECT_EQ(readFile(dir.file("o.ele")), r.ele) << r.faces;
    EXPECT_EQ(readFile(dir.file("o.node")),
              "4 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 1 1 0 0\n4 0 1 0 0\n");
  }
}

TEST(SurfaceConverters, ObjRefusesMissingFilesAndBadVertices) {
  TempDir dir;
  const std::string tri = dir.write("t.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const std::string far = dir.write("far.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 -2 3\n");
  const std::string flat = dir.write("flat.obj", "v 0 0\nf 1 1 1\n"), none = dir.file("none");
  const struct {
    std::vector<std::string> paths;
    std::string out, err;
  } rows[] = {
      {{}, "Error: No Filename parameter given.\n", ""},
      {{tri, none}, "Error: The file " + none + " could not be opened\n", ""},
      {{tri, far}, "", far + ": face 2: vertex number -2 out of range 1..3"},
      {{flat}, "", flat + ": vertex 1: not three numbers"},
  };
  for (const auto& r : rows) {
    bool ok = true;
    const auto io = captureBoth([&] { ok = convertObjMesh(dir.file("o"), r.paths); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(io.out, r.out);
    EXPECT_EQ(io.err, r.err.empty() ? "" : "[Converters, convertObjMesh] Error: " + r.err + "\n");
    EXPECT_FALSE(exists(dir, "o.ele"));
  }
  // Two files give two levels, each counting its vertices from 1.
  ASSERT_TRUE(convertObjMesh(dir.file("two"), {tri, tri}));
  EXPECT_EQ(readFile(dir.file("two.ele")), "1 3 0\n1 1 2 3\n1 3 0\n1 1 2 3\n");
}
