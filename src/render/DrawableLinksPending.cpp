// The drawable's links while the render volume and the scene pass are not
// part of the program: no volume or shadow map is made, so only deletion of
// nothing is reached. Replaced by the definitions next to that code.

#include <GL/glew.h>

#include "DrawableLinks.h"
#include "GuiSettings.h"
#include "ZoltRenderable.h"

void deleteRenderVolume(RenderVolume*) {}
void configureRenderVolume(RenderVolume*, float*) {}
void updateVolumeDisplacements(RenderVolume*) {}
void addVolumeOffsets(RenderVolume*) {}

void deleteShadowMap(ShadowMap*) {}

void ZoltRenderable::setProjection() {
  const GuiSettings& g = guiSettings;
  const double aspect = double(g.windowWidth) / double(g.windowHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  if (g.perspectiveProjection) {
    gluPerspective(45.0, aspect, 0.2, 100.0);
  } else {
    const double z = g.zoom;
    glOrtho(aspect * z / 2, -aspect * z / 2, z / 2, -z / 2, -100.0, 100.0);
  }
  glMatrixMode(GL_MODELVIEW);
}
