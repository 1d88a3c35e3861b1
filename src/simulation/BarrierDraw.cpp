// Barrier textures and drawing: immediate mode on the main thread. The
// ground and the box are compiled into display lists; the sphere and the
// cuboid are drawn anew every frame, so their motion shows.
//
// Texture unit 1 holds the shadow texture matrix, which maps the object
// coordinates the shaders receive: a barrier that draws with a translated
// model-view matrix translates that texture matrix alike.

// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include <cmath>

#include "Barrier.h"
#include "GLUtils.h"

namespace {

// Quad strips per face and vertex pairs per strip.
constexpr int kStrips = 20;
constexpr int kStripPairs = 21;
constexpr float kLift = 0.001f;  // faces sit this far outside the solid side

// Unit 0 with the barrier texture; white when a texture file was given, so
// that the image shows in its own colours.
void applyTexture(const Barrier& b) {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, b.texture);
  glEnable(GL_TEXTURE_2D);
  if (!b.texturePath.empty()) glColor3f(1.0f, 1.0f, 1.0f);
}

void releaseTexture() {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);
}

void ensureTexture(Barrier& b) {
  if (b.texture == 0) b.loadTexture();
}

// Translates the model-view matrix and unit 1's texture matrix by t, or pops
// both (push = false). Leaves unit 0 active and the model-view mode.
void translateObject(const float* t, bool push) {
  glActiveTexture(GL_TEXTURE1);
  glMatrixMode(GL_TEXTURE);
  if (push) {
    glPushMatrix();
    glTranslatef(t[0], t[1], t[2]);
  } else {
    glPopMatrix();
  }
  glActiveTexture(GL_TEXTURE0);
  glMatrixMode(GL_MODELVIEW);
  if (push) {
    glPushMatrix();
    glTranslatef(t[0], t[1], t[2]);
  } else {
    glPopMatrix();
  }
}

void vertexMinusLift(const float* p, const float* n) {
  glVertex3f(p[0] - kLift * n[0], p[1] - kLift * n[1], p[2] - kLift * n[2]);
}

// a + s (b - a), componentwise.
void lerp(const float* a, const float* b, float s, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] + s * (b[i] - a[i]);
}

void unit(const float* from, const float* to, float* e) {
  const float d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
  const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  for (int i = 0; i < 3; ++i) e[i] = d[i] / length;
}

// A face of the box as strips: a b c d enlarged by the lift beyond each edge
// and moved by -lift n. Rows run from the edge a-d (f = 1) towards b-c, the
// column parameter u from the a-b side (u = 1) to the d-c side.
void boxFace(const float* a, const float* b, const float* c, const float* d, const float* n) {
  float e1[3], e2[3], q[4][3];
  unit(a, d, e1);
  unit(a, b, e2);
  const float sign[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};  // e1, e2 per corner
  const float* corner[4] = {a, b, c, d};
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 3; ++i)
      q[k][i] = corner[k][i] + kLift * (sign[k][0] * e1[i] + sign[k][1] * e2[i] - n[i]);
  glNormal3fv(n);
  float f = 1.0f;
  for (int row = 0; row < kStrips; ++row) {
    const float next = static_cast<float>(f - 0.05);
    float edgePrev[2][3], edge[2][3];
    lerp(q[1], q[0], f, edgePrev[0]);  // on a-b
    lerp(q[2], q[3], f, edgePrev[1]);  // on d-c
    lerp(q[1], q[0], next, edge[0]);
    lerp(q[2], q[3], next, edge[1]);
    glBegin(GL_QUAD_STRIP);
    for (int j = 0; j < kStripPairs; ++j) {
      const float u = static_cast<float>(1.0 - 0.05 * j);
      float p[3];
      lerp(edgePrev[1], edgePrev[0], u, p);
      glVertex3fv(p);
      lerp(edge[1], edge[0], u, p);
      glVertex3fv(p);
    }
    glEnd();
    f = next;
  }
}

}  // namespace

void Barrier::loadTexture() {
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  GLUtils::BMPImage image{0, 0, nullptr};
  if (!texturePath.empty() && GLUtils::readBMP(texturePath.c_str(), &image)) {
    GLUtils::PixelStore tight(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, image.width, image.height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 image.data);
    delete[] image.data;
  } else {
    // The reader has reported an unreadable file; forgetting it keeps the
    // barrier in its own colour under the white texel.
    texturePath.clear();
    const unsigned char white[4] = {255, 255, 255, 255};
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
}

void Barrier::releaseGLResources() {
  if (texture != 0) glDeleteTextures(1, &texture);
  if (displayList != 0) glDeleteLists(displayList, 1);
  texture = 0;
  displayList = 0;
}

void SphereBarrier::draw(bool textured) {
  glColor3f(0.2f, 0.0f, 1.0f);
  if (textured) {
    ensureTexture(*this);
    applyTexture(*this);
  }
  translateObject(centre, true);
  glutSolidSphere(radius - 0.01f, 30, 30);
  translateObject(centre, false);
  if (textured) releaseTexture();
}

void QuaderBarrier::draw(bool textured) {
  glColor3f(0.5f, 0.25f, 0.0f);
  if (textured) {
    ensureTexture(*this);
    applyTexture(*this);
  }
  static constexpr int kFaces[6][4] = {
      {0, 1, 2, 3}, {0, 4, 5, 1}, {1, 5, 6, 2}, {2, 6, 7, 3}, {0, 3, 7, 4}, {5, 4, 7, 6},
  };
  glBegin(GL_QUADS);
  for (int k = 0; k < 6; ++k) {
    glNormal3fv(normals[k]);
    for (int c : kFaces[k]) glVertex3fv(corners[c]);
  }
  glEnd();
  if (textured) releaseTexture();
}

void BoxBarrier::draw(bool textured) {
  if (displayList != 0 && textured == (listTextured != 0)) {
    glCallList(displayList);
    return;
  }
  listTextured = textured;
  if (textured) ensureTexture(*this);
  if (displayList == 0) displayList = glGenLists(1);
  const float(*c)[3] = corners;
  glNewList(displayList, GL_COMPILE_AND_EXECUTE);
  glEnable(GL_CULL_FACE);
  glColor3f(0.2f, 0.4f, 0.8f);
  if (textured) applyTexture(*this);
  boxFace(c[0], c[3], c[2], c[1], normals[0]);
  boxFace(c[0], c[1], c[5], c[4], normals[1]);
  boxFace(c[1], c[2], c[6], c[5], normals[2]);
  boxFace(c[2], c[3], c[7], c[6], normals[3]);
  boxFace(c[0], c[4], c[7], c[3], normals[4]);
  boxFace(c[5], c[6], c[7], c[4], normals[5]);
  glDisable(GL_CULL_FACE);
  if (textured) releaseTexture();
  glEndList();
}

void GroundBarrier::draw(bool textured) {
  // The list holds the ground where it was built; a moving ground is drawn
  // translated to where it collides now.
  const float shift[3] = {corners[0][0] - listOrigin[0], corners[0][1] - listOrigin[1],
                          corners[0][2] - listOrigin[2]};
  if (displayList != 0 && textured == (listTextured != 0)) {
    translateObject(shift, true);
    glCallList(displayList);
    translateObject(shift, false);
    return;
  }
  listTextured = textured;
  for (int i = 0; i < 3; ++i) listOrigin[i] = corners[0][i];
  if (textured) ensureTexture(*this);
  if (displayList == 0) displayList = glGenLists(1);
  glNewList(displayList, GL_COMPILE_AND_EXECUTE);
  glNormal3fv(normal);
  glColor3f(0.75f, 0.67f, 0.57f);
  if (textured) applyTexture(*this);
  // Rows from the edge c0-c3 (f = 1) to c1-c2; columns from c0-c1 (u = 1)
  // to c3-c2; the texture repeats eight times across.
  float f = 1.0f;
  for (int row = 0; row < kStrips; ++row) {
    const float next = static_cast<float>(f - 0.05);
    float aPrev[3], bPrev[3], a[3], b[3];
    lerp(corners[1], corners[0], f, aPrev);
    lerp(corners[2], corners[3], f, bPrev);
    lerp(corners[1], corners[0], next, a);
    lerp(corners[2], corners[3], next, b);
    glBegin(GL_QUAD_STRIP);
    for (int j = 0; j < kStripPairs; ++j) {
      const float u = static_cast<float>(1.0 - 0.05 * j);
      float p[3];
      glTexCoord2f(8.0f * u, 8.0f * (next + 0.05f));
      lerp(bPrev, aPrev, u, p);
      vertexMinusLift(p, normal);
      glTexCoord2f(8.0f * u, 8.0f * next);
      lerp(b, a, u, p);
      vertexMinusLift(p, normal);
    }
    glEnd();
    f = next;
  }
  glNormal3f(-normal[0], -normal[1], -normal[2]);
  glBegin(GL_QUADS);
  for (int c = 3; c >= 0; --c) vertexMinusLift(corners[c], normal);
  glEnd();
  if (textured) releaseTexture();
  glEndList();
}
