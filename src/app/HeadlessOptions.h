#pragma once
// Command line of zolt_headless, the batch face of the simulator. Every
// option is declared once, in the table of HeadlessOptions.cpp, which also
// makes the --help text.

#include <string>
#include <vector>

#include "TestDriver.h"

struct HeadlessOptions {
  std::string initFile;   // --init FILE
  std::string modelsDir;  // --models DIR (with --caches)
  std::string cachesDir;  // --caches DIR (with --models)
  std::string model = "bunnyFurTex";
  bool rebuild = false;
  bool loadOnly = false;
  int elementModel = 0;
  int scheme = 0;
  bool help = false;
  // Stepping: each option maps to the action of the interactive program.
  int steps = 0;
  int printEvery = 0;
  int vertex = -1;      // 0-based finest-level array position, -1: none
  bool lowest = false;  // print the least y around the collision pass (with a barrier)
  bool gravity = false;
  bool forces = false;  // the configured forces, held while stepping
  bool forceField = false;
  int freezeAt = -1;
  int resetAt = -1;
  std::vector<int> pins;  // 0-based finest-level array positions pinned before stepping
  int solver = -1;        // -1: keep the default
  int extraPasses = 0;
  bool stress = false;
  bool residual = false;
  bool average = false;
  bool solverTest = false;
  std::string dumpDisplacement;
  int benchmarkSeconds = -1;      // --benchmark S: time S simulated seconds
  std::vector<TestRun> testRuns;  // --run-tests LIST: the test driver instead
};

// Fills o from argv[1 ..]; false, with the reason in error, on a usage error
// (unknown option, missing or bad value, --init together with
// --models/--caches, one of --models/--caches alone, a stray argument).
bool parseHeadlessOptions(int argc, const char* const* argv, HeadlessOptions& o,
                          std::string& error);

// The usage line.
std::string headlessUsage();
// The usage line and one line per option.
std::string headlessHelp();
