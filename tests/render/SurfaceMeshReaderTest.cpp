#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Capture.h"
#include "SurfaceMesh.h"
#include "TempDir.h"

using zolt::test::captureStdout;
using zolt::test::TempDir;
using U = std::vector<uint32_t>;
using F = std::vector<float>;

namespace {

const float kUnitScale[3] = {1, 1, 1};
const double kNoCentre[3] = {0, 0, 0};
const std::string kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

struct Read {
  SurfaceMesh m;
  bool ok = false;
  std::string out;
};

Read readText(const TempDir& dir, const std::string& text, std::vector<MeshEntry> extra = {},
              const float* scale = kUnitScale, const double* centre = kNoCentre) {
  Read r;
  const std::string path = text.empty() ? "" : dir.write("surface.obj", text);
  r.m.textured = 1;
  r.out = captureStdout([&] { r.ok = r.m.readMesh(path.c_str(), extra, scale, centre); });
  return r;
}

MeshEntry entry(const std::string& path, std::vector<float> m) {
  MeshEntry f;
  f.name = path;
  for (int i = 0; i < 16; ++i) f.matrix[i] = m[i];
  return f;
}

}  // namespace

TEST(SurfaceMeshReader, FaceFormsGiveTheSameTriangles) {
  TempDir dir;
  const struct {
    const char* face;
    U triangles;
  } rows[] = {
      {"f 1 2 3 4", {0, 1, 2, 2, 3, 0}},
      {"f 1/1 2/2 3/3 4/4", {0, 1, 2, 2, 3, 0}},
      {"f 1//1 2//2 3//3 4//4", {0, 1, 2, 2, 3, 0}},
      {"f 1/1/1 2/2/2 3/3/3 4/4/4", {0, 1, 2, 2, 3, 0}},
      {"  f 2/2/1 3/3/1 4/4/1", {1, 2, 3}},
      {"f 1 2 3 0", {0, 1, 2}},  // fourth index 0: one triangle
      {"f 1 2 3 4 1", {0, 1, 2, 2, 3, 0}},
  };
  for (const auto& row : rows) {
    Read r = readText(dir, "# square\n\n" + kSquare + "vn 0 0 -1\n" + row.face + "\n");
    ASSERT_TRUE(r.ok) << row.face;
    EXPECT_EQ(r.m.indices, row.triangles) << row.face;
    EXPECT_EQ(r.m.restPositions.size(), 12u);
    EXPECT_EQ(r.m.textured, 0) << "no texture coordinates";
    r.m.finishMesh();  // normals from the faces, not from "vn"
    EXPECT_EQ(std::vector<float>(r.m.normals.begin() + 6, r.m.normals.begin() + 9), (F{0, 0, 1}));
  }
}

TEST(SurfaceMeshReader, TextureCoordinatesBecomeVertices) {
  TempDir dir;
  // Position 1 has two texture coordinates and is split; vt 6 is unused.
  Read r = readText(dir, kSquare + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 2 0\nvt 9 9\n" +
                             "f 1/1 2/2 3/3\nf 3/3 4/4 1/5\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.m.indices, (U{0, 1, 2, 2, 3, 4}));
  EXPECT_EQ(r.m.restPositions, (F{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.m.textured, 1);
  // Fewer coordinates than positions: kept as read.
  Read few = readText(dir, kSquare + "vt 0 0\nvt 1 0\nvt 1 1\nf 1/1 2/2 3/3\n");
  EXPECT_EQ(few.m.indices, (U{0, 1, 2}));
  EXPECT_EQ(few.m.restPositions.size(), 12u);
}

TEST(SurfaceMeshReader, FilesAreTransformedScaledCentredAndOffset) {
  TempDir dir;
  const std::string second =
      dir.write("second.obj", "vt 0 0\nvt 1 0\nvt 0 1\nv 1 2 3\nv 0 0 0\nv 0 1 0\nf 1/1 2/2 3/3\n");
  // x' = 2x + 10, y' = z, z' = -y
  const MeshEntry move = entry(second, {2, 0, 0, 10, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1});
  const float scale[3] = {1, 2, 1};
  const double centre[3] = {1, 0, 0.5};
  Read r = readText(dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n",
                    {move}, scale, centre);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.m.indices, (U{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(r.m.restPositions, (F{-1, 0, -0.5f, 0, 0, -0.5f, -1, 2, -0.5f,  //
                                  11, 6, -2.5f, 9, 0, -0.5f, 9, 0, -1.5f}));
  EXPECT_EQ(r.m.texCoords.size(), 12u);

  // Without a main path the entries are read alone.
  SurfaceMesh alone;
  ASSERT_TRUE(alone.readMesh("", {move, move}, kUnitScale, kNoCentre));
  EXPECT_EQ(alone.indices, (U{0, 1, 2, 3, 4, 5}));
}

TEST(SurfaceMeshReader, BadFacesAreSkipped) {
  TempDir dir;
  const struct {
    const char* face;
    const char* warning;
  } rows[] = {
      {"f 1 2 9", "line 6 of"},
      {"f 0 1 2", "line 6 of"},
      {"f -1 2 3", "line 6 of"},
      {"f 1 2 3 5", "line 6 of"},
      {"f x y z", "Can't read face entry: x y z\n"},
      {"f 1 2", "Can't read face entry: 1 2\n"},
  };
  for (const auto& row : rows) {
    Read r = readText(dir, kSquare + "f 1 2 3\n" + row.face + "\nf 3 4 1\n");
    ASSERT_TRUE(r.ok) << row.face;
    EXPECT_EQ(r.m.indices, (U{0, 1, 2, 2, 3, 0})) << row.face;
    EXPECT_NE(r.out.find(row.warning), std::string::npos) << row.face << ": " << r.out;
  }
  // In a file with texture coordinates a corner must name one.
  const char* textured[] = {"f 1/1 2/2 3/7", "f 1 2 3", "f 1//1 2//1 3//1", "f 1/0 2/1 3/2"};
  for (const char* face : textured) {
    Read r =
        readText(dir, kSquare + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n" + face + "\nf 1/1 2/2 3/3\n");
    ASSERT_TRUE(r.ok) << face;
    EXPECT_EQ(r.m.indices, (U{0, 1, 2})) << face;
    EXPECT_NE(r.out.find(" warning: "), std::string::npos) << face;
  }
}

TEST(SurfaceMeshReader, NothingToReadYieldsNoGeometry) {
  TempDir dir;
  const std::string good = dir.write("good.obj", kSquare + "f 1 2 3\n");
  const std::string faceless = dir.write("faceless.obj", "vt 0 0\nvn 0 0 1\n");
  const MeshEntry missing = entry("/nonexistent/b.obj", F(16, 0.0f));
  const struct {
    const char* path;
    std::vector<MeshEntry> extra;
    const char* message;
  } rows[] = {
      {nullptr, {}, "Error: No Filename parameter given.\n"},
      {"", {}, " Error: no vertices found.\n"},
      {faceless.c_str(), {}, " Error: no vertices found.\n"},
      {"/nonexistent/a.obj", {}, "Error: The file /nonexistent/a.obj could not be opened\n"},
      // A missing second file drops the first one too.
      {good.c_str(), {missing}, "Error: The file /nonexistent/b.obj could not be opened\n"},
  };
  for (const auto& row : rows) {
    SurfaceMesh m;
    bool ok = true;
    EXPECT_EQ(captureStdout([&] { ok = m.readMesh(row.path, row.extra, kUnitScale, kNoCentre); }),
              row.message);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(m.restPositions.empty() && m.indices.empty());
  }
}
