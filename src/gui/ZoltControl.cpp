#include "ZoltControl.h"

#include <algorithm>
#include <iostream>

#include "Barrier.h"
#include "BinaryIO.h"
#include "FiniteElement.h"
#include "GuiSettings.h"
#include "Matrix.h"
#include "RenderSettings.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "StatusText.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "ViewRotation.h"

PanelLink* controlPanel = nullptr;
ZoltControl* controlInstance = nullptr;
void (*openColourPicker)(int, int, float*) = nullptr;

ZoltControl::ZoltControl(TetHierarchy* hierarchy, Simulation* simulation,
                         SimulationSettings* settings, RenderSettings* renderSettings)
    : hierarchy(hierarchy),
      simulation(simulation),
      settings(settings),
      renderSettings(renderSettings) {
  controlInstance = this;
  GuiSettings& gui = guiSettings;
  resetGuiForNewModel(gui);
  gui.forceValue = gui.baseForceValue = settings->forceNorm;

  if (renderSettings->texturePath.empty()) renderSettings->texturePath = "../imageData/texture.bmp";
  gui.surfaceOnly = renderSettings->drawSurface;
  if (simulation && simulation->dim == 2) gui.threeDimensional = 0;
  gui.texturing = 1;
  // The render surface replaces the mesh only when the model names one; a
  // model without one shows its mesh rather than nothing.
  const bool hasSurface = !renderSettings->surfacePath.empty() || !renderSettings->surfaces.empty();
  gui.renderSurfaceOn = gui.furOn = hasSurface ? 1 : 0;
  gui.drawSimulationMesh = hasSurface ? 0 : 1;

  const std::vector<FiniteElement*>& elements = hierarchy->elements[hierarchy->nLevels - 1];
  const bool tetrahedral = !elements.empty() && dynamic_cast<Tetrahedron*>(elements[0]);
  gui.nonTetrahedralElements = tetrahedral ? 0 : 1;

  double volume = 0.0;
  for (const FiniteElement* e : elements) volume += e->getVolume();
  dragScale = elements.empty() ? 0.0f : static_cast<float>(volume / double(elements.size()));

  collisionOffsets.assign(3 * hierarchy->vertices[hierarchy->nLevels - 1].size(), 0.0f);

  if (controlPanel) {
    controlPanel->setControl(this);
    if (!controlPanel->hasOwnWindow()) controlPanel->hide();
  }
}

ZoltControl::~ZoltControl() {
  if (controlInstance == this) controlInstance = nullptr;
  guiSettings.panelAutoHide = 0;
  if (controlPanel) {
    controlPanel->setControl(nullptr);
    controlPanel->show();
  }
}

void ZoltControl::setRenderData(RenderPositionSource* d) {
  drawable = d;
  const RenderPositions p = d ? d->renderPositions() : RenderPositions();
  if (settings->barrier)
    settings->barrier->setCollisionData(p.positions, p.vertexOfRenderIndex, collisionOffsets.data(),
                                        p.count, simulation);
}

void ZoltControl::update(char* status) {
  GuiSettings& gui = guiSettings;
  pickBusy = false;
  if (gui.autoRotate) {
    rotateView(0.0f, 0.4f);
    if (controlPanel) controlPanel->syncLive();
  }
  if (replayEnded) endReplay();
  updatePath();
  resetIfNotFinite();

  StatusFields f;
  f.forcesOn = gui.forcesOn != 0;
  f.forceValue = gui.forceValue;
  f.gravityOn = gui.gravityOn != 0;
  f.hasSimulation = simulation != nullptr;
  f.maxDisplacement = simulation ? simulation->maxVertexNorm() : 0.0;
  f.recordDisplacements = gui.recordDisplacements != 0;
  f.recordEvents = gui.recordEvents != 0;
  formatStatus(status, kStatusSize, f);
}

void ZoltControl::endReplay() {
  GuiSettings& gui = guiSettings;
  replayEnded = false;
  gui.replayDisplacements = 0;
  // A loop that finds no frame after the wrap stops instead of resetting
  // every step.
  if (gui.loopReplay && !openForReplay(sequenceStream, renderSettings->basePath + ".sequence",
                                       8 * int64_t(sequenceFrameLength())))
    gui.loopReplay = 0;
  simulation->resetState();
}

void ZoltControl::resetIfNotFinite() {
  if (!simulation || simulation->stateFinite()) return;
  // The reset action: forces and gravity go off as they go from the state.
  handleControl(kIdReset);
  if (nonFiniteReported) return;
  nonFiniteReported = true;
  std::cout << "[ZoltControl, update] Error: the simulation state is not finite; the "
               "simulation is reset"
            << std::endl;
}

void ZoltControl::updateRenderData() {
  if (!simulation) return;
  std::fill(collisionOffsets.begin(), collisionOffsets.end(), 0.0f);
  if (Barrier* barrier = settings->barrier) {
    barrier->move();
    barrier->handleCollisions();
  }
}

namespace {

bool readFrame(std::istream& s, double* x, int count) {
  for (int i = 0; i < count; ++i)
    if (!zolt::bin::readF64(s, x[i])) return false;
  return true;
}

void writeFrame(std::ostream& s, const double* x, int count) {
  for (int i = 0; i < count; ++i) zolt::bin::writeF64(s, x[i]);
}

}  // namespace

void ZoltControl::step() {
  if (!simulation) return;
  GuiSettings& gui = guiSettings;
  Vector<double>* u = simulation->getDisplacement();
  const int frame = sequenceFrameLength();

  if (!gui.replayDisplacements && !gui.loopReplay) {
    if (dragPending) zoltReact(pendingX, pendingY);
    simulation->computeStep(gui.computeStress != 0, gui.computeResidual != 0,
                            gui.extraPassesOn ? gui.extraPassCount : 0, gui.averageForces != 0);
    if (gui.recordDisplacements && !sequenceStream.fail() && u)
      writeFrame(sequenceStream, u->data, frame);
    return;
  }
  // A short last frame ends the replay at once instead of showing half of it.
  if (sequenceStream.good() && u && readFrame(sequenceStream, u->data, frame)) return;
  // The reset moves the barrier, which the main thread may be drawing now.
  replayEnded = true;
}
