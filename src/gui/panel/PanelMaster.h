#pragma once
// The one master of the panel windows: it owns the drawing context, routes
// the window's input between the panels and the scene, feeds the panels one
// button transition per frame and dispatches control changes between
// frames.
//
// Routing: a press inside a visible panel window (its rectangle from the
// last frame) or while a pop-up is open, and the motion and release that
// follow it, go to the panels only; every other mouse event reaches the
// scene's callbacks. Keys always reach the keyboard callbacks.
//
// The wheel (GLUT buttons 3 and 4) over a panel or an open list scrolls the
// panel and never reaches the scene.
//
// Input queue: button state is sampled once per frame, so a press and a
// release that arrive between two frames would be lost; transitions are
// queued and fed one per frame, with a redisplay asked for while some wait,
// for the frames that show their effect, and while a pop-up is open and
// nothing else draws frames.
//
// Deferred dispatch: a control change is queued while the frame draws;
// dispatch() writes each live variable and then calls its callback. The
// window system calls dispatch() from a zero-delay timer, outside drawing.

#include <deque>
#include <functional>
#include <vector>

struct ImGuiContext;

namespace panel {

class Window;

class Master {
 public:
  static Master& get();

  // The scene's callbacks, in GLUT's shapes; null ones are skipped.
  void (*keyboardFunc)(unsigned char key, int x, int y) = nullptr;
  void (*specialFunc)(int key, int x, int y) = nullptr;
  void (*mouseFunc)(int button, int state, int x, int y) = nullptr;
  void (*motionFunc)(int x, int y) = nullptr;
  void (*passiveMotionFunc)(int x, int y) = nullptr;
  void (*entryFunc)(int state) = nullptr;

  // Hooks of the window system; null without one (tests drive frames and
  // dispatch themselves).
  std::function<void()> postRedisplay;
  std::function<void()> scheduleDispatch;
  // Whether the window draws frames of its own (a running loop); without
  // them an open pop-up asks for every frame.
  std::function<bool()> framesRunning;

  // The window's events (GLUT values: button 0-2, state 0 down, 1 up).
  void keyboard(unsigned char key, int x, int y);
  void special(int key, int x, int y);
  void mouse(int button, int state, int x, int y);
  void motion(int x, int y);
  void passiveMotion(int x, int y);
  void entry(int state);

  // One frame of the panels over a display of the given size: feeds queued
  // input, draws the visible windows and ends the frame (the draw data is
  // then ImGui::GetDrawData()). False when no window is visible (no frame).
  bool frame(float width, float height, float seconds);
  // Writes the queued changes and calls their callbacks, oldest first.
  void dispatch();
  bool dispatchPending() const { return !changes_.empty(); }
  bool inputPending() const;

  void addWindow(Window* w);
  // A window appears: it takes its size over the next frames, so ask for
  // them even when nothing else draws.
  void windowShown();
  void removeWindow(Window* w);
  bool anyVisible() const;
  // Asks for a frame (the window system's redisplay).
  void redraw() const;

  struct Change {
    Window* window;
    std::function<void()> write;
    void (*callback)(int);
    int id;
  };
  void queueChange(Change c);

  ImGuiContext* context();

 private:
  Master() = default;
  struct MouseEvent {
    float x, y;
    int button;  // -1: a move
    bool down;
    float wheel;  // with button -1: notches up (positive) or down
  };
  bool hitsPanel(float x, float y) const;
  void queueMove(int x, int y);
  void feedInput();

  ImGuiContext* context_ = nullptr;
  std::vector<Window*> windows_;
  std::deque<MouseEvent> input_;
  std::deque<Change> changes_;
  bool dispatchScheduled_ = false;
  int capturedButtons_ = 0;  // buttons pressed on a panel, not released yet
  bool popupOpen_ = false;
  int settleFrames_ = 0;
};

}  // namespace panel
