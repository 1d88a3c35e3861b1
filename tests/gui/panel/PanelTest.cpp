// The panel layer and the control panel without a display: frames on a
// 1024 x 768 display driven by the test, pointer events as GLUT delivers
// them, controls found by label. The master's three rules: changes are
// written and reported only when the queue is drained, button transitions
// that arrive between two frames are fed one per frame, and input goes to
// either the panels or the scene. The controls: rollouts, enabling, radio
// groups, list boxes, the translation pads and the rotation ball. The
// control panel: which controls a loaded model, a paused loop and texturing
// enable, the model list it offers, the view window's drag speeds and the
// automatic show and hide.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ControlPanel.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "PanelControls.h"
#include "PanelMaster.h"
#include "PanelWindow.h"
#include "RenderSettings.h"
#include "SimulationSettings.h"
#include "TempDir.h"
#include "TetHierarchy.h"
#include "Window.h"

using namespace panel;

namespace {

struct PanelDriver {
  panel::Master& m = panel::Master::get();

  void frame(int n = 1) {
    for (int i = 0; i < n; ++i) m.frame(1024.0f, 768.0f, 1.0f / 60.0f);
  }
  // Frames until the input queue is empty.
  void drain() {
    for (int i = 0; i < 20 && m.inputPending(); ++i) frame();
    frame();
  }
  static float cx(const panel::Control* c) { return 0.5f * (c->rect.x0 + c->rect.x1); }
  static float cy(const panel::Control* c) { return 0.5f * (c->rect.y0 + c->rect.y1); }
  static int px(float v) { return int(std::lround(v)); }
  void moveTo(float x, float y) {
    m.passiveMotion(px(x), px(y));
    frame();
  }
  // Move, press and release with a frame between each.
  void click(float x, float y) {
    moveTo(x, y);
    m.mouse(0, 0, px(x), px(y));
    frame();
    m.mouse(0, 1, px(x), px(y));
    frame();
  }
  void click(const panel::Control* c) {
    ASSERT_FALSE(c->rect.empty()) << c->label();
    click(cx(c), cy(c));
  }
  // Press at (x, y), move by (dx, dy) in n steps with a frame each, release;
  // dispatches after every frame when eager.
  void drag(float x, float y, float dx, float dy, int n, bool eager = true) {
    moveTo(x, y);
    m.mouse(0, 0, px(x), px(y));
    frame();
    for (int i = 1; i <= n; ++i) {
      m.motion(px(x + dx * i / n), px(y + dy * i / n));
      frame();
      if (eager) m.dispatch();
    }
    m.mouse(0, 1, px(x + dx), px(y + dy));
    frame();
    m.dispatch();
  }
};

int gravity = 0;
std::vector<int> seenGravity;  // gravity as each callback saw it
std::vector<int> ids;
void record(int id) {
  ids.push_back(id);
  seenGravity.push_back(gravity);
}

int sceneMouse = 0, sceneMotion = 0, sceneKeys = 0, scenePassive = 0;

struct Strip {
  Window w{"Strip", Window::Placement::TopStrip};
  Checkbox* box = w.add<Checkbox>("Gravity [G]", &gravity, 102, record);
  Listbox* list = w.add<Listbox>("Model", &gravity, 0, nullptr);
  Strip() {
    gravity = 0;
    ids.clear();
    seenGravity.clear();
    list->addItem(0, "");
    list->addItem(1, "one");
    PanelDriver().frame(2);
  }
};

}  // namespace

TEST(PanelControls, RolloutsShowChildrenOnlyWhileOpenAndEnabled) {
  PanelDriver d;
  int gravity = 0;
  Window w("Strip", Window::Placement::TopStrip);
  auto* def = w.add<Rollout>("Deformation");
  auto* box = def->add<Checkbox>("Gravity [G]", &gravity, 102, record);
  auto* sim = w.add<Rollout>("Simulation");
  auto* step = sim->add<Button>("Single Step [ ]", 3, record);
  sim->disable();
  d.frame(2);
  // {clicked, its child, open after the click}
  const struct {
    Rollout* rollout;
    Control* child;
    bool open;
  } rows[] = {{def, box, true}, {sim, step, false}, {def, box, false}};
  EXPECT_TRUE(box->rect.empty() && step->rect.empty());  // closed at start
  for (const auto& r : rows) {
    d.click(r.rollout);
    d.frame();
    EXPECT_EQ(r.rollout->isOpen(), r.open) << r.rollout->label();
    EXPECT_EQ(r.child->rect.empty(), !r.open) << r.rollout->label();
  }
  EXPECT_FALSE(step->isEnabled());  // a container passes disable on
  sim->enable();
  EXPECT_TRUE(step->isEnabled());

  // A disabled check box ignores a click.
  d.click(def);
  box->disable();
  d.frame();
  d.click(box);
  d.m.dispatch();
  EXPECT_EQ(gravity, 0);
}

TEST(PanelControls, RadioAndListSelectionsReachTheirLiveVariables) {
  PanelDriver d;
  int mode = 1, index = 0;
  ids.clear();
  Window w("Strip", Window::Placement::TopStrip);
  auto* group = w.add<RadioGroup>(&mode, 6, record);
  for (const char* l :
       {"Wireframe [F1]", "Front-Filled [F2]", "Back-Filled [F3]", "Front and Back"})
    group->addButton(l);
  auto* list = w.add<Listbox>("Model", &index, 0, record);
  for (int i = 0; i < 3; ++i) list->addItem(i, i == 0 ? "" : "model" + std::to_string(i));
  d.frame(2);
  const struct {
    const char* label;
    int mode;
  } radio[] = {{"Front and Back", 3}, {"Wireframe [F1]", 0}, {"Back-Filled [F3]", 2}};
  for (const auto& r : radio) {
    d.click(w.find(r.label));
    d.m.dispatch();
    EXPECT_EQ(mode, r.mode) << r.label;
  }
  for (int item : {2, 0, 1}) {
    d.click(list);  // opens the list
    d.frame();
    ASSERT_EQ(list->itemRects.size(), 3u);
    const Rect r = list->itemRects[item];
    d.click(0.5f * (r.x0 + r.x1), 0.5f * (r.y0 + r.y1));
    d.m.dispatch();
    EXPECT_EQ(index, item);
  }
  EXPECT_EQ(ids, (std::vector<int>{6, 6, 6, 0, 0, 0}));
}

TEST(PanelControls, TranslationPadsMoveByPixelsTimesSpeed) {
  PanelDriver d;
  float shift[2] = {1.0f, -1.0f}, zoom = -5.0f;
  Window w("View", Window::Placement::LowerLeft);
  auto* xy = w.add<Translation>("Shift", Translation::Type::XY, shift, 1, record);
  auto* z = w.add<Translation>("Zoom", Translation::Type::Z, &zoom, 2, record);
  xy->setSpeed(0.015f);
  z->setSpeed(std::sqrt(5.0f) * 0.02f);
  d.frame(2);
  // Pointer moves (x right, y down) of one drag; dispatched every frame or
  // only at the end, the result is the same.
  const struct {
    Translation* pad;
    float dx, dy;
    bool eager;
    float expect[2];
  } rows[] = {
      {xy, 40, -20, true, {1.0f + 40 * 0.015f, -1.0f + 20 * 0.015f}},
      {xy, -40, 20, false, {1.0f, -1.0f}},
      {z, 7, -30, false, {-5.0f + 30 * std::sqrt(5.0f) * 0.02f, 0}},
      {z, 0, 60, true, {-5.0f - 30 * std::sqrt(5.0f) * 0.02f, 0}},
  };
  for (const auto& r : rows) {
    d.drag(PanelDriver::cx(r.pad), PanelDriver::cy(r.pad), r.dx, r.dy, 5, r.eager);
    d.frame();
    if (r.pad == xy) {
      EXPECT_NEAR(shift[0], r.expect[0], 1e-5);
      EXPECT_NEAR(shift[1], r.expect[1], 1e-5);
    } else {
      EXPECT_NEAR(zoom, r.expect[0], 1e-5);
    }
  }
}

TEST(PanelControls, RotationBallTurnsThePointUnderThePointerAndStaysOrthonormal) {
  PanelDriver d;
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  Window w("View", Window::Placement::LowerLeft);
  auto* ball = w.add<Rotation>("Rotation", m);
  d.frame(2);
  const float x = PanelDriver::cx(ball), y = PanelDriver::cy(ball);
  const float r = 0.5f * (ball->rect.x1 - ball->rect.x0);
  // From the centre to half a radius right: 30 degrees about y; lazily
  // dispatched steps build on each other.
  d.drag(x, y, 0.5f * r, 0.0f, 4, false);
  const float c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  const float ry[16] = {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], ry[i], 2e-3) << i;

  unsigned seed = 12345;
  auto rnd = [&seed](float span) {
    seed = seed * 1103515245u + 12345u;
    return span * (float((seed >> 8) & 0xffff) / 65535.0f - 0.5f);
  };
  for (int k = 0; k < 1000; ++k) d.drag(x + rnd(2 * r), y + rnd(2 * r), rnd(3 * r), rnd(3 * r), 1);
  double maxError = 0.0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double dot = 0.0;
      for (int i = 0; i < 3; ++i) dot += double(m[4 * a + i]) * m[4 * b + i];
      maxError = std::max(maxError, std::fabs(dot - (a == b)));
    }
  EXPECT_LT(maxError, 1e-5);
  const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[4] * (m[1] * m[10] - m[2] * m[9]) +
                     m[8] * (m[1] * m[6] - m[2] * m[5]);
  EXPECT_NEAR(det, 1.0, 1e-5);
  EXPECT_NE(m[0], ry[0]);  // the drags did turn it
}

TEST(PanelMaster, AChangeIsWrittenAndReportedOnlyWhenTheQueueIsDrained) {
  PanelDriver d;
  Strip s;
  int scheduled = 0;
  d.m.scheduleDispatch = [&scheduled] { ++scheduled; };
  d.click(s.box);
  d.frame(3);
  EXPECT_EQ(gravity, 0);
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(scheduled, 1);  // one timer for the whole batch
  d.m.dispatch();
  EXPECT_EQ(gravity, 1);
  EXPECT_EQ(ids, std::vector<int>{102});
  EXPECT_EQ(seenGravity, std::vector<int>{1});  // written before the callback
  d.m.scheduleDispatch = nullptr;
}

TEST(PanelMaster, TransitionsBetweenTwoFramesAreFedOnePerFrame) {
  PanelDriver d;
  Strip s;
  int redisplays = 0;
  d.m.postRedisplay = [&redisplays] { ++redisplays; };
  const float x = PanelDriver::cx(s.box), y = PanelDriver::cy(s.box);
  // {clicks arriving in one gap between frames, value after them}
  const struct {
    int clicks;
    int value;
  } rows[] = {{1, 1}, {2, 1}, {3, 0}};
  for (const auto& r : rows) {
    ids.clear();
    d.moveTo(x, y);
    for (int i = 0; i < r.clicks; ++i) {
      d.m.mouse(0, 0, int(x), int(y));
      d.m.mouse(0, 1, int(x), int(y));
    }
    redisplays = 0;
    d.frame();
    EXPECT_TRUE(d.m.inputPending());
    EXPECT_GT(redisplays, 0);  // frames are asked for while some wait
    d.drain();
    EXPECT_FALSE(d.m.inputPending());
    d.m.dispatch();
    EXPECT_EQ(gravity, r.value) << r.clicks;
    EXPECT_EQ(ids.size(), size_t(r.clicks));
  }
  d.m.postRedisplay = nullptr;
}

TEST(PanelMaster, PressesOnAVisiblePanelNeverReachTheScene) {
  PanelDriver d;
  Strip s;
  Master& m = d.m;
  m.mouseFunc = [](int, int, int, int) { ++sceneMouse; };
  m.motionFunc = [](int, int) { ++sceneMotion; };
  m.keyboardFunc = [](unsigned char, int, int) { ++sceneKeys; };
  m.passiveMotionFunc = [](int, int) { ++scenePassive; };
  const float px = PanelDriver::cx(s.box), py = PanelDriver::cy(s.box);
  enum Setup { Visible, Hidden, ListOpen };
  // A press at (x, y), a move to (600, 500) and the release there.
  const struct {
    Setup setup;
    float x, y;
    int mouse, motion;
  } rows[] = {
      {Visible, px, py, 0, 0},   {Visible, 600, 500, 2, 1},
      {Hidden, px, py, 2, 1},    {ListOpen, 600, 500, 0, 0},  // closes the list instead
      {Visible, 600, 500, 2, 1},
  };
  for (const auto& r : rows) {
    if (r.setup == Hidden) s.w.hide();
    if (r.setup == ListOpen) d.click(s.list);
    d.frame(2);
    sceneMouse = sceneMotion = sceneKeys = scenePassive = 0;
    m.mouse(0, 0, int(r.x), int(r.y));
    d.frame();
    m.motion(600, 500);
    d.frame();
    m.mouse(0, 1, 600, 500);
    m.keyboard('g', int(px), int(py));
    m.passiveMotion(int(px), int(py));
    d.drain();
    EXPECT_EQ(sceneMouse, r.mouse) << r.setup << " " << r.x;
    EXPECT_EQ(sceneMotion, r.motion) << r.setup << " " << r.x;
    EXPECT_EQ(sceneKeys, 1);  // keys always reach the scene
    EXPECT_EQ(scenePassive, 1);
    s.w.show();
  }
  m.dispatch();
  m.mouseFunc = nullptr;
  m.motionFunc = nullptr;
  m.keyboardFunc = nullptr;
  m.passiveMotionFunc = nullptr;
}

namespace {

// The six rollouts' enabled flags, Simulation, Deformation, MouseMode,
// Rendering Options, RenderSurf/Vol, Color.
std::vector<bool> rolloutsEnabled(const ControlPanel& p) {
  std::vector<bool> on;
  for (const panel::Rollout* r : p.rollouts) on.push_back(r->isEnabled());
  return on;
}

struct Model {
  TetHierarchy mesh{1};
  SimulationSettings settings;
  RenderSettings render;
};

}  // namespace

TEST(ControlPanel, ALoadedModelEnablesTheRolloutsItCanUse) {
  zolt::test::TempDir models;
  for (const char* f : {"a.config", "b.txt", "B.config"}) models.write(f, "");
  const std::string dir = models.file("");
  modelsDirectory = dir.c_str();
  modelListSuffix = ".config";
  ControlPanel panel(nullptr, 1, 0, 0, 0, false, false);
  controlPanel = &panel;
  const std::vector<bool> none(6, false), all(6, true), noSim = {0, 0, 0, 1, 1, 1};
  EXPECT_EQ(rolloutsEnabled(panel), none);
  EXPECT_TRUE(panel.isVisible());
  EXPECT_FALSE(panel.viewWindow->isVisible());
  EXPECT_EQ(modelChoice.models, (std::vector<std::string>{"B", "a"}));

  // {has a render surface, preprocessing skipped}
  const struct {
    bool surface, skip;
    std::vector<bool> rollouts;
  } rows[] = {{false, false, all}, {true, false, all}, {true, true, noSim}};
  for (const auto& r : rows) {
    modelChoice.skipPreprocess = r.skip;
    Model m;
    if (r.surface) m.render.surfacePath = "surface";
    {
      ZoltControl control(&m.mesh, nullptr, &m.settings, &m.render);
      EXPECT_EQ(rolloutsEnabled(panel), r.rollouts);
      EXPECT_EQ(panel.renderSurfaceBox->isEnabled(), r.surface);
      EXPECT_EQ(panel.panel->find("Fur")->isEnabled(), r.surface);
      EXPECT_FALSE(panel.isVisible());  // hidden while a model runs
      EXPECT_TRUE(panel.viewWindow->isVisible());
    }
    EXPECT_EQ(rolloutsEnabled(panel), none);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_FALSE(panel.viewWindow->isVisible());
  }
  controlPanel = nullptr;
  modelsDirectory = "";
}

TEST(ControlPanel, SingleStepWhilePausedAndColourButtonsWhileUntextured) {
  Model m;
  ControlPanel panel(nullptr, 1, 0, 0, 0, false, false);
  panel.setControl(new ZoltControl(&m.mesh, nullptr, &m.settings, &m.render));
  const struct { int paused, texturing; } rows[] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  for (const auto& r : rows) {
    guiSettings.paused = r.paused;
    guiSettings.texturing = r.texturing;
    panel.updateControls();
    EXPECT_EQ(panel.singleStepButton->isEnabled(), r.paused == 1);
    for (const char* b : {"Increase Brightness", "Decrease Brightness", "Object Color"})
      EXPECT_EQ(panel.panel->find(b)->isEnabled(), r.texturing == 0) << b;
    EXPECT_TRUE(panel.panel->find("Specular Color")->isEnabled());
  }
  delete panel.control;
}

TEST(ControlPanel, DragSpeedsFollowTheZoom) {
  ControlPanel panel(nullptr, 1, 0, 0, 0, false, false);
  const struct {
    float zoom, shift, zoomSpeed;
  } rows[] = {{-5.0f, 0.015f, std::sqrt(5.0f) * 0.02f}, {-20.0f, 0.06f, std::sqrt(5.0f) * 0.04f}};
  for (const auto& r : rows) {
    guiSettings.zoom = r.zoom;
    viewCallback(1);
    viewCallback(2);
    EXPECT_NEAR(panel.shiftControl->speed(), r.shift, 1e-6);
    EXPECT_NEAR(panel.zoomControl->speed(), r.zoomSpeed, 1e-6);
  }
  // A real drag of the zoom pad at zoom -20: 10 pixels up, twice the speed
  // of zoom -5.
  PanelDriver d;
  panel.viewWindow->show();
  d.frame(2);
  d.drag(PanelDriver::cx(panel.zoomControl), PanelDriver::cy(panel.zoomControl), 0, -10, 2, false);
  EXPECT_NEAR(guiSettings.zoom, -20.0f + 10 * std::sqrt(5.0f) * 0.04f, 1e-4);
}

TEST(ControlPanel, PointerAtTheEdgesShowsAndHidesThePanel) {
  ControlPanel panel(nullptr, 1, 0, 0, 0, false, false);
  GuiSettings& g = guiSettings;
  g.windowWidth = 800;
  g.windowHeight = 600;
  g.panelAutoHide = 1;
  // {visible before, x, y, visible after}
  const struct {
    bool before;
    int x, y;
    bool after;
  } rows[] = {{true, 400, 595, false}, {true, 400, 594, true}, {false, 400, 5, true},
              {false, 400, 6, false},  {false, 4, 0, false},   {true, 796, 599, true},
              {true, 795, 599, false}};
  for (const auto& r : rows) {
    if (r.before)
      panel.show();
    else
      panel.hide();
    passiveMotionCallback(r.x, r.y);
    EXPECT_EQ(panel.isVisible(), r.after) << r.x << "," << r.y;
    EXPECT_EQ(g.pointerX, r.x);
  }
  // Entering hides; leaving near the top edge shows.
  panel.show();
  entryCallback(1);
  EXPECT_FALSE(panel.isVisible());
  passiveMotionCallback(400, 50);
  entryCallback(0);
  EXPECT_TRUE(panel.isVisible());
  g.panelAutoHide = 0;
  passiveMotionCallback(400, 599);
  EXPECT_TRUE(panel.isVisible());
}
