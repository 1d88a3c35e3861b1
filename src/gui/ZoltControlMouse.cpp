// The mouse: the view follows the right and middle buttons and the wheel;
// the left button acts on the model by the mouse mode.

#include <GL/glut.h>

#include <cstdlib>

#include "FiniteElement.h"
#include "GuiSettings.h"
#include "MouseDrag.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "Vertex.h"
#include "ViewRotation.h"
#include "ZoltControl.h"

namespace {

// The flag byte the painting and point-pick modes use; null for elements
// that have none.
uint8_t* elementFlag(FiniteElement* e) {
  Tetrahedron* t = dynamic_cast<Tetrahedron*>(e);
  return t ? &t->flag : nullptr;
}

void clearFlags(const std::vector<FiniteElement*>& elements) {
  for (FiniteElement* e : elements)
    if (uint8_t* f = elementFlag(e)) *f = 0;
}

}  // namespace

void ZoltControl::initDragging(int x, int y) {
  if (!simulation) return;
  GuiSettings& g = guiSettings;
  const std::vector<FiniteElement*>& elements = hierarchy->elements[hierarchy->nLevels - 1];
  modifiers = glutGetModifiers();
  switch (g.mouseMode) {
    case 0:
    case 1: {
      captureView();
      dragStartX = x;
      dragStartY = y;
      tipElement = pickElement(x, y);
      if (!tipElement) return;
      if (g.mouseMode == 1) {
        dragPending = true;
        pendingX = x;
        pendingY = y;
        if (g.recordEvents) pathRecord.pull = 1;
        return;
      }
      pressSqueeze();
      return;
    }
    case 2:
      clearFlags(elements);
      beginPick(x, y);
      return;
    case 3:
    case 4:
      clearFlags(elements);
      dragByMouseMode(x, y);
      return;
    case 5:
      // The release takes the rectangle from here, never from an earlier drag.
      dragStartX = x;
      dragStartY = y;
      g.selectingRectangle = 1;
      return;
    default:
      return;
  }
}

void ZoltControl::dragByMouseMode(int x, int y) {
  if (!simulation) return;
  const GuiSettings& g = guiSettings;
  switch (g.mouseMode) {
    case 0:
      squeeze(x, y);
      return;
    case 1:
      pendingX = x;
      pendingY = y;
      return;
    case 2:
      beginPick(x, y);
      return;
    case 3:
    case 4: {
      if (pickBusy) return;
      pickBusy = true;
      const bool stiffness = g.mouseMode == 3, reset = modifiers == 1;
      for (FiniteElement* e : findElementAt(x, y)) {
        uint8_t* flag = elementFlag(e);
        if (!flag || *flag) continue;
        if (stiffness) {
          if (reset)
            e->setStiffness(1.0f);
          else if (e->getStiffness() < 100.0f)
            e->setStiffness(e->getStiffness() * 5.0f);
        } else {
          if (reset)
            e->setDensity(1.0f);
          else if (e->getDensity() < 10.0f)
            e->setDensity(e->getDensity() * 2.0f);
        }
        *flag = 1;  // each element once per drag
      }
      return;
    }
    default:
      return;
  }
}

void ZoltControl::endDragging(int x, int y) {
  if (!simulation) return;
  GuiSettings& g = guiSettings;
  dragPending = false;
  if (g.recordEvents) pathRecord.pull = pathRecord.squeeze = 0;
  switch (g.mouseMode) {
    case 0:
      releaseSqueeze();
      return;
    case 2:
    case 3:
    case 4:
      clearFlags(hierarchy->elements[hierarchy->nLevels - 1]);
      return;
    case 5:
      mouseButton((dragStartX + x) / 2, (dragStartY + y) / 2, std::abs(dragStartX - x),
                  std::abs(dragStartY - y));
      g.selectingRectangle = 0;
      return;
    default:
      return;
  }
}

void ZoltControl::mouseButton(int cx, int cy, int w, int h) {
  captureView();
  const int fixed = settings->fixedCount;
  if (w < 5 && h < 5) {
    Vertex* v = pickNode(cx, cy);
    if (!v || v->index < fixed) return;
    v->fixed = v->fixed ? 0 : 1;
    if (simulation) simulation->updateHierarchy();
    controlCallback(kIdRedisplay);
    return;
  }
  if (w < 1 || h < 1) return;
  std::vector<Vertex*> found;
  int flagged = 0, unflagged = 0;
  for (Vertex* v : pickNodesInRect(cx, cy, w, h)) {
    if (v->index < fixed) continue;
    found.push_back(v);
    ++(v->fixed ? flagged : unflagged);
  }
  if (found.empty()) return;
  const uint8_t flag = rectangleFlag(flagged, unflagged);
  for (Vertex* v : found) v->fixed = flag;
  // The simulation pins what the flags now say, as after a click.
  if (simulation) simulation->updateHierarchy();
  controlCallback(kIdRedisplay);
}

void mouseCallback(int button, int state, int x, int y) {
  ZoltControl* c = controlInstance;
  if (!c) return;
  GuiSettings& g = guiSettings;
  if (state == GLUT_DOWN) {
    switch (button) {
      case GLUT_LEFT_BUTTON:
        c->initDragging(x, y);
        g.leftDrag = 1;
        break;
      case GLUT_MIDDLE_BUTTON:
        g.lastMouseX = x;
        g.lastMouseY = y;
        g.shiftDrag = 1;
        break;
      case GLUT_RIGHT_BUTTON:
        g.rotateDrag = 1;
        g.lastMouseX = x;
        g.lastMouseY = y;
        break;
      case 3:  // wheel up
        controlCallback(kIdZoomIn);
        break;
      case 4:  // wheel down
        controlCallback(kIdZoomOut);
        break;
      default:
        break;
    }
    return;
  }
  g.rotateDrag = g.zoomDrag = g.shiftDrag = g.leftDrag = 0;
  if (button == GLUT_LEFT_BUTTON)
    c->endDragging(x, y);
  else if (controlPanel)
    controlPanel->syncLive();
}

void motionCallback(int x, int y) {
  ZoltControl* c = controlInstance;
  if (!c) return;
  GuiSettings& g = guiSettings;
  g.pointerX = x;
  g.pointerY = y;
  const int dx = x - g.lastMouseX, dy = y - g.lastMouseY;
  if (g.leftDrag) {
    c->dragByMouseMode(x, y);
    return;
  }
  if (g.rotateDrag) {
    rotateView(dy * g.zoom * -0.05f, dx * g.zoom * -0.05f);
  } else if (g.zoomDrag || g.shiftDrag) {
    if (g.zoomDrag) {
      g.zoom = static_cast<float>(g.zoom * (dy * 0.01 + 1.0));
    } else {
      g.shiftX += dx * g.zoom * -0.002f;
      g.shiftY += dy * g.zoom * 0.002f;
    }
    if (!g.perspectiveProjection) g.projectionChanged = 1;
  } else {
    return;
  }
  g.lastMouseX = x;
  g.lastMouseY = y;
  if (g.paused) glutPostRedisplay();
}
