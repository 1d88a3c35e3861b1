#include "Window.h"

// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "ColorPicker.h"
#include "ControlPanel.h"
#include "FpsCounter.h"
#include "FramePacing.h"
#include "GuiSettings.h"
#include "InlineFrames.h"
#include "MatrixAssembler.h"
#include "ModelFrontEnd.h"
#include "ModelLoading.h"
#include "PanelGlut.h"
#include "PanelMaster.h"
#include "ProgressBar.h"
#include "ProgressBarRoute.h"
#include "Scene.h"
#include "ScenePass.h"
#include "Startup.h"
#include "StatusText.h"
#include "StepWorker.h"
#include "WindowLayout.h"
#include "ZoltRenderable.h"

ZoltControl* currentControl = nullptr;
static std::unique_ptr<ColorPicker> colourPicker;  // made with the panel
ZoltRenderable* currentDrawable = nullptr;
char baseTitle[kBaseTitleSize] = "";
char statusText[kStatusSize] = "";
const char* modelsDirectory = "";
const char* modelListSuffix = "";

namespace {

int mainWindow = 0;
FramePacer pacer;
FpsCounter fpsCounter;
char titleText[kTitleSize] = "";
int savedX = 0, savedY = 0, savedWidth = 0, savedHeight = 0;

// The worker: its holder first, so that it is destroyed after the worker.
Threads renderThread;
StepWorker worker(renderThread);

// One frame of the loaded model: the control object and the drawable named
// by the current pointers, the frame-rate title and the scene.
class WindowFrame : public FrameParts {
 public:
  void prepare() override { updateModelFrame(currentControl, currentDrawable, statusText); }
  // The worker reads the control pointer without the lock: it changes only
  // between frames, while the worker waits.
  void step() override { stepModel(currentControl); }
  void present(bool direct) override { redisplay(direct); }
};
WindowFrame windowFrame;

void runFrame() {
  glutSetWindow(mainWindow);
  worker.frame(guiSettings.useWorkerThread != 0);
}

// Timer frames from now on, idle frames off.
void startTimerChain() {
  glutIdleFunc(nullptr);
  glutTimerFunc(0, timerFrame, 0);
}

}  // namespace

void initOpenGL(int argc, char** argv, const char* modelsDir, const char* suffix) {
  std::cout << "Initialize OpenGL..." << std::endl;
  currentControl = nullptr;
  currentDrawable = nullptr;
  pacer.timer.reset();
  pacer.loopStopped = false;
  modelsDirectory = modelsDir;
  modelListSuffix = suffix;

  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_ALPHA | GLUT_DEPTH);
  const WindowLayout layout =
      windowLayoutForScreen(glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT));
  guiSettings.windowWidth = layout.width;
  guiSettings.windowHeight = layout.height;
  glutInitWindowSize(layout.width, layout.height);
  glutInitWindowPosition(layout.x, layout.y);
  std::snprintf(baseTitle, sizeof baseTitle, "ZOLT v%s (%s) ", ZOLT_VERSION, "Dec 2026");
  mainWindow = glutCreateWindow(baseTitle);

  const GLenum err = glewInit();
  if (err != GLEW_OK) {
    std::cerr << "GLEW Error: " << glewGetErrorString(err) << std::endl;
    std::exit(-1);
  }
  if (!glewIsSupported("GL_VERSION_2_0")) {
    std::cerr << "Error: OpenGL 2.0 required! Exit!" << std::endl;
    std::exit(-1);
  }

  // Long computations on this thread, which holds the context, draw their
  // progress in the window.
  ProgressBarRoute::installWindowMaker(ProgressBarGL::make);

  glutDisplayFunc(drawScene);
  glutIdleFunc(nullptr);
  glutReshapeFunc(reshapeCallback);
  registerInputCallbacks();
  panel::setPassiveMotionFunc(passiveMotionCallback);
  panel::setEntryFunc(entryCallback);

  startFpsCounter();

  std::cout << "  Use separate Rendering Thread " << std::endl;
  guiSettings.useWorkerThread = 1;
  // Without a worker the frames step inline instead of waiting for one.
  if (!worker.start(&windowFrame)) guiSettings.useWorkerThread = 0;

  guiSettings.groundTexture = 1;
  createGui(mainWindow);
  createGroundTextures(guiSettings.groundTexture != 0);
  shutdownGraphics = shutdownGL;
  unloadGraphics = stopFrameLoop;
  // GLUT closes the window in an exit handler of its own, registered above;
  // handlers run last registered first, so the model goes while GLUT lives.
  std::atexit(shutdownGL);
  // GLUT applies window changes (the picker hidden and moved away) in its
  // loop; the first load draws its progress before the loop runs.
  glutMainLoopEvent();
}

void startLoop(ZoltControl* control, ZoltRenderable* drawable, int targetFps) {
  glutSetWindow(mainWindow);
  currentControl = control;
  currentDrawable = drawable;
  if (displayWallMode && drawable) {
    const bool left = displayWallSide < 0;
    const bool right = displayWallSide > 0;
    drawable->setProjectionSide(left, right);
  }
  startFpsCounter();
  pacer.start(targetFps, currentTime());
  startTimerChain();
}

void timerFrame(int value) {
  if (!pacer.acceptTimerCallback(value)) return;
  runFrame();
  const PacingResult next = pacer.afterTimerFrame(value, currentTime());
  switch (next.next) {
    case PacingResult::Next::End:
      break;
    case PacingResult::Next::Idle:
      guiSettings.maxFps = 1;
      glutIdleFunc(idleFrame);
      break;
    case PacingResult::Next::Timer:
      glutTimerFunc(static_cast<unsigned>(next.delay), timerFrame, value + 1);
      break;
  }
}

void idleFrame() {
  pacer.timerGuard = false;
  runFrame();
}

void runFramesWithoutWorker() {
  glutSetWindow(mainWindow);
  runInlineFrames(windowFrame, [] {
    glutMainLoopEvent();
    return true;
  });
}

void startFpsCounter() { fpsCounter.start(currentTime()); }

void updateFpsTitle(const char* title, const char* status) {
  if (!fpsCounter.count(currentTime())) return;
  formatFpsTitle(titleText, sizeof titleText, title, fpsCounter.fps, status);
  glutSetWindowTitle(titleText);
}

void redisplay(bool direct) {
  updateFpsTitle(baseTitle, statusText);
  if (direct)
    drawScene();
  else
    glutPostRedisplay();
}

void startTimerLoop() {
  pacer.loopStopped = false;
  glutSetWindow(mainWindow);
  pacer.restartClock(currentTime());
  startTimerChain();
}

void startIdleLoop() {
  pacer.loopStopped = false;
  glutSetWindow(mainWindow);
  pacer.restartClock(currentTime());
  glutIdleFunc(idleFrame);
}

void stopAnimation() {
  glutSetWindow(mainWindow);
  pacer.restartClock(currentTime());
  glutIdleFunc(nullptr);
  pacer.loopStopped = true;
}

void singleStep() {
  glutSetWindow(mainWindow);
  stepModel(currentControl);
  redisplay(false);
  updateModelFrame(currentControl, currentDrawable, statusText);
}

void enterFullscreen(int width, int height) {
  glutSetWindow(mainWindow);
  // Without the decoration the window manager adds.
  savedX = glutGet(GLUT_WINDOW_X) - 4;
  savedY = glutGet(GLUT_WINDOW_Y) - 30;
  savedWidth = glutGet(GLUT_WINDOW_WIDTH);
  savedHeight = glutGet(GLUT_WINDOW_HEIGHT);
  if (width != 0 || height != 0)
    glutReshapeWindow(width, height);
  else
    glutFullScreen();
}

void leaveFullscreen() {
  glutSetWindow(mainWindow);
  glutPositionWindow(savedX, savedY);
  glutReshapeWindow(savedWidth, savedHeight);
}

void reshapeCallback(int w, int h) {
  guiSettings.windowWidth = std::max(w, 1);
  guiSettings.windowHeight = std::max(h, 1);
  guiSettings.projectionChanged = 1;
  if (controlPanelInstance) controlPanelInstance->reshape(w, h);
}

void shutdownGL() {
  static bool done = false;
  if (done) return;
  done = true;
  // An exit inside a frame comes here while the worker steps the model,
  // one inside a load while the assembly's helper works on it: both end
  // first.
  worker.stop();
  MatrixAssembler::stopHelpers();
  unloadModel();
  destroyGui();
  deleteGroundTextures();
}

void createGui(int window) {
  guiSettings.panelAutoHide = 0;
  guiSettings.panelSeparateWindow = 0;
  guiSettings.modelLoaded = 0;
  colourPicker = std::make_unique<ColorPicker>(window, kIdColoursChanged, controlCallback);
  openColourPicker = [](int x, int y, float* colour) { colourPicker->open(x, y, colour); };
  panel::attachGlut(window);
  panel::Master::get().framesRunning = [] { return currentControl && !pacer.loopStopped; };
  sceneOverlay = panel::drawOverlay;
  controlPanel = new ControlPanel(nullptr, window, 0, 0, 0, false, false);
}

void destroyGui() {
  openColourPicker = nullptr;
  ColorPicker::destroyWindow();
  colourPicker.reset();
  delete controlPanel;
  controlPanel = nullptr;
  sceneOverlay = nullptr;
  panel::detachGlut();
}

int getMainWindowId() { return mainWindow; }

unsigned clearGlError() {
  glutSetWindow(mainWindow);
  return glGetError();
}

void stopFrameLoop() {
  pacer.unload();
  currentControl = nullptr;
  currentDrawable = nullptr;
  if (mainWindow == 0) return;
  glutSetWindow(mainWindow);
  glutIdleFunc(nullptr);
  glutSetWindowTitle(baseTitle);
}
