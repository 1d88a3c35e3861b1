// Whole frames through display: a centred box body above a ground barrier,
// looked at from above at an angle, read back from the window after the
// swap. Image statistics only: where the body, the barrier, the shadow, the
// ground plane and the texts must show, and how they change.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "Barrier.h"
#include "Capture.h"
#include "GLWindow.h"
#include "GuiSettings.h"
#include "Program.h"
#include "RenderSettings.h"
#include "Run.h"
#include "Scene.h"
#include "SceneMatrices.h"
#include "ScenePass.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "ZoltRenderable.h"

using zolt::test::Image;
using zolt::test::Rgb;

namespace {

const int W = 320, H = 240;
const float kGroundY = -1.5f;
const float kTilt = 35.0f * 3.14159265f / 180.0f;

void openWindow() {
  zolt::test::openGLWindow("scene", W, H);
  static bool ready = false;
  if (ready) return;
  zolt::test::captureStderr([] { CProgram::Initialize(); });
  createGroundTextures(true);
  ready = true;
}

// The window's words for a W x H window looking down at kTilt.
void resetGui() {
  initGuiDefaults();
  GuiSettings& g = guiSettings;
  g.windowWidth = W;
  g.windowHeight = H;
  const float c = std::cos(kTilt), s = std::sin(kTilt);
  const float rotation[16] = {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
  std::copy(rotation, rotation + 16, g.viewRotation);
}

// A unit cube body centred on the origin over a 6 x 6 ground barrier.
struct Model {
  std::unique_ptr<TetHierarchy> mesh;
  RenderSettings render;
  std::unique_ptr<GroundBarrier> ground;
  std::unique_ptr<ZoltRenderable> drawable;

  explicit Model(bool withGround = true) {
    openWindow();
    resetGui();
    mesh = zolt::test::box(2, 2, 2, 0.5f);
    double centre[3];
    zolt::test::captureStdout([&] { mesh->setCenterOfGravity(centre); });
    const float y = kGroundY;
    const float corners[12] = {-3, y, -3, -3, y, 3, 3, y, 3, 3, y, -3};
    ground = std::make_unique<GroundBarrier>(corners);
    render.barrier = withGround ? ground.get() : nullptr;
    render.colour[0] = render.colour[1] = render.colour[2] = 0.8f;
    zolt::test::captureStdout(
        [&] { drawable = std::make_unique<ZoltRenderable>(mesh.get(), &render, nullptr); });
    // display clears after each swap, ready for the next frame; the first
    // needs it here.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
};

Image frame() {
  display();
  return zolt::test::screenshotCurrentWindow();
}

// Window pixel (x from the left, y from the top) of a model point.
void project(const float* p, int* x, int* y) {
  const GuiSettings& g = guiSettings;
  float projection[16], view[16], m[16];
  sceneProjection(0, true, g.zoom, W, H, projection);
  std::copy(g.viewRotation, g.viewRotation + 16, view);
  view[12] = g.shiftX;
  view[13] = g.shiftY;
  view[14] = g.zoom;
  mat4::multiply(projection, view, m);
  double c[4];
  mat4::transformPoint(m, p, c);
  *x = static_cast<int>((c[0] / c[3] + 1) / 2 * W);
  *y = static_cast<int>((1 - c[1] / c[3]) / 2 * H);
}

double luminanceAround(const Image& img, const float* p) {
  int x, y;
  project(p, &x, &y);
  return zolt::test::meanLuminance(img, x - 4, y - 4, 9, 9);
}

long countNotBlack(const Image& img) { return zolt::test::countDiffering(img, {0, 0, 0}, 8); }

TEST(Scene, ShadowsDarkenTheGroundBelowTheBodyOnly) {
  Model model;
  GuiSettings& g = guiSettings;
  g.pixelLighting = 1;
  g.lightFixedToModel = 1;  // straight above the body
  const float light[4] = {0, 5, 0, 1};
  std::copy(light, light + 4, g.lightPosition);
  const float below[3] = {0, kGroundY, 0}, far[3] = {-2.2f, kGroundY, 1.0f};

  const Image plain = frame();
  g.shadowOn = 1;
  g.coloursChanged = 1;
  const Image shadowed = frame();
  ASSERT_NE(model.drawable->shadowMap, nullptr);
  EXPECT_EQ(model.drawable->shadowMap->size, 2048);

  const double under0 = luminanceAround(plain, below), under1 = luminanceAround(shadowed, below);
  const double far0 = luminanceAround(plain, far), far1 = luminanceAround(shadowed, far);
  EXPECT_GT(far0, 60);  // the lit barrier is there
  EXPECT_LT(under1, 0.85 * under0) << under0 << " -> " << under1;
  EXPECT_NEAR(far1, far0, 0.05 * far0);

  // Switching shadows off frees the map on the next frame and lights again.
  g.shadowOn = 0;
  g.coloursChanged = 1;
  const Image again = frame();
  EXPECT_EQ(model.drawable->shadowMap, nullptr);
  EXPECT_NEAR(luminanceAround(again, below), under0, 0.05 * under0);
}

TEST(Scene, BodyCoversTheCentreAndWireframeFewerPixels) {
  Model model(false);
  const Image filled = frame();
  EXPECT_NE(countNotBlack(filled), 0);
  const Rgb centre = filled.at(W / 2, H / 2);
  EXPECT_GT(centre.r + centre.g + centre.b, 60);
  const long filledPixels = countNotBlack(filled);
  guiSettings.renderMode = 0;
  const long wirePixels = countNotBlack(frame());
  EXPECT_GT(wirePixels, 0);
  EXPECT_LT(wirePixels, filledPixels / 2);
}

TEST(Scene, RunningModelIsDrawnOncePerUpdateAndAPausedOneAlways) {
  Model model(false);
  GuiSettings& g = guiSettings;
  model.drawable->hasSimulation = 1;  // frames wait for the next update
  const long filled = countNotBlack(frame());
  EXPECT_EQ(frameDrawn, 1);
  g.renderMode = 0;
  EXPECT_EQ(countNotBlack(frame()), filled);  // not drawn again
  g.paused = 1;
  EXPECT_LT(countNotBlack(frame()), filled);
  g.paused = 0;
  model.drawable->update();  // clears the mark
  g.renderMode = 1;
  EXPECT_EQ(countNotBlack(frame()), filled);
}

TEST(Scene, ClipPlaneCutsTheBodyWithAndWithoutTheSurfaceProgram) {
  Model model(false);
  GuiSettings& g = guiSettings;
  g.clipPlaneEquation[0] = 1;  // keep x >= 0: the left half goes
  g.clipPlaneEquation[2] = 0;
  // Lit pixels left and right of the centre.
  auto halves = [](const Image& img, long* left, long* right) {
    *left = *right = 0;
    for (int y = H / 4; y < 3 * H / 4; ++y)
      for (int x = W / 4; x < 3 * W / 4; ++x) {
        const Rgb p = img.at(x, y);
        if (p.r + p.g + p.b <= 24 || std::abs(x - W / 2) < 4) continue;
        ++*(x < W / 2 ? left : right);
      }
  };
  for (int shader = 0; shader < 2; ++shader) {
    g.pixelLighting = shader;
    long left, right;
    g.clipPlaneOn = 0;
    halves(frame(), &left, &right);
    EXPECT_GT(left, 500) << shader;
    g.clipPlaneOn = 1;
    halves(frame(), &left, &right);
    EXPECT_EQ(left, 0) << shader;
    EXPECT_GT(right, 500) << shader;
  }
}

TEST(Scene, BarrierIsDrawnInItsColourWithoutLight) {
  Model model;
  guiSettings.lightingOn = 0;
  const float far[3] = {-2.2f, kGroundY, 1.0f};
  int x, y;
  project(far, &x, &y);
  const Rgb c = frame().at(x, y);
  EXPECT_NEAR(c.r, 191, 2);
  EXPECT_NEAR(c.g, 171, 2);
  EXPECT_NEAR(c.b, 145, 2);
}

TEST(Scene, TranslucentGroundPlaneToggles) {
  Model model(false);
  GuiSettings& g = guiSettings;
  g.groundTexture = 0;                         // plain colours: blue 1 across the plane
  g.viewRotation[5] = g.viewRotation[10] = 1;  // look straight at the plane z = 0
  g.viewRotation[6] = g.viewRotation[9] = 0;
  const Rgb without = frame().at(W / 8, H - 8);
  g.showGround = 1;
  const Rgb with = frame().at(W / 8, H - 8);
  EXPECT_EQ(without.b, 0);
  // Constant alpha 0.3 over the black background; magenta on the left.
  EXPECT_NEAR(with.b, 0.3 * 255, 3);
  EXPECT_GT(with.r, with.g + 40);
}

TEST(Scene, HeadUpTextShowsTheFrameRateModeInRed) {
  Model model(false);
  GuiSettings& g = guiSettings;
  auto redPixels = [](const Image& img, int* right) {
    long n = 0;
    *right = -1;
    for (int y = 0; y < H / 8; ++y)
      for (int x = 0; x < W / 2; ++x) {
        const Rgb p = img.at(x, y);
        if (p.r > 150 && p.g < 40) ++n, *right = std::max(*right, x);
      }
    return n;
  };
  int throttledRight, maxRight;
  const long throttled = redPixels(frame(), &throttledRight);
  g.maxFps = 1;
  const long max = redPixels(frame(), &maxRight);
  EXPECT_GT(throttled, 20);
  EXPECT_GT(max, 20);
  EXPECT_GT(throttledRight, maxRight + 10);  // "Throttled FPS" is the longer text
}

TEST(Scene, ScreenshotRequestIsServedOnceAndMovieFramesOnlyAtMovieSize) {
  Model model(false);
  zolt::test::TempDir dir;
  const std::string saved = moviesPath;
  moviesPath = dir.file("");
  GuiSettings& g = guiSettings;
  g.saveFrames = 1;
  frame();
  EXPECT_EQ(g.saveFrames, 0);
  frame();
  g.recordFrames = 1;  // a 320 x 240 window records nothing
  frame();
  moviesPath = saved;
  EXPECT_TRUE(std::filesystem::exists(dir.file("image0000.bmp")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("image0001.bmp")));
}

TEST(Scene, WithoutAModelTheSelectionPromptIsCentred) {
  openWindow();
  resetGui();
  auto whiteBox = [](const Image& img, int* left, int* right) {
    *left = W;
    *right = -1;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const Rgb p = img.at(x, y);
        if (p.r > 200 && p.g > 200 && p.b > 200)
          *left = std::min(*left, x), *right = std::max(*right, x);
      }
  };
  int left, right;
  whiteBox(frame(), &left, &right);
  ASSERT_GE(right, 0) << "no text";
  EXPECT_NEAR((left + right) / 2.0, W / 2.0, 3);
  guiSettings.modelLoaded = 1;
  int loadingLeft, loadingRight;
  whiteBox(frame(), &loadingLeft, &loadingRight);
  EXPECT_GT(loadingRight - loadingLeft, right - left);  // "... Loading Model ... "
}

}  // namespace
