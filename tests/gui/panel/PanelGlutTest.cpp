// The panels drawn over a busy GL state (program, buffers, texture unit 3,
// a clip plane cutting all) appear untinted and leave the state unchanged.

#include <gtest/gtest.h>

#include "GLWindow.h"
#include "PanelGlut.h"
#include "PanelWindow.h"

using namespace zolt::test;

TEST(PanelGlut, DrawsOverABusyStateAndRestoresIt) {
  const int window = openGLWindow("panel", 320, 240);
  panel::attachGlut(window);
  panel::Window strip("Strip", panel::Window::Placement::TopStrip);
  strip.add<panel::Button>("Quit [Q]", 1)->setWidth(120.0f);

  const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
  const char* redSource = "void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }";
  glShaderSource(shader, 1, &redSource, nullptr);
  glCompileShader(shader);
  const GLuint program = glCreateProgram();
  glAttachShader(program, shader);
  glLinkProgram(program);
  GLuint buffer;
  glGenBuffers(1, &buffer);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBufferData(GL_ARRAY_BUFFER, 4096, nullptr, GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
  glUseProgram(program);
  glActiveTexture(GL_TEXTURE3);
  const double cutAll[4] = {0.0, 0.0, 0.0, -1.0};
  glClipPlane(GL_CLIP_PLANE0, cutAll);
  glEnable(GL_CLIP_PLANE0);

  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  for (int frame = 0; frame < 3; ++frame) {  // the strip takes its size first
    glClear(GL_COLOR_BUFFER_BIT);
    panel::drawOverlay();
  }
  const Image shot = readFrame(320, 240);
  long blue = 0, red = 0;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const Rgb c = shot.at(x, y);
      blue += c.b > 60 && c.b > c.g && c.g > c.r;  // the button
      red += c.r > 150 && c.g < 60;
    }
  EXPECT_GT(blue, 1000);
  EXPECT_EQ(red, 0);

  const struct {
    GLenum name;
    GLint value;
  } rows[] = {{GL_CURRENT_PROGRAM, GLint(program)},
              {GL_ARRAY_BUFFER_BINDING, GLint(buffer)},
              {GL_ELEMENT_ARRAY_BUFFER_BINDING, GLint(buffer)},
              {GL_ACTIVE_TEXTURE, GL_TEXTURE3}};
  for (const auto& r : rows) {
    GLint v = -1;
    glGetIntegerv(r.name, &v);
    EXPECT_EQ(v, r.value) << r.name;
  }
  EXPECT_TRUE(glIsEnabled(GL_CLIP_PLANE0));
  glUseProgram(0);
  panel::detachGlut();
}
