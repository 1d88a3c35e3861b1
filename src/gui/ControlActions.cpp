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

void openColourPickerAtCentre(float* colour) {
  if (openColourPicker)
    openColourPicker(guiSettings.windowWidth / 2, guiSettings.windowHeight / 2, colour);
}

void ZoltControl::handleControl(int id) {
  if (id < kIdFirstModelAction || id > kIdLastModelAction) return;
  GuiSettings& g = guiSettings;
  Simulation* sim = simulation;
  switch (id) {
    case kIdForces:
      if (!sim) break;
      if (g.forcesOn)
        queueForces(sim, settings->forces);
      else
        sim->purgeQueue();
      break;
    case kIdGravity:
      if (!sim) break;
      if (g.gravityOn)
        sim->addGravity();
      else
        sim->removeGravity();
      break;
    case kIdForceNorm:
      settings->forceNorm = g.forceValue;
      break;
    case kIdDeformations:
      if (!sim) break;
      for (const VertexForce& f : settings->deformations)
        if (f.vertex) sim->addVertexValueFlagged(f.vertex->index, f.value, true);
      break;
    case kIdReset:
      if (!sim) break;
      g.forcesOn = g.gravityOn = 0;
      if (g.recordEvents) pathRecord.reset = 1;
      sim->resetState();
      g.simulationReset = 1;
      break;
    case kIdFreezeForces:
      if (!sim) break;
      if (g.recordEvents) {
        pathRecord.inertia = 1;
        pathRecord.pull = 0;
      }
      sim->freezeForces();
      g.forcesOn = 0;
      dragPending = false;
      break;
    case kIdSurfaceChanged:
      g.surfaceChanged = 1;
      break;
    case kIdVolumeRefresh:
      if (g.renderVolumeOn) g.volumeChanged = 1;
      break;
    case kIdForceField:
      settings->forceFieldOn = g.deformationForceOn == 1;
      break;
    case kIdVolumeModeA:
      if (g.volumeModeA) {
        g.volumeModeB = g.renderSurfaceOn = g.renderVolumeOn = g.drawSimulationMesh = 0;
        g.classificationChanged = 1;
      } else {
        meshWhenNothingElse(g);
      }
      break;
    case kIdVolumeModeB:
      if (g.volumeModeB)
        g.volumeModeA = g.renderSurfaceOn = g.renderVolumeOn = g.drawSimulationMesh = 0;
      else
        meshWhenNothingElse(g);
      break;
    case kIdColourByRightSide:
      if (g.colourByRightSide) g.computeResidual = g.computeStress = 0;
      colourTail(g);
      break;
    case kIdColourByStress:
      if (g.computeStress) g.computeResidual = g.colourByRightSide = 0;
      colourTail(g);
      break;
    case kIdColourByResidual:
      colourTail(g);
      break;
    case kIdVolumeDefaults:
      g.volumeParameters = VolumeParameters{};
      g.volumeParametersChanged = 1;
      break;
    case kIdRenderVolume:
      if (g.renderVolumeOn) {
        g.drawSimulationMesh = 0;
        g.volumeChanged = 1;
      } else {
        meshWhenNothingElse(g);
      }
      break;
    case kIdRenderSurface:
      if (g.renderSurfaceOn)
        g.drawSimulationMesh = 0;
      else
        meshWhenNothingElse(g);
      break;
    case kIdRecordSequence:
    case kIdReplaySequence:
    case kIdRecordPath:
    case kIdReplayPath:
      startRecording(id);
      break;
    case kIdBrighter:
    case kIdDarker:
      scaleColour(renderSettings->colour, id == kIdBrighter ? 1.1 : 0.90909094f);
      g.coloursChanged = 1;
      break;
    case kIdColoursChanged:
      g.coloursChanged = 1;
      return;
    case kIdShadow:
    case kIdTexturing:
    case kIdSkinShading:
      if ((id == kIdShadow && g.shadowOn) || (id == kIdSkinShading && g.skinShading))
        g.pixelLighting = 1;
      g.coloursChanged = 1;
      sendControl(kIdRedisplay);
      break;
    case kIdRedraw:
      sendControl(kIdRedisplay);
      break;
    case kIdPixelLighting:
      if (!g.pixelLighting) g.shadowOn = 0;
      sendControl(kIdRedisplay);
      break;
    case kIdSolverBenchmark:
      if (sim) sim->benchmarkSolver();
      break;
    case kIdObjectColour:
    case kIdSpecularColour:
    case kIdBackColour:
    case kIdAccentColour: {
      float* const colours[] = {renderSettings->colour, renderSettings->specularColour,
                                renderSettings->extraColour, renderSettings->accentColour};
      openColourPickerAtCentre(colours[id - kIdObjectColour]);
      break;
    }
  }
  if (controlPanel) controlPanel->updateControls();
}
