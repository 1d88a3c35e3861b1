// The frame hand-off with the worker, also run under TSan: a replay ending
// while frames draw, the force field beside a barrier, an exit inside a frame
// and one inside a load.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "Capture.h"
#include "ControlIds.h"
#include "CubeModel.h"
#include "GuiSettings.h"
#include "MatrixAssembler.h"
#include "ModelLoading.h"
#include "ProgramWindow.h"
#include "ProgressBar.h"
#include "Run.h"
#include "Scene.h"
#include "Simulation.h"
#include "Window.h"
#include "ZoltControl.h"
#include "ZoltRenderable.h"

using namespace zolt::test;

namespace {

// The unit cube refined twice, a ground cutting its lowest layer and a
// spherical force field around its centre.
const char* const kCube =
    "LEVEL 3\nMATERIAL 1e5 0.33 1000 5 1 0.05\nFIXED_VERTICES 1 8\n"
    "GROUND_BARRIER -2 -0.4 -2  -2 -0.4 2  2 -0.4 2  2 -0.4 -2\n"
    "SPHERICAL_FORCE 0 0 0 1 2\n";

// An exit during a load: the assembly's helper is held until the exit stops
// it or, where nothing stops it, until the model has been freed.
constexpr int kLoadExitStatus = 7;
std::atomic<bool> helperHeld{false}, helperStopped{false}, modelFreed{false};

template <class Done>
void waitFor(Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void holdHelper(const MatrixAssembler& a) {
  if (helperHeld.exchange(true)) return;  // only the first helper
  waitFor([&] { return a.stopping || modelFreed; });
  helperStopped = a.stopping.load();
}

// Ends the process at its first step, once the helper is held.
struct ExitingBar : ProgressBar {
  void step() override {
    waitFor([] { return helperHeld.load(); });
    std::exit(kLoadExitStatus);
  }
  void finish() override {}
};
ProgressBar* exitingBar(const char*, unsigned int) { return new ExitingBar; }

// Registered before the window's handler, so it runs after the unload: a
// helper that still runs now gets the time to touch the freed model.
void afterUnload() {
  if (!helperHeld || helperStopped) return;
  modelFreed = true;
  std::this_thread::sleep_for(std::chrono::seconds(2));
}

class FrameHandOff : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("LP_NUM_THREADS", "0", 0);  // Mesa's own threads are not what is checked
    std::atexit(afterUnload);
    window = new ProgramWindow;
    writeCubeModel(window->models(), "cube", kCube);
    writeCubeModel(window->models(), "cold", kCube);
    // A rising ground: a reset moves it back.
    writeCubeModel(window->models(), "rising", std::string(kCube) + "MOVE_BARRIER 0 0.001 0\n");
    window->open();
  }
  static void TearDownTestSuite() {
    window->close();
    delete window;
  }
  void SetUp() override { load("cube"); }
  void TearDown() override { load(""); }

  static void load(const char* name) {
    captureStdout([&] { loadModelFile(LoadRequest{name}); });
    ASSERT_TRUE(!*name || currentControl);
  }
  static void gravityOn() {
    guiSettings.gravityOn = 1;
    controlCallback(kIdGravity);
  }
  // Frames as the idle loop runs them: each draws while the worker steps.
  static void frames(int count) {
    for (int i = 0; i < count; ++i) idleFrame();
  }

  static inline ProgramWindow* window = nullptr;
};

TEST_F(FrameHandOff, AReplayThatEndsWhileFramesAreDrawnResetsBetweenThem) {
  GuiSettings& g = guiSettings;
  load("rising");
  for (const int loop : {0, 1}) {
    SCOPED_TRACE(loop);
    gravityOn();
    g.recordDisplacements = 1;
    currentControl->startRecording(kIdRecordSequence);
    frames(6);
    g.recordDisplacements = 0;
    currentControl->sequenceStream.close();
    ASSERT_GT(currentRun->simulation->maxVertexNorm(), 0.0);
    g.replayDisplacements = 1;
    g.loopReplay = loop;
    currentControl->startRecording(kIdReplaySequence);
    frames(20);  // six frames replayed, then the end (or the wrap), several times over
    EXPECT_EQ(g.replayDisplacements, 0);
    g.loopReplay = 0;
    currentControl->sequenceStream.close();
    std::filesystem::remove(currentRun->renderSettings.basePath + ".sequence");
    frames(2);
  }
}

TEST_F(FrameHandOff, TheForceFieldBesideABarrierReadsPreparedPositions) {
  gravityOn();
  guiSettings.deformationForceOn = 1;
  controlCallback(kIdForceField);
  ASSERT_EQ(currentRun->settings.forceFieldOn, 1);
  const ZoltRenderable& d = *currentDrawable;
  for (int frame = 0; frame < 30; ++frame) {
    frames(1);
    // The force field saw the frame's positions, collision offsets included.
    for (int r = 0; r < d.vertexCount; ++r)
      ASSERT_GE(d.positions[3 * r + 1], -0.4f - 1e-4f) << frame;
  }
  const double u = currentRun->simulation->maxVertexNorm();
  EXPECT_TRUE(u > 0.0 && std::isfinite(u)) << u;
}

TEST_F(FrameHandOff, AnExitInsideAFrameWaitsForTheStep) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        gravityOn();
        frames(3);
        sceneOverlay = [] { std::exit(5); };  // while the worker steps the model
        frames(1);
      },
      testing::ExitedWithCode(5), "");
}

// Cold: the first bar of the stiffness assembly; warm: that of the element
// preparation. Both run a helper thread over the elements. A sanitizer
// report would change the status.
TEST_F(FrameHandOff, AnExitInsideALoadWaitsForTheAssemblyHelper) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  for (const char* model : {"cold", "cube"}) {
    SCOPED_TRACE(model);
    EXPECT_EXIT(
        {
          MatrixAssembler::progressBarFactory = exitingBar;
          MatrixAssembler::helperStarts = holdHelper;
          loadModelFile(LoadRequest{model});
        },
        testing::ExitedWithCode(kLoadExitStatus), "");
  }
}

}  // namespace
