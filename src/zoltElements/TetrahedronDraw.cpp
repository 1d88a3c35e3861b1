// The drawing of a tetrahedron: the only element code that needs GL.

#include <GL/gl.h>

#include "Tetrahedron.h"
#include "Vertex.h"

namespace {

void normal(const float* a, const float* b, const float* c, float n[3]) {
  const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const float w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  n[0] = u[1] * w[2] - u[2] * w[1];
  n[1] = u[2] * w[0] - u[0] * w[2];
  n[2] = u[0] * w[1] - u[1] * w[0];
}

}  // namespace

void Tetrahedron::draw(bool surfaceOnly) const {
  for (int f : kFaceOrder) {
    if (surfaceOnly && !(faceMask & (1 << f))) continue;
    const float* a = v[kFaceCorners[f][0]]->currentPosition;
    const float* b = v[kFaceCorners[f][1]]->currentPosition;
    const float* c = v[kFaceCorners[f][2]]->currentPosition;
    drawTriangle(a, b, c);
  }
}

void Tetrahedron::drawTriangle(const float* a, const float* b, const float* c) {
  float n[3];
  normal(a, b, c, n);
  glNormal3fv(n);
  glVertex3fv(a);
  glVertex3fv(b);
  glVertex3fv(c);
}
