#include <gtest/gtest.h>

#include "Capture.h"
#include "Converters.h"
#include "ToolFiles.h"

using namespace zolt::test;

namespace {

const char kGrid[] =
    "5 1 2\nVERTICES\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 1 1\n"
    "TRIANGLES\n1 2 3\nTETRAHEDRA\n1 2 3 4\n2 3 4 5\n";
// Energy 1..5: mean 3, standard deviation sqrt(2).
const char kFlow[] =
    "5 0.8 2.5 1e6 0.0\n"
    "1 0 0 0 1\n1 0 0 0 2\n1 0 0 0 3\n1 0 0 0 4\n1 0 0 0 5\n";

}  // namespace

TEST(FlowField, WritesTetrahedraWithEnergyAndPrintsStatistics) {
  TempDir dir;
  const std::string grid = dir.write("g.txt", kGrid), flow = dir.write("f.txt", kFlow);
  int result = 0;
  const std::string out =
      captureStdout([&] { result = convertFlowField(grid, flow, dir.file("o")); });
  EXPECT_EQ(result, 1);
  // x takes 0, 1, 0, 0, 1: mean 0.4, deviation sqrt(0.24).
  EXPECT_NE(out.find("min 0.00000   max 1.00000   avg 0.40000   dev 0.48990"), std::string::npos)
      << out;
  EXPECT_NE(out.find("min 1.00000   max 5.00000   avg 3.00000   dev 1.41421"), std::string::npos);
  EXPECT_EQ(readFile(dir.file("o.node")),
            "5 3 0 1\n1 0.000000 0.000000 0.000000 1.000000\n2 1.000000 0.000000 0.000000 "
            "2.000000\n3 0.000000 1.000000 0.000000 3.000000\n4 0.000000 0.000000 1.000000 "
            "4.000000\n5 1.000000 1.000000 1.000000 5.000000\n");
  EXPECT_EQ(readFile(dir.file("o.ele")), "2 4 0\n1 1 2 3 4\n2 2 3 4 5\n");
}

TEST(FlowField, MismatchedOrMalformedInputWritesNothing) {
  const std::string grid(kGrid), flow(kFlow);
  const struct {
    std::string grid, flow;
    const char *file, *out, *err;
  } rows[] = {
      {grid, "4" + flow.substr(1), "f.txt",
       "ERROR: FLOWFIELD DOES NOT MATCH GRID - 4 nodes indicated!\n",
       "node count 4 does not match the 5 vertices of "},
      {grid, flow.substr(0, flow.size() - 3), "f.txt", "", "node 5: the file ends before it"},
      {"1 0 0\nPOINTS\n0 0 0\n", flow, "g.txt", "", "no section VERTICES"},
      {"1 0 2000\nVERTICES\n0 0 0\n", flow, "g.txt", "", "tetrahedron count 2000 exceeds the file"},
      {grid.substr(0, grid.size() - 2) + "6\n", flow, "g.txt", "",
       "tetrahedron 2: vertex number 6 out of range 1..5"},
  };
  for (const auto& r : rows) {
    TempDir dir;
    const std::string g = dir.write("g.txt", r.grid), f = dir.write("f.txt", r.flow);
    int result = 1;
    const auto io = captureBoth([&] { result = convertFlowField(g, f, dir.file("o")); });
    EXPECT_EQ(result, 0) << r.err;
    EXPECT_NE(io.out.find(r.out), std::string::npos) << io.out;
    // The mismatch names both files.
    const std::string grid = std::string(r.err).find("vertices of") != std::string::npos ? g : "";
    EXPECT_EQ(io.err, *r.err ? "[Converters, convertFlowField] Error: " + dir.file(r.file) + ": " +
                                   r.err + grid + "\n"
                             : "");
    EXPECT_FALSE(exists(dir, "o.node"));
  }
  TempDir dir;
  EXPECT_EQ(captureBoth([&] {
              EXPECT_EQ(convertFlowField(dir.file("none"), dir.file("none"), dir.file("o")), 0);
            }).err,
            "[Converters, convertFlowField] Error: " + dir.file("none") + ": cannot be opened\n");
}
