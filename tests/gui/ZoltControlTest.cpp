// The control object without a window: what a model load does to the GUI
// block, the status line and the barrier hand-off; recording and replay
// through the starting ids: ".sequence" frames read back bit for bit, ".path"
// records (against bytes laid out by hand) driving a spy simulation, and
// replay files that are missing, short or vanish ending in one reset.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include "Barrier.h"
#include "GuiSettings.h"
#include "RecordingFiles.h"
#include "RenderSettings.h"
#include "StateSimulation.h"
#include "StatusText.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "Tetrahedron.h"
#include "Vertex.h"
#include "ZoltControl.h"

namespace {

using zolt::test::StateSimulation;

struct Model {
  std::unique_ptr<TetHierarchy> mesh = zolt::test::box(2, 1, 1);  // 12 vertices
  SimulationSettings settings;
  RenderSettings render;
  int vertices() const { return static_cast<int>(mesh->vertices[0].size()); }
};

TEST(ZoltControl, ALoadResetsTheGuiAndSetsTheModelSwitches) {
  GuiSettings& g = guiSettings;
  g.forcesOn = 1;
  Model m;
  m.settings.forceNorm = 250.0f;
  std::vector<FiniteElement*>& elements = m.mesh->elements[0];
  for (size_t i = 0; i < elements.size(); ++i)
    static_cast<Tetrahedron*>(elements[i])->volume = double(i + 1);
  StateSimulation flat(&m.settings, m.vertices(), 2);
  ZoltControl control(m.mesh.get(), &flat, &m.settings, &m.render);
  EXPECT_EQ(g.forcesOn, 0);  // reset for the new model
  EXPECT_EQ(g.forceValue, 250.0f);
  EXPECT_EQ(g.threeDimensional, 0);
  EXPECT_EQ(g.nonTetrahedralElements, 0);
  EXPECT_FLOAT_EQ(control.dragScale, (elements.size() + 1) / 2.0f);  // mean of 1 .. count

  TetHierarchy empty(1);
  ZoltControl none(&empty, nullptr, &m.settings, &m.render);
  EXPECT_EQ(g.threeDimensional, 1);
  EXPECT_EQ(g.nonTetrahedralElements, 1);
  EXPECT_EQ(none.dragScale, 0.0f);
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

// Counts the force and gravity calls; each step writes values whose every
// bit matters.
struct SpySimulation : StateSimulation {
  int gravityAdds = 0, gravityRemoves = 0;
  std::vector<int> held, impulses;
  using StateSimulation::StateSimulation;
  void computeStep(bool s, bool r, int extra, bool average) override {
    StateSimulation::computeStep(s, r, extra, average);
    const double n = double(steps.size());
    for (int i = 0; i < displacement.n; ++i) displacement[i] = std::sin(0.37 * i + n) / 3.0 * n;
  }
  void addGravity() override { ++gravityAdds; }
  void removeGravity() override { ++gravityRemoves; }
  void addVertexValue(int v, const double*) override { held.push_back(v); }
  void addVertexValueFlagged(int v, const double*, bool) override { impulses.push_back(v); }
};

struct Recorder {
  zolt::test::TempDir dir;
  std::unique_ptr<TetHierarchy> mesh;
  SimulationSettings settings;
  RenderSettings render;
  std::unique_ptr<SpySimulation> sim;
  std::unique_ptr<ZoltControl> control;

  // The large mesh has 1000 vertices, the small one 12.
  explicit Recorder(bool large = false, int fixed = 2)
      : mesh(large ? zolt::test::box(9, 9, 9) : zolt::test::box(2, 1, 1)) {
    settings.fixedCount = fixed;
    render.basePath = dir.file("body");
    sim = std::make_unique<SpySimulation>(&settings, int(mesh->vertices[0].size()), 3);
    control = std::make_unique<ZoltControl>(mesh.get(), sim.get(), &settings, &render);
  }
  std::string file(const char* suffix) const { return render.basePath + suffix; }
  std::vector<double> shown() const {
    return {sim->displacement.data, sim->displacement.data + sim->displacement.n};
  }
};

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), 8 * a.size()) == 0;
}

TEST(ZoltControlRecording, ReplayIsBitExactEndsInOneResetAndLoops) {
  Recorder r(true, 40);
  r.control->startRecording(117);  // recordDisplacements is off: nothing opens
  EXPECT_FALSE(std::filesystem::exists(r.file(".sequence")));
  guiSettings.recordDisplacements = 1;
  r.control->startRecording(117);
  std::vector<std::vector<double>> frames;
  for (int i = 0; i < 3; ++i, frames.push_back(r.shown())) r.control->step();
  guiSettings.replayDisplacements = 1;
  r.control->startRecording(118);
  EXPECT_EQ(std::filesystem::file_size(r.file(".sequence")), 3u * 23040u);  // 3 x 960 doubles
  for (const std::vector<double>& f : frames) {
    r.control->step();
    EXPECT_TRUE(sameBits(r.shown(), f));
  }
  EXPECT_EQ(r.sim->steps.size() + r.sim->resets, 3u);  // nothing computed, no reset yet
  r.control->step();
  EXPECT_EQ(r.sim->resets, 1);
  EXPECT_EQ(guiSettings.replayDisplacements + guiSettings.recordDisplacements, 0);

  // Looping, a half frame at the end is never shown: two frames, the wrap
  // (one reset), the first again.
  std::filesystem::resize_file(r.file(".sequence"), 2u * 23040u + 23040u / 2);
  guiSettings.loopReplay = 1;
  r.control->startRecording(118);
  for (int i = 0; i < 3; ++i) r.control->step();
  EXPECT_EQ(r.sim->resets, 2);
  EXPECT_TRUE(sameBits(r.shown(), std::vector<double>(2880, 0.0)));
  r.control->step();
  EXPECT_TRUE(sameBits(r.shown(), frames[0]));
  EXPECT_EQ(r.sim->resets, 2);
  guiSettings.loopReplay = 0;
}

struct BrokenReplayRow {
  const char* name;
  int frames2;  // half frames in the file; -1: no file
  bool vanish;  // the file goes after the start
  int loop;
};

TEST(ZoltControlRecording, AReplayThatFindsNoFrameStopsWithOneReset) {
  const BrokenReplayRow rows[] = {{"missing", -1, false, 0},
                                  {"missing, looping", -1, false, 1},
                                  {"half a frame, looping", 1, false, 1},
                                  {"vanishes while looping", 2, true, 1}};
  for (const BrokenReplayRow& row : rows) {
    Recorder r;
    const int frame = r.control->sequenceFrameLength();
    if (row.frames2 >= 0)
      r.dir.write("body.sequence", std::string(size_t(4 * frame * row.frames2), '\0'));
    guiSettings.replayDisplacements = 1;
    guiSettings.loopReplay = row.loop;
    r.control->startRecording(118);
    if (row.vanish) std::filesystem::remove(r.file(".sequence"));
    for (int i = 0; i < 4; ++i) r.control->step();
    EXPECT_EQ(r.sim->resets, 1) << row.name;
    EXPECT_EQ(guiSettings.replayDisplacements + guiSettings.loopReplay, 0) << row.name;
    EXPECT_GE(r.sim->steps.size(), 2u) << row.name;  // stepping resumed
  }
}

// Records `count` frames of the current GUI state.
void recordFrames(Recorder& r, int count) {
  for (int i = 0; i < count; ++i) r.control->update(std::vector<char>(256).data());
}

TEST(ZoltControlRecording, PathReplayAppliesChangesOnceAndRestoresThePointer) {
  Recorder r;
  r.settings.forces.push_back({r.mesh->vertices[0][4], {0, 1, 0}});
  r.settings.forces.push_back({r.mesh->vertices[0][7], {0, 0, 1}});
  GuiSettings& g = guiSettings;
  g.recordEvents = 1;
  r.control->startRecording(131);
  g.windowWidth = 800;
  g.windowHeight = 600;
  g.pointerX = 200;
  g.pointerY = 450;
  g.gravityOn = 1;
  r.settings.forceNorm = 640.0f;
  recordFrames(r, 4);
  g.forcesOn = 1;  // frame 5: forces on, a pull on vertices 3 and 5
  const double pull[3] = {0, 0, 2};
  r.control->pathRecord.setDrag(*r.mesh->elements[0][0], pull);
  const int32_t dragged[4] = {3, 5, 9999, -1};  // 9999 is no vertex: never applied
  std::copy(dragged, dragged + 4, r.control->pathRecord.vertices);
  r.control->pathRecord.pull = 1;
  r.control->pathRecord.reset = 1;  // an event lasts one frame
  recordFrames(r, 1);
  r.control->pathRecord.pull = 0;
  recordFrames(r, 5);
  r.control->pathStream.close();
  EXPECT_EQ(std::filesystem::file_size(r.file(".path")), 10u * kPathRecordSize);

  g.recordEvents = 0;
  g.windowWidth = 1600;
  g.windowHeight = 1200;
  r.settings.forceNorm = 1.0f;
  g.loopEventReplay = 1;
  r.sim->resets = 0;
  r.control->startRecording(132);
  EXPECT_EQ(r.sim->resets, 1);
  recordFrames(r, 10);
  EXPECT_EQ(r.sim->gravityAdds, 1);  // ten records with gravity on
  EXPECT_EQ(r.sim->gravityRemoves, 0);
  EXPECT_EQ(r.sim->held, (std::vector<int>{4, 7}));
  EXPECT_EQ(r.sim->impulses, (std::vector<int>{3, 5}));
  EXPECT_EQ(r.sim->resets, 2);  // the reset event
  EXPECT_EQ(g.pointerX, 400);
  EXPECT_EQ(g.pointerY, 900);
  EXPECT_EQ(r.settings.forceNorm, 640.0f);

  // The wrap resets once; gravity and forces come back with the first
  // records, as the reset removed them.
  recordFrames(r, 2);
  EXPECT_EQ(r.sim->resets, 3);
  EXPECT_EQ(r.sim->gravityAdds, 2);
  g.loopEventReplay = 0;
  g.gravityOn = g.forcesOn = 0;
}

TEST(ZoltControlRecording, AShortLastPathRecordEndsTheReplay) {
  Recorder r;
  GuiSettings& g = guiSettings;
  g.recordEvents = 1;
  r.control->startRecording(131);
  g.gravityOn = 1;
  recordFrames(r, 2);
  r.control->pathStream.close();
  g.gravityOn = g.recordEvents = 0;
  std::filesystem::resize_file(r.file(".path"), kPathRecordSize + 100);
  g.replayEvents = 1;
  r.sim->resets = 0;
  r.control->startRecording(132);
  recordFrames(r, 3);
  EXPECT_EQ(r.sim->gravityAdds, 1);
  EXPECT_EQ(r.sim->resets, 2);  // the start and the end
  EXPECT_EQ(g.replayEvents, 0);

  std::filesystem::remove(r.file(".path"));
  g.loopEventReplay = 1;
  r.control->startRecording(132);  // no file: stopped at the start
  recordFrames(r, 2);
  EXPECT_EQ(r.sim->resets, 3);
  EXPECT_EQ(g.loopEventReplay, 0);
}

// Little-endian bytes of v at offset `at` of buffer b.
template <class T>
void put(std::string& b, size_t at, T v) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, &v, sizeof(T));  // the test machine is little-endian
  for (size_t i = 0; i < sizeof(T); ++i) b[at + i] = static_cast<char>(raw[i]);
}

TEST(PathRecord, FieldsSitAtTheirOffsets) {
  PathRecord r;
  std::string expected(kPathRecordSize, '\0');
  for (int i = 0; i < 16; ++i) put(expected, 4 * i, r.viewRotation[i] = 0.5f * float(i) - 3.0f);
  put(expected, 64, r.shiftX = 1.25f);
  put(expected, 68, r.shiftY = -2.5f);
  put(expected, 72, r.zoom = -7.0f);
  for (int k = 0; k < 4; ++k) put(expected, 76 + 4 * k, r.vertices[k] = k == 3 ? -1 : 100 + k);
  put(expected, 92, r.forceNorm = 812.5f);
  for (int k = 0; k < 3; ++k) put(expected, 96 + 8 * k, r.dragForce[k] = 1e-3 * (k + 1) - 0.7);
  put(expected, 120, r.pointerX = 0.375f);
  put(expected, 124, r.pointerY = 0.8125f);
  uint8_t* bytes[] = {&r.pull,    &r.squeeze, &r.gravityOn, &r.forcesOn, &r.deformationForceOn,
                      &r.inertia, &r.reset};
  for (int k = 0; k < 7; ++k) put(expected, 128 + k, *bytes[k] = uint8_t(k % 2 + 1));
  std::stringstream s;
  writePathRecord(s, r);
  EXPECT_EQ(s.str(), expected);

  // Read back from the hand-made bytes; a short record leaves the old one.
  PathRecord back;
  std::istringstream in(expected);
  ASSERT_TRUE(readPathRecord(in, back));
  std::stringstream again;
  writePathRecord(again, back);
  EXPECT_EQ(again.str(), expected);
  std::istringstream shortRecord(expected.substr(0, kPathRecordSize - 1));
  PathRecord kept;
  EXPECT_FALSE(readPathRecord(shortRecord, kept));
  EXPECT_EQ(kept.forceNorm, 0.0f);
}

}  // namespace
