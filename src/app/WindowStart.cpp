#include "WindowStart.h"

#include <GL/glut.h>

#include "ModelLoading.h"
#include "Run.h"
#include "Startup.h"
#include "Window.h"

void initGraphicsForward(int argc, char** argv) {
  initOpenGL(argc, argv, modelsPath.c_str(), ".config");
}

int runWindowed(int argc, char** argv) {
  startWithModel("bunnyFurTex", false, 0, 0, 0, argc, argv);
  return 0;
}

void startWithModel(const char* modelName, bool rebuildCaches, int elementModel, int scheme,
                    int skipPreprocess, int argc, char** argv) {
  initGraphicsForward(argc, argv);
  graphicsInitialised = true;
  selectModel(rebuildCaches, elementModel, scheme, modelName, skipPreprocess != 0);
  glutMainLoop();
}
