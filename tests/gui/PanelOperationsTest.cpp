// Panel operations on models loaded in a real window: model files written
// and read back, and solver switches.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Capture.h"
#include "CubeModel.h"
#include "Files.h"
#include "FiniteElement.h"
#include "LinSimulation.h"
#include "ModelLoading.h"
#include "PanelOperations.h"
#include "ProgramWindow.h"
#include "Run.h"
#include "TetHierarchy.h"
#include "Vertex.h"

using namespace zolt::test;

namespace {

// Lines of every kind the parser skips or reads, kept byte for byte.
const std::string kConfig =
    "LEVEL 2\r\n  COLOR 200 100 50   \n\nMATERIAL\n1e6 0.33 1000 5 1 0.05\n\tSCALE 1 1 1\n";
const char* const kOldValues = "1e6 0.33 1000 5 1 0.05";

class PanelOperations : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    window = std::make_unique<ProgramWindow>();
    writeCubeModel(models(), "m", kConfig);
    for (std::string ext : {".config", ".node", ".ele", ".params"})
      writeFile(models() + "beam" + ext, readFile(std::string(ZOLT_MODELS_DIR) + "beam" + ext));
    window->open();
  }
  static void TearDownTestSuite() {
    window->close();
    window.reset();
  }
  static std::string models() { return window->models(); }
  static ::Run* load(const char* name, int scheme) {
    captureBoth([&] { selectModel(true, 0, scheme, name, false); });
    return currentRun;
  }
  // The cube model "m" as first written, without a parameter file, loaded.
  static ::Run* loadFreshCube(int scheme) {
    writeCubeModel(models(), "m", kConfig);
    std::filesystem::remove(models() + "m.params");
    return load("m", scheme);
  }
  static const std::vector<FiniteElement*>& finest(const ::Run* run) {
    return run->hierarchy->elements[run->hierarchy->nLevels - 1];
  }
  inline static std::unique_ptr<ProgramWindow> window;
};

// E 2e6, nu 0.25 as Lame parameters.
constexpr double kLambda = 2e6 * 0.25 / (1.25 * 0.5), kMu = 2e6 / 2.5;

// A directory in the way of a new file, or of the parameter file itself
// (replaced after the configuration was: that is put back), fails the write.
TEST_F(PanelOperations, WrittenFilesReloadAndAFailedWriteKeepsBothFilesAndTheModel) {
  const char* const kNew = "2000000 0.25 800 3 0.5 0.02 ";
  // clang-format off
  const struct { bool material; int scheme; double step; const char* values, *blocked, *error; } rows[] = {
      {true, 0, 0.02, kNew, "", ""}, {true, 4, 0.004, kNew, "", ""},  // explicit: a fifth of the step
      {false, 0, 0.02, kOldValues, "", ""}, {true, 0, 0.02, "", "m.params.new", "Could not write"},
      {true, 0, 0.02, "", "m.config.new", "Could not write"},
      {true, 0, 0.02, "", "m.params", "Could not replace"}};
  // clang-format on
  const auto stiffness = [](size_t e) { return 1.5f + 0.5f * (e % 3); };
  const std::string params = "old params, kept as they are\n";
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.values) + r.blocked);
    ::Run* run = loadFreshCube(r.scheme);
    ASSERT_NE(run, nullptr);
    writeFile(models() + "m.params", params);
    for (size_t e = 0; e < finest(run).size(); ++e)
      finest(run)[e]->setStiffness(stiffness(e)), finest(run)[e]->setDensity(stiffness(e + 1));
    const auto& vertices = run->hierarchy->vertices[run->hierarchy->nLevels - 1];
    for (size_t v = 0; v < vertices.size(); ++v) vertices[v]->fixed = v == 2 || v == 5;
    *run->settings.material = {kLambda, kMu, 800, 3, 0.5, r.step};
    const std::string blocked = models() + r.blocked;
    if (*r.blocked) {
      std::filesystem::remove(blocked);
      writeFile((std::filesystem::create_directory(blocked), blocked + "/x"), "");
    }
    bool written = false;
    const std::string out = captureStdout([&] { written = writeConfigFiles(r.material); });
    EXPECT_EQ(written, !*r.blocked);
    for (const char* temp : {"m.config.new", "m.params.new"})
      EXPECT_EQ(exists(models() + temp), models() + temp == blocked) << temp;
    std::string config = kConfig;
    if (!*r.blocked) config.replace(config.find(kOldValues), strlen(kOldValues), r.values);
    EXPECT_EQ(readFile(models() + "m.config"), config);
    if (*r.blocked) {
      EXPECT_NE(out.find(std::string("Error: ") + r.error + " \"" + blocked + "\""), out.npos)
          << out;
      if (std::string(r.blocked) != "m.params") {
        EXPECT_EQ(readFile(models() + "m.params"), params);
      }
      EXPECT_EQ(currentRun, run);  // not reloaded: the changes are still there
      EXPECT_EQ(finest(run)[0]->getStiffness(), stiffness(0));
      std::filesystem::remove_all(blocked);
      continue;
    }
    ASSERT_NE(run = currentRun, nullptr);
    for (size_t e = 0; e < finest(run).size(); ++e)
      EXPECT_TRUE(finest(run)[e]->getStiffness() == stiffness(e) &&
                  finest(run)[e]->getDensity() == stiffness(e + 1))
          << e;
    EXPECT_EQ(run->fixedVertices, (std::vector<int>{2, 5}));
    const auto& m = *run->settings.material;
    EXPECT_NEAR(m.lambda, r.material ? kLambda : 729765.590446705, 1e-6 * m.lambda);
    EXPECT_EQ(m.density, r.material ? 800 : 1000);
  }
}

// The static deflection of the clamped beam under gravity.
std::vector<double> deflection(::Run* run, int steps) {
  Simulation& sim = *run->simulation;
  captureStdout([&] {
    sim.resetState();
    sim.addGravity();
    for (int i = 0; i < steps; ++i) sim.computeStep(false, false, 0, false);
  });
  const Vector<double>& x = *sim.getDisplacement();
  return std::vector<double>(&x[0], &x[0] + x.n);
}

double maxDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0;
  for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::fabs(a[i] - b[i]));
  return d;
}

TEST_F(PanelOperations, TheSolverCallbackSwitchesTheBeamToCgAndBack) {
  ::Run* run = load("beam", 5);  // the static scheme
  ASSERT_NE(run, nullptr);
  auto& lin = dynamic_cast<LinSimulation&>(*run->simulation);
  const std::vector<double> multigrid = deflection(run, 200);
  ASSERT_GT(maxDifference(multigrid, std::vector<double>(multigrid.size())), 1e-3);  // it sags
  // CG stops on the squared residual: 1e-9 takes it to its floor of 1e-12.
  // clang-format off
  const struct { int kind; float accuracy; int steps; } rows[] = {{1, 1e-9f, 1}, {0, 1e-4f, 200}, {1, 1e-9f, 1}};
  // clang-format on
  for (const auto& r : rows) {
    solverChoice.kind = r.kind;
    solverChoice.accuracy = r.accuracy;
    solverChoice.preSweeps = solverChoice.postSweeps = 1;
    captureStdout(
        [] { solverSettingsCallback(kSolverKind), solverSettingsCallback(kSolverParameters); });
    EXPECT_EQ(lin.solverKind(), r.kind);
    EXPECT_LT(maxDifference(deflection(run, r.steps), multigrid), 1e-6) << r.kind;
  }
  // Choices the simulation cannot take: one message, CG kept.
  const Iteration<double>* cg = lin.solver.get();
  // clang-format off
  const struct { int kind; uint64_t (*memory)(); const char* reason; } refused[] = {
      {7, nullptr, "Error: Solver 7 is not one of 0 .. 3"}, {-1, nullptr, "Error: Solver -1 is not one of 0 .. 3"},
      {2, []() -> uint64_t { return 1 << 20; }, " of the 3000 x 3000 matrix needs "}};
  // clang-format on
  uint64_t (*const memory)() = LinSimulation::availableMemory;
  for (const auto& r : refused) {
    if (r.memory) LinSimulation::availableMemory = r.memory;
    solverChoice.kind = r.kind;
    const std::string out = captureStdout([] { solverSettingsCallback(kSolverKind); });
    LinSimulation::availableMemory = memory;
    EXPECT_NE(out.find(r.reason), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(lin.solver.get(), cg);
    EXPECT_EQ(solverChoice.kind, 1);
  }
}

}  // namespace
