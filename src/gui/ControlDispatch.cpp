#include "ControlDispatch.h"

#include "GuiSettings.h"
#include "ZoltControl.h"

namespace {

// The window before there is one: window actions do nothing.
class NoWindow : public WindowHost {
 public:
  void quit() override {}
  void stopAnimation() override {}
  void startTimerLoop() override {}
  void startIdleLoop() override {}
  void singleStep() override {}
  void postRedisplay() override {}
  void enterFullscreen(int, int) override {}
  void leaveFullscreen() override {}
};
NoWindow noWindow;

void toggle(int32_t& word) { word = word ? 0 : 1; }

void redisplayWhenPaused() {
  if (guiSettings.paused) windowHost->postRedisplay();
}

// The window-side ids; false for an id handed on to the control object.
bool windowAction(int id) {
  GuiSettings& g = guiSettings;
  WindowHost* w = windowHost;
  switch (id) {
    case kIdPause:
      if (g.paused)
        w->stopAnimation();
      else
        w->startTimerLoop();
      break;
    case kIdSingleStep:
      if (g.paused) w->singleStep();
      break;
    case kIdZoomIn:
    case kIdZoomOut:
      g.zoom = static_cast<float>(g.zoom * (id == kIdZoomIn ? 0.7142857142857143 : 1.4));
      if (!g.perspectiveProjection) g.projectionChanged = 1;
      if (controlPanel) controlPanel->syncLive();
      redisplayWhenPaused();
      break;
    case kIdRedisplay:
      redisplayWhenPaused();
      break;
    case kIdProjection:
      g.projectionChanged = 1;
      redisplayWhenPaused();
      break;
    case kIdFullScreen:
    case kIdRecordFrames: {
      const bool on = id == kIdFullScreen ? g.fullScreen : g.recordFrames;
      if (!on)
        w->leaveFullscreen();
      else if (id == kIdFullScreen)
        w->enterFullscreen(0, 0);
      else
        w->enterFullscreen(720, 576);
      break;
    }
    case kIdMaxFps:
      if (g.paused) break;
      if (g.maxFps)
        w->startIdleLoop();
      else
        w->startTimerLoop();
      break;
    case kIdViewReset:
      for (int e = 0; e < 16; ++e) g.viewRotation[e] = e % 5 == 0 ? 1.0f : 0.0f;
      g.shiftX = g.shiftY = 0.0f;
      g.zoom = -5.0f;
      redisplayWhenPaused();
      break;
    default:
      return false;
  }
  return true;
}

}  // namespace

WindowHost* windowHost = &noWindow;
void (*sendControl)(int id) = controlCallback;

void controlCallback(int id) {
  GuiSettings& g = guiSettings;
  if (id == kIdQuit) return windowHost->quit();
  if (id == kIdRebuildPanel) {
    if (!controlPanel) return;
    g.panelAutoHide = g.panelSeparateWindow ? 0 : 1;
    controlPanel->rebuild();
    controlPanel->show();
    if (!controlInstance && !g.panelSeparateWindow) g.panelAutoHide = 0;
  } else if (!windowAction(id)) {
    if (controlInstance) controlInstance->handleControl(id);
    return;
  }
  if (controlPanel) controlPanel->updateControls();
}

void keyboardCallback(unsigned char key, int, int) {
  GuiSettings& g = guiSettings;
  if (key == 'u' || key == 'U') {
    if (controlPanel) controlPanel->togglePanel();
    return;
  }
  if (key == 'q' || key == 'Q') return sendControl(kIdQuit);
  if (!controlInstance) return;
  switch (key) {
    case ' ':
      return sendControl(kIdSingleStep);
    case '+':
      return sendControl(kIdZoomIn);
    case '-':
      return sendControl(kIdZoomOut);
    case 'G':
    case 'g':
      toggle(g.gravityOn);
      return sendControl(kIdGravity);
    case 'L':
    case 'l':
      toggle(g.pixelLighting);
      return sendControl(kIdPixelLighting);
    case 'M':
    case 'm':
      g.mouseMode = (g.mouseMode + 1) % 3;
      return;
    case 'N':
    case 'n':
      return sendControl(kIdFreezeForces);
    case 'P':
    case 'p':
      toggle(g.paused);
      return sendControl(kIdPause);
    case 'R':
    case 'r':
      return sendControl(kIdReset);
    case 'T':
    case 't':
      toggle(g.texturing);
      return sendControl(kIdTexturing);
    case 'V':
    case 'v':
      if (controlPanel) controlPanel->toggleView();
      return;
    case 'c':
      toggle(g.showGround);
      return;
    case 's':
      toggle(g.shadowOn);
      return sendControl(kIdShadow);
    case 'z':
      return sendControl(kIdSolverBenchmark);
    default:
      return;
  }
}

void specialCallback(int key, int, int) {
  GuiSettings& g = guiSettings;
  if (!controlInstance) return;
  if (key >= kKeyF1 && key <= kKeyF3) {
    g.renderMode = key - kKeyF1;
    sendControl(kIdRedisplay);
  } else if (key == kKeyF8) {
    toggle(g.maxFps);
    sendControl(kIdMaxFps);
  } else if (key == kKeyF9) {
    toggle(g.fullScreen);
    sendControl(kIdFullScreen);
  }
}
