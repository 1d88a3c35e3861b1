#include <GL/freeglut.h>
#include <GL/glx.h>

#include <cmath>

#include "ProgressBar.h"

ProgressBarGL::ProgressBarGL(const char* t, unsigned int n) {
  title = t;
  total = n;
  count = 0;
  lastShown = 0.0f;
  fanVertices = new float[2 * kFanVertices];
  fanVertices[0] = 0.0f;
  fanVertices[1] = 0.0f;
  const double a = 2.0 * M_PI / 100.0;
  for (int i = 0; i <= 100; ++i) {
    fanVertices[2 * (i + 1)] = static_cast<float>(0.5 * std::sin(i * a));
    fanVertices[2 * (i + 1) + 1] = static_cast<float>(0.5 * std::cos(i * a));
  }
  owner = std::this_thread::get_id();
  // glutGetWindow() aborts before glutInit; without GLUT there is no window.
  // It answers the same on every thread, the current context does not.
  graphic = glutGet(GLUT_INIT_STATE) && glutGetWindow() != 0 && glXGetCurrentContext() != nullptr;
}

ProgressBar* ProgressBarGL::make(const char* title, unsigned int total) {
  return new ProgressBarGL(title, total);
}

bool ProgressBarGL::drawsHere() const { return graphic && std::this_thread::get_id() == owner; }

ProgressBarGL::~ProgressBarGL() { delete[] fanVertices; }

void ProgressBarGL::start() {
  ProgressBar::start();
  if (!drawsHere()) {
    ProgressBarIO::printStart(title);
    return;
  }
  glDisable(GL_DEPTH_TEST);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glColor3f(1.0f, 1.0f, 1.0f);
  drawTitle();
}

void ProgressBarGL::step() {
  ProgressBar::step();
  const bool draws = drawsHere();
  if (percent - lastShown < (draws ? 1.0f : 0.1f)) return;
  lastShown = percent;
  if (!draws) {
    ProgressBarIO::printPercent(percent);
    return;
  }
  glutSwapBuffers();
  // Stepped past total, the sector is still at most the full disc.
  int n = static_cast<int>(percent) + 2;
  drawDisc(n < kFanVertices ? n : kFanVertices);
}

void ProgressBarGL::finish() {
  if (!drawsHere()) {
    ProgressBarIO::printFinish();
    return;
  }
  drawDisc(kFanVertices);
  glutSwapBuffers();
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
}

void ProgressBarGL::drawDisc(int vertices) {
  glColor3f(0.5f, 0.1f, 0.05f);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, fanVertices);
  glDrawArrays(GL_TRIANGLE_FAN, 0, vertices);
  glDisableClientState(GL_VERTEX_ARRAY);
  glColor3f(1.0f, 1.0f, 1.0f);
  drawTitle();
}

void ProgressBarGL::drawTitle() {
  if (!title) return;
  int w = 0;
  for (const char* c = title; *c; ++c) w += glutBitmapWidth(GLUT_BITMAP_TIMES_ROMAN_24, *c);
  int W = glutGet(GLUT_WINDOW_WIDTH);
  glRasterPos2f(-(static_cast<float>(w / 2) / static_cast<float>(W / 2)), 0.0f);
  for (const char* c = title; *c; ++c) glutBitmapCharacter(GLUT_BITMAP_TIMES_ROMAN_24, *c);
}
