// The drag work of the control object that needs no window: the captured
// view, the squeeze and the pull force the worker applies every step.

#include "FiniteElement.h"
#include "GuiSettings.h"
#include "MaterialProperties.h"
#include "MouseDrag.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "Vertex.h"
#include "ZoltControl.h"

void ZoltControl::captureView() {
  const GuiSettings& g = guiSettings;
  captureDragView(g.viewRotation, g.shiftX, g.shiftY, g.zoom, dragView, viewAxis);
}

void ZoltControl::pressSqueeze() {
  if (!tipElement || !simulation) return;
  simulation->purgeQueue();
  if (guiSettings.forcesOn) queueForces(simulation, settings->forces);
  const int n = tipElement->degreeOfFreedom();
  const double f[3] = {-viewAxis[0] / n, -viewAxis[1] / n, -viewAxis[2] / n};
  for (int i = 0; i < n; ++i) simulation->addVertexValue(tipElement->getVertex(i)->index, f);
  if (guiSettings.recordEvents) {
    pathRecord.setDrag(*tipElement, f);
    pathRecord.squeeze = 1;
  }
}

void ZoltControl::squeeze(int x, int y) {
  if (tipElement)
    settings->forceNorm = squeezeForceNorm(guiSettings.forceValue, x - dragStartX, dragStartY - y);
}

void ZoltControl::releaseSqueeze() {
  if (!simulation) return;
  simulation->purgeQueue();
  settings->forceNorm = guiSettings.forceValue;
  if (guiSettings.forcesOn) queueForces(simulation, settings->forces);
}

void ZoltControl::zoltReact(int x, int y) {
  FiniteElement* t = tipElement;
  if (!t || !simulation || !settings->material) return;
  const double volume = t->getVolume();
  const int n = t->degreeOfFreedom();
  if (!(volume > 0.0) || n <= 0) return;
  const float s = static_cast<float>(1.5 * settings->material->timeStep);
  double f[3];
  pullForce(dragView, s, x - dragStartX, dragStartY - y, modifiers == 1, f);
  // Small elements get a larger force; the vertices share it.
  const double scale = dragScale / volume / n;
  for (double& c : f) c *= scale;
  for (int i = 0; i < n; ++i) simulation->addVertexValueFlagged(t->getVertex(i)->index, f, true);
  if (guiSettings.recordEvents) pathRecord.setDrag(*t, f);
}
