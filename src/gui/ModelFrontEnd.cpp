#include "ModelFrontEnd.h"

#include <GL/glew.h>
#include <GL/glut.h>

#include <cstdlib>

#include "Scene.h"
#include "TetHierarchy.h"
#include "Window.h"
#include "ZoltControl.h"
#include "ZoltRenderable.h"

FrontEnd modelFrontEnd() {
  FrontEnd f;
  f.createControl = [](Run& run) {
    return new ZoltControl(run.hierarchy.get(), run.simulation.get(), &run.settings,
                           &run.renderSettings);
  };
  f.createDrawable = [](Run& run, ZoltControl* control) {
    return new ZoltRenderable(run.hierarchy.get(), &run.renderSettings, control);
  };
  f.setRenderData = [](ZoltControl* control, ZoltRenderable* drawable) {
    if (control) control->setRenderData(drawable);
  };
  f.startLoop = startLoop;
  f.deleteDrawable = [](ZoltRenderable* drawable) { delete drawable; };
  f.deleteControl = [](ZoltControl* control) { delete control; };
  return f;
}

void updateModelFrame(ZoltControl* control, ZoltRenderable* drawable, char* status) {
  if (control) control->update(status);
  if (drawable) drawable->update();
  if (control) control->updateRenderData();
}

void stepModel(ZoltControl* control) {
  if (control) control->step();
}

void drawScene() { display(); }

namespace {

// Until the key dispatcher is part of the build, q is the one key.

void quitKey(unsigned char key, int, int) {
  if (key == 'q' || key == 'Q') std::exit(0);
}

}  // namespace

void registerInputCallbacks() { glutKeyboardFunc(quitKey); }
