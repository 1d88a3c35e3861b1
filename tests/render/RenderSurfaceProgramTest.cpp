// The default sample model in the program's window: its surface shows the
// texture and follows gravity; switched off (ids 102, 116) the mesh shows;
// its fur over the ground leaves no dark fringe.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Capture.h"
#include "Files.h"
#include "GLWindow.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "RenderSurface.h"
#include "RenderSurfaceFur.h"
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

bool differs(const Rgb& a, const Rgb& b) {
  return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) > 24;
}
int luminance(const Rgb& c) { return c.r + c.g + c.b; }

// Pixels differing from the background in the middle half; their mean row.
long bodyPixels(const Image& img, const Image& empty, double* meanRow = nullptr) {
  long n = 0;
  double rows = 0;
  for (int y = img.height / 4; y < 3 * img.height / 4; ++y)
    for (int x = img.width / 4; x < 3 * img.width / 4; ++x) {
      if (!differs(img.at(x, y), empty.at(x, y))) continue;
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

  // Fur over the ground: the ground alone, then the base surface alone.
  auto* fur = dynamic_cast<RenderSurfaceFur*>(currentDrawable->renderSurface);
  ASSERT_TRUE(g.furOn && fur);
  const int32_t drawMesh = g.drawSimulationMesh;
  g.showGround = 1;
  g.renderSurfaceOn = g.drawSimulationMesh = 0;
  runFrames(2);
  const Image ground = shot();
  g.renderSurfaceOn = 1;
  g.drawSimulationMesh = drawMesh;
  g.showGround = 0;
  const float length = fur->fur.furLength;
  captureStdout([&] { fur->setFurLength(0.0f); });
  runFrames(2);
  const Image base = shot();
  captureStdout([&] { fur->setFurLength(length); });
  // The ring: pixels within 20 (in x and y) of the body in the middle of the
  // window, away from the texts, but not on it.
  const int w = base.width, h = base.height;
  std::vector<char> body(size_t(w * h)), near(body.size());
  for (int y = h / 5; y < 4 * h / 5; ++y)
    for (int x = w / 5; x < 4 * w / 5; ++x)
      if ((body[size_t(y * w + x)] = differs(base.at(x, y), empty.at(x, y))))
        for (int dy = -20; dy <= 20; ++dy)
          for (int dx = -20; dx <= 20; ++dx) near[size_t((y + dy) * w + x + dx)] = 1;
  std::vector<int> ring;
  for (int i = 0; i < w * h; ++i)
    if (near[size_t(i)] && !body[size_t(i)]) ring.push_back(i);
  ASSERT_GT(ring.size(), 2000u);
  // Where the fringe lies over the ground it may only brighten it; shells
  // that write depth (the old state) darken it.
  g.showGround = 1;
  for (const int depth : {1, 0}) {
    fur->shellsWriteDepth = uint8_t(depth);
    runFrames(2);
    const Image furry = shot();
    size_t darker = 0;
    for (const int i : ring)
      darker += luminance(furry.at(i % w, i / w)) < luminance(ground.at(i % w, i / w)) - 6;
    EXPECT_TRUE(depth ? darker > ring.size() / 50 : darker == 0) << depth << ": " << darker;
  }
  g.showGround = 0;
  runFrames(2);

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
  controlCallback(102);
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
  controlCallback(116);
  ASSERT_TRUE(g.drawSimulationMesh);
  runFrames(2);
  const Image mesh = shot();
  EXPECT_GT(bodyPixels(mesh, empty), covered / 2);
  EXPECT_GT(countDifferentPixels(textured, mesh, 24), covered / 4);
  captureStdout(shutdownGL);
}

}  // namespace
