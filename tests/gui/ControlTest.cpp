// Keys, the window and loop ids and the model actions (ids 101-134) without
// a window: keys through a recorder of the ids they send, window ids through
// a recording host, model actions on a simulation that logs its calls. Drag
// arithmetic, selection records and the view rotation against closed forms;
// the rotation against matrices composed in a different order: for a
// rotation R, turning about R's own screen axes equals Rx(a) Ry(b) R.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ControlDispatch.h"
#include "GuiSettings.h"
#include "MouseDrag.h"
#include "RenderSettings.h"
#include "SimulationSettings.h"
#include "StateSimulation.h"
#include "TestMeshes.h"
#include "ViewRotation.h"
#include "ZoltControl.h"

namespace {

std::vector<int> sent;
void record(int id) { sent.push_back(id); }

// The window and the panel, each call logged as one word.
struct Log : WindowHost, PanelLink {
  std::string host, panel;
  void quit() override { host += "quit "; }
  void stopAnimation() override { host += "stop "; }
  void startTimerLoop() override { host += "timer "; }
  void startIdleLoop() override { host += "idle "; }
  void singleStep() override { host += "step "; }
  void postRedisplay() override { host += "redisplay "; }
  void enterFullscreen(int w, int h) override {
    host += "full " + std::to_string(w) + "x" + std::to_string(h) + " ";
  }
  void leaveFullscreen() override { host += "leave "; }
  void setControl(ZoltControl*) override {}
  void show() override { panel += "show "; }
  void hide() override {}
  bool hasOwnWindow() const override { return false; }
  void syncLive() override { panel += "sync "; }
  void updateControls() override { panel += "update "; }
  void togglePanel() override { panel += "panel "; }
  void toggleView() override { panel += "view "; }
  void rebuild() override { panel += "rebuild "; }
};

using G = GuiSettings;
using Word = int32_t G::*;

class ControlDispatch : public testing::Test {
 protected:
  std::unique_ptr<TetHierarchy> mesh = zolt::test::singleTetrahedron();
  SimulationSettings settings;
  RenderSettings render;
  zolt::test::StateSimulation sim{&settings, 4, 3};
  std::unique_ptr<ZoltControl> control =
      std::make_unique<ZoltControl>(mesh.get(), &sim, &settings, &render);
  const GuiSettings loaded = guiSettings;
  Log log;
  WindowHost* const noWindow = windowHost;

  void SetUp() override {
    windowHost = &log;
    controlPanel = &log;
    settings.forces.push_back({mesh->vertices[0][2], {1, 2, 3}});
    settings.deformations.push_back({mesh->vertices[0][1], {0, 0, -1}});
  }
  void TearDown() override {
    sendControl = controlCallback;
    windowHost = noWindow;
    controlPanel = nullptr;
  }
};

TEST_F(ControlDispatch, KeysToggleTheirWordThenSendTheirId) {
  // Key, the word it toggles (or none), the word before and after, the id
  // sent (0: none). M cycles squeezing, pulling, point pick; S, C and Z act
  // in lower case only.
  // clang-format off
  const struct {
    unsigned char key;
    Word word;
    int before, after, id;
  } rows[] = {
      {' ', nullptr, 0, 0, 3}, {'+', nullptr, 0, 0, 4}, {'-', nullptr, 0, 0, 5},
      {'n', nullptr, 0, 0, 106}, {'Q', nullptr, 0, 0, 1}, {'r', nullptr, 0, 0, 105},
      {'z', nullptr, 0, 0, 134}, {'Z', nullptr, 0, 0, 0}, {'x', nullptr, 0, 0, 0},
      {'g', &G::gravityOn, 0, 1, 102}, {'G', &G::gravityOn, 1, 0, 102},
      {'l', &G::pixelLighting, 0, 1, 130}, {'L', &G::pixelLighting, 1, 0, 130},
      {'p', &G::paused, 0, 1, 2}, {'P', &G::paused, 1, 0, 2}, {'T', &G::texturing, 1, 0, 128},
      {'s', &G::shadowOn, 0, 1, 127}, {'S', &G::shadowOn, 0, 0, 0},
      {'c', &G::showGround, 0, 1, 0}, {'C', &G::showGround, 0, 0, 0},
      {'m', &G::mouseMode, 1, 2, 0}, {'M', &G::mouseMode, 2, 0, 0}};
  // clang-format on
  sendControl = record;
  for (const auto& r : rows) {
    guiSettings = loaded;
    if (r.word) guiSettings.*r.word = r.before;
    sent.clear();
    keyboardCallback(r.key, 5, 5);
    EXPECT_EQ(sent, r.id ? std::vector<int>{r.id} : std::vector<int>{}) << r.key;
    EXPECT_EQ(r.word ? guiSettings.*r.word : 0, r.after) << r.key;
  }
  // Function keys set or toggle their word, then send their id.
  // clang-format off
  const struct {
    int key;
    Word word;
    int after, id;
  } special[] = {
      {kKeyF1, &G::renderMode, 0, 6}, {kKeyF2, &G::renderMode, 1, 6},
      {kKeyF3, &G::renderMode, 2, 6}, {kKeyF8, &G::maxFps, 1, 10}, {kKeyF9, &G::fullScreen, 1, 8},
      {5, &G::renderMode, 1, 0}};
  // clang-format on
  for (const auto& r : special) {
    guiSettings = loaded;
    sent.clear();
    specialCallback(r.key, 0, 0);
    EXPECT_EQ(sent, r.id ? std::vector<int>{r.id} : std::vector<int>{}) << r.key;
    EXPECT_EQ(guiSettings.*r.word, r.after) << r.key;
  }
  log.panel.clear();
  keyboardCallback('u', 0, 0);
  keyboardCallback('v', 0, 0);
  EXPECT_EQ(log.panel, "panel view ");

  // Without a control object only u and q act.
  control.reset();
  guiSettings = loaded;
  log.panel.clear();
  sent.clear();
  for (unsigned char key : {'g', ' ', 'p', 'v', 'z', 'u', 'q'}) keyboardCallback(key, 0, 0);
  for (int key : {kKeyF1, kKeyF8}) specialCallback(key, 0, 0);
  EXPECT_EQ(sent, std::vector<int>{1});
  EXPECT_EQ(log.panel, "panel ");
  EXPECT_EQ(guiSettings.gravityOn + guiSettings.paused + guiSettings.maxFps, 0);
  EXPECT_EQ(guiSettings.renderMode, loaded.renderMode);
}

TEST_F(ControlDispatch, WindowAndLoopIds) {
  // Id, a word set to 1 besides paused, paused, the host calls. Id 2
  // always restarts the timer loop; F8's id 10 while paused does nothing.
  // clang-format off
  const struct {
    int id;
    Word word;
    int paused;
    const char* host;
  } rows[] = {
      {2, nullptr, 1, "stop "}, {2, &G::maxFps, 0, "timer "}, {3, nullptr, 1, "step "},
      {3, nullptr, 0, ""}, {6, nullptr, 1, "redisplay "}, {6, nullptr, 0, ""},
      {7, nullptr, 1, "redisplay "}, {8, &G::fullScreen, 0, "full 0x0 "},
      {8, nullptr, 0, "leave "}, {9, &G::recordFrames, 0, "full 720x576 "},
      {10, &G::maxFps, 1, ""}, {10, &G::maxFps, 0, "idle "}, {10, nullptr, 0, "timer "},
      {11, nullptr, 0, ""}};
  // clang-format on
  for (const auto& r : rows) {
    guiSettings = loaded;
    if (r.word) guiSettings.*r.word = 1;
    guiSettings.paused = r.paused;
    log.host.clear();
    log.panel.clear();
    controlCallback(r.id);
    EXPECT_EQ(log.host, r.host) << r.id;
    EXPECT_EQ(log.panel, r.id == 11 ? "" : "update ") << r.id;
  }
  log.panel.clear();
  controlCallback(1);
  EXPECT_EQ(log.host, "quit ");
  EXPECT_EQ(log.panel, "");
  // 13 rebuilds a panel; without one nothing happens, not even to its words.
  guiSettings.panelSeparateWindow = 0;
  controlCallback(13);
  EXPECT_EQ(log.panel, "rebuild show update ");
  EXPECT_EQ(guiSettings.panelAutoHide, 1);
  controlPanel = nullptr;
  guiSettings.panelAutoHide = 7;
  controlCallback(13);
  EXPECT_EQ(guiSettings.panelAutoHide, 7);
}

using ControlActions = ControlDispatch;

TEST_F(ControlActions, SimulationActions) {
  // clang-format off
  const struct {
    int id;
    Word word;
    int value;
    const char* log;
  } rows[] = {
      {101, &G::forcesOn, 1, "add 2 1 2 3 "}, {101, &G::forcesOn, 0, "purge "},
      {102, &G::gravityOn, 1, "gravity+ "}, {102, &G::gravityOn, 0, "gravity- "},
      {104, nullptr, 0, "smooth 1 0 0 -1 "}, {105, nullptr, 0, "reset "},
      {106, nullptr, 0, "freeze "}, {134, nullptr, 0, "benchmark "}, {100, nullptr, 0, ""},
      {135, nullptr, 0, ""}};
  // clang-format on
  for (bool withSimulation : {true, false}) {
    if (!withSimulation) control->simulation = nullptr;
    for (const auto& r : rows) {
      guiSettings = loaded;
      if (r.word) guiSettings.*r.word = r.value;
      sim.log.clear();
      control->handleControl(r.id);
      EXPECT_EQ(sim.log, withSimulation ? r.log : "") << r.id;
    }
  }
}

TEST_F(ControlActions, ResetAndInertiaEndDragsAndMarkTheRecord) {
  GuiSettings& g = guiSettings;
  g.forcesOn = g.gravityOn = g.recordEvents = 1;
  control->handleControl(105);
  EXPECT_EQ(g.forcesOn + g.gravityOn, 0);
  EXPECT_EQ(g.simulationReset, 1);
  EXPECT_EQ(control->pathRecord.reset, 1);
  g.forcesOn = 1;
  control->dragPending = true;
  control->pathRecord.pull = 1;
  control->handleControl(106);
  EXPECT_FALSE(control->dragPending);
  EXPECT_EQ(g.forcesOn, 0);
  EXPECT_EQ(control->pathRecord.inertia, 1);
  EXPECT_EQ(control->pathRecord.pull, 0);
  settings.forceNorm = 1.0f;
  g.forceValue = 250.0f;
  control->handleControl(103);
  EXPECT_EQ(settings.forceNorm, 250.0f);
}

TEST_F(ControlActions, TheLastColouringSwitchedOnWins) {
  GuiSettings& g = guiSettings;
  g.volumeParameters.scale = 0.9f;
  g.renderVolumeOn = 1;
  // clang-format off
  const struct {
    Word word;
    int value, id;
    int rightSide, stress, residual;
  } steps[] = {
      {&G::colourByRightSide, 1, 112, 1, 0, 0}, {&G::computeStress, 1, 113, 0, 1, 0},
      {&G::computeResidual, 1, 121, 0, 0, 1}, {&G::colourByRightSide, 1, 112, 1, 0, 0},
      {&G::colourByRightSide, 0, 112, 0, 0, 0}};
  // clang-format on
  for (const auto& s : steps) {
    g.*s.word = s.value;
    g.volumeChanged = g.classificationChanged = 0;
    control->handleControl(s.id);
    EXPECT_EQ(g.colourByRightSide, s.rightSide) << s.id;
    EXPECT_EQ(g.computeStress, s.stress) << s.id;
    EXPECT_EQ(g.computeResidual, s.residual) << s.id;
    const bool any = s.rightSide + s.stress + s.residual > 0;
    EXPECT_EQ(g.volumeParameters.colourSource, any ? 1 : 0) << s.id;
    EXPECT_EQ(g.classificationChanged, any ? 0 : 1) << s.id;
    EXPECT_EQ(g.volumeChanged, 1) << s.id;
  }
  EXPECT_EQ(g.volumeParameters.scale, 0.5f);  // back to the defaults
}

TEST_F(ControlActions, ShadowAndPixelLightingGoTogetherThroughTheKeys) {
  GuiSettings& g = guiSettings;
  g.pixelLighting = 0;
  keyboardCallback('s', 0, 0);
  EXPECT_EQ(g.shadowOn + g.pixelLighting, 2);
  keyboardCallback('L', 0, 0);
  EXPECT_EQ(g.shadowOn + g.pixelLighting, 0);
  keyboardCallback('l', 0, 0);  // lighting on alone keeps the shadow off
  EXPECT_EQ(g.shadowOn, 0);
  EXPECT_EQ(g.pixelLighting, 1);
  sendControl = record;
  sent.clear();
  for (int id : {127, 128, 129, 130, 133}) control->handleControl(id);
  EXPECT_EQ(sent, std::vector<int>(5, 6));
}

// A view turned away from the identity, shifted and zoomed.
void turnedView(float* view, double* axis) {
  float R[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  rotateViewMatrix(R, 35.0f, -50.0f);
  captureDragView(R, 0.3f, -0.2f, -4.0f, view, axis);
}

TEST_F(ControlActions, ColourIdsOpenThePickerOnTheirColour) {
  control->handleControl(123);  // without a picker: nothing
  static float* opened;
  static int at[2];
  openColourPicker = [](int x, int y, float* c) { opened = c, at[0] = x, at[1] = y; };
  guiSettings.windowWidth = 800;
  guiSettings.windowHeight = 600;
  const float* expected[] = {render.colour, render.specularColour, render.extraColour,
                             render.accentColour};
  for (int id = 122; id <= 125; ++id) {
    opened = nullptr;
    control->handleControl(id);
    EXPECT_EQ(opened, expected[id - 122]) << id;
    EXPECT_EQ(at[0], 400);
    EXPECT_EQ(at[1], 300);
  }
  openColourPicker = nullptr;
}

TEST(MouseDrag, SqueezeDoublesEvery139PixelsRightOrUp) {
  const struct {
    int dx, dy;
    float factor;
  } rows[] = {{139, 0, 2.0037f}, {0, 139, 2.0037f}, {139, -139, 1.0f}, {-139, 0, 0.49908f}};
  for (const auto& r : rows)
    EXPECT_NEAR(squeezeForceNorm(1000.0f, r.dx, r.dy), 1000.0f * r.factor, 0.05f)
        << r.dx << " " << r.dy;
}

TEST(MouseDrag, PullFollowsTheScreenAxesOfTheCapturedView) {
  float view[16];
  double axis[3];
  turnedView(view, axis);
  const struct {
    int dx, dy;
    bool shift;
    double right, up;  // screen components of the force over the step scale
  } rows[] = {{10, 0, false, 10, 0},
              {0, -7, false, 0, -7},
              {10, 0, true, 10, 0},
              {20, 0, true, 40, 0},
              {-20, 10, true, -40, 10}};
  for (const auto& r : rows) {
    double f[3];
    pullForce(view, 0.5f, r.dx, r.dy, r.shift, f);
    // Back to the screen through the rotation: R f = (right, up, 0) scale.
    for (int i = 0; i < 3; ++i) {
      const double screen = view[i] * f[0] + view[4 + i] * f[1] + view[8 + i] * f[2];
      EXPECT_NEAR(screen, 0.5 * (i == 0 ? r.right : i == 1 ? r.up : 0.0), 1e-5) << r.dx << i;
    }
  }
  // The view axis is the screen's z axis in model space; the eye maps to
  // the view's origin.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(axis[i], view[4 * i + 2]);
  float eye[3];
  eyePosition(view, eye);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(view[i] * eye[0] + view[4 + i] * eye[1] + view[8 + i] * eye[2] + view[12 + i], 0.0,
                1e-6);
}

TEST(MouseDrag, RectangleVote) {
  const struct {
    int flagged, unflagged;
    uint8_t flag;
  } rows[] = {{3, 2, 1}, {2, 3, 0}, {0, 5, 1}, {5, 0, 0}, {2, 2, 0}, {0, 0, 1}};
  for (const auto& r : rows)
    EXPECT_EQ(rectangleFlag(r.flagged, r.unflagged), r.flag) << r.flagged << " " << r.unflagged;
}

TEST(MouseDrag, SelectionRecords) {
  // Records: names count, min depth, max depth, names.
  const uint32_t buffer[] = {1, 500, 900, 4, 2, 300, 400, 7, 8, 1, 300, 310, 2, 0, 100, 100};
  const struct {
    int size, hits, nearest;
    std::vector<int> all;
  } rows[] = {{16, 3, 2, {4, 8, 2}},  // a tie goes to the later record; the last name counts
              {16, 4, 2, {4, 8, 2}},  // a record without names is skipped
              {16, -1, -1, {}},       // overflow
              {12, 3, -1, {}},        // a record past the buffer's end
              {16, 1, 4, {4}}};
  for (const auto& r : rows) {
    EXPECT_EQ(nearestHit(buffer, r.size, r.hits), r.nearest) << r.hits;
    EXPECT_EQ(allHits(buffer, r.size, r.hits), r.all) << r.hits;
  }
}

constexpr double kDeg = 3.14159265358979323846 / 180.0;

using M3 = std::array<std::array<double, 3>, 3>;

M3 multiply(const M3& a, const M3& b) {
  M3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

// Turn by d degrees about axis a (0: x, 1: y, 2: z).
M3 about(int a, double d) {
  const double c = std::cos(d * kDeg), s = std::sin(d * kDeg);
  const int p = (a + 1) % 3, q = (a + 2) % 3;
  M3 r{};
  r[a][a] = 1;
  r[p][p] = r[q][q] = c;
  r[q][p] = s;
  r[p][q] = -s;
  return r;
}

TEST(ViewRotation, TurnsAboutTheScreenAxes) {
  const struct { double x, y; } turns[] = {{0, 0.4}, {30, 0}, {-12.5, 47}, {90, 90}, {180, -33}};
  const M3 start = multiply(about(2, 20), multiply(about(1, -35), about(0, 70)));
  for (const auto& t : turns) {
    float R[16] = {0};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) R[4 * j + i] = float(start[i][j]);
    R[12] = 1.5f;  // the translation column stays
    R[15] = 1.0f;
    rotateViewMatrix(R, float(t.x), float(t.y));
    const M3 expected = multiply(about(0, t.x), multiply(about(1, t.y), start));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(R[4 * j + i], expected[i][j], 1e-6) << t.x << " " << t.y << " " << i << j;
    EXPECT_EQ(R[12], 1.5f);
    EXPECT_EQ(R[15], 1.0f);
  }
}

TEST(ViewRotation, ThousandRandomTurnsStayOrthonormal) {
  float R[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  std::srand(7);
  for (int n = 0; n < 1000; ++n)
    rotateViewMatrix(R, std::rand() % 3600 / 10.0f - 180.0f, std::rand() % 3600 / 10.0f - 180.0f);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double dot = 0.0;
      for (int k = 0; k < 3; ++k) dot += double(R[4 * a + k]) * R[4 * b + k];
      EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-4) << a << b;
    }
}

}  // namespace
