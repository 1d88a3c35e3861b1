#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ToolFiles.h"

using namespace zolt::test;

namespace {

struct ToolRun {
  int exitCode;
  std::string out, err;
};

// Runs zolt_tools in dir with the given arguments (shell words).
ToolRun runTools(const ToolDir& dir, const std::string& args) {
  const std::string command = "cd " + dir.path("") + " && " ZOLT_TOOLS_PATH " " + args + " > " +
                              dir.path("stdout") + " 2> " + dir.path("stderr");
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.path("stdout")),
          readFile(dir.path("stderr"))};
}

}  // namespace

TEST(ToolsMain, SlabLevelsHoldFourTimesTheThickness) {
  ToolDir dir;
  ASSERT_EQ(runTools(dir, "slab " + dir.path("slab") + " 3 0.2").exitCode, 0);
  const auto node = blocks(readFile(dir.path("slab.node")), true);
  const auto ele = blocks(readFile(dir.path("slab.ele")), false);
  ASSERT_EQ(ele.size(), 3u);
  for (size_t l = 0; l < 3; ++l) {
    double volume = 0.0;
    for (size_t e = 0; e < ele[l].v.size(); ++e)
      volume +=
          std::fabs(signedVolume(corner(node[l], ele[l], e, 0), corner(node[l], ele[l], e, 1),
                                 corner(node[l], ele[l], e, 2), corner(node[l], ele[l], e, 3)));
    EXPECT_NEAR(volume, 4.0 * 0.2, 1e-12) << "level " << l;
  }
}

TEST(ToolsMain, UsageErrorsExitWithTwo) {
  const struct {
    const char *args, *err;
    int code;
  } rows[] = {
      {"", "Usage: zolt_tools <command> <arguments>", 2},
      {"cut a b", "zolt_tools: unknown command \"cut\"", 2},
      {"slab a 3", "Usage: zolt_tools slab <outBase> <levels> <thickness>", 2},
      {"slab a 3x 0.2", "zolt_tools: bad argument \"3x\"", 2},
      {"transfer a b 1 0 2 1 0 1", "zolt_tools: bad argument \"2\"", 2},
  };
  for (const auto& r : rows) {
    ToolDir dir;
    const ToolRun run = runTools(dir, r.args);
    EXPECT_EQ(run.exitCode, r.code) << r.args;
    EXPECT_EQ(run.err.rfind(r.err, 0), 0u) << r.args << ": " << run.err;
  }
  ToolDir dir;
  const ToolRun help = runTools(dir, "--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* command :
       {"transfer", "rewrite", "merge", "slab", "minmax", "stack", "surface", "obj", "flow"})
    EXPECT_NE(help.out.find(std::string("\n  ") + command + " <"), std::string::npos) << command;
}

// One malformed input per converter: exit code 1 and one error line.
TEST(ToolsMain, MalformedInputExitsWithOne) {
  const struct {
    const char* args;
    const char* file;
    std::string text;
    const char* err;
  } rows[] = {
      {"transfer in out 1 1 1 1 0 1", "in", "1 2 3\n", "[Converters, convertTransferFunction]"},
      {"rewrite in out", "in.node", "5 3 0 0\n1 0 0 0\n", "[Converters, rewriteNodeEle]"},
      {"merge 1 0 0 0 1 1 out in in", "in.node", "-3 3 0 1\n", "[Converters, convertMeshA]"},
      {"minmax out in", "in", "1\n0 0 0 0 0 0 0 0 0\n1\n0 0 0 1\n",
       "[Converters, convertMeshMinMax]"},
      {"stack out in", "in", "99999\n0 0 0\n", "[Converters, convertMeshC]"},
      {"surface in out", "in", std::string("\x01\x00\xff\xff\xff\xff", 6),
       "[Converters, convertSurfaceLevels]"},
      {"obj out in", "in", "v 0 0 0\nf 1 2 3\n", "[Converters, convertObjMesh]"},
      {"flow in in out", "in", "1 0 0\nVERTICES\n0 0\n", "[Converters, convertFlowField]"},
      {"slab out 12 1", "in", "", "[Converters, generateSlabMesh]"},
      {"slab out 2 -1", "in", "", "[Converters, generateSlabMesh]"},
  };
  for (const auto& r : rows) {
    ToolDir dir;
    dir.write(r.file, r.text);
    const ToolRun run = runTools(dir, r.args);
    EXPECT_EQ(run.exitCode, 1) << r.args;
    EXPECT_EQ(run.err.rfind(r.err, 0), 0u) << r.args << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(dir.exists("out.node") || dir.exists("out")) << r.args;
  }
}
