#include "ModelFrontEnd.h"

#include <GL/glew.h>
#include <GL/glut.h>

#include <cstdlib>

#include "ControlDispatch.h"
#include "PanelGlut.h"
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
  // Before the worker is released: the force field reads these positions.
  if (drawable) drawable->addCollisionOffsets();
}

void stepModel(ZoltControl* control) {
  if (control) control->step();
}

void drawScene() { display(); }

namespace {

// The window actions of the dispatch on the GLUT window.
class GlutWindow : public WindowHost {
 public:
  void quit() override { std::exit(0); }
  void stopAnimation() override { ::stopAnimation(); }
  void startTimerLoop() override { ::startTimerLoop(); }
  void startIdleLoop() override { ::startIdleLoop(); }
  void singleStep() override { ::singleStep(); }
  void postRedisplay() override { glutPostRedisplay(); }
  void enterFullscreen(int width, int height) override { ::enterFullscreen(width, height); }
  void leaveFullscreen() override { ::leaveFullscreen(); }
};
GlutWindow glutWindow;

static_assert(kKeyF1 == GLUT_KEY_F1 && kKeyF2 == GLUT_KEY_F2 && kKeyF3 == GLUT_KEY_F3 &&
              kKeyF8 == GLUT_KEY_F8 && kKeyF9 == GLUT_KEY_F9);

}  // namespace

void registerInputCallbacks() {
  windowHost = &glutWindow;
  // Through the panel master, which passes on what the panel does not take.
  panel::setKeyboardFunc(keyboardCallback);
  panel::setSpecialFunc(specialCallback);
  panel::setMouseFunc(mouseCallback);
  panel::setMotionFunc(motionCallback);
}
