#include "ModelFrontEnd.h"

#include <GL/glew.h>
#include <GL/glut.h>

#include <cstdlib>

#include "Window.h"

// Until the control object, the drawable and the scene pass are part of the
// build, a model runs without them: frames are paced and counted, the
// display clears the window, and q quits.

FrontEnd modelFrontEnd() {
  FrontEnd f;
  f.startLoop = startLoop;
  return f;
}

void updateModelFrame(ZoltControl*, ZoltRenderable*, char*) {}

void stepModel(ZoltControl*) {}

void drawScene() {
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glutSwapBuffers();
}

void createSceneTextures() {}

void deleteSceneTextures() {}

namespace {

void quitKey(unsigned char key, int, int) {
  if (key == 'q' || key == 'Q') std::exit(0);
}

}  // namespace

void registerInputCallbacks() { glutKeyboardFunc(quitKey); }
