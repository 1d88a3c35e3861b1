// Loading and switching models in a real window, in process: the window is
// opened once, models are loaded by name and through the model list, and
// the frame loop's GLUT events are run by hand.

#include <GL/freeglut.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "Capture.h"
#include "CubeModel.h"
#include "Files.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "ProgramWindow.h"
#include "Run.h"
#include "Window.h"
#include "ZoltRenderable.h"

using namespace zolt::test;

namespace {

const char* const kCube = "LEVEL 2\nMATERIAL 1e6 0.33 1000 5 1 0.05\n";

class ModelLoading : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    window = new ProgramWindow;
    for (const char* name : {"bunny", "bunnyFur", "Cube"}) writeCubeModel(models(), name, kCube);
    writeCubeModel(models(), "broken", "LEVEL abc\n");
    window->open();
  }
  static void TearDownTestSuite() {
    window->close();
    delete window;
  }
  static std::string models() { return window->models(); }

  // Runs GLUT's pending events and timers for about the given time.
  static void runEvents(double seconds) {
    const double end = monotonicSeconds() + seconds;
    while (monotonicSeconds() < end) {
      glutMainLoopEvent();
      sleepSeconds(0.002);
    }
  }
  static std::string title() {
    std::string t =
        runProgram("/", {"xdotool", "search", "--name", "^ZOLT", "getwindowname"}, false).out;
    if (!t.empty() && t.back() == '\n') t.pop_back();
    return t;
  }
  static std::string loadedName() {
    if (!currentRun) return "";
    return currentRun->renderSettings.basePath.substr(models().size());
  }

  static ProgramWindow* window;
};

ProgramWindow* ModelLoading::window = nullptr;

}  // namespace

TEST_F(ModelLoading, SelectionByNameLoadsOnlyTheExactMatchWithMappedChoices) {
  const struct {
    const char* name;
    int elementModel, scheme;
    const char* loaded;  // "" = nothing loaded
    int listIndex, runElementModel, runScheme;
  } rows[] = {
      {"bunnyFur", 0, 0, "bunnyFur", 4, 0, 0},
      {"bunny", 5, 4, "bunny", 3, 0, 5},  // element model 5 is not offered; 4 and 5 swap
      {"Cube", 2, 5, "Cube", 1, 2, 4},
      {"bunnyF", 0, 0, "", 0, 0, 0},
      {"broken", 0, 0, "", 2, 0, 0},  // refused by its configuration
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const CapturedOutput out =
        captureBoth([&] { selectModel(false, r.elementModel, r.scheme, r.name, false); });
    EXPECT_EQ(loadedName(), r.loaded);
    EXPECT_EQ(modelChoice.listIndex, r.listIndex);
    if (!*r.loaded) {
      EXPECT_EQ(guiSettings.modelLoaded, 0);  // the display offers a choice
      continue;
    }
    EXPECT_EQ(static_cast<int>(currentRun->elementModel), r.runElementModel);
    EXPECT_EQ(currentRun->integrationScheme, r.runScheme);
    EXPECT_NE(out.out.find(std::string(42, '-') + "\n\nLoad file \"" + r.name + "\" ...\n"),
              std::string::npos);
  }
}

TEST_F(ModelLoading, TheModelListReloadsAndItsEmptyEntryUnloads) {
  captureStdout([] { selectModel(true, 3, 1, "bunny", false); });
  ASSERT_EQ(loadedName(), "bunny");
  // Frames run: the title shows a rate after a second (longer on a loaded machine).
  for (int i = 0; i < 50 && title().find(" @ ") == std::string::npos; ++i) runEvents(0.5);
  EXPECT_NE(title().find(" @ "), std::string::npos) << title();

  // Reload with the kept choices; caches are not rebuilt this time.
  const std::string reload = captureStdout([] { modelListCallback(0); });
  EXPECT_NE(reload.find("Load file \"bunny\" ..."), std::string::npos);
  EXPECT_EQ(loadedName(), "bunny");
  EXPECT_FALSE(modelChoice.rebuildCaches);
  EXPECT_EQ(static_cast<int>(currentRun->elementModel), 3);
  EXPECT_EQ(currentRun->integrationScheme, 1);

  modelChoice.listIndex = 0;
  captureStdout([] { modelListCallback(0); });
  EXPECT_EQ(currentRun, nullptr);
  EXPECT_EQ(guiSettings.modelLoaded, 0);
  // The old chain's timer callbacks are dropped: no more frames, base title.
  runEvents(1.3);
  EXPECT_EQ(title(), baseTitle);
}

// A display-wall node starts its loop with its side: the projection's centre
// (entry 8) shifts right for the left eye, left for the right; only in the mode.
TEST_F(ModelLoading, DisplayWallLoopsStartWithTheNodesSide) {
  const int rows[][3] = {{1, -1, 1}, {1, 1, -1}, {1, 0, 0}, {0, 1, 0}};  // mode, side, shift
  for (const auto& r : rows) {
    displayWallMode = r[0];
    displayWallSide = r[1];
    captureStdout([] { selectModel(false, 0, 0, "Cube", false); });
    float m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_EQ((m[8] > 1e-6f) - (m[8] < -1e-6f), r[2]) << r[0] << " " << r[1];
  }
  displayWallMode = displayWallSide = 0;
  captureStdout([] { selectModel(false, 0, 0, "", false); });
}
