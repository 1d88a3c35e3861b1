#pragma once
// Keys, function keys and the window and loop actions (ids below 14) of
// controlCallback. The window is reached through WindowHost, so the whole
// dispatch runs without one.

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual void quit() = 0;  // exit with code 0
  virtual void stopAnimation() = 0;
  virtual void startTimerLoop() = 0;
  virtual void startIdleLoop() = 0;
  virtual void singleStep() = 0;
  virtual void postRedisplay() = 0;
  // Full screen when both are 0, else that size.
  virtual void enterFullscreen(int width, int height) = 0;
  virtual void leaveFullscreen() = 0;
};

// The window of the program; until it is set, one that does nothing.
extern WindowHost* windowHost;

// Where keys and the model actions send their ids: controlCallback, or a
// recorder in tests.
extern void (*sendControl)(int id);

// GLUT's codes of the function keys that act.
constexpr int kKeyF1 = 1, kKeyF2 = 2, kKeyF3 = 3, kKeyF8 = 8, kKeyF9 = 9;

// Without a current control object only u and q act. A key toggles its
// word first, then sends the id of its action.
void keyboardCallback(unsigned char key, int x, int y);
// F1-F3 polygon mode, F8 max fps, F9 full screen; only with a control object.
void specialCallback(int key, int x, int y);
