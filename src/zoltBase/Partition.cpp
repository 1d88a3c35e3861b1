// Element partitions of the finest level, and a vertex renumbering by
// coordinate sum.

#include <algorithm>
#include <iostream>
#include <vector>

#include "FiniteElement.h"
#include "Matrix.h"
#include "TetHierarchy.h"
#include "VectorQuantizer.h"
#include "ZoltAssert.h"

void TetHierarchy::buildPartitions(int n) {
  nPartitions = n;
  if (n <= 1) return;
  std::cout << "Build " << n << " Partitions" << std::endl;

  const int paletteSize = n > 255 ? VectorQuantizer::kMaxPaletteSize : n;
  nPartitions = n > 255 ? VectorQuantizer::kMaxPaletteSize : n;
  const std::vector<FiniteElement*>& finest = elements[nLevels - 1];
  // Nothing to group: no codebook, no partition array.
  if (finest.empty()) return;

  // One vector per element: the sum of its corners.
  const uint32_t nFloats = 3 * static_cast<uint32_t>(finest.size());
  std::vector<float> vectors(nFloats);
  for (size_t i = 0; i < finest.size(); ++i) {
    const FiniteElement* e = finest[i];
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (int c = 0; c < e->degreeOfFreedom(); ++c) {
      const Vertex* v = e->getVertex(c);
      for (int k = 0; k < 3; ++k) sum[k] += v->restPosition[k];
    }
    for (int k = 0; k < 3; ++k) vectors[3 * i + k] = sum[k];
  }

  VectorQuantizer q;
  q.paletteSize = paletteSize;
  q.verbose = 0;
  uint8_t* assignment = nullptr;
  float* palette = nullptr;
  if (q.Quantize(&assignment, &palette, vectors.data(), nFloats) == 0) return;

  // Lloyd passes; the search widens while a pass gains less than 5 %.
  double before = q.refine(assignment, palette, vectors.data(), nFloats, 2);
  if (before < 0.0 || before > 0.0) {
    int width = 2;
    for (;;) {
      const double after =
          q.refine(assignment, palette, vectors.data(), nFloats, static_cast<uint32_t>(width));
      width = nextSearchWidth(width, before / after);
      if (width > 31 || !(after < 0.0 || after > 0.0)) break;
      before = after;
    }
  }

  delete[] palette;
  delete[] partitionOfElement;
  partitionOfElement = assignment;
}

void sortPointsByCoordinateSum(TetHierarchy& h, const Vector<double>& positions,
                               uint32_t firstIndex, uint8_t dim) {
  ZOLT_ASSERT(h.nLevels >= 2 && (dim == 2 || dim == 3));
  struct Record {
    double key;
    Vertex* vertex;
  };
  const long m = positions.n / dim;
  std::vector<Record> records(static_cast<size_t>(std::max(m, 0L)), Record{0.0, nullptr});
  for (Vertex* v : h.vertices[h.nLevels - 1]) {
    const long s = static_cast<long>(v->index) - static_cast<long>(firstIndex);
    if (s < 0) continue;
    ZOLT_ASSERT(s < m && records[s].vertex == nullptr);
    const double* p = positions.data + dim * s;
    records[s].key = dim == 3 ? p[0] + p[1] + p[2] : p[0] + p[1];
    records[s].vertex = v;
  }

  const long first = std::clamp(
      static_cast<long>(h.vertices[h.nLevels - 2].size()) - static_cast<long>(firstIndex), 0L, m);
  std::stable_sort(records.begin() + first, records.end(),
                   [](const Record& a, const Record& b) { return a.key < b.key; });
  for (long r = 0; r < m; ++r) {
    ZOLT_ASSERT(records[r].vertex != nullptr);
    records[r].vertex->index = static_cast<int>(firstIndex + r);
  }
}
