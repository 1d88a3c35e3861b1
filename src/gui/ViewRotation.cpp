#include "ViewRotation.h"

#include <cmath>

#include "GuiSettings.h"

namespace {

// M = M Rot(degrees, axis), the rotation of the fixed-function pipeline.
void multiplyRotation(double* M, double degrees, const double* axis) {
  const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  if (!(length > 0.0)) return;
  const double x = axis[0] / length, y = axis[1] / length, z = axis[2] / length;
  const double a = degrees * 3.14159265358979323846 / 180.0;
  const double c = std::cos(a), s = std::sin(a), t = 1.0 - c;
  const double rot[3][3] = {{x * x * t + c, x * y * t - z * s, x * z * t + y * s},
                            {y * x * t + z * s, y * y * t + c, y * z * t - x * s},
                            {x * z * t - y * s, y * z * t + x * s, z * z * t + c}};
  // Columns 0-2 of M change; column j of M Rot mixes columns k of M.
  double out[12];
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 4; ++i) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += M[4 * k + i] * rot[k][j];
      out[4 * j + i] = sum;
    }
  for (int e = 0; e < 12; ++e) M[e] = out[e];
}

}  // namespace

void rotateViewMatrix(float* R, float angleX, float angleY) {
  const double screenX[3] = {R[0], R[4], R[8]};
  const double screenY[3] = {R[1], R[5], R[9]};
  double M[16];
  for (int e = 0; e < 16; ++e) M[e] = R[e];
  multiplyRotation(M, angleX, screenX);
  multiplyRotation(M, angleY, screenY);
  for (int e = 0; e < 16; ++e) R[e] = static_cast<float>(M[e]);
}

void rotateView(float angleX, float angleY) {
  rotateViewMatrix(guiSettings.viewRotation, angleX, angleY);
}
