// Field cells against the field's layout worked out independently; the
// picker driven through its callbacks in a real subwindow.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Capture.h"
#include "ColorPicker.h"
#include "GLWindow.h"

namespace {

// The field as laid out: column k ramps from hue k to hue k + 1 along x,
// from full saturation at the top to grey at the bottom, times brightness.
void fieldColour(int fx, int fy, float b, float* rgb) {
  static const float hues[7][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1},
                                   {0, 0, 1}, {1, 0, 1}, {1, 0, 0}};
  const int k = fx / 128;
  const float u = (fx % 128 + 0.5f) / 128, v = (fy + 0.5f) / 256;
  for (int c = 0; c < 3; ++c)
    rgb[c] = b * ((1 - v) * ((1 - u) * hues[k][c] + u * hues[k + 1][c]) + v);
}

TEST(ColorPicker, CellOfAColour) {
  const struct {
    float rgb[3];
    int x, y;
    float brightness;
  } rows[] = {
      {{0, 0, 0}, 384, 128, 0}, {{1, 0, 0}, 768, 0, 1}, {{0.5f, 0.5f, 0.5f}, 512, 255, 0.5f}};
  for (const auto& r : rows) {
    int x = -1, y = -1;
    EXPECT_EQ(ColorPicker::cellOfColour(r.rgb, &x, &y), r.brightness);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(r.x, r.y)) << r.rgb[0] << " " << r.rgb[1];
  }
  // Any colour of the field leads back to its cell within a pixel.
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    const int fx = rng() % 768, fy = rng() % 256;
    const float b = 0.05f + (rng() % 96) / 100.0f;
    float rgb[3];
    fieldColour(fx, fy, b, rgb);
    int x, y;
    EXPECT_NEAR(ColorPicker::cellOfColour(rgb, &x, &y), b, 1e-6);
    ASSERT_LE(std::max(std::abs(x - fx), std::abs(y - fy)), 1) << fx << " " << fy << " " << b;
  }
}

int calls = 0, lastId = 0;

TEST(ColorPicker, RightPressPicksLeftClickClosesWithTheColour) {
  const int parent = zolt::test::openGLWindow("picker", 1000, 400);
  ColorPicker picker(parent, 126, [](int id) { ++calls, lastId = id; });
  float colour[3] = {0.5f, 0.5f, 0.5f};
  picker.open(500, 200, colour);
  EXPECT_TRUE(ColorPicker::isActive() && ColorPicker::brightness() == 0.5f);
  for (int i = 0; i < 5; ++i) glutMainLoopEvent();

  // A right press on column 2 (green to cyan) reads the field.
  const int fx = 300, fy = 64;
  ColorPicker::pick(GLUT_RIGHT_BUTTON, GLUT_DOWN, fx + 5, fy + 5);
  float want[3];
  fieldColour(fx, fy, 0.5f, want);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(colour[c], want[c], 3.0 / 255) << c;
  EXPECT_EQ(std::make_pair(calls, lastId), std::make_pair(1, 126));
  EXPECT_TRUE(ColorPicker::isActive());

  // Full brightness in the column; the colour follows with the next event.
  ColorPicker::pick(GLUT_RIGHT_BUTTON, GLUT_DOWN, 850 + 5, 0 + 5);
  EXPECT_FLOAT_EQ(ColorPicker::brightness(), 1.0f);
  ColorPicker::pick(GLUT_RIGHT_BUTTON, GLUT_UP, 850 + 5, 0 + 5);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(colour[c], 2 * want[c], 3.0 / 255) << c;

  // A left click closes without reading another cell.
  const float kept[3] = {colour[0], colour[1], colour[2]};
  zolt::test::captureStdout([] { ColorPicker::pick(GLUT_LEFT_BUTTON, GLUT_DOWN, 10 + 5, 200 + 5); });
  EXPECT_TRUE(!ColorPicker::isActive() && calls == 4);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(colour[c], kept[c]);
  ColorPicker::pick(GLUT_LEFT_BUTTON, GLUT_UP, 10 + 5, 200 + 5);  // the release finds it closed
  EXPECT_EQ(calls, 4);

  // Return closes a picker opened again.
  picker.open(500, 200, colour);
  ColorPicker::keyboard(13, 0, 0);
  EXPECT_FALSE(ColorPicker::isActive());
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
