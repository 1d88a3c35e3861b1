#include <cmath>
#include <sstream>

#include "ConverterIO.h"
#include "Converters.h"

bool generateSlabMesh(const std::string& outBase, int levels, float thickness) {
  static const char kMethod[] = "generateSlabMesh";
  // Level 10 already has 6 * 4^9 tetrahedra.
  if (levels < 1 || levels > 10)
    return zolt::tools::fail(kMethod, outBase,
                             "level count " + std::to_string(levels) + " outside 1..10");
  if (!(thickness > 0.0f) || !std::isfinite(thickness))
    return zolt::tools::fail(kMethod, outBase, "thickness must be positive");

  std::ostringstream node, ele;
  for (int l = 0; l < levels; ++l) {
    const int N = 1 << l, M = N + 1;
    // Grid point q = i + M j has the bottom vertex 2q + 1 and the top one 2q + 2.
    node << 2 * M * M << " 3 0 1\n";
    for (int j = 0; j <= N; ++j)
      for (int i = 0; i <= N; ++i) {
        const int q = i + M * j;
        const double x = 2.0 * i / N - 1.0, y = 2.0 * j / N - 1.0;
        node << 2 * q + 1 << " " << x << " " << y << " " << 0 << " 0\n";
        node << 2 * q + 2 << " " << x << " " << y << " " << thickness << " 0\n";
      }

    ele << 6 * N * N << " 4 0\n";
    int number = 1;
    for (int j = 0; j < N; ++j)
      for (int i = 0; i < N; ++i) {
        const int q0 = i + M * j, q1 = q0 + 1, q2 = q0 + M, q3 = q2 + 1;
        auto b = [](int q) { return 2 * q + 1; };
        auto t = [](int q) { return 2 * q + 2; };
        const int tets[6][4] = {
            {b(q0), b(q2), b(q1), t(q0)}, {b(q1), b(q2), t(q2), t(q0)},
            {b(q1), t(q2), t(q1), t(q0)}, {b(q1), b(q2), b(q3), t(q2)},
            {b(q1), t(q2), b(q3), t(q1)}, {b(q3), t(q2), t(q3), t(q1)},
        };
        for (const auto& c : tets)
          ele << number++ << " " << c[0] << " " << c[1] << " " << c[2] << " " << c[3] << "\n";
      }
  }
  return zolt::tools::writeMeshFiles(kMethod, outBase, node, ele);
}
