// Timing loops on the cube: whole simulated seconds, gravity switched after
// each one. The skip without a simulation is checked with zolt_headless.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "ModelFixture.h"
#include "Simulation.h"

using namespace zolt::test;

namespace {

// The numbers of "<i>. \tsimulation second:   \tratio = <r>;  \tfps = <f>";
// false for a line of another shape.
bool parseSecond(const std::string& line, int& i, double& ratio, double& fps) {
  int end = 0;
  return line.find(". \tsimulation second:   \tratio = ") != std::string::npos &&
         line.find(";  \tfps = ") != std::string::npos &&
         std::sscanf(line.c_str(), "%d. simulation second: ratio = %lf; fps = %lf%n", &i, &ratio,
                     &fps, &end) == 3 &&
         end == static_cast<int>(line.size());
}

}  // namespace

TEST(RunBenchmark, TimesWholeSimulatedSeconds) {
  ModelDirs d;
  d.cube("c", "LEVEL 2 MATERIAL 1e6 0.33 1000 5 1 0.05");  // 20 steps a second
  for (int seconds : {1, 2, 3}) {
    std::unique_ptr<::Run> run = loadRun("c");
    captureBoth([&] { run->preprocess(true); });
    bool ok = false;
    std::istringstream out(captureStdout([&] { ok = run->benchmark(seconds); }));
    EXPECT_TRUE(ok);
    std::string line;
    int n = 0;
    for (; std::getline(out, line); ++n) {
      int i = -1;
      double ratio = 0, fps = 0;
      ASSERT_TRUE(parseSecond(line, i, ratio, fps)) << line;
      EXPECT_EQ(i, n);
      EXPECT_GT(ratio, 0);
      EXPECT_NEAR(fps / ratio, 20, 1e-3);
    }
    EXPECT_EQ(n, seconds);
    // Gravity comes on after the first second: the free cube rests through
    // it and moves from the second on.
    EXPECT_EQ(run->simulation->maxVertexNorm() > 0, seconds >= 2) << seconds;
  }
}

TEST(RunBenchmark, PrintFpsCountsWholeSeconds) {
  ModelDirs d;
  d.cube("c", "LEVEL 2");
  std::unique_ptr<::Run> run = loadRun("c");
  captureBoth([&] { run->preprocess(true); });
  std::istringstream out(captureStdout([&] { EXPECT_TRUE(run->printFps(2)); }));
  std::string line;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(std::getline(out, line));
    size_t end = 0;
    EXPECT_GT(std::stod(line, &end), 0);
    EXPECT_EQ(line.substr(end), " fps");
  }
  EXPECT_FALSE(std::getline(out, line));
}
