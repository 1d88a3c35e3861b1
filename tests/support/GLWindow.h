#pragma once
// One GLUT window per test process, on the display xvfb-run.sh provides,
// and its pixels as an Image: the back buffer, or the window as shown.

// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Image.h"

namespace zolt::test {

// Opens the window on the first call (RGBA with alpha, depth, double
// buffered) and initialises GLEW; later calls only make it current.
// Returns the GLUT window id.
inline int openGLWindow(const char* title, int width, int height) {
  static int window = 0;
  if (window != 0) {
    glutSetWindow(window);
    return window;
  }
  int argc = 1;
  char arg0[] = "zolt-test";
  char* argv[] = {arg0, nullptr};
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_ALPHA | GLUT_DEPTH);
  glutInitWindowPosition(0, 0);
  glutInitWindowSize(width, height);
  window = glutCreateWindow(title);
  // Events until the first display (late on a loaded machine), a minute at most.
  static bool shown = false;
  glutDisplayFunc([] { shown = true; });
  for (int i = 0; i < 60000 && (!shown || i < 10); ++i, usleep(shown ? 0 : 1000))
    glutMainLoopEvent();
  if (glewInit() != GLEW_OK) std::fprintf(stderr, "glewInit failed\n");
  return window;
}

// The buffer glReadBuffer names (back by default), top row first.
inline Image readFrame(int width, int height, GLenum buffer = GL_BACK) {
  std::vector<uint8_t> rgb(3 * static_cast<size_t>(width) * height);
  GLint alignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(buffer);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  return fromBottomUp(width, height, rgb);
}

// The whole window as the square [-1, 1]^2 (depth -10 to 10), identity
// model view, cleared to transparent black.
inline void orthoView(int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// What the X server shows of the current window after a swap, read from
// the server (WindowShot.cpp, library zolt_testsupport_gl). Empty on
// failure.
Image screenshotCurrentWindow();
// What the X server of a display shows of a window; empty on failure.
Image screenshotWindow(const std::string& display, unsigned long window);

// Mean of (r + g + b) / 3 over a region of the image.
inline double meanLuminance(const Image& img, int x0, int y0, int w, int h) {
  const Rgb c = meanColour(img, x0, y0, w, h);
  return (c.r + c.g + c.b) / 3.0;
}

}  // namespace zolt::test
