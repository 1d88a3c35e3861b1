#pragma once
// Integer codes that model loads, caches and tools store: the strain model
// of a model (it names the matrix cache) and the time-integration scheme.

// Strain model; only Cauchy gets a simulation object.
enum class ElementModel : int {
  Cauchy = 0,     // linear, Cauchy strain
  Rotated = 1,    // corotated
  Green = 2,      // nonlinear, Green strain
  Partition = 3,  // partition model
  CutCauchy = 4,  // Cauchy strain on a cut mesh
  Explicit = 5,
};

// Time-integration scheme, index as stored and passed to a model load.
enum class IntegrationScheme : int {
  Euler = 0,
  EulerLumped = 1,
  Newmark = 2,
  NewmarkLumped = 3,
  Static = 4,
  Explicit = 5,
};
