#include "DrawableArrays.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <set>

#include "FiniteElement.h"
#include "Vertex.h"
#include "ZoltAssert.h"

int buildRenderOrder(const std::vector<Vertex*>& vertices, bool allSurface,
                     int* renderIndexOfVertex, int* vertexOfRenderIndex) {
  const int n = static_cast<int>(vertices.size());
  constexpr int kUnseen = -3, kSurface = -1, kInner = -2;
  std::fill(renderIndexOfVertex, renderIndexOfVertex + n, kUnseen);
  for (const Vertex* v : vertices) {
    ZOLT_ASSERT(v->index >= 0 && v->index < n && renderIndexOfVertex[v->index] == kUnseen);
    renderIndexOfVertex[v->index] = (allSurface || v->onSurface) ? kSurface : kInner;
  }
  int next = 0, surfaceCount = 0;
  for (int mark : {kSurface, kInner}) {
    for (int i = 0; i < n; ++i) {
      if (renderIndexOfVertex[i] != mark) continue;
      renderIndexOfVertex[i] = next;
      vertexOfRenderIndex[next++] = i;
    }
    if (mark == kSurface) surfaceCount = next;
  }
  return surfaceCount;
}

void attachPositions(const std::vector<Vertex*>& vertices, const int* renderIndexOfVertex,
                     float* restPositions, float* positions) {
  for (const Vertex* v : vertices) {
    const int r = renderIndexOfVertex[v->index];
    for (int k = 0; k < 3; ++k)
      restPositions[3 * r + k] = positions[3 * r + k] = v->restPosition[k];
  }
  pointCurrentPositions(vertices, renderIndexOfVertex, positions);
}

void pointCurrentPositions(const std::vector<Vertex*>& vertices, const int* renderIndexOfVertex,
                           float* positions) {
  for (Vertex* v : vertices) v->currentPosition = positions + 3 * renderIndexOfVertex[v->index];
}

int collectTriangles(const std::vector<FiniteElement*>& elements, const int* renderIndexOfVertex,
                     std::vector<uint32_t>& triangles) {
  std::vector<Vertex*> corners;
  for (const FiniteElement* e : elements) e->collectBoundaryFaces(corners);
  const int boundaryCount = static_cast<int>(corners.size() / 3);
  for (const FiniteElement* e : elements) e->collectInnerFaces(corners);
  triangles.resize(corners.size());
  for (size_t k = 0; k < corners.size(); ++k)
    triangles[k] = static_cast<uint32_t>(renderIndexOfVertex[corners[k]->index]);
  return boundaryCount;
}

void computeNormals(const float* positions, const uint32_t* triangles, int boundaryTriangleCount,
                    int surfaceCount, float* normals) {
  std::fill(normals, normals + 3 * surfaceCount, 0.0f);
  for (int t = 0; t < boundaryTriangleCount; ++t) {
    const uint32_t* c = triangles + 3 * t;
    const float* p0 = positions + 3 * c[0];
    const float* p1 = positions + 3 * c[1];
    const float* p2 = positions + 3 * c[2];
    const float a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const float b[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    const float f[3] = {1024.0f * (a[1] * b[2] - a[2] * b[1]),
                        1024.0f * (a[2] * b[0] - a[0] * b[2]),
                        1024.0f * (a[0] * b[1] - a[1] * b[0])};
    for (int k = 0; k < 3; ++k) {
      float* nk = normals + 3 * c[k];
      nk[0] += f[0];
      nk[1] += f[1];
      nk[2] += f[2];
    }
  }
}

namespace {

constexpr float kInvPi = 0.31830987f;

float clampUnit(float x) { return std::min(1.0f, std::max(-1.0f, x)); }

void sphericalTexCoord(const float* p, float scale, float* t) {
  const float length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  // The origin keeps the zero direction; on the y axis sin v is 0 and any u
  // is as good as another: both take the ratio 0.
  const float x = length > 0.0f ? p[0] / length : 0.0f;
  const float y = length > 0.0f ? p[1] / length : 0.0f;
  const float v = std::acos(clampUnit(y));
  const float s = std::sin(v);
  const float u = std::acos(s > 0.0f ? clampUnit(x / s) : 0.0f);
  t[0] = u * kInvPi * scale;
  t[1] = v * kInvPi * scale;
}

void dominantAxisTexCoord(const float* p, const float* normal, float scale, float* t) {
  const float ax = std::fabs(normal[0]), ay = std::fabs(normal[1]), az = std::fabs(normal[2]);
  int axis = 2;
  if (ax >= ay && ax >= az)
    axis = 0;
  else if (ay >= az)
    axis = 1;
  const int first = axis == 0 ? 1 : 0;
  const int second = axis == 2 ? 1 : 2;
  const float sign = normal[axis] < 0.0f ? -1.0f : 1.0f;
  t[0] = sign * p[first] * scale;
  t[1] = sign * p[second] * scale;
}

}  // namespace

void computeTexCoords(int mode, float scale, const float* positions, const float* normals,
                      const float* restPositions, int n, float* texCoords) {
  switch (static_cast<TexCoordMode>(mode)) {
    case TexCoordMode::Spherical:
      for (int r = 0; r < n; ++r) sphericalTexCoord(positions + 3 * r, scale, texCoords + 2 * r);
      return;
    case TexCoordMode::DominantAxis:
      for (int r = 0; r < n; ++r)
        dominantAxisTexCoord(positions + 3 * r, normals + 3 * r, scale, texCoords + 2 * r);
      return;
    case TexCoordMode::Planar: {
      float lo[3], hi[3];
      pointBox(restPositions, n, lo, hi);
      // A body without extent along an axis maps it to 0 instead of 0 / 0.
      const float width = hi[0] - lo[0], height = hi[1] - lo[1];
      for (int r = 0; r < n; ++r) {
        const float* p = positions + 3 * r;
        texCoords[2 * r] = width > 0.0f ? (p[0] - lo[0]) / width : 0.0f;
        texCoords[2 * r + 1] = height > 0.0f ? (p[1] - lo[1]) / height : 0.0f;
      }
      return;
    }
  }
  std::fill(texCoords, texCoords + 2 * n, 0.0f);
}

namespace {

template <int K, class T>
void swapSlots(T* a, int i, int j) {
  for (int k = 0; k < K; ++k) std::swap(a[K * i + k], a[K * j + k]);
}

// A face with its smallest corner first, winding kept.
std::array<uint32_t, 3> canonicalFace(const uint32_t* c) {
  const int first = c[0] <= c[1] && c[0] <= c[2] ? 0 : (c[1] <= c[2] ? 1 : 2);
  return {c[first], c[(first + 1) % 3], c[(first + 2) % 3]};
}

}  // namespace

int moveIntoSurface(const RenderSlots& s, int n, int surfaceCount, const std::vector<int>& vertices,
                    std::vector<int>& newOfOld) {
  // oldAt[r]: the old render index whose slot now sits at r.
  std::vector<int> oldAt(n);
  std::iota(oldAt.begin(), oldAt.end(), 0);
  for (int v : vertices) {
    const int r = s.renderIndexOfVertex[v];
    if (r < surfaceCount) continue;
    const int t = surfaceCount++;
    if (r == t) continue;
    const int u = s.vertexOfRenderIndex[t];
    std::swap(s.vertexOfRenderIndex[r], s.vertexOfRenderIndex[t]);
    s.renderIndexOfVertex[v] = t;
    s.renderIndexOfVertex[u] = r;
    swapSlots<3>(s.positions, r, t);
    swapSlots<3>(s.restPositions, r, t);
    swapSlots<3>(s.normals, r, t);
    swapSlots<2>(s.texCoords, r, t);
    swapSlots<3>(s.colours, r, t);
    swapSlots<1>(s.scalars, r, t);
    std::swap(oldAt[r], oldAt[t]);
  }
  newOfOld.assign(n, 0);
  for (int r = 0; r < n; ++r) newOfOld[oldAt[r]] = r;
  return surfaceCount;
}

void reworkTriangles(std::vector<uint32_t>& triangles, int& boundaryCount,
                     const std::vector<int>& newOfOld, const std::vector<uint32_t>& faces,
                     int surfaceCount) {
  for (uint32_t& c : triangles) c = static_cast<uint32_t>(newOfOld[c]);
  std::set<std::array<uint32_t, 3>> revealed;
  for (size_t f = 0; f + 2 < faces.size(); f += 3) {
    const uint32_t* c = &faces[f];
    if (c[0] < uint32_t(surfaceCount) && c[1] < uint32_t(surfaceCount) &&
        c[2] < uint32_t(surfaceCount))
      revealed.insert(canonicalFace(c));
  }
  const int count = static_cast<int>(triangles.size() / 3);
  std::vector<uint32_t> front, back;
  for (int t = 0; t < count; ++t) {
    const uint32_t* c = &triangles[3 * t];
    auto& out = (t < boundaryCount || revealed.count(canonicalFace(c))) ? front : back;
    out.insert(out.end(), c, c + 3);
  }
  boundaryCount = static_cast<int>(front.size() / 3);
  front.insert(front.end(), back.begin(), back.end());
  triangles.swap(front);
}

void pointBox(const float* points, int n, float boxMin[3], float boxMax[3]) {
  for (int k = 0; k < 3; ++k) {
    boxMin[k] = 1e8f;
    boxMax[k] = -1e8f;
  }
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < 3; ++k) {
      boxMin[k] = std::min(boxMin[k], points[3 * r + k]);
      boxMax[k] = std::max(boxMax[k], points[3 * r + k]);
    }
}

void buildSkinRamp(uint8_t rgb[3 * kSkinRampSize]) {
  struct Anchor {
    int texel;
    int colour[3];
  };
  // Dark to light skin tones; texels 0-2 and 254-255 hold the end colours.
  static const Anchor kAnchors[] = {
      {2, {117, 74, 56}},     {32, {126, 83, 64}},    {64, {155, 107, 86}},
      {96, {195, 138, 115}},  {128, {223, 162, 136}}, {160, {234, 175, 147}},
      {192, {236, 188, 162}}, {224, {240, 210, 190}}, {254, {243, 227, 213}},
  };
  const int count = static_cast<int>(sizeof kAnchors / sizeof kAnchors[0]);
  for (int i = 0; i < kSkinRampSize; ++i) {
    int a = 0;
    while (a + 1 < count - 1 && kAnchors[a + 1].texel <= i) ++a;
    const Anchor& lo = kAnchors[a];
    const Anchor& hi = kAnchors[a + 1];
    const double t = std::min(1.0, std::max(0.0, (i - lo.texel) / double(hi.texel - lo.texel)));
    for (int k = 0; k < 3; ++k)
      rgb[3 * i + k] =
          static_cast<uint8_t>(std::lround(lo.colour[k] + t * (hi.colour[k] - lo.colour[k])));
  }
}
