// The fur build on a cube of eight shared corners: every corner lies on
// three faces of different axes, so it splits into three copies whose fur
// coordinates are its planar projections, and the seam merge gives every
// copy the normal of the unsplit cube: the split is invisible in the light.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "SurfaceMesh.h"

namespace {

// Corner i at ((i & 1), (i >> 1 & 1), (i >> 2 & 1)) - 0.5, outward faces;
// texture coordinate (i, 0) when textured.
SurfaceMesh cube(bool textured) {
  SurfaceMesh m;
  for (int i = 0; i < 8; ++i) {
    for (int k = 0; k < 3; ++k) m.restPositions.push_back(float(i >> k & 1) - 0.5f);
    m.texCoords.insert(m.texCoords.end(), {float(i), 0.0f});
  }
  m.indices = {0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
               2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};
  m.textured = textured;
  return m;
}

TEST(SurfaceMeshFur, CubeCornersSplitIntoOneCopyPerAxisWithOneNormal) {
  for (bool textured : {false, true}) {
    SurfaceMesh m = cube(textured), unsplit = cube(textured);
    unsplit.finishMesh();
    const std::vector<float> rest = m.restPositions;
    const std::vector<uint32_t> before = m.indices;
    m.buildFurTexCoords(0.5f);
    ASSERT_EQ(m.furTexCoords.size(), 2u * 24u);
    m.splitByFurTexCoords();
    m.finishMesh();
    ASSERT_EQ(m.vertexCount, 24u);
    EXPECT_EQ(m.texCoords.size(), 48u);
    // Every corner's copy sits where the corner was, with the corner's
    // projection onto the plane of its face's axis as fur coordinate.
    for (size_t k = 0; k < m.indices.size(); ++k) {
      const uint32_t old = before[k], v = m.indices[k];
      const float* p = &rest[3 * old];
      for (int c = 0; c < 3; ++c) EXPECT_EQ(m.restPositions[3 * v + c], p[c]);
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(m.normals[3 * v + c], unsplit.normals[3 * old + c], 1e-6) << k;
      const int axis = k / 12 == 0 ? 2 : k / 12 == 1 ? 1 : 0;  // faces z, y, x in order
      const float s = (axis == 0 ? p[1] : p[0]) / 0.5f, t = (axis == 2 ? p[1] : p[2]) / 0.5f;
      EXPECT_EQ(m.furTexCoords[2 * v], s) << k;
      EXPECT_EQ(m.furTexCoords[2 * v + 1], t) << k;
      if (textured) {
        EXPECT_EQ(m.texCoords[2 * v], float(old)) << k;
      }
    }
    // The seam lists hold all 24 copies, vertex 0's among them.
    ASSERT_EQ(m.seamFirst.size(), 8u);
    std::set<uint32_t> copies;
    for (size_t s = 0; s < 8; ++s) copies.insert({m.seamFirst[s], m.seamSecond[s], m.seamThird[s]});
    EXPECT_EQ(copies.size(), 24u);
    EXPECT_EQ(*copies.rbegin(), 23u);
  }
}

}  // namespace
