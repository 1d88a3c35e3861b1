// Interpolation between neighbouring levels and the restriction matrices
// built from it.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <new>
#include <unordered_set>

#include "FiniteElement.h"
#include "PackedMatrix.h"
#include "SparseMatrix.h"
#include "TetHierarchy.h"

namespace {

// e's shape functions at p, one entry per node in node order; tiny weights
// are stored as 0.
std::vector<InterpolationEntry> weightList(FiniteElement& e, const float* p) {
  const Polynom<double>* N = e.getShapeFunctions();
  std::vector<InterpolationEntry> list(e.degreeOfFreedom());
  for (int i = 0; i < e.degreeOfFreedom(); ++i) {
    float w = static_cast<float>(N[i].eval(p[0], p[1], p[2]));
    if (std::fabs(w) < 0.0001f) w = 0.0f;
    list[i] = {e.getVertex(i), w};
  }
  return list;
}

float absSum(const std::vector<InterpolationEntry>& list) {
  float s = 0.0f;
  for (const auto& e : list) s += std::fabs(e.weight);
  return s;
}

// Degree-of-freedom blocks of one level: membership in its removed list and
// the reduced number (index minus the removed vertices below it).
class LevelNumbering {
 public:
  explicit LevelNumbering(const std::vector<Vertex*>& removed)
      : removed_(removed.begin(), removed.end()) {
    for (const Vertex* v : removed) removedIndices_.push_back(v->index);
    std::sort(removedIndices_.begin(), removedIndices_.end());
  }
  bool isRemoved(const Vertex* v) const { return removed_.count(v) != 0; }
  bool hasRemovedIndex(int index) const {
    return std::binary_search(removedIndices_.begin(), removedIndices_.end(), index);
  }
  int reduced(const Vertex* v) const {
    return v->index - static_cast<int>(std::lower_bound(removedIndices_.begin(),
                                                        removedIndices_.end(), v->index) -
                                       removedIndices_.begin());
  }
  int count() const { return static_cast<int>(removed_.size()); }

 private:
  std::unordered_set<const Vertex*> removed_;
  std::vector<int> removedIndices_;
};

}  // namespace

void TetHierarchy::findInterpolation(int l, bool markUseless) {
  const int f = l + 1;
  std::vector<FiniteElement*>& coarse = elements[l];
  std::vector<Vertex*>& fine = vertices[f];
  LevelNumbering fineLevel(removed[f]);

  for (FiniteElement* e : coarse) {
    e->computeShapeFunctions();
    for (Vertex* v : fine) {
      if (!v->parents.empty() || fineLevel.isRemoved(v) || v->fixed) continue;
      if (e->containsPoint(v->restPosition)) v->parents = weightList(*e, v->restPosition);
    }
  }

  for (FiniteElement* e : coarse) {
    if (e->getFaceMask() == 0) continue;
    for (Vertex* v : fine) {
      if (fineLevel.isRemoved(v) || v->fixed) continue;
      std::vector<InterpolationEntry> list = weightList(*e, v->restPosition);
      if (v->parents.empty()) {
        if (e->containsPointBeyondBoundary(v->restPosition)) v->parents = std::move(list);
      } else if (absSum(list) < absSum(v->parents) &&
                 e->containsPointBeyondBoundary(v->restPosition)) {
        v->parents = std::move(list);
      }
    }
  }

  if (!markUseless) return;
  const int n = static_cast<int>(vertices[l].size());
  std::vector<char> used(n, 0);
  for (const Vertex* v : fine)
    for (const InterpolationEntry& e : v->parents)
      if (e.weight < 0 || e.weight > 0) {
        const int i = e.parent->index;
        if (i >= 0 && i < n) used[i] = 1;
      }
  std::vector<Vertex*> byIndex(n, nullptr);
  for (Vertex* v : vertices[l])
    if (v->index >= 0 && v->index < n) byIndex[v->index] = v;  // the last one wins
  for (int i = 0; i < n; ++i) {
    if (used[i]) continue;
    std::cout << "  Useless Vertex " << i << " found on level " << l << ".  " << std::endl;
    Vertex* v = byIndex[i];
    if (!v) {
      std::cerr << "[TetHierarchy, findInterpolation] Error: Vertex not found!" << std::endl;
      continue;
    }
    if (!v->fixed) removed[l].push_back(v);
  }
}

void TetHierarchy::buildInterpolation(bool markUseless) {
  for (int l = nLevels - 2; l >= 0; --l) findInterpolation(l, markUseless);
}

void TetHierarchy::buildInterpolationEveryOtherLevel(bool markUseless) {
  for (int l = nLevels - 2; l > 0; l -= 2) findInterpolation(l, markUseless);
}

void TetHierarchy::calcRestriction(PackedMatrix<double>** slot, int l, uint8_t dim,
                                   float threshold) {
  const int c = l, f = l + 1;
  LevelNumbering coarseLevel(removed[c]), fineLevel(removed[f]);
  const int rows = dim * (static_cast<int>(vertices[c].size()) - coarseLevel.count());
  const int cols = dim * (static_cast<int>(vertices[f].size()) - fineLevel.count());
  SparseMatrix<double> S(rows, cols);

  for (size_t i = 0; i < vertices[f].size(); ++i) {
    const Vertex* v = vertices[f][i];
    if (fineLevel.isRemoved(v)) continue;
    const int col = dim * fineLevel.reduced(v);
    if (v->parents.empty()) {
      // Numbered as in the node file: its position in the level.
      if (!v->fixed)
        std::cerr << "[TetHierarchy, calcRestriction] Warning: Vertex " << i + 1 << " of level "
                  << f << (source.empty() ? "" : " of \"" + source + "\"") << " lies outside level "
                  << c
                  << " (no interpolation); the coarser levels leave it out, only smoothing on"
                     " level "
                  << f << " moves it" << std::endl;
      continue;
    }
    for (const InterpolationEntry& e : v->parents) {
      if (!(e.weight < 0 || e.weight > 0)) continue;
      if (coarseLevel.hasRemovedIndex(e.parent->index)) {
        if (!v->fixed)
          std::cerr << "[TetHierarchy, calcRestriction] Error: Deleted vertex ("
                    << e.parent->index << ") used!" << std::endl;
        continue;  // a removed vertex owns no row
      }
      const int row = dim * coarseLevel.reduced(e.parent);
      for (int d = 0; d < dim; ++d) S.setElem(row + d, col + d, e.weight);
    }
  }

  // Drop the fixed degrees of freedom and renumber what remains.
  auto keepMap = [dim](const std::vector<Vertex*>& level, const LevelNumbering& numbering,
                       int size) {
    std::vector<int> map(size, 0);
    for (const Vertex* u : level)
      if (u->fixed && !numbering.isRemoved(u))
        for (int d = 0; d < dim; ++d) map[dim * numbering.reduced(u) + d] = -1;
    int next = 0;
    for (int& m : map) m = m < 0 ? -1 : next++;
    return std::make_pair(map, next);
  };
  auto [rowMap, newRows] = keepMap(vertices[c], coarseLevel, rows);
  auto [colMap, newCols] = keepMap(vertices[f], fineLevel, cols);
  const double t = threshold;
  SparseMatrix<double> R(newRows, newCols);
  for (int i = 0; i < rows; ++i) {
    if (rowMap[i] < 0) continue;
    for (const MatrixEntry<double>& e : S.rows[i]) {
      if (colMap[e.col] < 0 || (-t < e.val && e.val < t)) continue;
      R.rows[rowMap[i]].push_back({colMap[e.col], e.val});
    }
  }
  *slot = new PackedMatrix<double>(R);
}

void TetHierarchy::generateRestrictions(int, int, uint8_t dim, float threshold) {
  releaseRestrictions();
  restriction = new PackedMatrix<double>*[nLevels - 1]();
  for (int l = 0; l < nLevels - 1; ++l) calcRestriction(&restriction[l], l, dim, threshold);
}

void TetHierarchy::writeRestrictions(std::ostream& stream) const {
  for (int l = 0; l < nLevels - 1; ++l) restriction[l]->writeToFile(stream);
}

bool TetHierarchy::readRestrictions(std::istream& stream) {
  releaseRestrictions();
  auto* read = new PackedMatrix<double>*[nLevels - 1]();
  const auto drop = [&] {
    for (int k = 0; k < nLevels - 1; ++k) delete read[k];
    delete[] read;
    return false;
  };
  try {
    for (int l = 0; l < nLevels - 1; ++l) {
      read[l] = new PackedMatrix<double>();
      if (!read[l]->readFromFile(stream)) return drop();
    }
  } catch (const std::bad_alloc&) {
    drop();
    throw;
  }
  // Successive levels must chain: the columns of one are the rows of the next.
  for (int l = 0; l + 1 < nLevels - 1; ++l)
    if (read[l]->nCol != read[l + 1]->nRow) return drop();
  restriction = read;
  return true;
}

void TetHierarchy::releaseRestrictions() {
  if (!restriction) return;
  for (int l = 0; l < nLevels - 1; ++l) delete restriction[l];
  delete[] restriction;
  restriction = nullptr;
}

void TetHierarchy::compactInterpolation() {
  for (int l = 0; l < nLevels - 1; ++l)
    for (Vertex* v : vertices[l]) v->parents.shrink_to_fit();
}
