#pragma once
// Rotating the view about the screen axes, as plain matrix arithmetic.

// R (column-major 4 x 4) = R Rot(angleX, (R[0], R[4], R[8])) Rot(angleY,
// (R[1], R[5], R[9])), angles in degrees, both axes read from R before the
// rotation: for a rotation R this turns the view by angleX about the screen
// x axis and by angleY about the screen y axis.
void rotateViewMatrix(float* R, float angleX, float angleY);

// rotateViewMatrix on the GUI view rotation.
void rotateView(float angleX, float angleY);
