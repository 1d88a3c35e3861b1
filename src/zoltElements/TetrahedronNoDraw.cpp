// Drawing for programs without GL (tests, benchmarks, headless tools): the
// element draws nothing.

#include "Tetrahedron.h"

void Tetrahedron::draw(bool) const {}

void Tetrahedron::drawTriangle(const float*, const float*, const float*) {}
