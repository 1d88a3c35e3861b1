#pragma once
// Drives the panel master without a display on a 1024 x 768 screen, pointer
// events as GLUT delivers them; and a callback that records the ids sent.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "PanelMaster.h"
#include "PanelWindow.h"

namespace zolt::test {

struct PanelDriver {
  panel::Master& m = panel::Master::get();

  void frame(int n = 1) {
    for (int i = 0; i < n; ++i) m.frame(1024.0f, 768.0f, 1.0f / 60.0f);
  }
  // Frames until the input queue is empty.
  void drain() {
    for (int i = 0; i < 20 && m.inputPending(); ++i) frame();
    frame();
  }
  static float cx(const panel::Control* c) { return 0.5f * (c->rect.x0 + c->rect.x1); }
  static float cy(const panel::Control* c) { return 0.5f * (c->rect.y0 + c->rect.y1); }
  static int px(float v) { return int(std::lround(v)); }
  void moveTo(float x, float y) {
    m.passiveMotion(px(x), px(y));
    frame();
  }
  void press(float x, float y) {
    moveTo(x, y);
    m.mouse(0, 0, px(x), px(y));
    frame();
  }
  // Move, press and release with a frame between each.
  void click(float x, float y) {
    press(x, y);
    m.mouse(0, 1, px(x), px(y));
    frame();
  }
  void click(const panel::Control* c) {
    ASSERT_FALSE(c->rect.empty()) << c->label();
    click(cx(c), cy(c));
  }
  // Press at (x, y), move by (dx, dy) in n steps with a frame each, release;
  // dispatches after every frame when eager.
  void drag(float x, float y, float dx, float dy, int n, bool eager = true) {
    press(x, y);
    for (int i = 1; i <= n; ++i) {
      m.motion(px(x + dx * i / n), px(y + dy * i / n));
      frame();
      if (eager) m.dispatch();
    }
    m.mouse(0, 1, px(x + dx), px(y + dy));
    frame();
    m.dispatch();
  }
};

inline int gravity = 0;
inline std::vector<int> seenGravity;  // gravity as each callback saw it
inline std::vector<int> ids;
inline void record(int id) {
  ids.push_back(id);
  seenGravity.push_back(gravity);
}

}  // namespace zolt::test
