// What the scene pass draws besides the model: the ground plane, the logo,
// the pointer sprite, the selection rectangle and the texts.

// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include <algorithm>

#include "LinearTexture.h"
#include "SceneImages.h"
#include "ScenePass.h"

GLuint sceneGroundTexture = 0;
GLuint scenePointerTexture = 0;

void createGroundTextures(bool withGround) {
  glActiveTexture(GL_TEXTURE0);
  if (withGround && sceneGroundTexture == 0) {
    const std::vector<uint8_t> image = groundImage();
    glGenTextures(1, &sceneGroundTexture);
    glBindTexture(GL_TEXTURE_2D, sceneGroundTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA8, kGroundImageWidth, kGroundImageHeight, GL_RGBA,
                      GL_UNSIGNED_BYTE, image.data());
  }
  if (scenePointerTexture == 0)
    scenePointerTexture = createLinearTexture(GL_LUMINANCE_ALPHA, kSpriteSize, kSpriteSize,
                                              pointerSprite().data(), GL_CLAMP);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void deleteGroundTextures() {
  if (sceneGroundTexture) glDeleteTextures(1, &sceneGroundTexture);
  if (scenePointerTexture) glDeleteTextures(1, &scenePointerTexture);
  sceneGroundTexture = scenePointerTexture = 0;
}

namespace {

// A textured quad in device coordinates, blended by the texture's alpha.
void blendedQuad(GLuint texture, const float (*corners)[2], const float (*texCoords)[2]) {
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture);
  glEnable(GL_TEXTURE_2D);
  glColor3f(1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  for (int k = 0; k < 4; ++k) {
    glTexCoord2fv(texCoords[k]);
    glVertex2fv(corners[k]);
  }
  glEnd();
  glDisable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_BLEND);
}

}  // namespace

void drawLogoOverlay() {
  if (sceneGroundTexture == 0) return;
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  const LogoExtent e = logoExtent(viewport[2], viewport[3]);
  const float t = static_cast<float>(kLogoRows / kGroundImageHeight);
  const float corners[4][2] = {{0.95f, e.height - 0.95f},
                               {0.95f, -0.95f},
                               {0.95f - e.width, -0.95f},
                               {0.95f - e.width, e.height - 0.95f}};
  const float texCoords[4][2] = {{1, 0}, {1, t}, {0, t}, {0, 0}};
  blendedQuad(sceneGroundTexture, corners, texCoords);
}

void drawPointerSprite(int pointerX, int pointerY, int width, int height) {
  float x, y;
  pointerToDevice(pointerX, pointerY, width, height, &x, &y);
  const float w = 32.0f / std::max(width, 1), h = 32.0f / std::max(height, 1);
  const float corners[4][2] = {{x, y}, {x + w, y}, {x + w, y - h}, {x, y - h}};
  const float texCoords[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  blendedQuad(scenePointerTexture, corners, texCoords);
}

void drawGroundPlane(const double* plane, float zoom, bool orientation, bool textured) {
  const double a = plane[0], b = plane[1], c = plane[2], d = plane[3];
  const double n2 = a * a + b * b + c * c;
  if (!(n2 > 0.0)) return;  // no plane
  const double t = -d / n2;
  const double p[3] = {t * a, t * b, t * c};
  const double h = -0.5 * zoom;
  // Corner offsets from p, texture coordinates and untextured colours.
  const double clear[4][3] = {
      {h * c, -h, -h * a}, {h * c, h, -h * a}, {-h * c, h, h * a}, {-h * c, -h, h * a}};
  const double set[4][3] = {
      {-h, h * c, -h * b}, {h, h * c, -h * b}, {h, -h * c, h * b}, {-h, -h * c, h * b}};
  const float clearTex[4][2] = {{0, 1}, {0, -0.3f}, {1, -0.3f}, {1, 1}};
  const float setTex[4][2] = {{0, 1}, {1, 1}, {1, -0.3f}, {0, -0.3f}};
  const float clearColour[2][3] = {{1, 0, 1}, {0, 1, 1}};
  const float setColour[2][3] = {{0, 1, 1}, {1, 1, 0}};
  const double(*offset)[3] = orientation ? set : clear;
  const float(*tex)[2] = orientation ? setTex : clearTex;
  const float(*colour)[3] = orientation ? setColour : clearColour;

  glEnable(GL_BLEND);
  glBlendEquation(GL_FUNC_ADD);
  glBlendColor(0.0f, 0.0f, 0.0f, 0.3f);
  glBlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
  if (textured) {
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, sceneGroundTexture);
    glEnable(GL_TEXTURE_2D);
    glColor3f(1.0f, 1.0f, 1.0f);
  }
  glBegin(GL_QUADS);
  for (int k = 0; k < 4; ++k) {
    if (textured)
      glTexCoord2fv(tex[k]);
    else
      glColor3fv(colour[k / 2]);
    glVertex3d(p[0] + offset[k][0], p[1] + offset[k][1], p[2] + offset[k][2]);
  }
  glEnd();
  glDisable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_BLEND);
}

void drawSelectionRectangle(const int* start, const int* end, int width, int height) {
  float x0, y0, x1, y1;
  pointerToDevice(start[0], start[1], width, height, &x0, &y0);
  pointerToDevice(end[0], end[1], width, height, &x1, &y1);
  glColor3f(0.0f, 0.0f, 1.0f);
  glBegin(GL_LINE_LOOP);
  glVertex2f(x0, y0);
  glVertex2f(x1, y0);
  glVertex2f(x1, y1);
  glVertex2f(x0, y1);
  glEnd();
}

void drawCenteredText(float x, float y, const char* text) {
  int width = 0;
  for (const char* c = text; *c; ++c)
    width += glutBitmapWidth(GLUT_BITMAP_HELVETICA_18, static_cast<unsigned char>(*c));
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glRasterPos2f(centredTextX(x, width, viewport[2]), y);
  for (const char* c = text; *c; ++c)
    glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, static_cast<unsigned char>(*c));
}

void drawText(float x, float y, const char* text) {
  glRasterPos2f(x, y);
  for (const char* c = text; *c; ++c)
    glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<unsigned char>(*c));
}
