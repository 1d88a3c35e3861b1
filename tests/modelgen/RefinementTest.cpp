#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "ModelgenTesting.h"
#include "Refinement.h"
#include "VoxelMesh.h"

using namespace zolt::modelgen;
using namespace zolt::modelgen::test;

namespace {

int edgeCount(const TetMesh& mesh) {
  std::set<std::pair<int, int>> edges;
  for (const Corners& t : mesh.tets)
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) edges.insert(std::minmax(t[i], t[j]));
  return static_cast<int>(edges.size());
}

}  // namespace

// The replica against the mesh library: the files are read with the element
// reader and refined by the hierarchy; every level must agree bit for bit.
TEST(Refinement, EveryLevelEqualsTheLoadedHierarchy) {
  const Implicit blob = ellipsoid({0, 0, 0}, {0.45, 0.3, 0.25}, 0.4);
  TetMesh fitted = voxelise(blob, {{-0.5, -0.5, -0.5}, 0.1, {10, 10, 10}});
  fitBoundary(fitted, blob, 0.1);
  const struct {
    const char* name;
    TetMesh mesh;
    int levels;
  } rows[] = {
      {"cube", voxelise(boxShape({0, 0, 0}, {1, 1, 1}), {{0, 0, 0}, 1.0, {1, 1, 1}}), 4},
      {"bar", voxelise(boxShape({0, 0, 0}, {0.3, 1, 0.2}), {{0, 0, 0}, 0.1, {3, 10, 2}}), 3},
      {"blob", fitted, 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<TetMesh> levels = buildLevels(row.mesh, row.levels);
    ASSERT_EQ(static_cast<int>(levels.size()), row.levels);
    const auto h = writeAndLoad(row.mesh, row.levels, freshDirectory(row.name));
    for (int l = 0; l < row.levels; ++l) {
      expectSameLevel(*h, l, levels[l]);
      for (int e = 0; e < levels[l].elementCount(); ++e)
        ASSERT_GT(volume(levels[l], e), 0.0) << "level " << l << " element " << e;
      if (l == 0) continue;
      EXPECT_EQ(levels[l].vertexCount(), levels[l - 1].vertexCount() + edgeCount(levels[l - 1]));
      EXPECT_EQ(levels[l].elementCount(), 8 * levels[l - 1].elementCount());
    }
  }
}

TEST(Refinement, RefinedBoxIsTheFinerGrid) {
  // The vertices of a refined box are the points of the grid of half the
  // spacing, and its boundary masks are those of a fresh face count.
  const TetMesh box = voxelise(boxShape({0, 0, 0}, {0.4, 0.2, 0.2}), {{0, 0, 0}, 0.2, {2, 1, 1}});
  const TetMesh fine = refine(refine(box));
  EXPECT_EQ(fine.vertexCount(), 9 * 5 * 5);
  std::set<std::array<int, 3>> points;
  for (int v = 0; v < fine.vertexCount(); ++v) {
    std::array<int, 3> grid;
    for (int k = 0; k < 3; ++k) {
      const double g = fine.position(v)[k] / 0.05;
      grid[k] = static_cast<int>(std::lround(g));
      EXPECT_NEAR(g, grid[k], 1e-5);
    }
    points.insert(grid);
  }
  EXPECT_EQ(points.size(), 9u * 5u * 5u);
  EXPECT_EQ(fine.masks, countBoundaryFaces(fine.tets));
}
