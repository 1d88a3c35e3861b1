// The panel master's queue, transition feeding and input routing without a
// display.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PanelControls.h"
#include "PanelDriver.h"
#include "PanelMaster.h"
#include "PanelWindow.h"

using namespace panel;
using zolt::test::gravity;
using zolt::test::ids;
using zolt::test::PanelDriver;
using zolt::test::record;
using zolt::test::seenGravity;

namespace {

int sceneMouse = 0, sceneMotion = 0, sceneKeys = 0, scenePassive = 0;

struct Strip {
  Window w{"Strip", Window::Placement::TopStrip};
  Checkbox* box = w.add<Checkbox>("Gravity [G]", &gravity, 102, record);
  Listbox* list = w.add<Listbox>("Model", &gravity, 0, nullptr);
  Strip() {
    gravity = 0;
    ids.clear();
    seenGravity.clear();
    list->addItem(0, "");
    list->addItem(1, "one");
    PanelDriver().frame(2);
  }
};

}  // namespace

TEST(PanelMaster, AChangeIsWrittenAndReportedOnlyWhenTheQueueIsDrained) {
  PanelDriver d;
  Strip s;
  int scheduled = 0;
  d.m.scheduleDispatch = [&scheduled] { ++scheduled; };
  d.click(s.box);
  d.frame(3);
  EXPECT_EQ(gravity, 0);
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(scheduled, 1);  // one timer for the whole batch
  d.m.dispatch();
  EXPECT_EQ(gravity, 1);
  EXPECT_EQ(ids, std::vector<int>{102});
  EXPECT_EQ(seenGravity, std::vector<int>{1});  // written before the callback
  d.m.scheduleDispatch = nullptr;
}

TEST(PanelMaster, TransitionsBetweenTwoFramesAreFedOnePerFrame) {
  PanelDriver d;
  Strip s;
  int redisplays = 0;
  d.m.postRedisplay = [&redisplays] { ++redisplays; };
  const float x = PanelDriver::cx(s.box), y = PanelDriver::cy(s.box);
  // Clicks arriving in one gap between frames: 1, 2, 3 (each from 0).
  const int values[] = {1, 1, 0};
  for (int clicks = 1; clicks <= 3; ++clicks) {
    ids.clear();
    d.moveTo(x, y);
    for (int i = 0; i < clicks; ++i) {
      d.m.mouse(0, 0, int(x), int(y));
      d.m.mouse(0, 1, int(x), int(y));
    }
    redisplays = 0;
    d.frame();
    EXPECT_TRUE(d.m.inputPending());
    EXPECT_GT(redisplays, 0);  // frames are asked for while some wait
    d.drain();
    EXPECT_FALSE(d.m.inputPending());
    d.m.dispatch();
    EXPECT_EQ(gravity, values[clicks - 1]) << clicks;
    EXPECT_EQ(ids.size(), size_t(clicks));
  }
  d.m.postRedisplay = nullptr;
}

TEST(PanelMaster, PressesOnAVisiblePanelNeverReachTheScene) {
  PanelDriver d;
  Strip s;
  Master& m = d.m;
  m.mouseFunc = [](int, int, int, int) { ++sceneMouse; };
  m.motionFunc = [](int, int) { ++sceneMotion; };
  m.keyboardFunc = [](unsigned char, int, int) { ++sceneKeys; };
  m.passiveMotionFunc = [](int, int) { ++scenePassive; };
  const float px = PanelDriver::cx(s.box), py = PanelDriver::cy(s.box);
  enum Setup { Visible, Hidden, ListOpen };
  // A press at (x, y), a move to (600, 500) and the release there.
  // clang-format off
  const struct { Setup setup; float x, y; int mouse, motion; } rows[] = {
      {Visible, px, py, 0, 0}, {Visible, 600, 500, 2, 1}, {Hidden, px, py, 2, 1},
      {ListOpen, 600, 500, 0, 0},  // closes the list instead
      {Visible, 600, 500, 2, 1}};
  // clang-format on
  for (const auto& r : rows) {
    if (r.setup == Hidden) s.w.hide();
    if (r.setup == ListOpen) d.click(s.list);
    d.frame(2);
    sceneMouse = sceneMotion = sceneKeys = scenePassive = 0;
    m.mouse(0, 0, int(r.x), int(r.y));
    d.frame();
    m.motion(600, 500);
    d.frame();
    m.mouse(0, 1, 600, 500);
    m.keyboard('g', int(px), int(py));
    m.passiveMotion(int(px), int(py));
    d.drain();
    // Keys and passive moves always reach the scene.
    EXPECT_EQ((std::vector<int>{sceneMouse, sceneMotion, sceneKeys, scenePassive}),
              (std::vector<int>{r.mouse, r.motion, 1, 1}))
        << r.setup << " " << r.x;
    s.w.show();
  }
  m.dispatch();
  m.mouseFunc = {}, m.motionFunc = {}, m.keyboardFunc = {}, m.passiveMotionFunc = {};
}

namespace {

int requested = 0;  // redisplays asked for since the last frame

// Frames only on the master's request (as with no model loaded); at most n.
int framesOnRequest(PanelDriver& d, int n = 50) {
  int drawn = 0;
  for (; drawn < n && requested > 0; ++drawn) requested = 0, d.frame();
  return drawn;
}

}  // namespace

// Picking an entry with no other frames is checked in the window.
TEST(PanelMaster, AnOpenListAsksForFramesOnlyWithoutARunningLoop) {
  PanelDriver d;
  Window w{"Long", Window::Placement::TopStrip};
  Listbox* list = w.add<Listbox>("Model", &gravity, 0, record);
  for (int i = 0; i < 30; ++i) list->addItem(i, "model" + std::to_string(i));
  d.frame(2);
  d.m.postRedisplay = [] { ++requested; };
  d.click(list);
  framesOnRequest(d);
  ASSERT_EQ(list->itemRects.size(), 30u);  // the open list was drawn
  EXPECT_EQ(framesOnRequest(d, 5), 5);     // and keeps asking for frames
  // A running loop draws frames of its own: the open list asks for none.
  d.m.framesRunning = [] { return true; };
  EXPECT_EQ(framesOnRequest(d, 5), 1);
  d.m.framesRunning = nullptr;
  d.click(600, 600);
  requested = 1;
  EXPECT_LT(framesOnRequest(d), 50);  // closed: the requests end
  d.m.postRedisplay = nullptr;
}
