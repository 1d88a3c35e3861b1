// The default sample model in the program's window: its surface shows the
// texture and follows gravity; switched off (ids 102, 116) the mesh shows.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "Capture.h"
#include "Files.h"
#include "GLWindow.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "RenderSurface.h"
#include "Run.h"
#include "Simulation.h"
#include "Window.h"
#include "ZoltControl.h"
#include "ZoltRenderable.h"

using namespace zolt::test;

namespace {

// Runs events until n more model frames were drawn (or 20 s passed): a
// loaded machine only makes the test slower. GLUT's loop would call idle.
void runFrames(int n) {
  const double end = monotonicSeconds() + 20.0;
  for (; n > 0 && monotonicSeconds() < end; --n)
    for (frameDrawn = 0; !frameDrawn && monotonicSeconds() < end;) {
      glutMainLoopEvent();
      if (guiSettings.maxFps) idleFrame();  // a loop that fell behind runs on idle
      sleepSeconds(0.002);
    }
}

Image shot() {
  glutSetWindow(getMainWindowId());
  return screenshotCurrentWindow();
}

// Pixels differing from the background in the middle half; their mean row.
long bodyPixels(const Image& img, const Image& empty, double* meanRow = nullptr) {
  long n = 0;
  double rows = 0;
  for (int y = img.height / 4; y < 3 * img.height / 4; ++y)
    for (int x = img.width / 4; x < 3 * img.width / 4; ++x) {
      const Rgb a = img.at(x, y), b = empty.at(x, y);
      if (std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) <= 24) continue;
      ++n;
      rows += y;
    }
  if (meanRow) *meanRow = n ? rows / n : 0;
  return n;
}

TEST(RenderSurfaceProgram, DefaultModelShowsItsTexturedSurfaceFollowingGravityOrItsMesh) {
  TempDir dir;
  for (const char* d : {"bin", "models", "caches"}) mkdir(dir.file(d).c_str(), 0777);
  for (const char* ext : {".config", ".node", ".ele", ".params", ".obj", ".tga"})
    std::filesystem::copy_file(std::string(ZOLT_MODELS_DIR) + "bunnyFurTex" + ext,
                               dir.file("models/bunnyFurTex") + ext);
  ASSERT_EQ(chdir(dir.file("bin").c_str()), 0);
  modelsPath = dir.file("models/");
  cachesPath = dir.file("caches/");
  static char arg0[] = "RenderSurfaceProgramTest";
  static char* argv[] = {arg0, nullptr};
  captureStdout([] { initOpenGL(1, argv, modelsPath.c_str(), ".config"); });
  for (const double end = monotonicSeconds() + 0.3; monotonicSeconds() < end; sleepSeconds(0.002))
    glutMainLoopEvent();
  const Image empty = shot();
  captureBoth([] { selectModel(false, 0, 0, "bunnyFurTex", false); });
  ASSERT_NE(currentRun, nullptr);
  runFrames(3);
  GuiSettings& g = guiSettings;
  ASSERT_TRUE(g.renderSurfaceOn && currentDrawable->renderSurface);
  const RenderSurface& surface = *currentDrawable->renderSurface;
  ASSERT_GT(surface.vertexCount, 1000u);
  EXPECT_TRUE(surface.textured);

  // The surface with its texture, and without it in the model's colour.
  double restRow = 0;
  const Image textured = shot();
  const long covered = bodyPixels(textured, empty, &restRow);
  EXPECT_GT(covered, textured.width * textured.height / 40);
  g.texturing = 0;
  runFrames(2);
  EXPECT_GT(countDifferentPixels(textured, shot(), 24), covered / 4);
  g.texturing = 1;

  // Gravity (id 102): the surface sinks with the mesh; its lowest mean
  // over 18 frames (about a second) lies below the rest position.
  g.gravityOn = 1;
  controlCallback(kIdGravity);
  double lowest = 0, lowestRow = restRow;
  for (int i = 0; i < 6; ++i) {
    runFrames(3);
    double shift = 0;
    for (size_t k = 1; k < surface.positions.size(); k += 3)
      shift += surface.positions[k] - surface.restPositions[k];
    lowest = std::min(lowest, shift / surface.vertexCount);
    double row = 0;
    bodyPixels(shot(), empty, &row);
    lowestRow = std::max(lowestRow, row);
  }
  EXPECT_LT(lowest, -0.005);
  EXPECT_GT(lowestRow, restRow + 1.0);

  // Surface off (id 116): the mesh is drawn in its place.
  g.renderSurfaceOn = 0;
  controlCallback(kIdRenderSurface);
  ASSERT_TRUE(g.drawSimulationMesh);
  runFrames(2);
  const Image mesh = shot();
  EXPECT_GT(bodyPixels(mesh, empty), covered / 2);
  EXPECT_GT(countDifferentPixels(textured, mesh, 24), covered / 4);
  captureStdout(shutdownGL);
}

}  // namespace
