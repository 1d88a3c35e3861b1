#pragma once
// Affine map of the reference tetrahedron onto one element. The user owns
// it and reuses it from element to element: `map` is filled once, `det` and
// `limit` are overwritten for every element.

#include "FullMatrix.h"
#include "Polynom.h"

struct IntegrationDomain {
  // Inverse of the reference vertex matrix; 0 x 0 until first filled.
  FullMatrix<double> map{0, 0};
  // |Jacobian determinant| of the map, six times the element volume.
  double det = 0.0;
  // Physical coordinate d as an affine polynomial of the reference
  // coordinates (r, s, t), which are the polynomial's x, y and z.
  Polynom<double> limit[3];
};
