// The control object without a window: what a model load does to the GUI
// block, the status line, the barrier hand-off, and the step with its
// ".sequence" recording read back as a round trip.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Barrier.h"
#include "Capture.h"
#include "GuiSettings.h"
#include "RenderSettings.h"
#include "StateSimulation.h"
#include "StatusText.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "Tetrahedron.h"
#include "ZoltControl.h"

namespace {

using zolt::test::StateSimulation;
using zolt::test::StepCall;

struct Model {
  std::unique_ptr<TetHierarchy> mesh = zolt::test::box(2, 1, 1);  // 12 vertices
  SimulationSettings settings;
  RenderSettings render;
  int vertices() const { return static_cast<int>(mesh->vertices[0].size()); }
};

TEST(ZoltControl, ALoadResetsTheGuiAndSetsTheModelSwitches) {
  GuiSettings& g = guiSettings;
  g.windowWidth = 640;
  g.forcesOn = 1;
  g.leftDrag = 1;
  Model m;
  m.settings.forceNorm = 250.0f;
  std::vector<FiniteElement*>& elements = m.mesh->elements[0];
  for (size_t i = 0; i < elements.size(); ++i)
    static_cast<Tetrahedron*>(elements[i])->volume = double(i + 1);
  StateSimulation flat(&m.settings, m.vertices(), 2);
  ZoltControl control(m.mesh.get(), &flat, &m.settings, &m.render);
  EXPECT_EQ(g.windowWidth, 640);
  EXPECT_EQ(g.forcesOn + g.leftDrag, 0);
  EXPECT_EQ(g.forceValue, 250.0f);
  EXPECT_EQ(g.baseForceValue, 250.0f);
  EXPECT_EQ(g.threeDimensional, 0);
  EXPECT_EQ(g.nonTetrahedralElements, 0);
  EXPECT_FLOAT_EQ(control.dragScale, (elements.size() + 1) / 2.0f);  // mean of 1 .. count
  EXPECT_EQ(m.render.texturePath, "../imageData/texture.bmp");
  EXPECT_EQ(control.collisionOffsets.size(), 3u * m.vertices());

  TetHierarchy empty(1);
  ZoltControl none(&empty, nullptr, &m.settings, &m.render);
  EXPECT_EQ(g.threeDimensional, 1);
  EXPECT_EQ(g.nonTetrahedralElements, 1);
  EXPECT_EQ(none.dragScale, 0.0f);
  EXPECT_EQ(controlInstance, &none);
}

struct SurfaceRow {
  const char* surfacePath;
  bool meshEntry;
  int surfaceOn, meshOn;
};

TEST(ZoltControl, AModelWithoutRenderSurfaceShowsItsMesh) {
  const SurfaceRow rows[] = {{"", false, 0, 1}, {"body.surf", false, 1, 0}, {"", true, 1, 0}};
  for (const SurfaceRow& row : rows) {
    Model m;
    m.render.surfacePath = row.surfacePath;
    if (row.meshEntry) m.render.surfaces.push_back(MeshEntry{"part.surf", {}});
    m.render.texturePath = "own.bmp";
    ZoltControl control(m.mesh.get(), nullptr, &m.settings, &m.render);
    EXPECT_EQ(guiSettings.renderSurfaceOn, row.surfaceOn) << row.surfacePath << row.meshEntry;
    EXPECT_EQ(guiSettings.furOn, row.surfaceOn) << row.surfacePath << row.meshEntry;
    EXPECT_EQ(guiSettings.drawSimulationMesh, row.meshOn) << row.surfacePath << row.meshEntry;
    EXPECT_EQ(m.render.texturePath, "own.bmp");
  }
}

struct PanelSpy : PanelLink {
  bool own = false;
  ZoltControl* control = nullptr;
  int shows = 0, hides = 0;
  void setControl(ZoltControl* c) override { control = c; }
  void show() override { ++shows; }
  void hide() override { ++hides; }
  bool hasOwnWindow() const override { return own; }
  void syncLive() override {}
  void updateControls() override {}
  void togglePanel() override {}
  void toggleView() override {}
  void rebuild() override {}
};

TEST(ZoltControl, ThePanelIsAttachedHiddenAndShownAgain) {
  for (bool own : {false, true}) {
    PanelSpy panel;
    panel.own = own;
    controlPanel = &panel;
    Model m;
    auto control = std::make_unique<ZoltControl>(m.mesh.get(), nullptr, &m.settings, &m.render);
    EXPECT_EQ(panel.control, control.get());
    EXPECT_EQ(panel.hides, own ? 0 : 1);  // a panel in its own window stays
    guiSettings.panelAutoHide = 1;
    control.reset();
    EXPECT_EQ(panel.control, nullptr);
    EXPECT_EQ(panel.shows, 1);
    EXPECT_EQ(guiSettings.panelAutoHide, 0);
    EXPECT_EQ(controlInstance, nullptr);
    controlPanel = nullptr;
  }
}

TEST(ZoltControl, StatusLineAndAutoRotation) {
  Model m;
  StateSimulation sim(&m.settings, m.vertices(), 3);
  ZoltControl control(m.mesh.get(), &sim, &m.settings, &m.render);
  char status[kStatusSize];
  control.pickBusy = true;
  control.update(status);
  EXPECT_STREQ(status, "No Force -- No Gravity -- maxu: 0.0000");
  EXPECT_FALSE(control.pickBusy);

  sim.displacement[3] = 3.0;
  sim.displacement[5] = -4.0;
  guiSettings.forcesOn = guiSettings.gravityOn = 1;
  guiSettings.autoRotate = 1;
  control.update(status);
  EXPECT_STREQ(status, "1.000e+03 N -- Gravity -- maxu: 5.0000");
  // 0.4 degrees about the screen y axis from the identity.
  EXPECT_FLOAT_EQ(guiSettings.viewRotation[8], float(std::sin(0.4 * 3.14159265358979 / 180.0)));

  ZoltControl still(m.mesh.get(), nullptr, &m.settings, &m.render);
  still.update(status);
  EXPECT_STREQ(status, "No Force -- No Gravity");
}

TEST(ZoltControl, OffsetsAreClearedAndTheBarrierMovedOnlyWithASimulation) {
  Model m;
  const float centre[3] = {0, 0, 0};
  m.settings.barrier = new SphereBarrier(centre, 0.5f);
  static_cast<SphereBarrier*>(m.settings.barrier)->setMoving(0.1f, 0.0f, 0.0f);
  const float before = static_cast<SphereBarrier*>(m.settings.barrier)->centre[0];
  for (bool withSimulation : {false, true}) {
    StateSimulation sim(&m.settings, m.vertices(), 3);
    ZoltControl control(m.mesh.get(), withSimulation ? &sim : nullptr, &m.settings, &m.render);
    control.setRenderData(nullptr);
    EXPECT_EQ(m.settings.barrier->displacements, control.collisionOffsets.data());
    EXPECT_EQ(m.settings.barrier->target, withSimulation ? &sim : nullptr);
    std::fill(control.collisionOffsets.begin(), control.collisionOffsets.end(), 2.0f);
    control.updateRenderData();
    for (float o : control.collisionOffsets) EXPECT_EQ(o, withSimulation ? 0.0f : 2.0f);
  }
  // Moved once: by the frame with a simulation.
  EXPECT_FLOAT_EQ(static_cast<SphereBarrier*>(m.settings.barrier)->centre[0], before + 0.1f);
}

TEST(ZoltControl, StepPassesTheGuiSwitches) {
  Model m;
  StateSimulation sim(&m.settings, m.vertices(), 3);
  ZoltControl control(m.mesh.get(), &sim, &m.settings, &m.render);
  GuiSettings& g = guiSettings;
  g.computeStress = g.averageForces = 1;
  g.extraPassCount = 3;
  control.step();  // extra passes counted only while switched on
  g.computeStress = g.averageForces = 0;
  g.computeResidual = g.extraPassesOn = 1;
  control.step();
  ASSERT_EQ(sim.steps.size(), 2u);
  EXPECT_TRUE(sim.steps[0].stress && !sim.steps[0].residual && sim.steps[0].average);
  EXPECT_EQ(sim.steps[0].extraPasses, 0);
  EXPECT_TRUE(!sim.steps[1].stress && sim.steps[1].residual && !sim.steps[1].average);
  EXPECT_EQ(sim.steps[1].extraPasses, 3);
  ZoltControl idle(m.mesh.get(), nullptr, &m.settings, &m.render);
  idle.step();
  EXPECT_EQ(sim.steps.size(), 2u);
}

TEST(ZoltControl, AStateThatStopsBeingFiniteIsResetBeforeItIsDrawnAndSaidOnce) {
  const double nan = std::nan(""), inf = HUGE_VAL;
  // Component 3 (or all of vertex 1) before each update; the resets. A
  // vertex of three 1e300 is 1.7e300 long, one of three 1.5e308 is longer
  // than the largest double.
  const struct {
    std::vector<double> values;
    int resets;
    bool wholeVertex;
  } rows[] = {{{1e300, -2.0, 0.5}, 0, false},
              {{nan}, 1, false},
              {{-inf}, 1, false},
              {{nan, 1.0, inf, nan}, 3, false},
              {{1e300, 1.5e308, 1e300}, 1, true}};
  for (const auto& [values, resets, wholeVertex] : rows) {
    Model m;
    StateSimulation sim(&m.settings, m.vertices(), 3);
    ZoltControl control(m.mesh.get(), &sim, &m.settings, &m.render);
    guiSettings.gravityOn = 1;
    char status[kStatusSize];
    std::string out;
    for (double v : values) {
      for (int i = 3; i < (wholeVertex ? 6 : 4); ++i) sim.displacement[i] = v;
      out += zolt::test::captureStdout([&] { control.update(status); });
      for (int i = 0; i < sim.displacement.n; ++i) ASSERT_TRUE(std::isfinite(sim.displacement[i]));
    }
    EXPECT_EQ(sim.resets, resets);
    EXPECT_EQ(guiSettings.gravityOn, resets ? 0 : 1);  // the reset state has no gravity
    EXPECT_EQ(out, resets ? "[ZoltControl, update] Error: the simulation state is not finite; "
                            "the simulation is reset\n"
                          : "");
  }
}

TEST(ZoltControl, RecordedFramesReplayAndEndInOneReset) {
  zolt::test::TempDir dir;
  Model m;
  m.settings.fixedCount = 2;
  m.render.basePath = dir.file("body");
  const std::string file = m.render.basePath + ".sequence";
  StateSimulation sim(&m.settings, m.vertices(), 3);
  ZoltControl control(m.mesh.get(), &sim, &m.settings, &m.render);
  const int frame = 3 * (m.vertices() - 2);

  control.sequenceStream.open(file, std::ios::out | std::ios::binary | std::ios::trunc);
  guiSettings.recordDisplacements = 1;
  control.step();
  control.step();
  control.sequenceStream.close();
  EXPECT_EQ(std::filesystem::file_size(file), 2u * 8u * frame);

  // Replay: no step is computed; each frame shows what was recorded.
  guiSettings.recordDisplacements = 0;
  sim.resetState();
  sim.resets = 0;
  control.sequenceStream.open(file, std::ios::in | std::ios::binary);
  guiSettings.replayDisplacements = 1;
  // A frame as the window runs it: the update, then the step.
  char status[kStatusSize];
  const auto runFrame = [&] { control.update(status), control.step(); };
  for (double expected : {1.0, 2.0}) {
    runFrame();
    EXPECT_EQ(sim.displacement[frame - 1], expected);
  }
  EXPECT_EQ(sim.steps.size(), 2u);
  runFrame();  // the step finds the end and resets nothing itself
  EXPECT_EQ(sim.resets, 0);
  runFrame();  // the next update resets once; stepping resumes
  EXPECT_EQ(sim.resets, 1);
  EXPECT_EQ(guiSettings.replayDisplacements, 0);
  EXPECT_EQ(sim.steps.size(), 3u);

  // A looping replay wraps to the first frame; a half frame is never shown.
  std::filesystem::resize_file(file, 8u * frame + 8u * (frame / 2));
  control.sequenceStream.close();
  control.sequenceStream.clear();
  control.sequenceStream.open(file, std::ios::in | std::ios::binary);
  guiSettings.loopReplay = 1;
  sim.resets = 0;
  runFrame();
  EXPECT_EQ(sim.displacement[0], 1.0);
  runFrame();              // the half frame
  control.update(status);  // what the next frame draws
  EXPECT_EQ(sim.resets, 1);
  EXPECT_EQ(sim.displacement[0], 0.0);
  control.step();
  EXPECT_EQ(sim.displacement[0], 1.0);
  EXPECT_EQ(sim.steps.size(), 3u);
  guiSettings.loopReplay = 0;
}

}  // namespace
