#pragma once
// The control object without a window: ids sent, window and panel calls
// and simulation calls are all logged.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ControlDispatch.h"
#include "GuiSettings.h"
#include "RenderSettings.h"
#include "SimulationSettings.h"
#include "StateSimulation.h"
#include "TestMeshes.h"
#include "ZoltControl.h"

namespace zolt::test {

inline std::vector<int> sent;
inline void record(int id) { sent.push_back(id); }

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

}  // namespace zolt::test

using namespace zolt::test;
