#pragma once
// Structured test hierarchies: the 7-point Laplacian on the interior nodes
// of a cube grid with 2^L intervals per side, and trilinear interpolation
// between neighbouring grids. A block variant couples three components
// per node with a fixed SPD 3x3 block.

#include <memory>
#include <random>
#include <vector>

#include "BlockMatrix.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"

namespace zolt::test {

// Entries uniform in [-1, 1), reproducible from the seed.
inline void fillRandom(Vector<double>& v, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int i = 0; i < v.n; ++i) v[i] = u(rng);
}

inline int gridSize(int level) { return (1 << level) - 1; }

inline int nodeIndex(int m, int i, int j, int k) { return (i * m + j) * m + k; }

// Laplacian entries (row, col, value) of the grid of the given level.
template <class F>
void forEachLaplaceEntry(int level, F f) {
  const int m = gridSize(level);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j)
      for (int k = 0; k < m; ++k) {
        int r = nodeIndex(m, i, j, k);
        f(r, r, 6.0);
        const int d[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
        for (auto& o : d) {
          int a = i + o[0], b = j + o[1], c = k + o[2];
          if (a < 0 || b < 0 || c < 0 || a >= m || b >= m || c >= m) continue;
          f(r, nodeIndex(m, a, b, c), -1.0);
        }
      }
}

// Interpolation entries (coarse, fine, weight) from level-1 to level.
template <class F>
void forEachInterpolationEntry(int fineLevel, F f) {
  const int mc = gridSize(fineLevel - 1), mf = gridSize(fineLevel);
  auto w = [](int c, int x) {
    int centre = 2 * c + 1;
    return x == centre ? 1.0 : (x == centre - 1 || x == centre + 1) ? 0.5 : 0.0;
  };
  for (int i = 0; i < mc; ++i)
    for (int j = 0; j < mc; ++j)
      for (int k = 0; k < mc; ++k)
        for (int a = 2 * i; a <= 2 * i + 2; ++a)
          for (int b = 2 * j; b <= 2 * j + 2; ++b)
            for (int c = 2 * k; c <= 2 * k + 2; ++c)
              f(nodeIndex(mc, i, j, k), nodeIndex(mf, a, b, c), w(i, a) * w(j, b) * w(k, c));
}

const double kCoupling[9] = {2.0, 0.5, 0.2, 0.5, 2.0, 0.3, 0.2, 0.3, 2.0};

inline std::unique_ptr<PackedMatrix<double>> laplacePacked(int level) {
  int n = gridSize(level);
  n = n * n * n;
  SparseMatrix<double> s(n, n);
  forEachLaplaceEntry(level, [&](int r, int c, double v) { s.setElem(r, c, v); });
  auto m = std::make_unique<PackedMatrix<double>>(s);
  m->symmetric = true;
  return m;
}

inline std::unique_ptr<BlockMatrix<double, 3>> laplaceBlock(int level) {
  int n = gridSize(level);
  n = 3 * n * n * n;
  auto m = std::make_unique<BlockMatrix<double, 3>>(n, n);
  forEachLaplaceEntry(level, [&](int r, int c, double v) {
    double block[9];
    for (int q = 0; q < 9; ++q) block[q] = v * kCoupling[q];
    m->addElemBlock(3 * r, 3 * c, block);
  });
  m->buildDataStructs();
  m->symmetric = true;
  return m;
}

// Restrictions for levels coarsest .. finest; components = 1 or 3.
inline std::vector<std::unique_ptr<PackedMatrix<double>>> restrictions(int finest, int levels,
                                                                       int components) {
  std::vector<std::unique_ptr<PackedMatrix<double>>> out;
  for (int l = finest - levels + 2; l <= finest; ++l) {
    int nc = gridSize(l - 1), nf = gridSize(l);
    nc = components * nc * nc * nc;
    nf = components * nf * nf * nf;
    SparseMatrix<double> s(nc, nf);
    forEachInterpolationEntry(l, [&](int c, int f, double w) {
      for (int d = 0; d < components; ++d)
        if (w > 0) s.setElem(components * c + d, components * f + d, w);
    });
    out.push_back(std::make_unique<PackedMatrix<double>>(s));
  }
  return out;
}

}  // namespace zolt::test
