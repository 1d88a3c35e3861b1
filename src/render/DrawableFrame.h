#pragma once
// The drawable's per-frame work as plain functions over its arrays:
// displaced positions, colouring by a magnitude and the collision offsets.
// Run on the main thread while the worker waits; no allocation, no GL.
//
// Render index r shows vertex v = vertexOfRenderIndex[r]. A free vertex v
// owns the entries components * (v - firstFreeNode) + k, k < components, of
// the displacement, right-hand side and residual; a fixed vertex (v below
// firstFreeNode) owns none.

#include <cstdint>

// One simulation vector as the drawable reads it: not owned.
struct StateArray {
  const double* data = nullptr;
  int length = 0;
};

// Which vertices and how their unknowns are laid out.
struct DofLayout {
  const int* vertexOfRenderIndex = nullptr;
  int count = 0;          // render indices
  int firstFreeNode = 0;  // fixed vertex count
  int components = 3;     // 2 or 3
};

// positions[r] = rest[r] + u of its vertex, summed in double; fixed
// vertices and vertices whose unknowns lie beyond u.length keep their entry.
// With 2 components z stays at its rest value.
void displacePositions(const DofLayout& layout, StateArray u, const float* rest, float* positions);

// Colours between base (magnitude 0) and accent (magnitude baseForce), not
// clamped: a magnitude above baseForce leaves the blend.
struct ColourBlend {
  const float* base = nullptr;    // 3 floats
  const float* accent = nullptr;  // 3 floats
  float baseForce = 1000.0f;
};

// Colouring by the per-vertex vector norm m = |(x0, x1[, x2])| / baseForce
// (double): colour = base (1 - m) + accent m, scalar = m. Fixed vertices and
// vertices beyond the vector get the base colour and keep their scalar.
void colourByVectorNorm(const DofLayout& layout, StateArray values, const ColourBlend& blend,
                        float* colours, float* scalars);

// Colouring by the von Mises stress of each vertex (fixed ones included):
// S = 6 values a vertex with 3 components (xx, yy, zz, then three shears),
// 3 with 2 (xx, yy, shear), starting at S v. m = sqrt(1.5 q) / baseForce
// with q the squared deviatoric norm (the normal components' deviations
// from a third of their sum, plus twice each shear squared). Vertices whose
// values lie beyond the vector get the base colour and keep their scalar.
void colourByStress(const DofLayout& layout, StateArray stress, const ColourBlend& blend,
                    float* colours, float* scalars);

// The colour switches of one frame and the vectors they read.
struct ColourSources {
  bool residualOn = false;
  bool stressOn = false;
  bool rightSideOn = false;
  StateArray residual, stress, rightSide;
};

// The colour passes in order residual, stress, right-hand side, a later one
// overwriting an earlier one: with all on the right-hand side shows.
void colourVertices(const DofLayout& layout, const ColourSources& sources, const ColourBlend& blend,
                    float* colours, float* scalars);

// Adds offsets[3 v .. 3 v + 2] of vertex v to positions[r] for every render
// index, when any offset component is non-zero. Returns whether it did.
// offsets holds 3 floats per vertex index.
bool addOffsets(const DofLayout& layout, const float* offsets, float* positions);
