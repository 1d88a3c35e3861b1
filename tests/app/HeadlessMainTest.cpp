// zolt_headless run for real on hand-written and malformed models.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CubeModel.h"
#include "Files.h"

using namespace zolt::test;

namespace {

std::string randomBytes(unsigned seed, size_t n) {
  std::mt19937 generator(seed);
  std::string bytes(n, '\0');
  for (char& b : bytes) b = static_cast<char>(generator() & 0xff);
  return bytes;
}

// n disjoint unit tetrahedra as base.node and base.ele, 4n free vertices.
void writeScatteredTetrahedra(const std::string& base, int n) {
  std::ostringstream node, ele;
  node << 4 * n << " 3 0 0\n";
  ele << n << " 4 0\n";
  for (int e = 0, v = 1; e < n; ++e, v += 4) {
    node << v << ' ' << 2 * e << " 0 0\n"
         << v + 1 << ' ' << 2 * e + 1 << " 0 0\n"
         << v + 2 << ' ' << 2 * e << " 1 0\n"
         << v + 3 << ' ' << 2 * e << " 0 1\n";
    ele << e + 1 << ' ' << v << ' ' << v + 1 << ' ' << v + 2 << ' ' << v + 3 << '\n';
  }
  writeFile(base + ".node", node.str());
  writeFile(base + ".ele", ele.str());
}

// A working directory with models/m.* (the cube with this configuration).
struct Work {
  TempDir t;
  explicit Work(const std::string& config) {
    mkdir((t.file("models")).c_str(), 0777);
    writeCubeModel(t.file("models/"), "m", config);
  }
  ProgramResult run(std::vector<std::string> args) const {
    args.insert(args.begin(), ZOLT_HEADLESS);
    return runProgram(t.file(""), args);
  }
  ProgramResult load(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> args = {"--models", "models", "--caches",   "caches",
                                     "--model",  "m",      "--load-only"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
};

}  // namespace

TEST(HeadlessMain, LoadsTheOneCubeModel) {
  Work w("LEVEL 3\nMATERIAL 1e6 0.33 1000 5 1 0.05\n");
  const ProgramResult r = w.load();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("Sorting Vertices")),
            "  Create Directory caches/\n"
            "Using configure file models/m.config\n\n"
            "Material Properties: \n"
            "  Elasticity:             1e+06 [N/m^2]\n"
            "  Transverse contraction: 0.33\n"
            "  Density:                1 [g/cm^3]\n"
            "  Damping:                5\n"
            "  Friction:               1\n"
            "  Timestep (Frequency):   0.05 [sec]  ( 20 [Hz] )\n\n\n"
            "File \"caches/m.mesh\" could not be opened!\n\n"
            "Reading level 0: 8 Vertices,  0 Attribs\n"
            "Reading level 0: 6 Elements\n\n"
            "Set Center of gravity\n"
            "Center of object: 0.5, 0.5, 0.5\n"
            "Build nested hierarchy ... \n\n"
            "Using cache file caches/m.cacheCauchy\n\n\n"
            "Vertices / Elements on level 0: 8 / 6\n"
            "Vertices / Elements on level 1: 27 / 48\n"
            "Vertices / Elements on level 2: 125 / 384\n\n");
  EXPECT_EQ(r.err, "");
  // Preprocessing builds every cache on the first load and reads them on
  // the second.
  const struct {
    const char* line;
    bool first, second;
  } lines[] = {
      {"Sorting Vertices \n", true, false},
      {"Write Mesh to file \"caches/m.mesh\"\n", true, false},
      {"Read Mesh from file \"caches/m.mesh\"\n", false, true},
      {"  Generating K .........\n", true, false},
      {"  Reading K .........\n", false, true},
      {"Generating Matrix Hierarchy .........\n", true, false},
      {"Reading Matrix Hierarchy .........\n", false, true},
      {"*** Finished Preprocessing.\n", true, true},
  };
  const ProgramResult again = w.load();
  EXPECT_EQ(again.status, 0) << again.err;
  for (const auto& l : lines) {
    SCOPED_TRACE(l.line);
    EXPECT_EQ(l.first, r.out.find(l.line) != std::string::npos);
    EXPECT_EQ(l.second, again.out.find(l.line) != std::string::npos);
  }
  for (const char* cache : {"caches/m.mesh", "caches/m.cacheCauchy", "caches/m.cacheCauchy.Mgrid"})
    EXPECT_TRUE(exists(w.t.file(cache))) << cache;
  // Without a window each long computation counts up on one console line to
  // 100.0 %: the matrix and its two coarse levels, then the shape functions.
  EXPECT_EQ(occurrences(r.out, "==>  Generating Stiffness Matrix    0.0 %"), 1u);
  EXPECT_EQ(occurrences(r.out, "==>  Generate Matrix Hierarchy    0.0 %"), 2u);
  EXPECT_EQ(occurrences(again.out, "==>  Generating Shape Functions    0.0 %"), 1u);
  EXPECT_EQ(occurrences(r.out + again.out, "\b100.0 %\n"), 4u);
}

TEST(HeadlessMain, InitFileNamesTheDirectories) {
  Work w("LEVEL 3");
  writeFile(w.t.file("z.init"), "MODELS_PATH models CACHES_PATH caches");
  const ProgramResult i = w.run({"--init", "z.init", "--model", "m", "--load-only"});
  EXPECT_EQ(i.status, 0);
  EXPECT_NE(i.out.find("Vertices / Elements on level 2: 125 / 384\n"), std::string::npos);
}

// One program run per test, so that each keeps well inside its time limit
// under the sanitizers on a busy machine.
struct BadRun {
  const char* name;
  int status;
  const char* file;  // replaced in models/, or null
  std::string text;
  std::vector<std::string> options;  // after the cube-loading ones
  std::string message;               // expected on either stream
  bool directory = false;            // the file is a directory instead
};

void PrintTo(const BadRun& row, std::ostream* os) { *os << row.name; }

class HeadlessMainBadRun : public testing::TestWithParam<BadRun> {};

TEST_P(HeadlessMainBadRun, EndsWithMessageAndStatus) {
  const BadRun& row = GetParam();
  Work w("LEVEL 2");
  const std::string file = w.t.file("models/m.") + (row.file ? row.file : "");
  if (row.directory) {
    std::remove(file.c_str());
    mkdir(file.c_str(), 0777);
  } else if (row.file) {
    writeFile(file, row.text);
  }
  const ProgramResult r = row.status == 2 ? w.run(row.options) : w.load(row.options);
  EXPECT_EQ(r.status, row.status);
  EXPECT_NE((r.out + r.err).find(row.message), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    , HeadlessMainBadRun,
    testing::Values(
        BadRun{
            "modelsWithoutCaches", 2, nullptr, "", {"--models", "models"}, "usage: zolt_headless"},
        BadRun{"unknownOption", 2, nullptr, "", {"--bogus"}, "usage: zolt_headless"},
        BadRun{"missingInitFile", 2, nullptr, "", {"--init", "none.init"}, "usage: zolt_headless"},
        BadRun{"missingModel",
               1,
               nullptr,
               "",
               {"--model", "none"},
               "Error: File \"models/none.config\" doesn`t exist!"},
        BadRun{"unparsableLevel",
               1,
               "config",
               "LEVEL abc",
               {},
               "[Run, readConfig] Error: Could not read the values of LEVEL"},
        BadRun{"truncatedMesh",
               1,
               "config",
               "MESH m 1 0 0",
               {},
               "[Run, readConfig] Error: Could not read the values of MESH"},
        BadRun{"truncatedForce",
               1,
               "config",
               "FORCE_VERTICES 1 1 0",
               {},
               "[Run, readForces] Error: Could not read the values of FORCE_VERTICES"},
        BadRun{"fixedVertexOutOfRange",
               1,
               "config",
               "FIXED_VERTICES 1 99",
               {},
               "[Run] Error: Fixed vertex 99 of model \"m\""},
        BadRun{"randomConfig", 1, "config", randomBytes(1, 2048), {}, "is not a text file"},
        BadRun{"configDirectory", 1, "config", "", {}, "\"models/m.config\" is a directory", true},
        BadRun{"randomNode", 1, "node", randomBytes(2, 2048), {}, "\"models/m.node\""},
        BadRun{"randomEle", 1, "ele", randomBytes(3, 2048), {}, "\"models/m.ele\""},
        BadRun{"randomParams", 1, "params", randomBytes(4, 2048), {}, "\"models/m.params\""},
        BadRun{"noElements",
               1,
               "ele",
               "0 4 0\n",
               {},
               "[Run] Error: Model \"m\" has no elements on level 1 (the element count on"
               " line 1 of \"models/m.ele\" is 0)"},
        BadRun{"elementModel9",
               1,
               nullptr,
               "",
               {"--element-model", "9"},
               "Error: Element model 9 is not one of 0 .. 5"},
        BadRun{"scheme6",
               1,
               nullptr,
               "",
               {"--scheme", "6"},
               "Error: Integration scheme 6 is not one of 0 .. 5"}),
    [](const testing::TestParamInfo<BadRun>& info) { return std::string(info.param.name); });

TEST(HeadlessMain, HelpListsTheOptions) {
  Work w("");
  const ProgramResult help = w.run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: zolt_headless ", 0), 0u);
}

TEST(HeadlessMain, BenchmarkAndTestDriver) {
  Work w("LEVEL 2");
  const auto count = [](const std::string& out, const std::string& what) {
    size_t n = 0;
    for (size_t p = out.find(what); p != std::string::npos; p = out.find(what, p + 1)) ++n;
    return n;
  };
  const ProgramResult b =
      w.run({"--models", "models", "--caches", "caches", "--model", "m", "--benchmark", "3"});
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(count(b.out, "simulation second:"), 3u);
  EXPECT_EQ(count(b.out, "ratio = -"), 0u);

  // A missing model is reported and skipped, the Green run loads untimed.
  const ProgramResult t =
      w.run({"--models", "models", "--caches", "caches", "--run-tests", "none:0:1,m:2:2,m:0:2"});
  EXPECT_EQ(t.status, 0) << t.err;
  const std::string dashes = std::string(80, '-') + "\n\n";
  for (const char* line : {"Model \"none\" not found", "Element model 2 creates no simulation"})
    EXPECT_NE(t.out.find(line), std::string::npos) << line;
  EXPECT_EQ(count(t.out, "simulation second:"), 2u);
  EXPECT_EQ(count(t.out, dashes), 3u);
}

// Models that used to overrun memory or run out of it are refused within a
// second, before any large allocation, with one error line and status 1; a
// state that stops being finite ends with status 3 and names the step.
TEST(HeadlessMain, RefusedModelsAndBrokenStatesNeverExitZero) {
  const std::string notTetrahedral = "sets 2-D elements (2D, TRIANGLE, QUAD or QUADRATIC_QUAD)";
  const std::string huge = "LEVEL 1\nFIXED_VERTICES 1 1\nMATERIAL 1e6 0.33 1e300 5 5 0.05\n";
  const std::string broke = "zolt_headless: the state is not finite after step ";
  // The cube's own time step, explicitly: the state grows past the range of
  // the squares (1e154) long before it stops being finite.
  const std::string explicitCube = "LEVEL 3\nMATERIAL 1e6 0.33 1000 5 5 0.05\n";
  const std::vector<std::string> gravitySteps = {"--gravity", "--steps", "4", "--print-every", "1"};
  const std::vector<std::string> diverging = {"--scheme",      "5", "--gravity", "--steps", "400",
                                              "--print-every", "1"};
  const struct {
    std::string config, message;  // message: found in the output
    std::vector<std::string> options = {"--steps", "1"};
    int status = 1;
    bool scattered = false;  // 101 tetrahedra in place of the cube
    bool limited = false;    // under ulimit -v 2097152 (2 GB of address space)
    int brokenAt = 0;        // status 3: the step after which the state is not finite
  } rows[] = {
      {"2D LEVEL 2", notTetrahedral},
      {"TRIANGLE TETRAHEDRON LEVEL 2", notTetrahedral},
      {"QUAD TETRAHEDRON", notTetrahedral},
      {"QUADRATIC_QUAD TETRAHEDRON", notTetrahedral},
      // 6 * 8^8 and 6 * 8^10 finest tetrahedra of 1850 bytes each while the
      // finest matrix is assembled (more than their 1760 bytes each and the
      // coarse inverse while it is factored).
      {"LEVEL 9", "refined to LEVEL 9 needs about 177600 MB"},
      {"LEVEL 11", "refined to LEVEL 11 needs about 11366400 MB"},
      // Fits the machine but not the process's limit, less what it holds already.
      {"LEVEL 7", "refined to LEVEL 7 needs about 2775 MB", {}, 1, false, true},
      // 1212 coarse unknowns: the dense inverse or the sparse factor.
      {"LEVEL 1", "", {"--steps", "1"}, 0, true},
      // Elements of 1e-61 m^3 are zero in single precision (it used to end in status 3).
      {"SCALE 1e-20 1e-20 1e-20", "too small for single precision: SCALE 1e-20 1e-20 1e-20"},
      // Unit cube elements stretched 1e30 times along x look flat.
      {"SCALE 1e30 1 1",
       "Element 1 of level 0 has no volume once scaled in \"models/m.ele\" (SCALE 1e+30 1 1"
       " stretches the body too unevenly)"},
      {huge, "step 1 maxu nan\n", gravitySteps, 3, false, false, 1},
      // Dense: no step lines.
      {huge, "", {"--gravity", "--solver", "2", "--steps", "4"}, 3, false, false, 1},
      {huge, "step 4 maxu 0\n", {"--steps", "4", "--print-every", "4"}, 0},  // no gravity: at rest
      {explicitCube,
       "Warning: the explicit scheme steps 0.01 (a fifth of the time step 0.05), "
       "above its stability limit",
       diverging, 3, false, false, 223},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.config + " " + row.message);
#ifdef __SANITIZE_ADDRESS__
    if (row.limited) continue;  // the sanitizer's shadow memory exceeds the limit
#endif
    Work w(row.config);
    if (row.scattered) writeScatteredTetrahedra(w.t.file("models/m"), 101);
    std::vector<std::string> args = {"--models", "models", "--caches", "caches", "--model", "m"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    if (row.limited)
      args.insert(args.begin(),
                  {"/bin/sh", "-c", "ulimit -v 2097152 && exec \"$0\" \"$@\"", ZOLT_HEADLESS});
    [[maybe_unused]] const double start = monotonicSeconds();
    const ProgramResult r = row.limited ? runProgram(w.t.file(""), args) : w.run(args);
    // The scattered body factors its coarse level and the explicit run
    // takes 400 steps; under the sanitizers a second is not enough for
    // a loaded machine (the peak memory below still shows a refusal comes
    // before any large allocation).
#ifndef __SANITIZE_ADDRESS__
    if (!row.scattered && row.options != diverging) {
      EXPECT_LT(monotonicSeconds() - start, 1.0);
    }
#endif
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    rusage usage;  // peak resident memory of the largest child so far
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "kB";
    const std::string all = r.out + r.err;
    const size_t at = all.find("Error");
    ASSERT_EQ(occurrences(all, "Error"), row.status == 1 ? 1u : 0u) << all;
    const std::string line =
        at == std::string::npos ? all : all.substr(at, all.find('\n', at) - at);
    EXPECT_NE(line.find(row.message), std::string::npos) << all;
    EXPECT_EQ(r.err.find(broke) != std::string::npos, row.status == 3) << r.err;
    if (row.status == 3) {
      EXPECT_NE(r.err.find(broke + std::to_string(row.brokenAt) + "\n"), std::string::npos)
          << r.err;
    }
    if (row.limited) {  // the room it names lies below the limit, whatever else the line adds
      const long room = numberAfter(line, "more than the ");
      EXPECT_GT(room, 0) << line;
      EXPECT_LT(room, 2048) << line;
    }
    // Only the step that ends the run may read inf or nan.
    const size_t notFinite = std::min(r.out.find(" maxu inf"), r.out.find(" maxu nan"));
    if (notFinite != std::string::npos) {
      EXPECT_EQ(row.status, 3);
      EXPECT_EQ(r.out.find("\nstep ", notFinite), std::string::npos) << r.out.substr(notFinite);
    }
    EXPECT_EQ(exists(w.t.file("caches/m.cacheCauchy")), row.status != 1) << "empty matrix cache";
  }
}

// A directory in place of a cache, on the first load or beside sound
// caches: the model steps as without it, one line names the path and says
// why, and the directory is left alone.
TEST(HeadlessMain, DirectoryInPlaceOfACacheNeverAborts) {
  const std::vector<std::string> args = {"--models", "models", "--caches",      "caches",
                                         "--model",  "m",      "--print-every", "3",
                                         "--steps",  "3",      "--gravity"};
  const std::string config = "LEVEL 2\nFIXED_VERTICES 1 1\n";
  const std::string maxu = Work(config).run(args).out;
  for (const char* cache : {"m.mesh", "m.cacheCauchy", "m.cacheCauchy.Mgrid"})
    for (bool beside : {false, true}) {
      SCOPED_TRACE(std::string(cache) + (beside ? " beside sound caches" : ""));
      Work w(config);
      if (beside) w.run(args);
      const std::string dir = w.t.file("caches/") + cache;
      std::remove(dir.c_str());
      mkdir(w.t.file("caches").c_str(), 0777);
      mkdir(dir.c_str(), 0777);
      const ProgramResult r = w.run(args);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out.substr(r.out.find("step 3 maxu"), 24), maxu.substr(maxu.find("step 3"), 24));
      const std::string all = r.out + r.err, why = "(it is a directory)";
      ASSERT_EQ(occurrences(all, why), 1u) << all;
      const size_t line = all.rfind('\n', all.find(why)) + 1;
      EXPECT_LT(all.find("\"caches/" + std::string(cache) + "\"", line), all.find(why)) << all;
      EXPECT_TRUE(exists(dir));
      if (std::string(cache) == "m.cacheCauchy.Mgrid") {
        EXPECT_EQ(occurrences(all, "Caching Matrix Hierarchy"), 0u) << all;
      }
    }
}
