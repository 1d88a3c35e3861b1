#include "SceneMatrices.h"

#include <algorithm>
#include <cmath>

#include "ShadowMap.h"
#include "Vec3.h"

namespace {

const double kPi = 3.14159265358979323846;

void scale(double* v, double s) {
  for (int i = 0; i < 3; ++i) v[i] *= s;
}

}  // namespace

namespace mat4 {

void identity(float* out) {
  for (int i = 0; i < 16; ++i) out[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void multiply(const float* a, const float* b, float* out) {
  double r[16];
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += double(a[4 * k + row]) * b[4 * c + k];
      r[4 * c + row] = s;
    }
  for (int i = 0; i < 16; ++i) out[i] = static_cast<float>(r[i]);
}

void ortho(double l, double r, double b, double t, double n, double f, float* out) {
  identity(out);
  out[0] = static_cast<float>(2.0 / (r - l));
  out[5] = static_cast<float>(2.0 / (t - b));
  out[10] = static_cast<float>(-2.0 / (f - n));
  out[12] = static_cast<float>(-(r + l) / (r - l));
  out[13] = static_cast<float>(-(t + b) / (t - b));
  out[14] = static_cast<float>(-(f + n) / (f - n));
}

void frustum(double l, double r, double b, double t, double n, double f, float* out) {
  for (int i = 0; i < 16; ++i) out[i] = 0.0f;
  out[0] = static_cast<float>(2.0 * n / (r - l));
  out[5] = static_cast<float>(2.0 * n / (t - b));
  out[8] = static_cast<float>((r + l) / (r - l));
  out[9] = static_cast<float>((t + b) / (t - b));
  out[10] = static_cast<float>((n + f) / (n - f));
  out[11] = -1.0f;
  out[14] = static_cast<float>(-2.0 * n * f / (f - n));
}

void perspective(double fovy, double aspect, double n, double f, float* out) {
  const double top = std::tan(fovy * kPi / 360.0) * n;
  frustum(-aspect * top, aspect * top, -top, top, n, f, out);
}

void transformPoint(const float* m, const float* p, double* out) {
  for (int row = 0; row < 4; ++row)
    out[row] =
        double(m[row]) * p[0] + double(m[4 + row]) * p[1] + double(m[8 + row]) * p[2] + m[12 + row];
}

}  // namespace mat4

void buildLookAtMatrix(float* out, const float* eye, const float* centre, const float* up) {
  double f[3] = {double(centre[0]) - eye[0], double(centre[1]) - eye[1],
                 double(centre[2]) - eye[2]};
  const double u0[3] = {up[0], up[1], up[2]};
  scale(f, 1.0 / length3(f));
  double s[3], u[3];
  cross3(f, u0, s);
  scale(s, 1.0 / length3(s));
  cross3(s, f, u);
  const double rows[3][3] = {{s[0], s[1], s[2]}, {u[0], u[1], u[2]}, {-f[0], -f[1], -f[2]}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out[4 * c + r] = static_cast<float>(rows[r][c]);
    out[12 + r] =
        static_cast<float>(-(rows[r][0] * eye[0] + rows[r][1] * eye[1] + rows[r][2] * eye[2]));
    out[4 * r + 3] = 0.0f;
  }
  out[15] = 1.0f;
}

void buildStereoFrustum(float* out, StereoParams* params, float fov, float aspect, float near,
                        float far, float focal, const float* eye, const float* centre) {
  const double top = std::tan(fov * kPi / 360.0) * near;
  const double right = aspect * (double(params->columns) / params->rows) * top;
  const float up[3] = {0.0f, 1.0f, 0.0f};
  if (params->separation == 0.0f) {
    const int column = params->tile % params->columns, row = params->tile / params->columns;
    const double w = 2.0 * right / params->columns, h = 2.0 * top / params->rows;
    mat4::frustum(-right + column * w, -right + (column + 1) * w, -top + row * h,
                  -top + (row + 1) * h, near, far, out);
    buildLookAtMatrix(params->view, eye, centre, up);
    return;
  }
  const double e = (2.0 * params->tile - 1.0) / 2.0 * params->separation;
  const double shift = -e * near / focal;
  mat4::frustum(-right + shift, right + shift, -top, top, near, far, out);
  const float movedEye[3] = {static_cast<float>(eye[0] + e), eye[1], eye[2]};
  const float movedCentre[3] = {static_cast<float>(centre[0] + e), centre[1], centre[2]};
  buildLookAtMatrix(params->view, movedEye, movedCentre, up);
}

void computeLightMatrices(ShadowMap* sm, const float* light, const float* boxMin,
                          const float* boxMax, const float* view) {
  float centre[3] = {0.0f, 0.0f, 0.0f};
  if (view) {
    centre[0] = view[12];
    centre[1] = view[13];
    centre[2] = view[14];
  }
  // Up z, unless the light looks along z (the look-at would degenerate).
  const double d[3] = {double(centre[0]) - light[0], double(centre[1]) - light[1],
                       double(centre[2]) - light[2]};
  const bool alongZ = std::hypot(d[0], d[1]) <= 1e-6 * length3(d);
  const float up[3] = {0.0f, alongZ ? 1.0f : 0.0f, alongZ ? 0.0f : 1.0f};
  float lightView[16];
  buildLookAtMatrix(lightView, light, centre, up);
  if (view) mat4::multiply(lightView, view, lightView);

  // The box in light coordinates (the first projection is the identity).
  double lo[3] = {1e8, 1e8, 1e8}, hi[3] = {-1e8, -1e8, -1e8};
  for (int k = 0; k < 8; ++k) {
    const float corner[3] = {(k & 1) ? boxMax[0] : boxMin[0], (k & 2) ? boxMax[1] : boxMin[1],
                             (k & 4) ? boxMax[2] : boxMin[2]};
    double p[4];
    mat4::transformPoint(lightView, corner, p);
    for (int i = 0; i < 3; ++i) {
      lo[i] = std::min(lo[i], p[i]);
      hi[i] = std::max(hi[i], p[i]);
    }
  }
  double margin[3];
  for (int i = 0; i < 3; ++i) margin[i] = 2.0 * (hi[i] - lo[i]) / sm->size;
  float projection[16];
  mat4::ortho(lo[0] - margin[0], hi[0] + margin[0], lo[1] - margin[1], hi[1] + margin[1],
              -hi[2] - margin[2], margin[2] - lo[2], projection);
  mat4::multiply(projection, lightView, sm->lightMatrix);

  float bias[16];
  mat4::identity(bias);
  bias[0] = bias[5] = bias[10] = 0.5f;
  bias[12] = bias[13] = bias[14] = 0.5f;
  mat4::multiply(bias, sm->lightMatrix, sm->shadowTextureMatrix);
}

void sceneProjection(int side, bool perspective, float zoom, int width, int height, float* out) {
  const double aspect = double(width) / std::max(height, 1);
  if (side == 0 && perspective) {
    mat4::perspective(45.0, aspect, 0.2, 100.0, out);
  } else if (side == 0) {
    mat4::ortho(aspect * zoom / 2, -aspect * zoom / 2, zoom / 2.0, -zoom / 2.0, -100.0, 100.0, out);
  } else {
    StereoParams params;
    params.tile = side < 0 ? 0 : 1;
    params.separation = 0.04f;
    const float eye[3] = {0.0f, 0.0f, 0.0f}, centre[3] = {0.0f, 0.0f, -1.0f};
    buildStereoFrustum(out, &params, 45.0f, static_cast<float>(aspect), 0.2f, 100.0f, 1.0f, eye,
                       centre);
  }
}
