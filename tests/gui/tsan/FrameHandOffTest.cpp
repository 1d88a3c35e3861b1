// The window program's frame hand-off with the worker, also under TSan:
// replay ends, the force field beside a barrier and an exit inside a frame
// must leave the two threads touching nothing at once.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Capture.h"
#include "ControlIds.h"
#include "CubeModel.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "ProgramWindow.h"
#include "Run.h"
#include "Scene.h"
#include "Simulation.h"
#include "Window.h"
#include "ZoltControl.h"
#include "ZoltRenderable.h"

using namespace zolt::test;

namespace {

// The centred unit cube refined twice, a ground cutting its lowest layer and
// a spherical force field around its centre.
const char* const kCube =
    "LEVEL 3\nMATERIAL 1e5 0.33 1000 5 1 0.05\nFIXED_VERTICES 1 8\n"
    "GROUND_BARRIER -2 -0.4 -2  -2 -0.4 2  2 -0.4 2  2 -0.4 -2\n"
    "SPHERICAL_FORCE 0 0 0 1 2\n";

class FrameHandOff : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One rasteriser thread: Mesa's own threads are not what is checked.
    setenv("LP_NUM_THREADS", "0", 0);
    window = new ProgramWindow;
    writeCubeModel(window->models(), "cube", kCube);
    // A rising ground: a reset moves it back.
    writeCubeModel(window->models(), "rising", std::string(kCube) + "MOVE_BARRIER 0 0.001 0\n");
    window->open();
  }
  static void TearDownTestSuite() {
    window->close();
    delete window;
  }
  void SetUp() override {
    captureStdout([] { loadModelFile(LoadRequest{"cube"}); });
    ASSERT_NE(currentControl, nullptr);
    ASSERT_NE(currentRun->settings.barrier, nullptr);
  }
  void TearDown() override {
    captureStdout([] { loadModelFile(LoadRequest{""}); });
  }

  static void gravityOn() {
    guiSettings.gravityOn = 1;
    controlCallback(kIdGravity);
  }
  // Frames as the idle loop runs them: each draws while the worker steps.
  static void frames(int count) {
    for (int i = 0; i < count; ++i) idleFrame();
  }
  static double largestDisplacement() { return currentRun->simulation->maxVertexNorm(); }

  static ProgramWindow* window;
};

ProgramWindow* FrameHandOff::window = nullptr;

TEST_F(FrameHandOff, AReplayThatEndsWhileFramesAreDrawnResetsBetweenThem) {
  GuiSettings& g = guiSettings;
  captureStdout([] { loadModelFile(LoadRequest{"rising"}); });
  ASSERT_NE(currentControl, nullptr);
  for (const int loop : {0, 1}) {
    SCOPED_TRACE(loop);
    gravityOn();
    g.recordDisplacements = 1;
    currentControl->startRecording(kIdRecordSequence);
    frames(6);
    g.recordDisplacements = 0;
    currentControl->sequenceStream.close();
    ASSERT_GT(largestDisplacement(), 0.0);
    g.replayDisplacements = 1;
    g.loopReplay = loop;
    currentControl->startRecording(kIdReplaySequence);
    // Six frames replayed, then the end (or the wrap), several times over.
    frames(20);
    EXPECT_EQ(g.replayDisplacements, 0);
    EXPECT_EQ(g.loopReplay, loop);
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
    // What the worker's force field saw: the positions of the frame,
    // collision offsets included, so none is below the ground.
    float lowest = 1e30f;
    for (int r = 0; r < d.vertexCount; ++r) lowest = std::fmin(lowest, d.positions[3 * r + 1]);
    ASSERT_GE(lowest, -0.4f - 1e-4f) << frame;
  }
  const double u = largestDisplacement();
  EXPECT_TRUE(u > 0.0 && std::isfinite(u)) << u;
}

TEST_F(FrameHandOff, AnExitInsideAFrameWaitsForTheStep) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        gravityOn();
        frames(3);
        // The drawing ends the process while the worker steps the model.
        sceneOverlay = [] { std::exit(5); };
        frames(1);
      },
      testing::ExitedWithCode(5), "");
}

}  // namespace
