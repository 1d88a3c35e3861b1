// Batch stepping on the generated sample models, checked against beam
// theory and against itself.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "Files.h"

using namespace zolt::test;

namespace {

const std::string kModels = ZOLT_MODELS_DIR;

// The model `name` copied into dir/models.
void copyModel(const TempDir& t, const std::string& name) {
  mkdir(t.file("models").c_str(), 0777);
  for (const char* ext : {".config", ".node", ".ele", ".params"})
    if (exists(kModels + name + ext))
      writeFile(t.file("models/" + name + ext), readFile(kModels + name + ext));
}

ProgramResult step(const TempDir& t, const std::string& name, std::vector<std::string> extra) {
  std::vector<std::string> args = {ZOLT_HEADLESS, "--models", "models", "--caches",
                                   "caches",      "--model",  name};
  args.insert(args.end(), extra.begin(), extra.end());
  return runProgram(t.file(""), args);
}

// The maxu values of the "step <n> maxu <value>" lines.
std::vector<double> maxu(const std::string& out) {
  std::vector<double> values;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("step ", 0) == 0)
      values.push_back(std::stod(line.substr(line.find("maxu ") + 5)));
  return values;
}

double material(const std::string& config, int k) {
  std::istringstream in(config.substr(config.find("MATERIAL") + 8));
  double v[4];
  for (double& x : v) in >> x;
  return v[k];
}

}  // namespace

// Cantilever of length 1 and square section 0.1 clamped at x = 0 under its
// own weight: tip deflection q L^4 / (8 E I), q = rho g A.
TEST(HeadlessStepping, CantileverMatchesBeamTheory) {
  const std::string config = readFile(kModels + "beamFine.config");
  const double E = material(config, 0), rho = material(config, 2);
  const double L = 1.0, h = 0.1, q = rho * 9.81 * h * h, I = h * h * h * h / 12.0;
  const double oracle = q * L * L * L * L / (8.0 * E * I);
  TempDir t;
  copyModel(t, "beamFine");
  const ProgramResult r =
      step(t, "beamFine", {"--gravity", "--scheme", "4", "--steps", "60", "--print-every", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> u = maxu(r.out);
  ASSERT_EQ(u.size(), 60u);
  EXPECT_LT(std::fabs(u[59] - u[58]), 1e-10 * oracle) << "not converged";
  EXPECT_LT(std::fabs(u.back() - oracle) / oracle, 0.15) << "tip " << u.back();
}

// Reset (which also drops gravity, as the reset action does) returns the
// body to rest; the V-cycle and CG reach the same static state, whose
// largest component is dumped: between |u| / sqrt(3) and |u|.
TEST(HeadlessStepping, OptionsMapToTheSimulationActions) {
  TempDir t;
  copyModel(t, "beam");
  const struct {
    std::vector<std::string> args;
    double expectLast;  // < 0: compare with the V-cycle run
  } runs[] = {
      {{"--scheme", "4", "--steps", "40", "--print-every", "40", "--reset-at", "39"}, 0.0},
      {{"--scheme", "4", "--steps", "100", "--print-every", "100", "--dump-displacement", "u"},
       -1.0},
      {{"--scheme", "4", "--steps", "100", "--print-every", "100", "--solver", "1"}, -1.0},
  };
  double reference = -1.0;
  for (const auto& run : runs) {
    std::vector<std::string> args = run.args;
    args.push_back("--gravity");
    const ProgramResult r = step(t, "beam", args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> u = maxu(r.out);
    ASSERT_EQ(u.size(), 1u);
    if (run.expectLast >= 0) {
      EXPECT_EQ(u[0], run.expectLast);
      continue;
    }
    if (reference < 0) reference = u[0];
    EXPECT_NEAR(u[0], reference, 1e-5 * reference);
  }
  std::istringstream in(readFile(t.file("u")));
  double v = 0, largest = 0;
  while (in >> v) largest = std::max(largest, std::fabs(v));
  EXPECT_LE(largest, reference * (1 + 1e-4));
  EXPECT_GE(largest, reference / std::sqrt(3.0) * (1 - 1e-4));
}
