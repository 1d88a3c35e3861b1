#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "ToolFiles.h"

using namespace zolt::test;

namespace {

struct ToolRun {
  int exitCode;
  std::string out, err;
};

// Runs zolt_tools once per entry (arguments as shell words), each in its own
// directory, all at once.
std::vector<ToolRun> runTools(const std::vector<std::pair<const TempDir*, std::string>>& runs) {
  std::string script;
  for (const auto& [dir, args] : runs)
    script += "(cd " + dir->file("") + " && " ZOLT_TOOLS_PATH " " + args +
              " > stdout 2> stderr; echo $? > code) & ";
  std::system((script + "wait").c_str());
  std::vector<ToolRun> results;
  for (const auto& run : runs) {
    const std::string code = readFile(run.first->file("code"));
    results.push_back({code.empty() ? -1 : std::stoi(code), readFile(run.first->file("stdout")),
                       readFile(run.first->file("stderr"))});
  }
  return results;
}

}  // namespace

// Every run of the program at once. Malformed input: exit code 1, one error
// line naming the file and the item, and no output file.
TEST(ToolsMain, RunsEndWithTheirStatusAndMessage) {
  const char tet[] = "4 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 0 1 0 0\n4 0 0 1 0\n";
  const char pts[] = "1\n0 0 0 1 0 0 0 0 0\n";
  std::string ramp;
  for (int i = 0; i < 256; ++i) ramp += "1 2 3 4\n";
  const struct {
    const char* args;
    std::string in;   // written as "in" and "in.node" when not empty
    const char* ele;  // written as "in.ele"
    int code;
    std::string err;  // the start of standard error
  } rows[] = {
      {"", "", "", 2, "Usage: zolt_tools <command> <arguments>"},
      {"cut a b", "", "", 2, "zolt_tools: unknown command \"cut\""},
      {"slab a 3", "", "", 2, "Usage: zolt_tools slab <outBase> <levels> <thickness>"},
      {"slab a 3x 0.2", "", "", 2, "zolt_tools: bad argument \"3x\""},
      {"transfer a b 1 0 2 1 0 1", "", "", 2, "zolt_tools: bad argument \"2\""},
      {"--help", "", "", 0, ""},
      {"slab slab 3 0.2", "", "", 0, ""},
      {"transfer in out 1 1 1 1 0 1", "1 2 3\n", "", 1, "[Converters, convertTransferFunction]"},
      {"transfer in out 1 1 1 1 0 1", ramp.substr(0, ramp.size() - 3), "", 1,
       "[Converters, convertTransferFunction] Error: in: line 256: the file ends before it\n"},
      {"transfer in out 1 1 1 1 0 1", "1 2 3 256\n" + ramp, "", 1,
       "[Converters, convertTransferFunction] Error: in: line 1: value 256 outside 0..255\n"},
      {"transfer in out 1 1 1 1 0 1", "1 -2 3 4\n" + ramp, "", 1,
       "[Converters, convertTransferFunction] Error: in: line 1: value -2 outside 0..255\n"},
      {"transfer in out 1 1 1 1 0 1", "1 2 x 4\n" + ramp, "", 1,
       "[Converters, convertTransferFunction] Error: in: line 1: not a number in range\n"},
      {"rewrite in out", "3 3 0 0\n1 0 0 0\n2 1 0 0\n", "", 1,
       "[Converters, rewriteNodeEle] Error: in.node: vertex 3: the file ends before it\n"},
      {"rewrite in out", "-2 3 0 0\n", "", 1,
       "[Converters, rewriteNodeEle] Error: in.node: vertex count -2 is negative\n"},
      {"rewrite in out", "2000000000 3 0 0\n1 0 0 0\n", "", 1,
       "[Converters, rewriteNodeEle] Error: in.node: vertex count 2000000000 exceeds the file\n"},
      {"rewrite in out", tet, "1 3 0\n1 1 2 3\n", 1,
       "[Converters, rewriteNodeEle] Error: in.ele: corner count: 3, expected 4\n"},
      {"merge 1 0 0 0 1 1 out in in", "-3 3 0 1\n", "", 1, "[Converters, convertMeshA]"},
      {"merge 2 0 0 0 1 1 out in in", tet, "1 4 1\n1 1 2 3 4 0\n", 1,
       "[Converters, convertMeshA] Error: in.node: level 1 vertex count: the file ends before it\n"},
      {"merge 2 0 0 0 1 1 out in in", tet, "1 4 1\n1 1 2 0 4 0\n", 1,
       "[Converters, convertMeshA] Error: in.ele: level 0 element 1: vertex number 0 out of "
       "range 1..4\n"},
      {"merge 2 0 0 0 1 1 out in in", tet, "1 4 2\n1 1 2 3 4 0 0\n", 1,
       "[Converters, convertMeshA] Error: in.ele: level 0 extra count: 2 not allowed\n"},
      {"minmax out in", "1\n0 0 0 0 0 0 0 0 0\n1\n0 0 0 1\n", "", 1,
       "[Converters, convertMeshMinMax]"},
      {"minmax out in", "1\n0 0 0 1 0 0 0 0 zz\n", "", 1,
       "[Converters, convertMeshMinMax] Error: in: vertex 1: not nine numbers\n"},
      {"minmax out in", std::string(pts) + "100\n0 0 0 0\n", "", 1,
       "[Converters, convertMeshMinMax] Error: in: element count 100 exceeds the file\n"},
      {"stack out in", "99999\n0 0 0\n", "", 1, "[Converters, convertMeshC]"},
      {"stack out in", "1\n0 0 0\nmany\n", "", 1,
       "[Converters, convertMeshC] Error: in: element count: not a number in range\n"},
      {"stack out none", "", "", 1, "[Converters, convertMeshC] Error: none: cannot be opened\n"},
      {"surface in out", std::string("\x01\x00\xff\xff\xff\xff", 6), "", 1,
       "[Converters, convertSurfaceLevels]"},
      {"obj out in", "v 0 0 0\nf 1 2 3\n", "", 1, "[Converters, convertObjMesh]"},
      {"flow in in out", "1 0 0\nVERTICES\n0 0\n", "", 1, "[Converters, convertFlowField]"},
      {"slab out 12 1", "", "", 1, "[Converters, generateSlabMesh]"},
      {"slab out 2 -1", "", "", 1, "[Converters, generateSlabMesh]"},
  };
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::pair<const TempDir*, std::string>> runs;
  for (const auto& r : rows) {
    TempDir& dir = *dirs.emplace_back(new TempDir);
    if (!r.in.empty()) dir.write("in", r.in), dir.write("in.node", r.in);
    dir.write("in.ele", r.ele);
    runs.emplace_back(&dir, r.args);
  }
  const auto results = runTools(runs);
  for (size_t i = 0; i < results.size(); ++i) {
    const ToolRun& run = results[i];
    SCOPED_TRACE(std::string(rows[i].args) + ": " + run.err);
    EXPECT_EQ(run.exitCode, rows[i].code);
    EXPECT_EQ(run.err.rfind(rows[i].err, 0), 0u);
    if (rows[i].code != 1) continue;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_FALSE(exists(*dirs[i], "out.node") || exists(*dirs[i], "out")) << rows[i].args;
  }
  for (const char* command :
       {"transfer", "rewrite", "merge", "slab", "minmax", "stack", "surface", "obj", "flow"})
    EXPECT_NE(results[5].out.find(std::string("\n  ") + command + " <"), std::string::npos)
        << command;

  // The slab's volumes are checked with the generator; here its files load
  // as a model's three levels.
  const TempDir& slab = *dirs[6];
  slab.write("slab.config", "LEVEL 3 READ_HIERARCHY\n");
  const ProgramResult load = runProgram(slab.file(""), {ZOLT_HEADLESS, "--models", ".", "--caches",
                                                        "caches", "--model", "slab", "--load-only"});
  EXPECT_EQ(load.status, 0) << load.err;
  for (const char* level : {"level 0: 8 / 6\n", "level 1: 18 / 24\n", "level 2: 50 / 96\n"})
    EXPECT_NE(load.out.find(std::string("Vertices / Elements on ") + level), std::string::npos)
        << load.out;
}
