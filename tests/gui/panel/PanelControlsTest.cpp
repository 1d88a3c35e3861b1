// The panel controls without a display.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "PanelControls.h"
#include "PanelDriver.h"
#include "PanelWindow.h"

using namespace panel;
using zolt::test::ids;
using zolt::test::PanelDriver;
using zolt::test::record;

TEST(PanelControls, RolloutsShowChildrenOnlyWhileOpenAndEnabled) {
  PanelDriver d;
  int gravity = 0;
  Window w("Strip", Window::Placement::TopStrip);
  auto* def = w.add<Rollout>("Deformation");
  auto* box = def->add<Checkbox>("Gravity [G]", &gravity, 102, record);
  auto* sim = w.add<Rollout>("Simulation");
  auto* step = sim->add<Button>("Single Step [ ]", 3, record);
  sim->disable();
  d.frame(2);
  EXPECT_TRUE(box->rect.empty() && step->rect.empty());  // closed at start
  // Clicked, its child, open after the click.
  for (auto [rollout, child, open] : {std::tuple<Rollout*, Control*, bool>{def, box, true},
                                      {sim, step, false},
                                      {def, box, false}}) {
    d.click(rollout);
    d.frame();
    EXPECT_EQ(rollout->isOpen(), open) << rollout->label();
    EXPECT_EQ(child->rect.empty(), !open) << rollout->label();
  }
  EXPECT_FALSE(step->isEnabled());  // a container passes disable on
  sim->enable();
  EXPECT_TRUE(step->isEnabled());

  // A disabled check box ignores a click.
  d.click(def);
  box->disable();
  d.frame();
  d.click(box);
  d.m.dispatch();
  EXPECT_EQ(gravity, 0);
}

TEST(PanelControls, RadioAndListSelectionsReachTheirLiveVariables) {
  PanelDriver d;
  int mode = 1, index = 0;
  ids.clear();
  Window w("Strip", Window::Placement::TopStrip);
  auto* group = w.add<RadioGroup>(&mode, 6, record);
  const char* modes[] = {"Wireframe [F1]", "Front-Filled [F2]", "Back-Filled [F3]",
                         "Front and Back"};
  for (const char* l : modes) group->addButton(l);
  auto* list = w.add<Listbox>("Model", &index, 0, record);
  for (int i = 0; i < 3; ++i) list->addItem(i, i == 0 ? "" : "model" + std::to_string(i));
  d.frame(2);
  for (int m : {3, 0, 2}) {
    d.click(w.find(modes[m]));
    d.m.dispatch();
    EXPECT_EQ(mode, m);
  }
  for (int item : {2, 0, 1}) {
    d.click(list);  // opens the list
    d.frame();
    ASSERT_EQ(list->itemRects.size(), 3u);
    const Rect r = list->itemRects[item];
    d.click(0.5f * (r.x0 + r.x1), 0.5f * (r.y0 + r.y1));
    d.m.dispatch();
    EXPECT_EQ(index, item);
  }
  EXPECT_EQ(ids, (std::vector<int>{6, 6, 6, 0, 0, 0}));
}

TEST(PanelControls, TranslationPadsMoveByPixelsTimesSpeed) {
  PanelDriver d;
  float shift[2] = {1.0f, -1.0f}, zoom = -5.0f;
  Window w("View", Window::Placement::LowerLeft);
  auto* xy = w.add<Translation>("Shift", Translation::Type::XY, shift, 1, record);
  auto* z = w.add<Translation>("Zoom", Translation::Type::Z, &zoom, 2, record);
  xy->setSpeed(0.015f);
  z->setSpeed(std::sqrt(5.0f) * 0.02f);
  d.frame(2);
  // Pointer moves (x right, y down); dispatched every frame or only at the
  // end, the result is the same.
  // clang-format off
  const struct { Translation* pad; float dx, dy; bool eager; float expect[2]; } rows[] = {
      {xy, 40, -20, true, {1.0f + 40 * 0.015f, -1.0f + 20 * 0.015f}},
      {xy, -40, 20, false, {1.0f, -1.0f}},
      {z, 7, -30, false, {-5.0f + 30 * std::sqrt(5.0f) * 0.02f, 0}},
      {z, 0, 60, true, {-5.0f - 30 * std::sqrt(5.0f) * 0.02f, 0}}};
  // clang-format on
  for (const auto& r : rows) {
    d.drag(PanelDriver::cx(r.pad), PanelDriver::cy(r.pad), r.dx, r.dy, 5, r.eager);
    d.frame();
    const float* value = r.pad == xy ? shift : &zoom;
    for (int i = 0; i < (r.pad == xy ? 2 : 1); ++i) EXPECT_NEAR(value[i], r.expect[i], 1e-5);
  }
}

TEST(PanelControls, RotationBallTurnsThePointUnderThePointerAndStaysOrthonormal) {
  PanelDriver d;
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  Window w("View", Window::Placement::LowerLeft);
  auto* ball = w.add<Rotation>("Rotation", m);
  d.frame(2);
  const float x = PanelDriver::cx(ball), y = PanelDriver::cy(ball);
  const float r = 0.5f * (ball->rect.x1 - ball->rect.x0);
  // From the centre to half a radius right: 30 degrees about y; lazily
  // dispatched steps build on each other.
  d.drag(x, y, 0.5f * r, 0.0f, 4, false);
  const float c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  const float ry[16] = {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], ry[i], 2e-3) << i;

  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int k = 0; k < 1000; ++k)
    d.drag(x + u(rng) * r, y + u(rng) * r, 1.5f * r * u(rng), 1.5f * r * u(rng), 1);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double dot = 0.0;
      for (int i = 0; i < 3; ++i) dot += double(m[4 * a + i]) * m[4 * b + i];
      EXPECT_NEAR(dot, a == b, 1e-5) << a << b;
    }
  const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[4] * (m[1] * m[10] - m[2] * m[9]) +
                     m[8] * (m[1] * m[6] - m[2] * m[5]);
  EXPECT_NEAR(det, 1.0, 1e-5);
  EXPECT_NE(m[0], ry[0]);  // the drags did turn it
}
