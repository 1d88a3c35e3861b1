// The element's triangles as the GL pipeline receives them, read back in
// feedback mode: positions in window coordinates and the colour lit by a
// light along +z, which is max(0, n.z) for the unit normal n sent.

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TestMeshes.h"
#include "Tetrahedron.h"
#include "Vertex.h"

namespace {

const int W = 200, H = 200;

struct Triangle {
  float p[3][3];  // window coordinates
  float red[3];   // lit colour per corner
};

void openWindow() {
  static bool open = false;
  if (open) return;
  int argc = 1;
  char arg0[] = "TetrahedronDrawTest";
  char* argv[] = {arg0, nullptr};
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
  glutInitWindowSize(W, H);
  glutCreateWindow("draw");
  glutDisplayFunc([] {});
  for (int i = 0; i < 10; ++i) glutMainLoopEvent();
  open = true;
}

template <class F>
std::vector<Triangle> feedback(F drawCalls) {
  openWindow();
  glViewport(0, 0, W, H);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-2, 2, -2, 2, -2, 2);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_CULL_FACE);
  glEnable(GL_LIGHTING);
  glEnable(GL_NORMALIZE);
  glEnable(GL_LIGHT0);
  const GLfloat zero[4] = {0, 0, 0, 1}, one[4] = {1, 1, 1, 1}, towardsZ[4] = {0, 0, 1, 0};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zero);
  glLightfv(GL_LIGHT0, GL_POSITION, towardsZ);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, one);
  glLightfv(GL_LIGHT0, GL_AMBIENT, zero);
  glLightfv(GL_LIGHT0, GL_SPECULAR, zero);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, zero);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, one);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, zero);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, zero);

  std::vector<GLfloat> buffer(1 << 16);
  glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
  glRenderMode(GL_FEEDBACK);
  glBegin(GL_TRIANGLES);
  drawCalls();
  glEnd();
  const int n = glRenderMode(GL_RENDER);
  glDisable(GL_LIGHTING);

  std::vector<Triangle> out;
  for (int i = 0; i < n;) {
    const int token = static_cast<int>(buffer[i++]);
    EXPECT_EQ(token, GL_POLYGON_TOKEN);
    if (token != GL_POLYGON_TOKEN) break;
    const int count = static_cast<int>(buffer[i++]);
    EXPECT_EQ(count, 3);
    Triangle t;
    for (int k = 0; k < count; ++k, i += 7) {
      for (int d = 0; d < 3; ++d) t.p[k][d] = buffer[i + d];
      t.red[k] = buffer[i + 3];
    }
    out.push_back(t);
  }
  return out;
}

float windowX(float x) { return (x + 2.0f) / 4.0f * W; }
float windowY(float y) { return (y + 2.0f) / 4.0f * H; }

// Lit intensity of an outward face of element e with corners a, b, c
// (current positions): max(0, unit outward normal . z).
double expectedLight(const float* a, const float* b, const float* c, const double inner[3]) {
  double u[3], w[3], n[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = double(b[k]) - a[k];
    w[k] = double(c[k]) - a[k];
  }
  n[0] = u[1] * w[2] - u[2] * w[1];
  n[1] = u[2] * w[0] - u[0] * w[2];
  n[2] = u[0] * w[1] - u[1] * w[0];
  // Oriented away from a point inside the element.
  double side = 0;
  for (int k = 0; k < 3; ++k) side += n[k] * (a[k] - inner[k]);
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  const double nz = (side > 0 ? n[2] : -n[2]) / len;
  return nz > 0 ? nz : 0.0;
}

}  // namespace

TEST(TetrahedronDraw, AllFacesOrOnlySurfaceFacesAtCurrentPositions) {
  auto h = zolt::test::singleTetrahedron();
  std::vector<float> current;
  zolt::test::attachCurrentPositions(*h, 0, current);
  // Current positions differ from rest: a moved, tilted element.
  const float moved[12] = {-0.5f, -0.25f, 0.1f, 1.0f, 0.0f, -0.2f,
                           0.2f,  1.1f,   0.3f, 0.1f, 0.2f, 1.3f};
  std::copy(moved, moved + 12, current.begin());
  auto* t = static_cast<Tetrahedron*>(h->elements[0][0]);
  ASSERT_GT(t->getCurrentVolume(), 0.0f);

  double inner[3] = {0, 0, 0};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) inner[k] += 0.25 * t->getVertex(i)->currentPosition[k];

  const int order[4] = {3, 2, 0, 1};
  for (uint8_t mask : {uint8_t(15), uint8_t(5), uint8_t(0)}) {
    t->faceMask = mask;
    for (bool surfaceOnly : {false, true}) {
      const std::vector<Triangle> tris = feedback([&] { t->draw(surfaceOnly); });
      std::vector<int> faces;
      for (int f : order)
        if (!surfaceOnly || (mask & (1 << f))) faces.push_back(f);
      ASSERT_EQ(tris.size(), faces.size()) << int(mask) << " " << surfaceOnly;
      for (size_t i = 0; i < faces.size(); ++i) {
        const float* p[3];
        for (int k = 0; k < 3; ++k) p[k] = t->faceVertex(faces[i], k)->currentPosition;
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(tris[i].p[k][0], windowX(p[k][0]), 1e-3);
          EXPECT_NEAR(tris[i].p[k][1], windowY(p[k][1]), 1e-3);
          EXPECT_NEAR(tris[i].red[k], expectedLight(p[0], p[1], p[2], inner), 2e-3)
              << "face " << faces[i];
        }
      }
    }
  }
}

TEST(TetrahedronDraw, TriangleNormalFollowsItsWinding) {
  const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
  // Counter-clockwise seen from +z: normal +z, fully lit; the reverse faces
  // away from the light.
  std::vector<Triangle> tris = feedback([&] {
    Tetrahedron::drawTriangle(a, b, c);
    Tetrahedron::drawTriangle(a, c, b);
  });
  ASSERT_EQ(tris.size(), 2u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(tris[0].red[k], 1.0, 2e-3);
    EXPECT_NEAR(tris[1].red[k], 0.0, 2e-3);
  }
  EXPECT_NEAR(tris[0].p[1][0], windowX(1.0f), 1e-3);
  EXPECT_NEAR(tris[1].p[1][1], windowY(1.0f), 1e-3);
}
