#pragma once
// Volume weighting of symbolic element integrands; the Tetrahedron's
// element-matrix operations live in TetrahedronMatrices.cpp.

#include "Polynom.h"

struct IntegrationDomain;

// Multiplies every coefficient of *p, in place, by (1/6) * dom->det: for the
// linear tetrahedron's constant integrands this is the integral over the
// element.
void scalePolynomByVolume(Polynom<double>* p, IntegrationDomain* dom);

// The same with an untyped domain, for Matrix::forEachValue.
void scalePolynomByVolumeFn(Polynom<double>* p, void* dom);
