// The drawable's projection from the GUI's window and view words.

#include <GL/glew.h>

#include "GuiSettings.h"
#include "SceneMatrices.h"
#include "ZoltRenderable.h"

void ZoltRenderable::setProjection() {
  const GuiSettings& g = guiSettings;
  float m[16];
  sceneProjection(projectionSide, g.perspectiveProjection, g.zoom, g.windowWidth, g.windowHeight,
                  m);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(m);
  glMatrixMode(GL_MODELVIEW);
}

void ZoltRenderable::setProjectionSide(bool left, bool right) {
  projectionSide = right ? 1 : (left ? -1 : 0);
  setProjection();
}
