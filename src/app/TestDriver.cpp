#include "TestDriver.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "Run.h"
#include "Startup.h"

const std::vector<TestRun> kBuiltInTestRuns = {
    {"bunnyHigh", 0, 20}, {"liverHigh", 0, 20}, {"bunny", 0, 50},
    {"brsc3", 2, 20},     {"bunny", 2, 20},
};

namespace {

bool toCount(const std::string& text, int low, int high, int& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoi(text);
  return out >= low && out <= high;
}

}  // namespace

bool parseTestRuns(const std::string& text, std::vector<TestRun>& runs) {
  runs.clear();
  if (text == "default") {
    runs = kBuiltInTestRuns;
    return true;
  }
  std::istringstream list(text);
  std::string entry;
  while (std::getline(list, entry, ',')) {
    std::istringstream fields(entry);
    std::string name, model, seconds;
    std::getline(fields, name, ':');
    TestRun run{name};
    if (name.empty() ||
        (std::getline(fields, model, ':') && !toCount(model, 0, 5, run.elementModel)) ||
        (std::getline(fields, seconds, ':') && !toCount(seconds, 0, 1000000, run.seconds)) ||
        !fields.eof())
      return false;
    runs.push_back(run);
  }
  return !runs.empty() && text.back() != ',';
}

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
