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

// The program's window on a private copy of bunnyFurTex, before any model.
Image startProgram() {
  static TempDir dir;
  for (const char* d : {"bin", "models", "caches"}) mkdir(dir.file(d).c_str(), 0777);
  for (const char* ext : {".config", ".node", ".ele", ".params", ".obj", ".tga"})
    std::filesystem::copy_file(std::string(ZOLT_MODELS_DIR) + "bunnyFurTex" + ext,
                               dir.file("models/bunnyFurTex") + ext);
  EXPECT_EQ(chdir(dir.file("bin").c_str()), 0);
  modelsPath = dir.file("models/");
  cachesPath = dir.file("caches/");
  static char arg0[] = "RenderSurfaceProgramTest";
  static char* argv[] = {arg0, nullptr};
  captureStdout([] { initOpenGL(1, argv, modelsPath.c_str(), ".config"); });
  for (const double end = monotonicSeconds() + 0.3; monotonicSeconds() < end; sleepSeconds(0.002))
    glutMainLoopEvent();
  return shot();
}

// The program starts and ends once, as it does in use.
class RenderSurfaceProgram : public testing::Test {
 protected:
  static void SetUpTestSuite() { empty = startProgram(); }
  static void TearDownTestSuite() { captureStdout(shutdownGL); }
  static Image empty;
};

Image RenderSurfaceProgram::empty;

TEST_F(RenderSurfaceProgram, DefaultModelShowsItsTexturedSurfaceFollowingGravityOrItsMesh) {
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
}

int luminance(const Rgb& c) { return c.r + c.g + c.b; }

TEST_F(RenderSurfaceProgram, FurOverTheGroundLeavesNoDarkFringe) {
  captureBoth([] { selectModel(false, 0, 0, "bunnyFurTex", false); });
  ASSERT_NE(currentRun, nullptr);
  GuiSettings& g = guiSettings;
  g.gravityOn = 0;
  runFrames(3);
  auto* fur = dynamic_cast<RenderSurfaceFur*>(currentDrawable->renderSurface);
  ASSERT_TRUE(g.renderSurfaceOn && g.furOn && fur);

  // The ground alone, then the body's base surface alone (fur of length 0).
  g.showGround = 1;
  const int32_t mesh = g.drawSimulationMesh;
  g.renderSurfaceOn = g.drawSimulationMesh = 0;
  runFrames(2);
  const Image ground = shot();
  g.renderSurfaceOn = 1;
  g.drawSimulationMesh = mesh;
  g.showGround = 0;
  const float length = fur->fur.furLength;
  captureStdout([&] { fur->setFurLength(0.0f); });
  runFrames(2);
  const Image base = shot();
  captureStdout([&] { fur->setFurLength(length); });
  g.showGround = 1;

  // The ring: pixels within 20 (in x and y) of the body in the middle of the
  // window, away from the texts, but not on it. sum counts body pixels above
  // and left of a corner.
  const int w = base.width, h = base.height, reach = 20;
  const auto body = [&](int x, int y) {
    return x >= w / 5 && x < 4 * w / 5 && y >= h / 5 && y < 4 * h / 5 &&
           differs(base.at(x, y), empty.at(x, y));
  };
  std::vector<int> sum(size_t(w + 1) * size_t(h + 1));
  const auto at = [&](int x, int y) -> int& { return sum[size_t(y) * size_t(w + 1) + size_t(x)]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      at(x + 1, y + 1) = body(x, y) + at(x, y + 1) + at(x + 1, y) - at(x, y);
  std::vector<std::pair<int, int>> ring;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int x0 = std::max(x - reach, 0), x1 = std::min(x + reach + 1, w);
      const int y0 = std::max(y - reach, 0), y1 = std::min(y + reach + 1, h);
      if (!body(x, y) && at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0) > 0)
        ring.push_back({x, y});
    }
  ASSERT_GT(ring.size(), 2000u);

  // Where the fur fringe lies over the ground it may only brighten it.
  const struct {
    int texturing;
    uint8_t shellsWriteDepth;
    bool fringe;
  } rows[] = {{1, 0, false}, {0, 0, false}, {1, 1, true}};
  for (const auto& row : rows) {
    g.texturing = row.texturing;
    fur->shellsWriteDepth = row.shellsWriteDepth;
    runFrames(2);
    const Image furry = shot();
    size_t darker = 0;
    for (const auto& [x, y] : ring)
      darker += luminance(furry.at(x, y)) < luminance(ground.at(x, y)) - 6;
    if (row.fringe)
      EXPECT_GT(darker, ring.size() / 50) << "texturing " << row.texturing;
    else
      EXPECT_EQ(darker, 0u) << "texturing " << row.texturing << " of " << ring.size();
  }
  fur->shellsWriteDepth = 0;
  g.showGround = 0;
  g.texturing = 1;
}

}  // namespace
