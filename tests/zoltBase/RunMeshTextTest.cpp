#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
    " written with boundary markers?)";

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
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ele);
    d.cube("m", row.config);
    if (row.config.find("READ_HIERARCHY") != std::string::npos) writeTwoLevelCube(d.models + "m");
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
void expectExit(const char* config, const std::vector<BadFile>& rows) {
  GTEST_FLAG_SET(death_test_style, "fast");
  ModelDirs d;
  for (const BadFile& row : rows) {
    d.cube("m", config);
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
       "Error: Could not read the coordinates of vertex 3 of level 0 in \"PATH\"" + kMarkerHint},
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
  // A parent must name a vertex of the level below.
  expectExit("LEVEL 2 READ_HIERARCHY",
             {{"node", std::string(kCubeNode) + "1 3 0 1\n1 0 0 0 1 99 1\n",
               "Error: Parent 99 of vertex 1 of level 1 names no vertex of level 0 (8 vertices)"
               " in \"PATH\"" +
                   kMarkerHint}});
}
