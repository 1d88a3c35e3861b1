// The model actions (ids 101-134) without a window.

#include "ControlFixture.h"

namespace {

using ControlActions = ControlDispatch;

TEST_F(ControlActions, SimulationActions) {
  // clang-format off
  const struct { int id; Word word; int value; const char* log; } rows[] = {
      {101, &G::forcesOn, 1, "add 2 1 2 3 "}, {101, &G::forcesOn, 0, "purge "},
      {102, &G::gravityOn, 1, "gravity+ "}, {102, &G::gravityOn, 0, "gravity- "},
      {104, nullptr, 0, "smooth 1 0 0 -1 "}, {105, nullptr, 0, "reset "},
      {106, nullptr, 0, "freeze "}, {134, nullptr, 0, "benchmark "}, {100, nullptr, 0, ""}};
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
  EXPECT_EQ(g.forcesOn + control->pathRecord.pull, 0);
  EXPECT_EQ(control->pathRecord.inertia, 1);
}

TEST_F(ControlActions, TheLastColouringSwitchedOnWins) {
  GuiSettings& g = guiSettings;
  g.volumeParameters.scale = 0.9f;
  g.renderVolumeOn = 1;
  // clang-format off
  const struct { Word word; int value, id, rightSide, stress, residual; } steps[] = {
      {&G::colourByRightSide, 1, 112, 1, 0, 0}, {&G::computeStress, 1, 113, 0, 1, 0},
      {&G::computeResidual, 1, 121, 0, 0, 1}, {&G::colourByRightSide, 1, 112, 1, 0, 0},
      {&G::colourByRightSide, 0, 112, 0, 0, 0}};
  // clang-format on
  for (const auto& s : steps) {
    g.*s.word = s.value;
    g.volumeChanged = g.classificationChanged = 0;
    control->handleControl(s.id);
    const std::vector<int> on = {g.colourByRightSide, g.computeStress, g.computeResidual};
    EXPECT_EQ(on, (std::vector<int>{s.rightSide, s.stress, s.residual})) << s.id;
    const bool any = s.rightSide + s.stress + s.residual > 0;
    EXPECT_EQ(g.volumeParameters.colourSource, any ? 1 : 0) << s.id;
    EXPECT_EQ(g.classificationChanged, any ? 0 : 1) << s.id;
    EXPECT_EQ(g.volumeChanged, 1) << s.id;
  }
  EXPECT_EQ(g.volumeParameters.scale, 0.5f);  // back to the defaults
}

TEST_F(ControlActions, ShadowAndPixelLightingGoTogetherThroughTheKeys) {
  // Key, then shadow and lighting; lighting on alone keeps the shadow off.
  const struct {
    char key;
    int shadow, lighting;
  } rows[] = {{'s', 1, 1}, {'L', 0, 0}, {'l', 0, 1}};
  guiSettings.pixelLighting = 0;
  for (const auto& r : rows) {
    keyboardCallback(r.key, 0, 0);
    EXPECT_EQ(guiSettings.shadowOn, r.shadow) << r.key;
    EXPECT_EQ(guiSettings.pixelLighting, r.lighting) << r.key;
  }
}

}  // namespace
