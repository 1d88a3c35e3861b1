#pragma once
// Exact calculus on polynomials in x, y, z for the element integrals:
// single terms, partial derivatives, a 3 x 3 determinant and integration
// over a tetrahedron by nested antiderivatives with polynomial limits.

#include "Polynom.h"

struct IntegrationDomain;

// Adds c to the term `key`; a zero c changes nothing, a sum of zero removes
// the term.
void addTerm(Polynom<double>& p, int key, const double& c);

// The coefficient of `key`, inserting a zero term when it is absent: store a
// non-zero value through it or discard p afterwards.
double& coefficient(Polynom<double>& p, const int& key);

// Partial derivative along variable 0 (x), 1 (y) or 2 (z).
Polynom<double> derivative(const Polynom<double>& p, int variable);
Polynom<double> derivativeX(const Polynom<double>& p);
Polynom<double> derivativeY(const Polynom<double>& p);
Polynom<double> derivativeZ(const Polynom<double>& p);

// Determinant of the row-major 3 x 3 matrix (rule of Sarrus).
Polynom<double> determinant3x3(const Polynom<double>& a11, const Polynom<double>& a12,
                               const Polynom<double>& a13, const Polynom<double>& a21,
                               const Polynom<double>& a22, const Polynom<double>& a23,
                               const Polynom<double>& a31, const Polynom<double>& a32,
                               const Polynom<double>& a33);

// p becomes its antiderivative along y (resp. z), taken at y = upper (z =
// upper); the antiderivative vanishes at 0.
void integrateY(Polynom<double>& p, const Polynom<double>& upper);
void integrateZ(Polynom<double>& p, const Polynom<double>& upper);

// p becomes the constant integral of p over the element that d describes:
// the physical coordinates are d.limit[0..2] of the reference coordinates,
// scaled by d.det. The zero integral is the empty polynomial.
void integrateTetrahedron(Polynom<double>& p, const IntegrationDomain& d);
