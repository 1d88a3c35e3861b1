#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
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

ToolRun runTools(const TempDir& dir, const std::string& args) {
  return runTools({{&dir, args}})[0];
}

// Runs zolt_tools with args in dir under the limit `resource` of `bytes`.
ToolRun runLimited(const TempDir& dir, std::vector<std::string> args, int resource, rlim_t bytes) {
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{bytes, bytes};
    if (chdir(dir.file("").c_str()) != 0 || setrlimit(resource, &limit) != 0 ||
        !std::freopen("stdout", "w", stdout) || !std::freopen("stderr", "w", stderr))
      _exit(99);
    args.insert(args.begin(), ZOLT_TOOLS_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(98);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), readFile(dir.file("stdout")),
          readFile(dir.file("stderr"))};
}

}  // namespace

TEST(ToolsMain, SlabLevelsHoldFourTimesTheThickness) {
  TempDir dir;
  ASSERT_EQ(runTools(dir, "slab " + dir.file("slab") + " 3 0.2").exitCode, 0);
  const auto node = blocks(readFile(dir.file("slab.node")), true);
  const auto ele = blocks(readFile(dir.file("slab.ele")), false);
  ASSERT_EQ(ele.size(), 3u);
  for (size_t l = 0; l < 3; ++l) {
    double volume = 0.0;
    for (size_t e = 0; e < ele[l].v.size(); ++e)
      volume +=
          std::fabs(signedVolume(corner(node[l], ele[l], e, 0), corner(node[l], ele[l], e, 1),
                                 corner(node[l], ele[l], e, 2), corner(node[l], ele[l], e, 3)));
    EXPECT_NEAR(volume, 4.0 * 0.2, 1e-12) << "level " << l;
  }
  // The files load as a model's three levels.
  dir.write("slab.config", "LEVEL 3 READ_HIERARCHY\n");
  const ProgramResult load = runProgram(dir.file(""), {ZOLT_HEADLESS, "--models", ".", "--caches",
                                                       "caches", "--model", "slab", "--load-only"});
  EXPECT_EQ(load.status, 0) << load.err;
  for (const char* level : {"level 0: 8 / 6\n", "level 1: 18 / 24\n", "level 2: 50 / 96\n"})
    EXPECT_NE(load.out.find(std::string("Vertices / Elements on ") + level), std::string::npos)
        << load.out;
}

TEST(ToolsMain, UsageErrorsExitWithTwoAndHelpListsEveryCommand) {
  const struct {
    const char *args, *err;
    int code;
  } rows[] = {
      {"", "Usage: zolt_tools <command> <arguments>", 2},
      {"cut a b", "zolt_tools: unknown command \"cut\"", 2},
      {"slab a 3", "Usage: zolt_tools slab <outBase> <levels> <thickness>", 2},
      {"slab a 3x 0.2", "zolt_tools: bad argument \"3x\"", 2},
      {"transfer a b 1 0 2 1 0 1", "zolt_tools: bad argument \"2\"", 2},
      {"--help", "", 0},
  };
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::pair<const TempDir*, std::string>> runs;
  for (const auto& r : rows) runs.emplace_back(dirs.emplace_back(new TempDir).get(), r.args);
  const auto results = runTools(runs);
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].exitCode, rows[i].code) << rows[i].args;
    EXPECT_EQ(results[i].err.rfind(rows[i].err, 0), 0u) << rows[i].args << ": " << results[i].err;
  }
  for (const char* command :
       {"transfer", "rewrite", "merge", "slab", "minmax", "stack", "surface", "obj", "flow"})
    EXPECT_NE(results.back().out.find(std::string("\n  ") + command + " <"), std::string::npos)
        << command;
}

// One malformed input per converter: exit code 1 and one error line.
TEST(ToolsMain, MalformedInputExitsWithOne) {
  const struct {
    const char* args;
    const char* file;
    std::string text;
    const char* err;
    std::string ele = "";  // in.ele, written when not empty
  } rows[] = {
      {"transfer in out 1 1 1 1 0 1", "in", "1 2 3\n", "[Converters, convertTransferFunction]"},
      {"rewrite in out", "in.node", "5 3 0 0\n1 0 0 0\n", "[Converters, rewriteNodeEle]"},
      {"merge 1 0 0 0 1 1 out in in", "in.node", "-3 3 0 1\n", "[Converters, convertMeshA]"},
      {"merge 1 1 1 3.4e38 1 1e38 out in in", "in.node",
       "4 3 0 1\n1 0 0 0 0\n2 1 0 0 0\n3 0 1 0 0\n4 0 0 1 0\n",
       "[Converters, convertMeshA] Error: in.node: level 0 vertex 4: scaleB 1e+38 with oz 3.4e+38",
       "1 4 0\n1 1 2 3 4\n"},
      {"merge 1 0 0 0 0 1 out in in", "in.node", "",
       "[Converters, convertMeshA] Error: in.node: scaleA 0 collapses the mesh to a point"},
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
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::pair<const TempDir*, std::string>> runs;
  for (const auto& r : rows) {
    dirs.emplace_back(new TempDir)->write(r.file, r.text);
    if (!r.ele.empty()) dirs.back()->write("in.ele", r.ele);
    runs.emplace_back(dirs.back().get(), r.args);
  }
  const auto results = runTools(runs);
  for (size_t i = 0; i < results.size(); ++i) {
    const ToolRun& run = results[i];
    EXPECT_EQ(run.exitCode, 1) << rows[i].args;
    EXPECT_EQ(run.err.rfind(rows[i].err, 0), 0u) << rows[i].args << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(exists(*dirs[i], "out.node") || exists(*dirs[i], "out")) << rows[i].args;
  }
}

// Out of memory or past the file-size limit, a converter writes none of its
// outputs: exit code 1, one line naming them, nothing new under their names
// and no temporary file left; an older output stays as it was. Before, slab
// ended in std::bad_alloc (exit 134), exited 0 over an output cut where its
// text stream ran out of memory, or was killed by SIGXFSZ over a cut file.
TEST(ToolsMain, ALimitLeavesNoOutputAndOneLine) {
  const rlim_t MB = 1 << 20;
  const struct {
    std::vector<std::string> args;
    int resource;
    rlim_t bytes;
    const char* names;
  } rows[] = {
      {{"slab", "big", "9", "0.2"}, RLIMIT_AS, 24 * MB, "big.node and big.ele"},
      {{"slab", "big", "9", "0.2"}, RLIMIT_AS, 48 * MB, "big.node and big.ele"},
      // big.node (63408 bytes) fits, big.ele (178975) does not.
      {{"slab", "big", "6", "0.2"}, RLIMIT_FSIZE, 64 << 10, "big.node and big.ele"},
      {{"transfer", "in", "big", "1", "1", "1", "1", "0", "1"}, RLIMIT_FSIZE, 1024, "big"},
  };
  std::string ramp;
  for (int i = 0; i < 256; ++i) ramp += "1 2 3 4\n";
  for (const auto& r : rows) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's shadow memory defeats address-space limits.
    if (r.resource == RLIMIT_AS) continue;
#endif
    const std::string what = r.args[0] + " " + std::to_string(r.bytes);
    for (bool older : {false, true}) {
      SCOPED_TRACE(what + (older ? " over older outputs" : ""));
      TempDir dir;
      dir.write("in", ramp);
      if (older) dir.write("big.node", "old");
      const ToolRun run = runLimited(dir, r.args, r.resource, r.bytes);
      EXPECT_EQ(run.exitCode, 1) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_NE(run.err.find(std::string(r.names) + ": cannot be written"), std::string::npos)
          << run.err;
      EXPECT_TRUE(run.err.rfind("[Converters, ", 0) == 0 ||
                  run.err.rfind("zolt_tools " + r.args[0] + ": ", 0) == 0)
          << run.err;
      EXPECT_FALSE(exists(dir, "big.ele") || exists(dir, "big"));
      EXPECT_EQ(readFile(dir.file("big.node")), older ? "old" : "");
      // in, stdout, stderr and the older output.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path),
                              std::filesystem::directory_iterator()),
                older ? 4 : 3);
    }
  }
}
