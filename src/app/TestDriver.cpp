#include "TestDriver.h"

#include <fstream>
#include <iostream>

#include "Run.h"
#include "Startup.h"

const std::vector<TestRun> kBuiltInTestRuns = {
    {"bunnyHigh", 0, 20}, {"liverHigh", 0, 20}, {"bunny", 0, 50},
    {"brsc3", 2, 20},     {"bunny", 2, 20},
};

void runTests(int integrationScheme, const std::vector<TestRun>& runs) {
  for (const TestRun& t : runs) {
    std::cout << "Test " << (t.elementModel == 2 ? "nonlinear" : "linear") << " Simulation of \""
              << t.model << "\"" << std::endl
              << std::endl;
    // A Run ends the program on a missing configuration file.
    const std::string config = modelsPath + t.model + ".config";
    if (!std::ifstream(config).is_open()) {
      std::cout << "[TestDriver, runTests] Error: Model \"" << t.model << "\" not found (\""
                << config << "\" is missing); skipped" << std::endl;
    } else if (Run* run = loadModel({t.model, false, t.elementModel, integrationScheme})) {
      std::cout << "Timings (" << t.model << ")" << std::string(57, '-') << std::endl;
      run->benchmark(t.seconds);
      unloadModel();
    }
    std::cout << std::string(80, '-') << std::endl << std::endl;
  }
  unloadModel();
}
