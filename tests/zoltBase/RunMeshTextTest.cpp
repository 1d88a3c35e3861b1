#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CountingNew.h"
#include "FiniteElement.h"
#include "ModelFixture.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"

using namespace zolt::test;

namespace {

using Position = std::array<float, 3>;

// Uncentred level-0 positions in vertex order.
std::vector<Position> positions(const ::Run& run) {
  std::vector<Position> out;
  for (const Vertex* v : run.hierarchy->vertices[0]) {
    Position p;
    for (int k = 0; k < 3; ++k)
      p[k] = static_cast<float>(v->restPosition[k] + run.renderSettings.centre[k]);
    out.push_back(p);
  }
  return out;
}

std::string sixPairs(const char* pair) {
  std::string s = "6\n";
  for (int i = 0; i < 6; ++i) s += std::string(pair) + "\n";
  return s;
}

std::string regexQuote(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("()[]{}.*+?|^$\\").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

const std::string kMarkerHint =
    " (its header's fourth item 1 means every vertex line ends with an interpolation list:"
    " written with boundary markers? tetgen -B leaves them out; from meshio, write the points"
    " without their point data)";

// Every line after the first with 1 taken from its first `items` numbers,
// as TetGen's -z and meshio number from 0.
std::string fromZero(const std::string& text, int items) {
  std::istringstream in(text);
  std::string line, out;
  std::getline(in, line);
  out = line + "\n";
  while (std::getline(in, line)) {
    std::istringstream numbers(line);
    long long v = 0;
    for (int k = 0; k < items && numbers >> v; ++k) out += std::to_string(v - 1) + " ";
    out += std::string(std::istreambuf_iterator<char>(numbers), {}) + "\n";
  }
  return out;
}

std::string withLineEnds(const std::string& text, const std::string& end) {
  std::string out;
  for (char c : text) out += c == '\n' ? end : std::string(1, c);
  return out;
}

// meshio's two comment lines before a header.
// Per vertex of the finest level: its parents' numbers and weights.
std::vector<std::vector<std::pair<int, float>>> finestParents(const ::Run& run) {
  std::vector<std::vector<std::pair<int, float>>> out;
  for (const Vertex* v : run.hierarchy->vertices[run.hierarchy->nLevels - 1]) {
    out.emplace_back();
    for (const InterpolationEntry& p : v->parents)
      out.back().push_back({p.parent->index, p.weight});
  }
  return out;
}

// writeTwoLevelCube's files numbered from 0 throughout: vertices, parents
// and corners.
std::string twoLevelCubeFromZero(bool node) {
  if (!node)
    return fromZero(kCubeEle, 5) +
           "6 4 0\n0 0 1 3 8\n1 0 1 5 8\n2 0 2 3 8\n3 0 2 6 8\n4 0 4 5 8\n5 0 4 6 8\n";
  std::string text = fromZero(kCubeNode, 1) + "9 3 0 1\n";
  for (int i = 0; i < 8; ++i)
    text += std::to_string(i) + std::string(kCubeNode).substr(8 * (i + 1) + 1, 6) + " 1 " +
            std::to_string(i) + " 1\n";
  return text + "8 0.5 0.5 0.5 8 0 0.125 1 0.125 2 0.125 3 0.125 4 0.125 5 0.125 6 0.125 7 0.125\n";
}

const std::string kMeshio =
    "# This file was created by meshio v5.0.0\n# attribute names: gmsh:physical\n";

// Per level-0 element: its four vertex numbers and its face mask.
std::vector<std::array<int, 5>> elementCorners(const ::Run& run) {
  std::vector<std::array<int, 5>> out;
  for (const FiniteElement* e : run.hierarchy->elements[0]) {
    std::array<int, 5> c;
    for (int i = 0; i < 4; ++i) c[i] = e->getVertex(i)->index;
    c[4] = e->getFaceMask();
    out.push_back(c);
  }
  return out;
}

// Loads model m in a child whose standard output goes to standard error.
void loadToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  ::Run run("m", false, 0, 0);
}

}  // namespace

TEST(RunMeshText, NodeAttributesAndSwap) {
  const std::vector<Position> cube = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                      {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
  std::vector<Position> swapped = cube;
  for (Position& p : swapped) std::swap(p[0], p[1]);
  // The cube's vertex lines with one and with two attributes.
  std::string withOne = "8 3 0 1\n", withTwo = "8 3 0 2\n", line;
  for (std::istringstream in(kCubeNode + 8); std::getline(in, line);)
    withOne += line + " 0\n", withTwo += line + " 7 -3\n";
  const struct {
    const char* config;
    std::string node;
    const std::vector<Position>& expected;
  } rows[] = {{"", withOne, cube}, {"", withTwo, cube}, {"SWAP_X_Y", kCubeNode, swapped}};
  ModelDirs d;
  for (const auto& row : rows) {
    d.cube("m", row.config);
    writeFile(d.models + "m.node", row.node);
    auto run = loadRun("m");
    ASSERT_FALSE(run->refused) << row.node;
    EXPECT_EQ(positions(*run), row.expected) << row.node;
  }
}

// The cube as TetGen and meshio may write it: '#' comments anywhere
// (meshio writes two before each header), numbered from 0, old Mac or
// Windows line ends. Each loads as the plain cube; the two-level cube
// numbered from 0 as the one numbered from 1 (its parents used to count
// from 1 whatever the base: parent 0 was refused, any other named the next
// vertex).
TEST(RunMeshText, ForeignFilesLoadAsTheCube) {
  const std::string node = kCubeNode, ele = kCubeEle;
  const struct {
    std::string node, ele, config = "";
  } rows[] = {
      {kMeshio + node, kMeshio + ele},
      {"\n# nodes\n\n8 3 0 0 # header\n1 0 0 0\n# corner 2:\n\n" + node.substr(16) + "# end\n",
       "# tetgen\n6 4 1\n\n1 1 2 4 8 9 # mask\n\n# more\n" + ele.substr(18)},
      {fromZero(node, 1), fromZero(ele, 5)},  // tetgen -z
      {kMeshio + fromZero(node, 1), kMeshio + fromZero(ele, 5)},
      {fromZero(node, 1), "6 4 1\n" + fromZero(ele, 5).substr(6) + "# Generated by tetgen -z\n"},
      {withLineEnds(node, "\r"), withLineEnds(ele, "\r")},
      {withLineEnds(kMeshio + fromZero(node, 1), "\r\n"), withLineEnds(fromZero(ele, 5), "\r\n")},
      {twoLevelCubeFromZero(true), twoLevelCubeFromZero(false), "LEVEL 2 READ_HIERARCHY"},
  };
  ModelDirs d;
  d.cube("plain", "");
  writeTwoLevelCube(d.models + "two");
  writeFile(d.models + "two.config", "LEVEL 2 READ_HIERARCHY");
  const auto plain = loadRun("plain"), two = loadRun("two");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.node + row.ele);
    const ::Run& expected = row.config.empty() ? *plain : *two;
    writeFile(d.models + "m.config", row.config);
    writeFile(d.models + "m.node", row.node);
    writeFile(d.models + "m.ele", row.ele);
    const auto [run, o] = loadCaptured("m");
    ASSERT_FALSE(run->refused);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(positions(*run), positions(expected));
    EXPECT_EQ(elementCorners(*run), elementCorners(expected));
    EXPECT_EQ(finestParents(*run), finestParents(expected));
  }
}

// The corner numbers of every face whose bit is set; in the file as in the
// element, bit 1 << f marks the face opposite corner f.
std::set<std::set<int>> flaggedFaces(const int corner[4], int mask) {
  std::set<std::set<int>> faces;
  for (int f = 0; f < 4; ++f) {
    if (!(mask & (1 << f))) continue;
    std::set<int> face;
    for (int i = 0; i < 4; ++i)
      if (i != f) face.insert(corner[i]);
    faces.insert(face);
  }
  return faces;
}

TEST(RunMeshText, PositiveOrientationSwapsTheLastTwoCornersAndTheirFaceBits) {
  // File corners a b c d with ((b - a) x (c - a)) . (d - a) = +1, or -1 with
  // c and d listed the other way; the flagged faces stay the same faces.
  const struct {
    int corners[4];
    int mask, storedMask;
  } rows[] = {{{0, 1, 2, 3}, 8, 4},  {{0, 1, 2, 3}, 12, 12}, {{0, 1, 2, 3}, 9, 5},
              {{0, 1, 2, 3}, 2, 2},  {{0, 1, 3, 2}, 8, 8},   {{0, 1, 3, 2}, 4, 4},
              {{0, 1, 3, 2}, 15, 15}};
  ModelDirs d;
  writeFile(d.models + "m.config", "");
  writeFile(d.models + "m.node", "4 3 0 0\n1 0 0 0\n2 1 0 0\n3 0 1 0\n4 0 0 1\n");
  for (const auto& row : rows) {
    std::string text = "1";
    for (int c : row.corners) text += " " + std::to_string(c + 1);
    text += " " + std::to_string(row.mask);
    writeFile(d.models + "m.ele", "1 4 1\n" + text + "\n");
    auto run = loadRun("m");
    const auto* t = dynamic_cast<const Tetrahedron*>(run->hierarchy->elements[0][0]);
    ASSERT_NE(t, nullptr);
    EXPECT_GT(restVolume(*t), 0.0) << text;
    EXPECT_EQ(t->faceMask, row.storedMask) << text;
    const int stored[4] = {t->v[0]->index, t->v[1]->index, t->v[2]->index, t->v[3]->index};
    EXPECT_EQ(flaggedFaces(stored, t->faceMask), flaggedFaces(row.corners, row.mask)) << text;
  }
}

TEST(RunMeshText, ParameterFile) {
  ModelDirs d;
  const auto mismatch = [&](const std::string& counts) {
    return "[Run, readParamsValues] Error: \"" + d.models + "m.params\" holds " + counts +
           " are not used\n";
  };
  const std::string refused = "[Run, readParamsValues] Error: ";
  const std::string refusedDensity =
      refused + "6 elements in \"" + d.models +
      "m.params\" have a stiffness or density factor that is not positive and finite (the first:"
      " density 0 of element 1 on line 2); they keep their own\n";
  const std::string refusedOne =
      refused + "1 element in \"" + d.models +
      "m.params\" has a stiffness or density factor that is not positive and finite (the first:"
      " density -2 of element 3 on line 3); it keeps its own\n";
  const std::string pairs = sixPairs("2 0.5");
  const std::string elementCount = mismatch("5 elements, the mesh 6; its stiffness and density");
  const std::string vertexCount = mismatch("9 vertices, the mesh 8; its fixed vertices");
  const struct {
    const char* config;
    std::string params;
    float stiffness, density;
    std::vector<int> fixed;
    uint8_t fromParams;
    std::string err;
  } rows[] = {
      {"", pairs + "8 2 7 0", 2, 0.5f, {7, 0}, 1, ""},
      // No fixed vertex in the file: the configuration's list stays.
      {"FIXED_VERTICES 2 1 2", pairs + "8 0", 2, 0.5f, {0, 1}, 0, ""},
      // Values set by classification are kept.
      {"BOX_CLASSIFICATION -1 2 -1 2 -1 2 2.5 3", pairs + "8 0", 2.5f, 3, {}, 0, ""},
      // A factor of exactly 1 is taken as unset: the file fills it.
      {"BOX_CLASSIFICATION -1 2 -1 2 -1 2 1 3", pairs + "8 0", 2, 3, {}, 0, ""},
      // A box that holds no element leaves the file's values.
      {"BOX_CLASSIFICATION 5 6 5 6 5 6 3 3", pairs + "8 0", 2, 0.5f, {}, 0, ""},
      {"", "5\n" + pairs, 1, 1, {}, 0, elementCount},
      {"FIXED_VERTICES 1 3", pairs + "9 1 4", 2, 0.5f, {2}, 0, vertexCount},
      {"", sixPairs("2 0") + "8 0", 2, 1, {}, 0, refusedDensity},  // the element keeps its own
      {"", "6\n1 1 1 1\n1 -2\n1 1\n1 1\n1 1\n8 0", 1, 1, {}, 0, refusedOne},
  };
  for (const auto& row : rows) {
    d.cube("m", row.config);
    writeFile(d.models + "m.params", row.params);
    const auto [run, o] = loadCaptured("m");
    EXPECT_NE(o.out.find("Read Stiffness/Density/FixedVerts File \"" + d.models + "m.params\"\n"),
              std::string::npos);
    EXPECT_EQ(o.err, row.err) << row.params;
    for (const FiniteElement* e : run->hierarchy->elements[0]) {
      EXPECT_EQ(e->getStiffness(), row.stiffness) << row.params;
      EXPECT_EQ(e->getDensity(), row.density) << row.params;
    }
    EXPECT_EQ(run->fixedVertices, row.fixed) << row.params;
    EXPECT_EQ(run->fixedFromParams, row.fromParams) << row.params;
    std::set<int> flagged;
    for (const Vertex* v : run->hierarchy->vertices[0])
      if (v->fixed) flagged.insert(v->index);
    EXPECT_EQ(flagged, (row.fromParams ? std::set<int>(row.fixed.begin(), row.fixed.end())
                                       : std::set<int>()))
        << row.params;
  }
}

// Lines after the last element block read are reported unless they are
// blank or '#' comments (TetGen ends its files with one); a block of no
// elements leaves the model refused with the file and line named.
TEST(RunMeshText, ElementFileEnds) {
  ModelDirs d;
  const std::string path = d.models + "m.ele", cube = kCubeEle;
  const auto unread = [&](int line) {
    return "[Run, readEleLevel] Warning: Line " + std::to_string(line) + " of \"" + path +
           "\" follows the elements of level 0 and is not read\n";
  };
  const auto none = [&](int level, int line) {
    return "[Run] Error: Model \"m\" has no elements on level " + std::to_string(level) +
           " (the element count on line " + std::to_string(line) + " of \"" + path +
           "\" is 0); it is not loaded\n";
  };
  const struct {
    std::string config, ele;
    size_t elements;  // read on level 0
    std::string err;
  } rows[] = {
      {"", cube + "\n# Generated by tetgen -pq1.4 m.poly\n", 6, ""},
      {"", "5" + cube.substr(1), 5, unread(7)},
      {"", cube + "\n7 1 2 3 5 9\n", 6, unread(9)},
      {"", "0 4 1\n", 0, none(0, 1)},
      {"LEVEL 2", "\n0 4 0\n", 0, none(1, 2)},
      {"LEVEL 2 READ_HIERARCHY", cube + "0 4 0\n", 6, none(1, 8)},  // its level 1 is empty
      // Old Mac and Windows line ends count one line each.
      {"", withLineEnds(cube + "\n7 1 2 3 5 9\n", "\r"), 6, unread(9)},
      {"", withLineEnds(cube + "\n7 1 2 3 5 9\n", "\r\n"), 6, unread(9)},
      {"", "0 4 1\r", 0, none(0, 1)},
      {"LEVEL 2", "\r\r0 4 0\r", 0, none(1, 3)},
      // Further levels of a hierarchy file (its node file holds them too),
      // read without READ_HIERARCHY.
      {"HIERARCHY_FILES", cube + "1 4 0\n1 1 2 4 9\n", 6, unread(8)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ele);
    d.cube("m", row.config);
    if (row.config.find("HIERARCHY") != std::string::npos) writeTwoLevelCube(d.models + "m");
    writeFile(path, row.ele);
    const auto [run, o] = loadCaptured("m");
    EXPECT_EQ(o.err, row.err);
    EXPECT_EQ(run->refused != 0, row.err.find("Error") != std::string::npos);
    EXPECT_EQ(run->hierarchy->elements[0].size(), row.elements);
  }
}

TEST(RunMeshText, WritersReadBack) {
  ModelDirs d;
  d.cube("m", "SCALE 2 1 0.5 SWAP_X_Y LEVEL 2");
  auto a = loadRun("m");
  const auto& elements = a->hierarchy->elements[1];
  for (size_t e = 0; e < elements.size(); ++e) {
    elements[e]->setStiffness(1.0f + 0.25f * (e % 7));
    elements[e]->setDensity(0.5f * (e % 3 + 1));
  }
  a->hierarchy->vertices[1][3]->fixed = 1;
  a->hierarchy->vertices[1][20]->fixed = 1;
  a->writeParamsValues((d.models + "m.params").c_str());
  a->writeNodeLevel((d.models + "copy.node").c_str(), 1);
  writeFile(d.models + "copy.config", "SCALE 2 1 0.5 SWAP_X_Y LEVEL 2");
  writeFile(d.models + "copy.ele", kCubeEle);
  // Face masks recomputed from the cube's own boundary.
  writeFile(d.models + "flags.config", "");
  writeFile(d.models + "flags.node", kCubeNode);
  writeFile(d.models + "flags.ele",
            "6 4 0\n1 1 2 4 8\n2 1 2 6 8\n3 1 3 4 8\n"
            "4 1 3 7 8\n5 1 5 6 8\n6 1 5 7 8\n");
  auto unflagged = loadRun("flags");
  captureStdout([&] { unflagged->flagSurfaces("flags"); });

  auto b = loadRun("m");
  for (size_t e = 0; e < elements.size(); ++e) {
    EXPECT_EQ(b->hierarchy->elements[1][e]->getStiffness(), elements[e]->getStiffness());
    EXPECT_EQ(b->hierarchy->elements[1][e]->getDensity(), elements[e]->getDensity());
  }
  EXPECT_EQ(b->fixedVertices, (std::vector<int>{3, 20}));
  auto copy = loadRun("copy");
  EXPECT_EQ(positions(*copy), positions(*a));
  auto flags = loadRun("flags");
  d.cube("plain", "");
  auto plain = loadRun("plain");
  for (size_t e = 0; e < 6; ++e)
    EXPECT_EQ(flags->hierarchy->elements[0][e]->getFaceMask(),
              plain->hierarchy->elements[0][e]->getFaceMask())
        << e;
}

namespace {

struct BadFile {
  const char* file;     // extension in models/
  std::string text;     // empty: the file is removed
  std::string message;  // "PATH" stands for the file's path, by default at the end
};

// Each file of model m in turn replaced by a bad one: the load ends with
// exit code 1 after the message, which names the file. "fast" death tests:
// the child sees the parent's temporary directory.
void expectExit(const char* config, const std::vector<BadFile>& rows,
                const std::string& node = "") {
  GTEST_FLAG_SET(death_test_style, "fast");
  ModelDirs d;
  for (const BadFile& row : rows) {
    d.cube("m", config);
    if (!node.empty()) writeFile(d.models + "m.node", node);
    const std::string path = d.models + "m." + row.file;
    std::remove(path.c_str());
    if (!row.text.empty()) writeFile(path, row.text);
    std::string message = row.message;
    if (message.find("PATH") == std::string::npos) message += " in \"PATH\"";
    message.replace(message.find("PATH"), 4, path);
    EXPECT_EXIT(loadToStderr(), testing::ExitedWithCode(1), regexQuote(message) + "\n$")
        << row.text;
  }
}

}  // namespace

TEST(RunMeshTextDeathTest, BadFilesEndTheLoad) {
  const std::string pairs = sixPairs("1 1");
  const std::string kOneBlock =
      " (a converter writes one block per volume: write all tetrahedra as one block, see"
      " README.md, \"Your own mesh\")";
  const std::vector<BadFile> rows = {
      {"node", "x 3 0 0", "Error: Could not read the node header of level 0"},
      {"node", "-1 3 0 0", "Error: Bad node header of level 0 (-1 vertices, 0 attributes)"},
      {"node", "2 3 0 0\n1 0 0 0\n2 1 0",
       "Error: Could not read the coordinates of vertex 2 of level 0"},
      {"node", "1 3 0 1\n1 0 0 0 -1",
       "Error: Could not read the interpolation count of vertex 1 of level 0 in \"PATH\"" +
           kMarkerHint},
      // A generator's boundary markers where interpolation lists belong.
      {"node", "3 3 0 1\n1 0 0 0 1\n2 1 0 0 1\n3 0 1 0 1\n",
       "Error: Vertex 2 of level 0 (line 3) is numbered 0, where 2 follows in \"PATH\"" +
           kMarkerHint},
      // The first vertex number sets the base, 0 or 1; the others follow it.
      {"node", "# meshio\n\n8 3 0 0\n5 0 0 0\n",
       "Error: The first vertex of level 0 (line 4) is numbered 5, not 0 or 1 in \"PATH\""
       " (vertices are numbered in file order from 0 or 1)"},
      {"node", "8 3 0 0\r0 0 0 0\r1 1 0 0\r7 0 1 0\r",
       "Error: Vertex 3 of level 0 (line 4) is numbered 7, where 2 follows in \"PATH\""
       " (vertices are numbered in file order from 0 or 1)"},
      {"node", "3 3 0 0\n0 0 0 0\n2 1 0 0\n3 0 1 0\n",  // 0, then 1-based
       "Error: Vertex 2 of level 0 (line 3) is numbered 2, where 1 follows in \"PATH\""
       " (vertices are numbered in file order from 0 or 1)"},
      // Second-order tetrahedra (gmsh -order 2, tetgen -o2) and region
      // attributes (meshio's physical and geometrical tags, tetgen -A).
      {"ele", kMeshio + "1 10 0\n0 0 1 3 7 8 9 10 11 12 13\n",
       "Error: The element header of level 0 (line 3) gives 10 vertices per element in \"PATH\""
       " (the 4 corners of a tetrahedron are read: 10-node tetrahedra are second order, mesh with"
       " order 1 (gmsh -order 1, tetgen without -o2))"},
      {"ele", "1 3 0\n1 1 2 3\n",
       "Error: The element header of level 0 (line 1) gives 3 vertices per element in \"PATH\""
       " (the 4 corners of a tetrahedron are read: mesh the volume into 4-node tetrahedra)"},
      {"ele", kMeshio + "1 4 2\n0 0 1 3 7 1 69\n",
       "Error: The element header of level 0 (line 3) gives 2 attributes per element in \"PATH\""
       " (0 are read, or 1 as a face mask: mesh without region attributes (tetgen without -A, or"
       " one region); from meshio, write the tetrahedra without their cell data)"},
      // One block per volume, as meshio writes a mesh of several volumes.
      {"ele", std::string(kCubeEle) + "2 4 0\n1 1 2 4 8\n2 1 2 6 8\n",
       "Error: The element file holds 2 element blocks (6 and 2 elements); only the first would"
       " be read in \"PATH\"" +
           kOneBlock},
      {"ele",
       kMeshio + "3 4 0\n1 1 2 4 8\n2 1 2 6 8\n3 1 3 4 8\n" + kMeshio +
           "\n2 4 0\n1 1 3 7 8\n\n2 1 5 6 8\n" + kMeshio + "1 4 0\n1 1 5 7 8\n",
       "Error: The element file holds 3 element blocks (3, 2 and 1 elements); only the first would"
       " be read in \"PATH\"" +
           kOneBlock},
      // What meshio writes for a mesh without 4-node tetrahedra (order 2).
      {"ele", kMeshio,
       "Error: No element block of level 0 follows (only blanks or comments) in \"PATH\" (meshio"
       " writes 4-node tetrahedra alone and leaves the file so for a mesh of another kind: mesh"
       " the volume with order 1 (gmsh -3 -order 1))"},
      {"ele", "3 4 0\r1 1 2 4 8\r2 1 2 6 8\r3 8 4 2 1\r",
       "Error: Element 3 of level 0 (line 4) has the four vertices of element 1 (line 2) in"
       " \"PATH\" (it would count its stiffness and mass twice)"},
      {"ele", "2 4 0\n1 1 2 4 8\n2 1 2 3 4\n",  // corners on a face of the cube
       "Error: Element 2 of level 0 has no volume (its four vertices lie in one plane)"},
      {"node", "1 3 0 2\n1 0 0 0 5", "Error: Could not read the attributes of vertex 1 of level 0"},
      // One element twice, its vertices in another order; then with face
      // masks, two records on one line.
      {"ele", "3 4 0\n1 1 2 4 8\n2 1 2 6 8\n3 8 4 2 1\n",
       "Error: Element 3 of level 0 (line 4) has the four vertices of element 1 (line 2) in"
       " \"PATH\" (it would count its stiffness and mass twice)"},
      {"ele", "3 4 1\n\n1 1 2 4 8 9\n2 1 2 6 8 9 3 2 6 1 8 9\n",
       "Error: Element 3 of level 0 (line 4) has the four vertices of element 2 (line 4) in"
       " \"PATH\" (it would count its stiffness and mass twice)"},
      {"ele", "1 4 0\n1 1 2 3 9",
       "Error: Vertex number out of range! (\"PATH\", level 0, element 1)"},
      // Numbered from 0, as a generator writes on request.
      {"ele", "2 4 0\n0 1 2 4 8\n1 0 1 2 4\n",
       "Error: Vertex number out of range! (\"PATH\", level 0, element 2) (vertex numbers start"
       " at 1: the file seems to number them from 0 (TetGen's -z))"},
      {"params", "abc", "Error: Could not read the element count"},
      {"params", "6\n1 1\n1", "Error: Could not read the stiffness and density of element 2"},
      {"params", pairs + "8\n", "Error: Bad fixed vertex count (8 vertices)"},
      // The six records and "8 0" are fewer than the ten announced.
      {"params", "10" + pairs.substr(1) + "8 0",
       "Error: 10 elements announced but fewer stiffness and density records follow"},
      {"params", pairs + "8 1 -1", "Error: Fixed vertex entry 1 (-1) names no vertex (8 vertices)"},
      {"params", pairs + "8 2 1 x", "Error: Could not read fixed vertex entry 2"},
      {"node", "", "Error: File \"PATH\" doesn`t exist!"},
      {"ele", "", "Error: File \"PATH\" doesn`t exist!"},
      {"config", "", "Error: File \"PATH\" doesn`t exist!"},
  };
  expectExit("", rows);
  // Numbered from 0 by the node file: vertex 8 is not there.
  expectExit("",
             {{"ele", "1 4 0\n0 0 1 3 8\n",
               "Error: Vertex number out of range! (\"PATH\", level 0, element 1)"}},
             fromZero(kCubeNode, 1));
  expectExit("LEVEL 2 READ_HIERARCHY",
             {{"ele", std::string(kCubeEle) + "\n# level 1?\n",
               "Error: No element block of level 1 follows (only blanks or comments) in \"PATH\""
               " (READ_HIERARCHY with LEVEL n reads n blocks)"}},
             twoLevelCubeNode("9 0.5 0.5 0.5 0\n"));
  // A parent must name a vertex of the level below.
  expectExit("LEVEL 2 READ_HIERARCHY",
             {{"node", std::string(kCubeNode) + "1 3 0 1\n1 0 0 0 1 99 1\n",
               "Error: Parent 99 of vertex 1 of level 1 names no vertex of level 0 (8 vertices)"
               " in \"PATH\"" +
                   kMarkerHint}});
}

// Out of memory at any allocation of a text load (each float read gathers
// its digits on the heap): the load throws std::bad_alloc for the caller to
// report, or is refused, and never ends the program blaming a good file.
TEST(RunMeshTextDeathTest, OutOfMemoryIsNoBadFile) {
  GTEST_FLAG_SET(death_test_style, "fast");
  using namespace zolt::test;
  ModelDirs d;
  d.cube("m", "");
  writeFile(d.models + "m.node", fromZero(kCubeNode, 1));
  writeFile(d.models + "m.ele", fromZero(kCubeEle, 5));
  writeFile(d.models + "m.params", sixPairs("2 0.5") + "8 1 3");
  const auto load = [](long fail) {
    bool threw = false;
    armedRun(fail, [&] {
      try {
        ::Run run("m", false, 0, 0);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    });
    return threw;
  };
  const auto everyFailure = [&] {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (load(-1)) std::exit(2);
    const long total = allocations;
    long threw = 0;
    for (long fail = 0; fail < total; ++fail) threw += load(fail) ? 1 : 0;
    std::fprintf(stderr, "%ld of %ld threw\n", threw, total);
    std::exit(threw > 0 ? 0 : 3);
  };
  EXPECT_EXIT(everyFailure(), testing::ExitedWithCode(0), " threw\n$");
}
