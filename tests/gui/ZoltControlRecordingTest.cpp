// Recording and replay through the starting ids: ".sequence" frames read
// back bit for bit, ".path" records driving a spy simulation, and replay
// files that are missing, short or vanish ending in one reset.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "GuiSettings.h"
#include "RecordingFiles.h"
#include "RenderSettings.h"
#include "StateSimulation.h"
#include "TempDir.h"
#include "TestMeshes.h"
#include "Vertex.h"
#include "ZoltControl.h"

namespace {

using zolt::test::StateSimulation;

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
  // The main thread's part of a frame, then one as the window runs it.
  void update() { control->update(std::vector<char>(256).data()); }
  void frame() { update(), control->step(); }
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
    r.frame();
    EXPECT_TRUE(sameBits(r.shown(), f));
  }
  EXPECT_EQ(r.sim->steps.size() + r.sim->resets, 3u);  // nothing computed, no reset yet
  r.frame();
  r.update();  // the end found by the step is served by the next update
  EXPECT_EQ(r.sim->resets, 1);
  EXPECT_EQ(guiSettings.replayDisplacements + guiSettings.recordDisplacements, 0);

  // Looping, a half frame at the end is never shown: two frames, the wrap
  // (one reset), the first again.
  std::filesystem::resize_file(r.file(".sequence"), 2u * 23040u + 23040u / 2);
  guiSettings.loopReplay = 1;
  r.control->startRecording(118);
  for (int i = 0; i < 3; ++i) r.frame();
  r.update();
  EXPECT_EQ(r.sim->resets, 2);
  EXPECT_TRUE(sameBits(r.shown(), std::vector<double>(2880, 0.0)));
  r.control->step();
  EXPECT_TRUE(sameBits(r.shown(), frames[0]));
  EXPECT_EQ(r.sim->resets, 2);
  guiSettings.loopReplay = 0;
}

TEST(ZoltControlRecording, AReplayThatFindsNoFrameStopsWithOneReset) {
  const struct {
    const char* name;
    int frames2;  // half frames in the file; -1: no file
    bool vanish;  // the file goes after the start
    int loop;
  } rows[] = {{"missing", -1, false, 0},
              {"missing, looping", -1, false, 1},
              {"half a frame, looping", 1, false, 1},
              {"vanishes while looping", 2, true, 1}};
  for (const auto& row : rows) {
    Recorder r;
    const int frame = r.control->sequenceFrameLength();
    if (row.frames2 >= 0)
      r.dir.write("body.sequence", std::string(size_t(4 * frame * row.frames2), '\0'));
    guiSettings.replayDisplacements = 1;
    guiSettings.loopReplay = row.loop;
    r.control->startRecording(118);
    if (row.vanish) std::filesystem::remove(r.file(".sequence"));
    for (int i = 0; i < 4; ++i) r.frame();
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
  EXPECT_EQ(std::make_pair(g.pointerX, g.pointerY), std::make_pair(400, 900));
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

}  // namespace
