#pragma once
// The performance test driver: loads models one after the other and times
// each with Run::benchmark.

#include <string>
#include <vector>

struct TestRun {
  std::string model;     // bare model name
  int elementModel = 0;  // 2 (Green) prints the nonlinear heading
  int seconds = 20;      // simulated seconds to time
};

// bunnyHigh, liverHigh, bunny (linear), brsc3 and bunny (Green).
extern const std::vector<TestRun> kBuiltInTestRuns;

// Per run: the heading, the load and preprocessing, the timings and a
// closing line of dashes. A model without a configuration file is reported
// and skipped; so is the timing of one whose element model creates no
// simulation. No model is loaded afterwards.
void runTests(int integrationScheme, const std::vector<TestRun>& runs);
