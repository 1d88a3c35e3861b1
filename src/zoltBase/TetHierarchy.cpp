#include "TetHierarchy.h"

#include <cmath>
#include <iostream>
#include <memory>
#include <new>
#include <unordered_set>

#include "FiniteElement.h"
#include "PackedMatrix.h"
#include "ZoltAssert.h"

TetHierarchy::TetHierarchy(int n)
    : nLevels(n), startLevel(0), vertices(nullptr), elements(nullptr), removed(nullptr) {
  ZOLT_ASSERT(n >= 1);
  // Owned by unique_ptrs until all three exist: a failed allocation frees
  // the others.
  auto e = std::make_unique<std::vector<FiniteElement*>[]>(n);
  auto v = std::make_unique<std::vector<Vertex*>[]>(n);
  auto r = std::make_unique<std::vector<Vertex*>[]>(n);
  elements = e.release();
  vertices = v.release();
  removed = r.release();
}

TetHierarchy::TetHierarchy(int n, std::vector<Vertex*>* levelVertices,
                           std::vector<FiniteElement*>* levelElements)
    : nLevels(n),
      startLevel(n),
      vertices(levelVertices),
      elements(levelElements),
      removed(nullptr) {
  ZOLT_ASSERT(n >= 1 && levelVertices != nullptr && levelElements != nullptr);
  removed = new std::vector<Vertex*>[n];
}

TetHierarchy::~TetHierarchy() {
  for (int l = 0; l < nLevels; ++l) {
    for (FiniteElement* e : elements[l]) delete e;
    for (Vertex* v : vertices[l]) delete v;
  }
  releaseRestrictions();
  delete[] elements;
  delete[] vertices;
  delete[] removed;
  delete[] partitionOfElement;
}

void TetHierarchy::setCenterOfGravity(double* center) {
  ZOLT_ASSERT(startLevel >= 0 && startLevel < nLevels);
  std::cout << std::endl << "Set Center of gravity" << std::endl;

  center[0] = center[1] = center[2] = 0.0;
  long count = 0;
  for (const FiniteElement* e : elements[startLevel]) {
    for (int i = 0; i < e->degreeOfFreedom(); ++i) {
      const Vertex* v = e->getVertex(i);
      for (int k = 0; k < 3; ++k) center[k] += static_cast<double>(v->restPosition[k]);
      ++count;
    }
  }
  if (count > 0) {
    const double scale = 1.0 / static_cast<double>(count);
    for (int k = 0; k < 3; ++k) center[k] *= scale;
  }

  const float shift[3] = {static_cast<float>(center[0]), static_cast<float>(center[1]),
                          static_cast<float>(center[2])};
  for (int l = 0; l < nLevels; ++l)
    for (Vertex* v : vertices[l])
      for (int k = 0; k < 3; ++k) v->restPosition[k] -= shift[k];
}

void TetHierarchy::buildNestedHierarchy() {
  for (int l = startLevel; l < nLevels - 1; ++l) refineLevel(l);
}

void TetHierarchy::refineLevel(int l) {
  ZOLT_ASSERT(l >= 0 && l < nLevels - 1);
  std::vector<Vertex*>& coarse = vertices[l];
  std::vector<Vertex*>& fine = vertices[l + 1];
  // The level must be empty: its old contents would be lost.
  ZOLT_ASSERT(fine.empty() && elements[l + 1].empty());

  const int nCoarse = static_cast<int>(coarse.size());
  fine.resize(coarse.size());
  for (int k = 0; k < nCoarse; ++k) {
    const Vertex* v = coarse[k];
    Vertex* copy = new Vertex;
    fine[k] = copy;  // owned by the level from here on
    copy->index = v->index;
    copy->fixed = v->fixed;
    copy->onSurface = v->onSurface;
    for (int j = 0; j < 3; ++j) copy->restPosition[j] = v->restPosition[j];
    copy->currentPosition = v->currentPosition;
    copy->parents = {{coarse[k], 1.0f}};
  }

  EdgeMidpointMap midpoints;
  int nextIndex = nCoarse;
  try {
    for (FiniteElement* e : elements[l]) e->refine(elements[l + 1], fine, midpoints, nextIndex);
    fine.resize(static_cast<size_t>(nCoarse) + midpoints.size(), nullptr);
  } catch (const std::bad_alloc&) {
    // Until placed below, the midpoints belong to the map alone.
    for (const auto& entry : midpoints) delete entry.second;
    throw;
  }

  for (const auto& entry : midpoints) {
    Vertex* m = entry.second;
    ZOLT_ASSERT(m->index >= nCoarse && m->index < static_cast<int>(fine.size()) &&
                fine[m->index] == nullptr);
    fine[m->index] = m;
  }
}

Vertex* nearestVertex(const std::vector<Vertex*>& list, const float* p, float limit) {
  Vertex* best = nullptr;
  for (Vertex* v : list) {
    const float* q = v->restPosition;
    const float dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
    const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (d < limit) {
      limit = d;
      best = v;
    }
  }
  return best;
}

int TetHierarchy::unknowns(int l, int dim) const {
  const std::unordered_set<const Vertex*> left(removed[l].begin(), removed[l].end());
  int n = 0;
  for (const Vertex* v : vertices[l]) n += !v->fixed && !left.count(v);
  return dim * n;
}
