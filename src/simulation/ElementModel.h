#pragma once
// Strain model of a model, as model loads store it; it names the matrix
// cache. Only Cauchy gets a simulation object.

enum class ElementModel : int {
  Cauchy = 0,     // linear, Cauchy strain
  Rotated = 1,    // corotated
  Green = 2,      // nonlinear, Green strain
  Partition = 3,  // partition model
  CutCauchy = 4,  // Cauchy strain on a cut mesh
  Explicit = 5,
};
