// Timing loops on the cube: whole simulated seconds, gravity switched after
// each one, and no timing without a simulation.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "ModelFixture.h"
#include "Simulation.h"

using namespace zolt::test;

TEST(RunBenchmark, TimesWholeSimulatedSeconds) {
  ModelDirs d;
  d.cube("c", "LEVEL 2 MATERIAL 1e6 0.33 1000 5 1 0.05");  // 20 steps a second
  const std::regex benchmarkLine(
      R"((\d+)\. \tsimulation second:   \tratio = ([0-9.e+]+);  \tfps = ([0-9.e+]+))");
  for (int seconds : {1, 2, 3}) {
    std::unique_ptr<::Run> run = loadRun("c");
    captureBoth([&] { run->preprocess(true); });
    bool ok = false;
    std::istringstream out(captureStdout([&] { ok = run->benchmark(seconds); }));
    EXPECT_TRUE(ok);
    std::string line;
    int n = 0;
    for (std::smatch m; std::getline(out, line); ++n) {
      ASSERT_TRUE(std::regex_match(line, m, benchmarkLine)) << line;
      EXPECT_EQ(std::stoi(m[1]), n);
      EXPECT_GT(std::stod(m[2]), 0);
      EXPECT_NEAR(std::stod(m[3]) / std::stod(m[2]), 20, 1e-3);
    }
    EXPECT_EQ(n, seconds);
    // Gravity comes on after the first second only: the free cube rests
    // through it and falls in the second, and stays on after an odd count.
    EXPECT_EQ(run->simulation->maxVertexNorm() > 0, seconds >= 2) << seconds;
  }
}

TEST(RunBenchmark, PrintFpsAndNoSimulation) {
  ModelDirs d;
  d.cube("c", "LEVEL 2");
  std::unique_ptr<::Run> run = loadRun("c");
  captureBoth([&] { run->preprocess(true); });
  std::istringstream out(captureStdout([&] { EXPECT_TRUE(run->printFps(2)); }));
  std::string line;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(std::getline(out, line));
    EXPECT_TRUE(std::regex_match(line, std::regex(R"([0-9.e+]+ fps)"))) << line;
    EXPECT_GT(std::stod(line), 0);
  }
  EXPECT_FALSE(std::getline(out, line));

  std::unique_ptr<::Run> green = loadRun("c", false, 2);
  captureBoth([&] { green->preprocess(true); });
  ASSERT_FALSE(green->simulation);
  const std::string message = captureStdout([&] { EXPECT_FALSE(green->benchmark(3)); });
  EXPECT_EQ(message, "[Run, benchmark] Error: Element model 2 creates no simulation; no timing\n");
}
