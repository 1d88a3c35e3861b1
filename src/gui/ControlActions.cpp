// The model actions, ids 101-134.

#include "ControlDispatch.h"
#include "FiniteElement.h"
#include "GuiSettings.h"
#include "MouseDrag.h"
#include "RenderSettings.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "Vertex.h"
#include "ZoltControl.h"

namespace {

// Magnitude colourings by the right side, the stress or the residual: the
// last one switched on wins; with none the volume parameters go back.
void colourTail(GuiSettings& g) {
  if (g.computeResidual) g.colourByRightSide = g.computeStress = 0;
  if (g.colourByRightSide || g.computeStress || g.computeResidual) {
    g.volumeParameters.colourSource = 1;
  } else {
    g.classificationChanged = 1;
    g.volumeParameters = VolumeParameters{};
  }
  if (g.renderVolumeOn) g.volumeChanged = 1;
}

// The mesh is drawn when no other drawing of the body is on.
void meshWhenNothingElse(GuiSettings& g) {
  if (!g.volumeModeA && !g.volumeModeB && !g.renderVolumeOn && !g.renderSurfaceOn)
    g.drawSimulationMesh = 1;
}

void scaleColour(float* c, double factor) {
  for (int i = 0; i < 3; ++i) c[i] = static_cast<float>(c[i] * factor);
}

}  // namespace

void ZoltControl::handleControl(int id) {
  if (id < 101 || id > 134) return;
  GuiSettings& g = guiSettings;
  Simulation* sim = simulation;
  switch (id) {
    case 101:
      if (!sim) break;
      if (g.forcesOn)
        queueForces(sim, settings->forces);
      else
        sim->purgeQueue();
      break;
    case 102:
      if (!sim) break;
      if (g.gravityOn)
        sim->addGravity();
      else
        sim->removeGravity();
      break;
    case 103:
      settings->forceNorm = g.forceValue;
      break;
    case 104:
      if (!sim) break;
      for (const VertexForce& f : settings->deformations)
        if (f.vertex) sim->addVertexValueFlagged(f.vertex->index, f.value, true);
      break;
    case 105:
      if (!sim) break;
      g.forcesOn = g.gravityOn = 0;
      if (g.recordEvents) pathRecord.reset = 1;
      sim->resetState();
      g.simulationReset = 1;
      break;
    case 106:
      if (!sim) break;
      if (g.recordEvents) {
        pathRecord.inertia = 1;
        pathRecord.pull = 0;
      }
      sim->freezeForces();
      g.forcesOn = 0;
      dragPending = false;
      break;
    case 107:
      g.surfaceChanged = 1;
      break;
    case 108:
      if (g.renderVolumeOn) g.volumeChanged = 1;
      break;
    case 109:
      settings->forceFieldOn = g.deformationForceOn == 1;
      break;
    case 110:
      if (g.volumeModeA) {
        g.volumeModeB = g.renderSurfaceOn = g.renderVolumeOn = g.drawSimulationMesh = 0;
        g.classificationChanged = 1;
      } else {
        meshWhenNothingElse(g);
      }
      break;
    case 111:
      if (g.volumeModeB)
        g.volumeModeA = g.renderSurfaceOn = g.renderVolumeOn = g.drawSimulationMesh = 0;
      else
        meshWhenNothingElse(g);
      break;
    case 112:
      if (g.colourByRightSide) g.computeResidual = g.computeStress = 0;
      colourTail(g);
      break;
    case 113:
      if (g.computeStress) g.computeResidual = g.colourByRightSide = 0;
      colourTail(g);
      break;
    case 121:
      colourTail(g);
      break;
    case 114:
      g.volumeParameters = VolumeParameters{};
      g.volumeParametersChanged = 1;
      break;
    case 115:
      if (g.renderVolumeOn) {
        g.drawSimulationMesh = 0;
        g.volumeChanged = 1;
      } else {
        meshWhenNothingElse(g);
      }
      break;
    case 116:
      if (g.renderSurfaceOn)
        g.drawSimulationMesh = 0;
      else
        meshWhenNothingElse(g);
      break;
    case 117:
    case 118:
    case 131:
    case 132:
      startRecording(id);
      break;
    case 119:
    case 120:
      scaleColour(renderSettings->colour, id == 119 ? 1.1 : 0.90909094f);
      g.coloursChanged = 1;
      break;
    case 126:
      g.coloursChanged = 1;
      return;
    case 127:
    case 128:
    case 133:
      if ((id == 127 && g.shadowOn) || (id == 133 && g.skinShading)) g.pixelLighting = 1;
      g.coloursChanged = 1;
      sendControl(6);
      break;
    case 129:
      sendControl(6);
      break;
    case 130:
      if (!g.pixelLighting) g.shadowOn = 0;
      sendControl(6);
      break;
    case 134:
      if (sim) sim->benchmarkSolver();
      break;
    case 122:
    case 123:
    case 124:
    case 125:
      if (openColourPicker) {
        RenderSettings& r = *renderSettings;
        float* colours[4] = {r.colour, r.specularColour, r.extraColour, r.accentColour};
        openColourPicker(g.windowWidth / 2, g.windowHeight / 2, colours[id - 122]);
      }
      break;
  }
  if (controlPanel) controlPanel->updateControls();
}
