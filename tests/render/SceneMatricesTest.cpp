// Scene matrices against closed forms and geometric laws: the perspective
// frustum, tiles that partition it, stereo eyes that agree on the focal
// plane, the look-at rotation built independently, and light matrices that
// enclose their box.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SceneMatrices.h"
#include "ShadowMap.h"

namespace {

const double kPi = 3.14159265358979323846;

// Clip coordinates divided by w.
std::vector<double> ndc(const float* m, const float* p) {
  double c[4];
  mat4::transformPoint(m, p, c);
  return {c[0] / c[3], c[1] / c[3], c[2] / c[3]};
}

void expectMatrixNear(const float* got, const double* want, double tol) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(got[i], want[i], tol) << "entry " << i;
}

TEST(SceneMatrices, OneTileWithoutSeparationIsTheSymmetricPerspective) {
  const float rows[][4] = {{45, 4.0f / 3, 0.2f, 100}, {60, 1, 1, 10}, {30, 0.5f, 0.01f, 5}};
  for (const auto& r : rows) {
    const double f = 1.0 / std::tan(r[0] * kPi / 360.0), n = r[2], fa = r[3];
    double want[16] = {};
    want[0] = f / r[1];
    want[5] = f;
    want[10] = (fa + n) / (n - fa);
    want[11] = -1;
    want[14] = 2 * fa * n / (n - fa);
    StereoParams p;
    float out[16];
    const float eye[3] = {1, 2, 3}, centre[3] = {1, 2, 2};
    buildStereoFrustum(out, &p, r[0], r[1], r[2], r[3], 1.0f, eye, centre);
    expectMatrixNear(out, want, 2e-5 * std::fabs(want[14]));
    mat4::perspective(r[0], r[1], r[2], r[3], out);
    expectMatrixNear(out, want, 2e-5 * std::fabs(want[14]));
    // The view looks down -z from the eye: a pure translation here.
    EXPECT_FLOAT_EQ(p.view[12], -1);
    EXPECT_FLOAT_EQ(p.view[13], -2);
    EXPECT_FLOAT_EQ(p.view[14], -3);
  }
}

TEST(SceneMatrices, TilesPartitionTheWholeFrustum) {
  const int columns = 3, rows = 2;
  const float fov = 50, aspect = 1.25f, n = 0.5f, f = 20;  // aspect of one tile
  const float eye[3] = {0, 0, 0}, centre[3] = {0, 0, -1};
  StereoParams whole;
  float all[16], tiles[6][16];
  buildStereoFrustum(all, &whole, fov, aspect * columns / rows, n, f, 1, eye, centre);
  for (int t = 0; t < columns * rows; ++t) {
    StereoParams p;
    p.columns = columns;
    p.rows = rows;
    p.tile = t;
    buildStereoFrustum(tiles[t], &p, fov, aspect, n, f, 1, eye, centre);
  }
  // A point at (x, y) on the whole screen lies in exactly the tile that
  // place names (tile 0 bottom left), at the same depth.
  for (int i = 0; i < 23; ++i)
    for (int j = 0; j < 17; ++j) {
      const double x = -0.98 + 1.96 * i / 22.0, y = -0.98 + 1.96 * j / 16.0;
      const double z = -(n + (f - n) * ((i * 7 + j) % 11) / 11.0);
      const float p[3] = {float(-x * z / all[0]), float(-y * z / all[5]), float(z)};
      const std::vector<double> w = ndc(all, p);
      ASSERT_NEAR(w[0], x, 1e-5);
      const int column = std::min(int((x + 1) / 2 * columns), columns - 1);
      const int row = std::min(int((y + 1) / 2 * rows), rows - 1);
      for (int t = 0; t < columns * rows; ++t) {
        const std::vector<double> c = ndc(tiles[t], p);
        const double out = std::max(std::fabs(c[0]), std::fabs(c[1]));
        if (t == row * columns + column) {
          EXPECT_LE(out, 1 + 1e-5) << i << " " << j << " tile " << t;
          EXPECT_NEAR(c[2], w[2], 1e-5);
        } else {
          EXPECT_GT(out, 1 - 1e-5) << i << " " << j << " tile " << t;
        }
      }
    }
}

TEST(SceneMatrices, StereoEyesSitHalfTheSeparationApartAndAgreeOnTheFocalPlane) {
  const float eye[3] = {0, 0, 0}, centre[3] = {0, 0, -1};
  const float rows[][2] = {{0.04f, 1.0f}, {0.1f, 3.0f}};  // separation, focal distance
  for (const auto& r : rows) {
    float proj[2][16];
    StereoParams p[2];
    for (int e = 0; e < 2; ++e) {
      p[e].tile = e;
      p[e].separation = r[0];
      buildStereoFrustum(proj[e], &p[e], 45, 1.5f, 0.2f, 100, r[1], eye, centre);
      // The view moves the world opposite to the eye: left eye at -s/2.
      EXPECT_NEAR(p[e].view[12], e == 0 ? r[0] / 2 : -r[0] / 2, 1e-7);
    }
    const float depths[3] = {r[1], 0.5f * r[1], 4.0f * r[1]};
    for (float d : depths) {
      const float point[3] = {0.3f, -0.2f, -d};
      double x[2];
      for (int e = 0; e < 2; ++e) {
        float m[16];
        mat4::multiply(proj[e], p[e].view, m);
        x[e] = ndc(m, point)[0];
      }
      if (d == r[1])
        EXPECT_NEAR(x[0], x[1], 1e-6) << "focal plane";
      else
        EXPECT_GT(std::fabs(x[0] - x[1]), 1e-4) << "parallax at " << d;
    }
  }
}

TEST(SceneMatrices, LookAtEqualsTheOrthonormalFrameOfGLU) {
  const float rows[][9] = {
      {0, 0, 5, 0, 0, 0, 0, 1, 0},     {1, 2, 3, -4, 0.5f, 2, 0, 0, 1},
      {0, 5, 1, 0, 0, 0, 0, 0, 1},     {-3, -1, 7, 2, 2, 2, 0.3f, 1, -0.2f},
      {10, 0, 0, 0, 0, 0, 0, 2.5f, 0},
  };
  for (const auto& r : rows) {
    const float *eye = r, *centre = r + 3, *up = r + 6;
    // Gram-Schmidt: forward, up made orthogonal to it, side = forward x up.
    double f[3], u[3], s[3];
    double fl = 0, ul = 0, uf = 0;
    for (int i = 0; i < 3; ++i) f[i] = centre[i] - eye[i], fl += f[i] * f[i];
    for (int i = 0; i < 3; ++i) f[i] /= std::sqrt(fl), uf += up[i] * f[i];
    for (int i = 0; i < 3; ++i) u[i] = up[i] - uf * f[i], ul += u[i] * u[i];
    for (int i = 0; i < 3; ++i) u[i] /= std::sqrt(ul);
    s[0] = f[1] * u[2] - f[2] * u[1];
    s[1] = f[2] * u[0] - f[0] * u[2];
    s[2] = f[0] * u[1] - f[1] * u[0];
    const double* rowsR[3] = {s, u, f};
    const double sign[3] = {1, 1, -1};
    double want[16] = {};
    want[15] = 1;
    for (int row = 0; row < 3; ++row) {
      for (int c = 0; c < 3; ++c) {
        want[4 * c + row] = sign[row] * rowsR[row][c];
        want[12 + row] -= sign[row] * rowsR[row][c] * eye[c];
      }
    }
    float out[16];
    buildLookAtMatrix(out, eye, centre, up);
    expectMatrixNear(out, want, 2e-6);
  }
}

TEST(SceneMatrices, LightMatricesEncloseTheBoxTightly) {
  float view[16];
  {
    // A rotated, shifted view as the scene builds it.
    const float eye[3] = {2, 3, 4}, centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    buildLookAtMatrix(view, eye, centre, up);
    view[12] = 0.3f;
    view[13] = -0.2f;
    view[14] = -5.0f;
  }
  struct Row {
    float light[3], lo[3], hi[3];
    bool withView;
  } rows[] = {
      {{0, 5, 1}, {-1, -1, -1}, {1, 1, 1}, false},
      {{0, 5, 1}, {-1, -1, -1}, {1, 1, 1}, true},
      {{3, 4, -2}, {-0.2f, 0, 2}, {0.5f, 3, 2.1f}, false},
      {{-2, 1, 6}, {-0.2f, 0, 2}, {0.5f, 3, 2.1f}, true},
      {{0, 0, 9}, {-1, -2, -3}, {1, 2, 3}, false},  // light on the z axis
  };
  for (const Row& r : rows) {
    ShadowMap sm;
    computeLightMatrices(&sm, r.light, r.lo, r.hi, r.withView ? view : nullptr);
    double lo[3] = {9, 9, 9}, hi[3] = {-9, -9, -9};
    for (int k = 0; k < 8; ++k) {
      const float c[3] = {(k & 1) ? r.hi[0] : r.lo[0], (k & 2) ? r.hi[1] : r.lo[1],
                          (k & 4) ? r.hi[2] : r.lo[2]};
      const std::vector<double> p = ndc(sm.lightMatrix, c), t = ndc(sm.shadowTextureMatrix, c);
      for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(std::isfinite(p[i]));
        EXPECT_NEAR(t[i], 0.5 * p[i] + 0.5, 1e-6);
        EXPECT_GE(t[i], 0.0);
        EXPECT_LE(t[i], 1.0);
        lo[i] = std::min(lo[i], p[i]);
        hi[i] = std::max(hi[i], p[i]);
      }
    }
    // Tight: only the margin of two texels is left on each side.
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(lo[i], -1 + 4.0 / sm.size, 1e-4) << "axis " << i;
      EXPECT_NEAR(hi[i], 1 - 4.0 / sm.size, 1e-4) << "axis " << i;
    }
    // Depth grows away from the light: an occluder nearer the light than a
    // receiver on the same ray has the smaller depth. The light is
    // directional, looking from its position at the object origin.
    float mid[3], nearer[3];
    for (int i = 0; i < 3; ++i) mid[i] = 0.5f * (r.lo[i] + r.hi[i]);
    float lightObject[3] = {r.light[0], r.light[1], r.light[2]};
    if (r.withView) {
      // The light is given in eye coordinates: into object coordinates by
      // the inverse of the rigid view.
      for (int i = 0; i < 3; ++i) {
        double s = 0;
        for (int k = 0; k < 3; ++k) s += view[4 * i + k] * (r.light[k] - view[12 + k]);
        lightObject[i] = float(s);
      }
    }
    for (int i = 0; i < 3; ++i) nearer[i] = mid[i] + 0.05f * lightObject[i];
    const std::vector<double> a = ndc(sm.lightMatrix, mid), b = ndc(sm.lightMatrix, nearer);
    EXPECT_LT(b[2], a[2]);
    EXPECT_NEAR(b[0], a[0], 1e-4);  // same ray
    EXPECT_NEAR(b[1], a[1], 1e-4);
  }
}

TEST(SceneMatrices, SceneProjectionByProjectionMode) {
  float out[16], want[16];
  sceneProjection(0, true, -5, 1024, 768, out);
  mat4::perspective(45, 1024.0 / 768, 0.2, 100, want);
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(out[i], want[i]);

  // Orthographic: a box |zoom| high and aspect |zoom| wide around the axis.
  sceneProjection(0, false, -4, 800, 400, out);
  const float corner[3] = {4, 2, 50};
  const std::vector<double> c = ndc(out, corner);
  EXPECT_NEAR(c[0], 1, 1e-6);
  EXPECT_NEAR(c[1], 1, 1e-6);
  EXPECT_NEAR(c[2], -0.5, 1e-6);

  sceneProjection(0, true, -5, 640, 0, out);  // a minimised window
  for (float v : out) EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
