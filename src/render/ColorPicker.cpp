#include "ColorPicker.h"

// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct PickerState {
  int openX = 500, openY = 500;
  int cellX = -1, cellY = -1;
  float* colour = nullptr;
  float brightness = 1.0f;
  int window = 0;
  int parentWindow = 0;
  void (*callback)(int) = nullptr;
  int callbackId = 0;
  bool active = false;
  bool firstClickPending = false;
  bool redrawField = false;
};

PickerState picker;

const int kBrightnessEdge = ColorPicker::kFieldWidth * 6 / 7;  // 768

void notify() {
  if (picker.callback) picker.callback(picker.callbackId);
}

// The drawn field's colour at a cell, straight into the edited colour.
void readColourAt(int cx, int cy) {
  if (!picker.colour) return;
  glReadBuffer(GL_BACK);
  glReadPixels(cx + ColorPicker::kBorder, ColorPicker::kFieldHeight - cy + ColorPicker::kBorder - 1,
               1, 1, GL_RGB, GL_FLOAT, picker.colour);
}

void makeCurrentAndDraw() {
  if (!picker.redrawField) return;
  glutSetWindow(picker.window);
  ColorPicker::drawField(false);
}

void finishEvent() {
  if (picker.active) ColorPicker::display();
}

float brightnessAt(int fy) {
  return std::floor(float(ColorPicker::kFieldHeight - fy) / ColorPicker::kFieldHeight * 255.0f) *
         0.003921569f;
}

void hide() {
  glutSetWindow(picker.window);
  glutHideWindow();
  glutPositionWindow(-ColorPicker::kWidth, -ColorPicker::kHeight);
  glutSetWindow(picker.parentWindow);
}

}  // namespace

ColorPicker::ColorPicker(int parentWindow, int callbackId, void (*callback)(int)) {
  picker = PickerState{};
  picker.parentWindow = parentWindow;
  picker.callbackId = callbackId;
  picker.callback = callback;
  picker.window = glutCreateSubWindow(parentWindow, 0, 0, kWidth, kHeight);
  glutPositionWindow(-kWidth, -kHeight);
  glutDisplayFunc(display);
  glutMouseFunc(pick);
  glutKeyboardFunc(keyboard);
  glutMotionFunc(preview);
  glutHideWindow();
  glutSetWindow(parentWindow);
  picker.redrawField = true;
}

void ColorPicker::open(int x, int y, float* colour) {
  picker.cellX = picker.cellY = -1;
  picker.colour = colour;
  picker.openX = x;
  picker.openY = y;
  picker.active = picker.redrawField = picker.firstClickPending = true;
  glutSetWindow(picker.window);
  glutSetCursor(GLUT_CURSOR_CROSSHAIR);
  glReadBuffer(GL_BACK);
  glDrawBuffer(GL_BACK);
  glutPositionWindow(x - kFieldWidth / 2 - kBorder, y - kFieldHeight / 2 - kBorder);
  glutShowWindow();
  glutPopWindow();
  glutSetWindow(picker.parentWindow);
  colorToPosition(colour, &picker.cellX, &picker.cellY);
}

void ColorPicker::close() {
  picker.active = picker.firstClickPending = false;
  hide();
}

void ColorPicker::destroyWindow() {
  if (picker.window) glutDestroyWindow(picker.window);
  picker.window = 0;
  picker.active = false;
}

void ColorPicker::colorToPosition(const float* rgb, int* x, int* y) {
  picker.brightness = cellOfColour(rgb, x, y);
}

void ColorPicker::drawField(bool) {
  const float b = picker.brightness;
  glViewport(0, 0, kWidth, kHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, kWidth, kHeight, 0, -1, 1);  // window pixels, the top row first
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glShadeModel(GL_SMOOTH);
  glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  // The pure hues at the column edges: red, yellow, green, cyan, blue,
  // magenta, red.
  static const float hues[7][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1},
                                   {0, 0, 1}, {1, 0, 1}, {1, 0, 0}};
  const float top = kBorder, bottom = kBorder + kFieldHeight;
  for (int k = 0; k < 6; ++k) {
    // One-pixel strips keep the ramp linear along both axes.
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i <= kColumnWidth; ++i) {
      const float u = float(i) / kColumnWidth, x = kBorder + kColumnWidth * k + i;
      glColor3f(b, b, b);
      glVertex2f(x, bottom);
      glColor3f(b * ((1 - u) * hues[k][0] + u * hues[k + 1][0]),
                b * ((1 - u) * hues[k][1] + u * hues[k + 1][1]),
                b * ((1 - u) * hues[k][2] + u * hues[k + 1][2]));
      glVertex2f(x, top);
    }
    glEnd();
  }
  const float left = kBorder + 6 * kColumnWidth + 0.1f * kColumnWidth,
              right = kBorder + kFieldWidth;
  glBegin(GL_QUADS);
  glColor3f(1, 1, 1);
  glVertex2f(left, top);
  glVertex2f(right, top);
  glColor3f(0, 0, 0);
  glVertex2f(right, bottom);
  glVertex2f(left, bottom);
  // The marker at the brightness, dark on the bright half.
  const float marker = top + (1.0f - b) * kFieldHeight;
  const float shade = b >= 0.5f ? 0.0f : 1.0f;
  glColor3f(shade, shade, shade);
  glVertex2f(left, marker - 1);
  glVertex2f(right, marker - 1);
  glVertex2f(right, marker + 1);
  glVertex2f(left, marker + 1);
  glEnd();
}

void ColorPicker::display() {
  drawField(false);
  glutSwapBuffers();
  glClear(GL_COLOR_BUFFER_BIT);
}

void ColorPicker::pick(int button, int, int x, int y) {
  if (!picker.active) return;
  const int fx = x - kBorder, fy = y - kBorder;
  if (fx < 0 || fx >= kFieldWidth || fy < 0 || fy >= kFieldHeight) return;
  makeCurrentAndDraw();
  if (fx > kBrightnessEdge) {
    picker.brightness = brightnessAt(fy);
    if (picker.cellX >= 0) readColourAt(picker.cellX, picker.cellY);
    notify();
  } else {
    if (button == GLUT_LEFT_BUTTON) {
      if (picker.firstClickPending) readColourAt(fx, fy);
      picker.cellX = fx;
      picker.cellY = fy;
      const float* c = picker.colour;
      if (c)
        std::printf("Set Color: %d, %d, %d\n", int(std::floor(255 * c[0])),
                    int(std::floor(255 * c[1])), int(std::floor(255 * c[2])));
      std::fflush(stdout);
      close();
    } else {
      readColourAt(fx, fy);
      picker.cellX = fx;
      picker.cellY = fy;
    }
    notify();
    picker.firstClickPending = false;
  }
  if (picker.active) glutSetWindow(picker.window);
  finishEvent();
}

void ColorPicker::preview(int x, int y) {
  if (!picker.active) return;
  const int fx = std::min(std::max(x - kBorder, 0), kFieldWidth - 1);
  const int fy = std::min(std::max(y - kBorder, 0), kFieldHeight - 1);
  makeCurrentAndDraw();
  if (fx > kBrightnessEdge) {
    picker.brightness = brightnessAt(fy);
    if (picker.cellX >= 0) readColourAt(picker.cellX, picker.cellY);
  } else {
    readColourAt(fx, fy);
    picker.cellX = fx;
    picker.cellY = fy;
  }
  notify();
  finishEvent();
}

void ColorPicker::keyboard(unsigned char key, int, int) {
  if (key == 13) close();
}

bool ColorPicker::isActive() { return picker.active; }
float ColorPicker::brightness() { return picker.brightness; }
int ColorPicker::window() { return picker.window; }
