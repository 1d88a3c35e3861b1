#include <gtest/gtest.h>

#include <cmath>

#include "ModelgenTesting.h"
#include "SurfaceExtraction.h"

using namespace zolt::modelgen;
using zolt::modelgen::test::measure;
using zolt::modelgen::test::SurfaceMeasures;

TEST(SurfaceExtraction, ClosedOutwardSurfacesOfClosedFormSolids) {
  const double r = 0.4;
  const struct {
    const char* name;
    Implicit shape;
    double volume, area;
    int euler;  // 2 for a sphere's topology, 0 for a torus
  } rows[] = {
      {"sphere", ellipsoid({0.1, 0.2, 0.3}, {r, r, r}), 4.0 / 3.0 * M_PI * r * r * r,
       4.0 * M_PI * r * r, 2},
      {"box", boxShape({-0.3, -0.2, -0.1}, {0.3, 0.2, 0.1}), 0.6 * 0.4 * 0.2,
       2 * (0.6 * 0.4 + 0.4 * 0.2 + 0.2 * 0.6), 2},
      {"torus", [](const Vec3& p) { return std::hypot(std::hypot(p.x, p.z) - 0.35, p.y) - 0.12; },
       2 * M_PI * M_PI * 0.35 * 0.12 * 0.12, 4 * M_PI * M_PI * 0.35 * 0.12, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const TriangleSurface s =
        extractSurface(row.shape, {-0.61, -0.61, -0.61}, {0.7, 0.7, 0.7}, 0.03);
    const SurfaceMeasures m = measure(s);
    EXPECT_EQ(m.badEdges, 0);
    EXPECT_EQ(m.euler, row.euler);
    EXPECT_NEAR(m.volume, row.volume, 0.02 * row.volume);  // positive: outward
    EXPECT_NEAR(m.area, row.area, 0.1 * row.area);
    // Vertices on the surface, up to the tenth of an edge they keep from
    // the grid points.
    double worst = 0.0;
    for (const Vec3& v : s.vertices) worst = std::max(worst, std::abs(row.shape(v)));
    EXPECT_LT(worst, 0.1 * 0.03 * std::sqrt(3.0));
  }
}
