// Timing loops on the cube: whole simulated seconds, gravity switched after
// each one. The skip without a simulation is checked with zolt_headless.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "ModelFixture.h"
#include "Simulation.h"

using namespace zolt::test;

TEST(RunBenchmark, TimesWholeSimulatedSeconds) {
  ModelDirs d;
  d.cube("c", "LEVEL 2 MATERIAL 1e6 0.33 1000 5 1 0.05");  // 20 steps a second
  for (int seconds : {1, 2}) {
    std::unique_ptr<::Run> run = loadRun("c");
    captureBoth([&] { run->preprocess(true); });
    std::istringstream out(captureStdout([&] { EXPECT_TRUE(run->benchmark(seconds)); }));
    std::string line;
    int n = 0;
    for (; std::getline(out, line); ++n) {
      // "<i>. \tsimulation second:   \tratio = <r>;  \tfps = <f>"
      int i = -1;
      double ratio = 0, fps = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%d. simulation second: ratio = %lf; fps = %lf", &i,
                            &ratio, &fps),
                3);
      EXPECT_EQ(i, n);
      EXPECT_GT(ratio, 0);
      EXPECT_NEAR(fps / ratio, 20, 1e-3);
    }
    EXPECT_EQ(n, seconds);
    // Gravity comes on after the first second: the free cube rests through
    // it and moves from the second on.
    EXPECT_EQ(run->simulation->maxVertexNorm() > 0, seconds >= 2) << seconds;
    // printFps: one "<rate> fps" line per whole second.
    std::istringstream fps(captureStdout([&] { EXPECT_TRUE(run->printFps(seconds)); }));
    for (n = 0; std::getline(fps, line); ++n) EXPECT_GT(std::stod(line), 0);
    EXPECT_EQ(n, seconds);
  }
}
