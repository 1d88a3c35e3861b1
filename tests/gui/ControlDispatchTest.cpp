// Keys and the window and loop ids without a window: keys through a
// recorder of the ids they send, window ids through a recording host.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ControlDispatch.h"
#include "GuiSettings.h"
#include "RenderSettings.h"
#include "SimulationSettings.h"
#include "TestMeshes.h"
#include "ViewRotation.h"
#include "ZoltControl.h"

namespace {

std::vector<int> sent;
void record(int id) { sent.push_back(id); }

struct HostLog : WindowHost {
  std::string log;
  void quit() override { log += "quit "; }
  void stopAnimation() override { log += "stop "; }
  void startTimerLoop() override { log += "timer "; }
  void startIdleLoop() override { log += "idle "; }
  void singleStep() override { log += "step "; }
  void postRedisplay() override { log += "redisplay "; }
  void enterFullscreen(int w, int h) override {
    log += "full " + std::to_string(w) + "x" + std::to_string(h) + " ";
  }
  void leaveFullscreen() override { log += "leave "; }
};

struct PanelLog : PanelLink {
  std::string log;
  bool own = false;
  void setControl(ZoltControl*) override {}
  void show() override { log += "show "; }
  void hide() override {}
  bool hasOwnWindow() const override { return own; }
  void syncLive() override { log += "sync "; }
  void updateControls() override { log += "update "; }
  void togglePanel() override { log += "panel "; }
  void toggleView() override { log += "view "; }
  void rebuild() override { log += "rebuild "; }
};

using Word = int32_t GuiSettings::*;

class ControlDispatch : public testing::Test {
 protected:
  std::unique_ptr<TetHierarchy> mesh = zolt::test::singleTetrahedron();
  SimulationSettings settings;
  RenderSettings render;
  std::unique_ptr<ZoltControl> control =
      std::make_unique<ZoltControl>(mesh.get(), nullptr, &settings, &render);
  const GuiSettings loaded = guiSettings;
  HostLog host;
  PanelLog panel;

  void SetUp() override {
    windowHost = &host;
    controlPanel = &panel;
  }
  void TearDown() override {
    sendControl = controlCallback;
    windowHost = nullptr;
    controlPanel = nullptr;
  }
};

TEST_F(ControlDispatch, KeysToggleTheirWordThenSendTheirId) {
  const struct {
    unsigned char key;
    Word word;
    int before, after;
    std::vector<int> ids;
  } rows[] = {
      {' ', nullptr, 0, 0, {3}},
      {'+', nullptr, 0, 0, {4}},
      {'-', nullptr, 0, 0, {5}},
      {'g', &GuiSettings::gravityOn, 0, 1, {102}},
      {'G', &GuiSettings::gravityOn, 1, 0, {102}},
      {'l', &GuiSettings::pixelLighting, 0, 1, {130}},
      {'L', &GuiSettings::pixelLighting, 1, 0, {130}},
      {'m', &GuiSettings::mouseMode, 1, 2, {}},
      {'M', &GuiSettings::mouseMode, 2, 0, {}},  // squeezing, pulling, point pick
      {'n', nullptr, 0, 0, {106}},
      {'p', &GuiSettings::paused, 0, 1, {2}},
      {'P', &GuiSettings::paused, 1, 0, {2}},
      {'q', nullptr, 0, 0, {1}},
      {'Q', nullptr, 0, 0, {1}},
      {'r', nullptr, 0, 0, {105}},
      {'T', &GuiSettings::texturing, 1, 0, {128}},
      {'s', &GuiSettings::shadowOn, 0, 1, {127}},
      {'S', &GuiSettings::shadowOn, 0, 0, {}},  // lower case only
      {'c', &GuiSettings::showGround, 0, 1, {}},
      {'C', &GuiSettings::showGround, 0, 0, {}},
      {'z', nullptr, 0, 0, {134}},
      {'x', nullptr, 0, 0, {}},
  };
  sendControl = record;
  for (const auto& r : rows) {
    guiSettings = loaded;
    if (r.word) guiSettings.*r.word = r.before;
    sent.clear();
    keyboardCallback(r.key, 5, 5);
    EXPECT_EQ(sent, r.ids) << r.key;
    if (r.word) {
      EXPECT_EQ(guiSettings.*r.word, r.after) << r.key;
    }
  }
  panel.log.clear();
  keyboardCallback('u', 0, 0);
  keyboardCallback('v', 0, 0);
  EXPECT_EQ(panel.log, "panel view ");

  // Without a control object only u and q act.
  control.reset();
  guiSettings = loaded;
  panel.log.clear();
  sent.clear();
  for (unsigned char key : {'g', ' ', 'p', 'v', 'z', 'u', 'q'}) keyboardCallback(key, 0, 0);
  for (int key : {kKeyF1, kKeyF8}) specialCallback(key, 0, 0);
  EXPECT_EQ(sent, std::vector<int>{1});
  EXPECT_EQ(panel.log, "panel ");
  EXPECT_EQ(guiSettings.gravityOn + guiSettings.paused + guiSettings.maxFps, 0);
  EXPECT_EQ(guiSettings.renderMode, loaded.renderMode);
}

TEST_F(ControlDispatch, FunctionKeys) {
  const struct {
    int key;
    Word word;
    int after;
    std::vector<int> ids;
  } rows[] = {
      {kKeyF1, &GuiSettings::renderMode, 0, {6}}, {kKeyF2, &GuiSettings::renderMode, 1, {6}},
      {kKeyF3, &GuiSettings::renderMode, 2, {6}}, {kKeyF8, &GuiSettings::maxFps, 1, {10}},
      {kKeyF9, &GuiSettings::fullScreen, 1, {8}}, {5, &GuiSettings::renderMode, 1, {}},
  };
  sendControl = record;
  for (const auto& r : rows) {
    guiSettings = loaded;
    sent.clear();
    specialCallback(r.key, 0, 0);
    EXPECT_EQ(sent, r.ids) << r.key;
    EXPECT_EQ(guiSettings.*r.word, r.after) << r.key;
  }
}

TEST_F(ControlDispatch, WindowAndLoopIds) {
  const struct {
    int id;
    Word word;  // set to 1 before the id, besides paused
    int paused;
    const char* host;
  } rows[] = {
      {2, nullptr, 1, "stop "},
      {2, &GuiSettings::maxFps, 0, "timer "},  // id 2 always restarts the timer loop
      {3, nullptr, 1, "step "},
      {3, nullptr, 0, ""},
      {6, nullptr, 1, "redisplay "},
      {6, nullptr, 0, ""},
      {7, nullptr, 1, "redisplay "},
      {8, &GuiSettings::fullScreen, 0, "full 0x0 "},
      {8, nullptr, 0, "leave "},
      {9, &GuiSettings::recordFrames, 0, "full 720x576 "},
      {10, &GuiSettings::maxFps, 1, ""},  // F8 while paused only toggles the word
      {10, &GuiSettings::maxFps, 0, "idle "},
      {10, nullptr, 0, "timer "},
      {11, nullptr, 0, ""},
  };
  for (const auto& r : rows) {
    guiSettings = loaded;
    if (r.word) guiSettings.*r.word = 1;
    guiSettings.paused = r.paused;
    host.log.clear();
    panel.log.clear();
    controlCallback(r.id);
    EXPECT_EQ(host.log, r.host) << r.id;
    EXPECT_EQ(panel.log, r.id == 11 ? "" : "update ") << r.id;
  }
  panel.log.clear();
  controlCallback(1);
  EXPECT_EQ(host.log, "quit ");
  EXPECT_EQ(panel.log, "");
}

TEST_F(ControlDispatch, ZoomAndViewReset) {
  GuiSettings& g = guiSettings;
  for (int perspective : {1, 0}) {
    g = loaded;
    g.perspectiveProjection = perspective;
    panel.log.clear();
    controlCallback(4);
    EXPECT_FLOAT_EQ(g.zoom, -5.0f / 1.4f);
    EXPECT_EQ(g.projectionChanged, 1 - perspective);
    controlCallback(5);
    EXPECT_FLOAT_EQ(g.zoom, -5.0f);
    EXPECT_EQ(panel.log, "sync update sync update ");
  }
  rotateViewMatrix(g.viewRotation, 30.0f, 20.0f);
  g.shiftX = g.shiftY = 2.0f;
  g.zoom = -9.0f;
  controlCallback(12);
  EXPECT_EQ(std::memcmp(g.viewRotation, loaded.viewRotation, sizeof g.viewRotation), 0);
  EXPECT_EQ(g.shiftX + g.shiftY, 0.0f);
  EXPECT_EQ(g.zoom, -5.0f);
}

TEST_F(ControlDispatch, PanelRebuild) {
  GuiSettings& g = guiSettings;
  const struct {
    bool control;
    int separate, autoHide;
  } rows[] = {{true, 0, 1}, {true, 1, 0}, {false, 0, 0}, {false, 1, 0}};
  for (const auto& r : rows) {
    if (!r.control) control.reset();
    g.panelSeparateWindow = r.separate;
    panel.log.clear();
    controlCallback(13);
    EXPECT_EQ(panel.log, "rebuild show update ");
    EXPECT_EQ(g.panelAutoHide, r.autoHide) << r.control << r.separate;
  }
  // Without a panel nothing happens, not even to the panel words.
  controlPanel = nullptr;
  g.panelAutoHide = 7;
  controlCallback(13);
  EXPECT_EQ(g.panelAutoHide, 7);
}

}  // namespace
