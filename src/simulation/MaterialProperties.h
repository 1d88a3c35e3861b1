#pragma once
// Material of one model: six doubles in this order. Filled by the
// configuration parser and owned by the model's settings; the assembly reads
// only lambda and mu. Nothing here is validated.

struct MaterialProperties {
  double lambda = 0.0;    // first Lame parameter
  double mu = 0.0;        // second Lame parameter (shear modulus)
  double density = 0.0;   // mass density
  double damping = 0.0;   // damping coefficient
  double friction = 0.0;  // friction coefficient
  double timeStep = 0.0;  // seconds
};
