// The control panel without a display: enabling, model list, drag speeds,
// automatic show and hide.

#include <gtest/gtest.h>

#include "ControlDispatch.h"
#include "ControlPanel.h"
#include "GuiSettings.h"
#include "ModelLoading.h"
#include "RenderSettings.h"
#include "SimulationSettings.h"
#include "TempDir.h"
#include "TetHierarchy.h"
#include "Window.h"
#include "ZoltControl.h"
#include "panel/PanelDriver.h"

using zolt::test::PanelDriver;

namespace {

// The six rollouts' enabled flags.
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

  // Has a render surface, preprocessing skipped.
  for (auto [surface, skip] : {std::pair{false, false}, {true, false}, {true, true}}) {
    modelChoice.skipPreprocess = skip;
    Model m;
    if (surface) m.render.surfacePath = "surface";
    {
      ZoltControl control(&m.mesh, nullptr, &m.settings, &m.render);
      EXPECT_EQ(rolloutsEnabled(panel), skip ? noSim : all);
      EXPECT_EQ(panel.renderSurfaceBox->isEnabled(), surface);
      EXPECT_EQ(panel.panel->find("Fur")->isEnabled(), surface);
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

// The mouse-mode group shows every mode the key m cycles through: a click on
// a mode's button chooses it, and m then moves on to the next mode's button.
TEST(ControlPanel, MouseModeGroupShowsEveryModeTheKeyReaches) {
  Model m;
  ControlPanel panel(nullptr, 1, 0, 0, 0, false, false);
  controlPanel = &panel;
  ZoltControl control(&m.mesh, nullptr, &m.settings, &m.render);
  panel.show();
  PanelDriver d;
  d.frame(2);
  d.click(panel.rollouts[ControlPanel::MouseMode]);
  d.frame();
  const char* labels[] = {"Squeezing Model", "Pulling Model", "Point Picking"};
  for (int mode : {2, 0, 1}) {
    const panel::Control* button = panel.panel->find(labels[mode]);
    ASSERT_TRUE(button) << labels[mode];
    d.click(button);
    d.m.dispatch();
    EXPECT_EQ(guiSettings.mouseMode, mode) << labels[mode];
    keyboardCallback('m', 0, 0);
    EXPECT_EQ(guiSettings.mouseMode, (mode + 1) % 3);
  }
  controlPanel = nullptr;
}

TEST(ControlPanel, DragSpeedsFollowTheZoom) {
  ControlPanel panel(nullptr, 1, 0, 0, 0, false, false);
  const struct {
    float zoom, shift, zoomSpeed;
  } rows[] = {{-5.0f, 0.015f, std::sqrt(5.0f) * 0.02f}, {-20.0f, 0.06f, std::sqrt(5.0f) * 0.04f}};
  for (const auto& r : rows) {
    guiSettings.zoom = r.zoom;
    viewCallback(kViewShift);
    viewCallback(kViewZoom);
    EXPECT_NEAR(panel.shiftControl->speed(), r.shift, 1e-6);
    EXPECT_NEAR(panel.zoomControl->speed(), r.zoomSpeed, 1e-6);
  }
  // Dragging the zoom pad 10 pixels up at zoom -20.
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
  // clang-format off
  const struct { bool before; int x, y; bool after; } rows[] = {
      {true, 400, 595, false}, {true, 400, 594, true}, {false, 400, 5, true},
      {false, 400, 6, false}, {false, 4, 0, false}, {true, 796, 599, true}, {true, 795, 599, false}};
  // clang-format on
  for (const auto& r : rows) {
    r.before ? panel.show() : panel.hide();
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
