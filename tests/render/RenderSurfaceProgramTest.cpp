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

// The program's window on a private copy of bunnyFurTex, opened once per
// process (the program starts once); returns the window before any model.
bool programStarted = false;

Image programWindow() {
  static TempDir dir;
  static Image empty;
  if (programStarted) return empty;
  programStarted = true;
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
  return empty = shot();
}

// The program ends once, after the last test.
struct ProgramEnd : ::testing::Environment {
  void TearDown() override {
    if (programStarted) captureStdout(shutdownGL);
  }
};
[[maybe_unused]] ::testing::Environment* const programEnd =
    ::testing::AddGlobalTestEnvironment(new ProgramEnd);

TEST(RenderSurfaceProgram, DefaultModelShowsItsTexturedSurfaceFollowingGravityOrItsMesh) {
  const Image empty = programWindow();
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

// Pixels within `reach` pixels (in x and y) of a marked one but not marked
// themselves.
std::vector<bool> ringAround(const std::vector<bool>& marked, int w, int h, int reach) {
  std::vector<bool> rows(marked.size()), ring(marked.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0, last = -1 - reach; x < w + reach; ++x) {
      if (x < w && marked[size_t(y * w + x)]) last = x;
      const int at = x - reach;  // marked within [at - reach, at + reach]
      if (at >= 0 && last >= at - reach) rows[size_t(y * w + at)] = true;
    }
  for (int x = 0; x < w; ++x)
    for (int y = 0, last = -1 - reach; y < h + reach; ++y) {
      if (y < h && rows[size_t(y * w + x)]) last = y;
      const int at = y - reach;
      if (at >= 0 && last >= at - reach) ring[size_t(at * w + x)] = !marked[size_t(at * w + x)];
    }
  return ring;
}

int luminance(const Rgb& c) { return c.r + c.g + c.b; }

TEST(RenderSurfaceProgram, FurOverTheGroundLeavesNoDarkFringe) {
  const Image empty = programWindow();
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

  // The body in the middle of the window (texts and the view window lie
  // outside).
  const int w = base.width, h = base.height;
  std::vector<bool> body(size_t(w) * h);
  for (int y = h / 5; y < 4 * h / 5; ++y)
    for (int x = w / 5; x < 4 * w / 5; ++x) {
      const Rgb a = base.at(x, y), b = empty.at(x, y);
      body[size_t(y * w + x)] =
          std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) > 24;
    }
  const std::vector<bool> ring = ringAround(body, w, h, 20);
  const long ringPixels = std::count(ring.begin(), ring.end(), true);
  ASSERT_GT(ringPixels, 2000);

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
    long darker = 0;
    for (size_t k = 0; k < ring.size(); ++k) {
      const int x = int(k) % w, y = int(k) / w;
      if (ring[k] && luminance(furry.at(x, y)) < luminance(ground.at(x, y)) - 6) ++darker;
    }
    if (row.fringe)
      EXPECT_GT(darker, ringPixels / 50) << "texturing " << row.texturing;
    else
      EXPECT_EQ(darker, 0) << "texturing " << row.texturing << " of " << ringPixels;
  }
  fur->shellsWriteDepth = 0;
  g.showGround = 0;
  g.texturing = 1;
}

}  // namespace
