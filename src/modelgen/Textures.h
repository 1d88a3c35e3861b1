#pragma once
// Procedural textures of the sample models, the same on every run.

#include "ImageWriters.h"

namespace zolt::modelgen {

// Smooth value noise in [0, 1), periodic with `period` cells on both axes.
double valueNoise(double x, double y, int period, unsigned seed);

// Box of the creature's side view that a fur texture covers: texture
// coordinate (u, v) stands for the point (x0 + u (x1 - x0), y0 + v (y1 - y0)).
struct SideView {
  double x0, x1, y0, y1;
};

// RGBA fur colours of the creature seen from the side: mottled grey-brown,
// a cream chest and tail, darker ear tips. Fur grows everywhere but on the
// eyes and the nose, where alpha is 0; elsewhere alpha is 255.
Image furTexture(int size, const SideView& view);

// RGB mottled warm grey, for the simulation mesh of any model.
Image meshTexture(int size);

}  // namespace zolt::modelgen
