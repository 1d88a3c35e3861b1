#include "DrawableFrame.h"

#include <cmath>

namespace {

// First unknown of the vertex at render index r, or -1 when it owns none
// inside a vector of the given length.
template <int C>
inline int dofOf(const DofLayout& l, int r, int length) {
  const int dof = C * (l.vertexOfRenderIndex[r] - l.firstFreeNode);
  return (dof < 0 || dof + C > length) ? -1 : dof;
}

// The end colours in locals, so that stores into the colour array do not
// make the compiler read them again.
struct Blend {
  float base[3], span[3];
  explicit Blend(const ColourBlend& b)
      : base{b.base[0], b.base[1], b.base[2]},
        span{b.accent[0] - b.base[0], b.accent[1] - b.base[1], b.accent[2] - b.base[2]} {}
  // base (1 - m) + accent m.
  void mix(float m, float* c) const {
    for (int k = 0; k < 3; ++k) c[k] = base[k] + span[k] * m;
  }
  void plain(float* c) const {
    for (int k = 0; k < 3; ++k) c[k] = base[k];
  }
};

template <int C>
void displace(const DofLayout& layout, StateArray u, const float* rest, float* positions) {
  for (int r = 0; r < layout.count; ++r) {
    const int dof = dofOf<C>(layout, r, u.length);
    if (dof < 0) continue;
    const double* d = u.data + dof;
    const float* p0 = rest + 3 * r;
    float* p = positions + 3 * r;
    for (int k = 0; k < C; ++k) p[k] = static_cast<float>(double(p0[k]) + d[k]);
    if (C == 2) p[2] = p0[2];
  }
}

template <int C>
void vectorNorm(const DofLayout& layout, StateArray values, const ColourBlend& colours, float* out,
                float* scalars) {
  const Blend blend(colours);
  const double inverse = 1.0 / double(colours.baseForce);
  for (int r = 0; r < layout.count; ++r) {
    const int dof = dofOf<C>(layout, r, values.length);
    if (dof < 0) {
      blend.plain(out + 3 * r);
      continue;
    }
    const double* x = values.data + dof;
    double sum = 0.0;
    for (int k = 0; k < C; ++k) sum += x[k] * x[k];
    const float m = static_cast<float>(std::sqrt(sum) * inverse);
    blend.mix(m, out + 3 * r);
    scalars[r] = m;
  }
}

// Von Mises from the C normal components and the S - C shears that follow
// them.
template <int C, int S>
void vonMises(const DofLayout& layout, StateArray stress, const ColourBlend& colours, float* out,
              float* scalars) {
  const Blend blend(colours);
  for (int r = 0; r < layout.count; ++r) {
    const int first = S * layout.vertexOfRenderIndex[r];
    if (first + S > stress.length) {
      blend.plain(out + 3 * r);
      continue;
    }
    const double* s = stress.data + first;
    // A third of the normal components' sum, also with two of them.
    double mean = 0.0;
    for (int k = 0; k < C; ++k) mean += s[k];
    mean /= 3.0;
    double q = 0.0;
    for (int k = 0; k < C; ++k) q += (s[k] - mean) * (s[k] - mean);
    for (int k = C; k < S; ++k) q += 2.0 * s[k] * s[k];
    const float m = static_cast<float>(std::sqrt(1.5 * q)) / colours.baseForce;
    blend.mix(m, out + 3 * r);
    scalars[r] = m;
  }
}

}  // namespace

void displacePositions(const DofLayout& layout, StateArray u, const float* rest, float* positions) {
  if (layout.components == 3)
    displace<3>(layout, u, rest, positions);
  else
    displace<2>(layout, u, rest, positions);
}

void colourByVectorNorm(const DofLayout& layout, StateArray values, const ColourBlend& blend,
                        float* colours, float* scalars) {
  if (layout.components == 3)
    vectorNorm<3>(layout, values, blend, colours, scalars);
  else
    vectorNorm<2>(layout, values, blend, colours, scalars);
}

void colourByStress(const DofLayout& layout, StateArray stress, const ColourBlend& blend,
                    float* colours, float* scalars) {
  if (layout.components == 3)
    vonMises<3, 6>(layout, stress, blend, colours, scalars);
  else
    vonMises<2, 3>(layout, stress, blend, colours, scalars);
}

void colourVertices(const DofLayout& layout, const ColourSources& sources, const ColourBlend& blend,
                    float* colours, float* scalars) {
  if (sources.residualOn) colourByVectorNorm(layout, sources.residual, blend, colours, scalars);
  if (sources.stressOn) colourByStress(layout, sources.stress, blend, colours, scalars);
  if (sources.rightSideOn) colourByVectorNorm(layout, sources.rightSide, blend, colours, scalars);
}

bool addOffsets(const DofLayout& layout, const float* offsets, float* positions) {
  // Any non-zero component counts, also one whose square underflows.
  int k = 0;
  const int n = 3 * layout.count;
  while (k < n && !(offsets[k] < 0.0f || offsets[k] > 0.0f)) ++k;
  if (k == n) return false;
  for (int r = 0; r < layout.count; ++r) {
    const float* o = offsets + 3 * layout.vertexOfRenderIndex[r];
    float* p = positions + 3 * r;
    p[0] += o[0];
    p[1] += o[1];
    p[2] += o[2];
  }
  return true;
}
