// Panel operations no control calls, on models loaded in a real window:
// model files written and read back, solver switches, the model-list load
// and the volume-parameter callback.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "Capture.h"
#include "ControlFixture.h"
#include "CubeModel.h"
#include "Files.h"
#include "FiniteElement.h"
#include "LinSimulation.h"
#include "MaterialProperties.h"
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
    "LEVEL 2\r\n"
    "  COLOR 200 100 50   \n"
    "\n"
    "MATERIAL\n"
    "1e6 0.33 1000 5 1 0.05\n"
    "\tSCALE 1 1 1\n";
const char* const kOldValues = "1e6 0.33 1000 5 1 0.05";

class PanelOperations : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    window = new ProgramWindow;
    for (std::string ext : {".config", ".node", ".ele", ".params"})
      writeFile(models() + "beam" + ext, readFile(std::string(ZOLT_MODELS_DIR) + "beam" + ext));
    writeCubeModel(models(), "m", kConfig);
    window->open();
  }
  static void TearDownTestSuite() {
    window->close();
    delete window;
  }
  static std::string models() { return window->models(); }
  static ::Run* load(const char* name, int scheme) {
    captureBoth([&] { selectModel(true, 0, scheme, name, false); });
    return currentRun;
  }
  // The cube model "m" as first written, without a parameter file, loaded.
  static ::Run* loadFreshCube(int scheme) {
    writeCubeModel(models(), "m", kConfig);
    std::remove((models() + "m.params").c_str());
    return load("m", scheme);
  }
  static const std::vector<FiniteElement*>& finest(const ::Run* run) {
    return run->hierarchy->elements[run->hierarchy->nLevels - 1];
  }
  static ProgramWindow* window;
};

ProgramWindow* PanelOperations::window = nullptr;

// E 2e6, nu 0.25 as Lame parameters.
constexpr double kLambda = 2e6 * 0.25 / (1.25 * 0.5), kMu = 2e6 / 2.5;

TEST_F(PanelOperations, WrittenFilesReloadWithTheNewValuesAndKeepTheOtherLines) {
  // Scheme 4 (explicit) runs at a fifth of the step.
  const struct {
    bool withMaterial;
    int scheme;
    double runningStep;
    const char* values;
  } rows[] = {{true, 0, 0.02, "2000000 0.25 800 3 0.5 0.02 "},
              {true, 4, 0.004, "2000000 0.25 800 3 0.5 0.02 "},
              {false, 0, 0.02, kOldValues}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.values);
    ::Run* run = loadFreshCube(r.scheme);
    ASSERT_NE(run, nullptr);
    const auto stiffness = [](size_t e) { return 1.0f + 0.5f * (e % 3); };
    const auto density = [](size_t e) { return 0.5f + 0.25f * (e % 4); };
    for (size_t e = 0; e < finest(run).size(); ++e) {
      finest(run)[e]->setStiffness(stiffness(e));
      finest(run)[e]->setDensity(density(e));
    }
    const std::vector<Vertex*>& vertices = run->hierarchy->vertices[run->hierarchy->nLevels - 1];
    for (size_t v = 0; v < vertices.size(); ++v) vertices[v]->fixed = v == 2 || v == 5;
    *run->settings.material = {kLambda, kMu, 800, 3, 0.5, r.runningStep};

    bool written = false;
    captureStdout([&] { written = writeConfigFiles(r.withMaterial); });
    ASSERT_TRUE(written);
    run = currentRun;
    ASSERT_NE(run, nullptr);
    for (size_t e = 0; e < finest(run).size(); ++e) {
      EXPECT_EQ(finest(run)[e]->getStiffness(), stiffness(e)) << e;
      EXPECT_EQ(finest(run)[e]->getDensity(), density(e)) << e;
    }
    EXPECT_EQ(run->fixedVertices, (std::vector<int>{2, 5}));
    EXPECT_EQ(run->settings.fixedCount, 2);
    const MaterialProperties& m = *run->settings.material;
    EXPECT_NEAR(m.lambda, r.withMaterial ? kLambda : 729765.590446705, 1e-6 * m.lambda);
    EXPECT_EQ(m.density, r.withMaterial ? 800 : 1000);
    std::string expected = kConfig;
    expected.replace(expected.find(kOldValues), std::string(kOldValues).size(), r.values);
    EXPECT_EQ(readFile(models() + "m.config"), expected);
    for (const char* left : {"m.config.new", "m.params.new"}) EXPECT_FALSE(exists(models() + left));
  }
}

TEST_F(PanelOperations, AFailedWriteKeepsBothFilesAndTheModel) {
  // A directory in the way of a new file, or of the parameter file itself
  // (replaced after the configuration was: that is put back).
  const struct {
    const char* blocked;
    const char* error;
  } rows[] = {{"m.params.new", "Could not write"},
              {"m.config.new", "Could not write"},
              {"m.params", "Could not replace"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.blocked);
    const std::string blocked = models() + r.blocked;
    ::Run* run = loadFreshCube(0);
    ASSERT_NE(run, nullptr);
    const std::string params = "old params, kept as they are\n";
    writeFile(models() + "m.params", params);
    finest(run)[0]->setStiffness(7.0f);
    std::filesystem::remove(blocked);
    mkdir(blocked.c_str(), 0777);
    writeFile(blocked + "/x", "");

    bool written = true;
    const std::string out = captureStdout([&] { written = writeConfigFiles(true); });
    EXPECT_FALSE(written);
    EXPECT_EQ(out,
              "Write Stiffness / Density / FixedVerts ...\n"
              "[ControlPanel, writeConfigFiles] Error: " +
                  std::string(r.error) + " \"" + blocked + "\"; the model files are unchanged\n");
    EXPECT_EQ(readFile(models() + "m.config"), kConfig);
    if (blocked != models() + "m.params") {
      EXPECT_EQ(readFile(models() + "m.params"), params);
    }
    EXPECT_EQ(currentRun, run);  // not reloaded: the changes are still there
    EXPECT_EQ(finest(run)[0]->getStiffness(), 7.0f);
    for (const char* temp : {"m.config.new", "m.params.new"})
      EXPECT_EQ(exists(models() + temp), models() + temp == blocked) << temp;
    std::filesystem::remove_all(blocked);
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
  const struct {
    int kind;
    float accuracy;
    int steps;
  } rows[] = {{1, 1e-9f, 1}, {0, 1e-4f, 200}, {1, 1e-9f, 1}};
  for (const auto& r : rows) {
    solverChoice.kind = r.kind;
    solverChoice.accuracy = r.accuracy;
    solverChoice.preSweeps = solverChoice.postSweeps = 1;
    captureStdout([] {
      solverSettingsCallback(kSolverKind);
      solverSettingsCallback(kSolverParameters);
    });
    EXPECT_EQ(lin.solverKind(), r.kind);
    EXPECT_LT(maxDifference(deflection(run, r.steps), multigrid), 1e-6) << r.kind;
  }

  // Choices the simulation cannot take: one message, CG kept.
  const Iteration<double>* cg = lin.solver.get();
  const struct {
    int kind;
    uint64_t (*memory)();
    const char* reason;
  } refused[] = {{7, nullptr, "Solver 7 is not one of 0 .. 3"},
                 {-1, nullptr, "Solver -1 is not one of 0 .. 3"},
                 {2, []() -> uint64_t { return 1 << 20; }, "The inverse of the "}};
  uint64_t (*const memory)() = LinSimulation::availableMemory;
  for (const auto& r : refused) {
    if (r.memory) LinSimulation::availableMemory = r.memory;
    solverChoice.kind = r.kind;
    const std::string out = captureStdout([] { solverSettingsCallback(kSolverKind); });
    LinSimulation::availableMemory = memory;
    EXPECT_EQ(
        out.rfind(std::string("[ControlPanel, solverSettingsCallback] Error: ") + r.reason, 0), 0u)
        << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(lin.solver.get(), cg);
    EXPECT_EQ(solverChoice.kind, 1);
  }
}

TEST_F(PanelOperations, TheModelListLoadKeepsTheCacheRebuild) {
  loadFreshCube(0);
  const struct {
    void (*callback)(int);
    bool rebuild;
  } rows[] = {{modelListLoadKeepingOptions, true}, {modelListCallback, false}};
  for (const auto& r : rows) {
    modelChoice.rebuildCaches = true;
    const std::string out = captureStdout([&] { r.callback(0); });
    EXPECT_EQ(modelChoice.rebuildCaches, r.rebuild);
    EXPECT_EQ(out.find("Write Mesh to file") != std::string::npos, r.rebuild) << out;
  }
}

using VolumeParameterCallback = ControlDispatch;

TEST_F(VolumeParameterCallback, SetsTheFlagOfItsModeAndRefreshes) {
  const struct {
    bool panel;
    int refreshOnReshape;
    uint8_t first, second;
    std::vector<int> sent;
  } rows[] = {{true, 1, 1, 0, {kIdVolumeRefresh}},
              {true, 0, 0, 1, {kIdVolumeRefresh}},
              {false, 1, 0, 0, {}}};
  sendControl = record;
  for (const auto& r : rows) {
    controlPanel = r.panel ? &log : nullptr;
    guiSettings.volumeParameters = VolumeParameters{};
    guiSettings.volumeParameters.refreshOnReshape = r.refreshOnReshape;
    sent.clear();
    volumeParameterCallback(0);
    EXPECT_EQ(guiSettings.volumeParameters.flags[0], r.first);
    EXPECT_EQ(guiSettings.volumeParameters.flags[1], r.second);
    EXPECT_EQ(sent, r.sent);
  }
}

}  // namespace
