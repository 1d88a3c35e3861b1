// Recording and replay of a model's ".sequence" and ".path" files: the
// starting ids and the per-frame ".path" record. The ".sequence" frames
// themselves are written and read by ZoltControl::step.

#include <algorithm>
#include <cmath>

#include "GuiSettings.h"
#include "Matrix.h"
#include "MouseDrag.h"
#include "RecordingFiles.h"
#include "RenderSettings.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"
#include "Vertex.h"
#include "ZoltControl.h"

namespace {

void updatePanel() {
  if (controlPanel) controlPanel->updateControls();
}

float fraction(int pixels, int size) { return size > 0 ? float(pixels) / float(size) : 0.0f; }

// Pixels of a fraction read from a file; 0 where it is no number or far off.
int pixels(float fraction, int size) {
  const float p = float(size) * fraction;
  return std::fabs(p) < 1e9f ? static_cast<int>(p) : 0;
}

void recordPathFrame(ZoltControl& c) {
  const GuiSettings& g = guiSettings;
  PathRecord& r = c.pathRecord;
  r.forceNorm = c.settings->forceNorm;
  r.gravityOn = g.gravityOn != 0;
  r.forcesOn = g.forcesOn != 0;
  r.deformationForceOn = g.deformationForceOn != 0;
  std::copy(g.viewRotation, g.viewRotation + 16, r.viewRotation);
  r.shiftX = g.shiftX;
  r.shiftY = g.shiftY;
  r.zoom = g.zoom;
  r.pointerX = fraction(g.pointerX, g.windowWidth);
  r.pointerY = fraction(g.pointerY, g.windowHeight);
  if (!c.pathStream.bad() && !c.pathStream.fail()) writePathRecord(c.pathStream, r);
  r.inertia = r.reset = 0;  // events last one frame
}

// Drives the simulation with record r; changes count from `previous`.
void applyPathRecord(ZoltControl& c, const PathRecord& previous, const PathRecord& r) {
  GuiSettings& g = guiSettings;
  Simulation& sim = *c.simulation;
  std::copy(r.viewRotation, r.viewRotation + 16, g.viewRotation);
  g.shiftX = r.shiftX;
  g.shiftY = r.shiftY;
  g.zoom = r.zoom;
  g.pointerX = pixels(r.pointerX, g.windowWidth);
  g.pointerY = pixels(r.pointerY, g.windowHeight);

  if (r.gravityOn != previous.gravityOn) r.gravityOn ? sim.addGravity() : sim.removeGravity();
  if (r.forcesOn != previous.forcesOn) {
    if (r.forcesOn)
      queueForces(c.simulation, c.settings->forces);
    else
      sim.purgeQueue();
  }
  c.settings->forceNorm = r.forceNorm;
  c.settings->forceFieldOn = r.deformationForceOn;

  // Vertex numbers come from the file: only those of the finest level act.
  const int vertices = static_cast<int>(c.hierarchy->vertices[c.hierarchy->nLevels - 1].size());
  auto eachDragVertex = [&](auto&& act) {
    for (int32_t v : r.vertices)
      if (v >= 0 && v < vertices) act(v);
  };
  if (r.pull) eachDragVertex([&](int v) { sim.addVertexValueFlagged(v, r.dragForce, true); });
  if (r.squeeze != previous.squeeze) {
    sim.purgeQueue();
    if (r.forcesOn) queueForces(c.simulation, c.settings->forces);
    if (r.squeeze) eachDragVertex([&](int v) { sim.addVertexValue(v, r.dragForce); });
  }
  if (r.inertia) sim.freezeForces();
  if (r.reset) sim.resetState();
}

void replayPathFrame(ZoltControl& c) {
  GuiSettings& g = guiSettings;
  const PathRecord previous = c.pathRecord;
  if (c.pathStream.good() && readPathRecord(c.pathStream, c.pathRecord)) {
    applyPathRecord(c, previous, c.pathRecord);
    return;
  }
  // The end (or a short last record): one reset, after which the next
  // record's switches count from a zeroed record again.
  c.simulation->resetState();
  c.pathRecord = PathRecord();
  g.replayEvents = 0;
  if (g.loopEventReplay &&
      !openForReplay(c.pathStream, c.renderSettings->basePath + ".path", kPathRecordSize))
    g.loopEventReplay = 0;
  if (!g.loopEventReplay) updatePanel();
}

}  // namespace

void ZoltControl::startRecording(int id) {
  GuiSettings& g = guiSettings;
  const std::string sequence = renderSettings->basePath + ".sequence";
  const std::string path = renderSettings->basePath + ".path";
  // An end marked by the last step belongs to the replay that goes now.
  if (id == 117 || id == 118) replayEnded = false;
  switch (id) {
    case kIdRecordSequence:
      if (!g.recordDisplacements) return;
      g.replayDisplacements = g.loopReplay = 0;
      if (!openForRecording(sequenceStream, sequence)) g.recordDisplacements = 0;
      return;
    case kIdReplaySequence:
      if (!simulation) return;
      if (!g.replayDisplacements && !g.loopReplay) {
        simulation->resetState();
        return;
      }
      g.recordDisplacements = 0;
      if (!openForReplay(sequenceStream, sequence, 8 * int64_t(sequenceFrameLength()))) {
        g.replayDisplacements = g.loopReplay = 0;
        simulation->resetState();
      }
      return;
    case kIdRecordPath:
      if (!g.recordEvents || !simulation) return;
      simulation->resetState();
      pathRecord = PathRecord();
      g.replayEvents = g.loopEventReplay = 0;
      if (!openForRecording(pathStream, path)) g.recordEvents = 0;
      return;
    case kIdReplayPath:
      if ((!g.replayEvents && !g.loopEventReplay) || !simulation) return;
      simulation->resetState();
      pathRecord = PathRecord();
      g.recordEvents = 0;
      if (!openForReplay(pathStream, path, kPathRecordSize)) {
        g.replayEvents = g.loopEventReplay = 0;
        updatePanel();
      }
      return;
    default:
      return;
  }
}

int ZoltControl::sequenceFrameLength() const {
  const Vector<double>* u = simulation ? simulation->getDisplacement() : nullptr;
  if (!u) return 0;
  const int vertices = static_cast<int>(hierarchy->vertices[hierarchy->nLevels - 1].size());
  return std::min(u->n, std::max(0, simulation->dim * (vertices - settings->fixedCount)));
}

void ZoltControl::updatePath() {
  if (!simulation) return;
  const GuiSettings& g = guiSettings;
  if (g.recordEvents)
    recordPathFrame(*this);
  else if (g.replayEvents || g.loopEventReplay)
    replayPathFrame(*this);
}
