#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CacheFiles.h"
#include "FEMSimulation.h"
#include "FiniteElement.h"
#include "LinSimulation.h"
#include "MemoryLimits.h"
#include "Run.h"
#include "SparseCholesky.h"
#include "TetHierarchy.h"

namespace {

// One line: "[Run, sortVertices] <what>N of <total> entries<why> (the
// first few vertex numbers); they are dropped, <fixed> vertices are fixed".
void reportDropped(const char* what, const std::vector<int>& entries, size_t total, const char* why,
                   int fixed) {
  if (entries.empty()) return;
  constexpr size_t kListed = 5;
  std::cerr << "[Run, sortVertices] " << what << entries.size() << " of " << total << " entries"
            << why << " (";
  for (size_t i = 0; i < entries.size() && i < kListed; ++i)
    std::cerr << (i ? " " : "") << entries[i] + 1;
  std::cerr << (entries.size() > kListed ? " ..." : "") << "); they are dropped, " << fixed
            << " vertices are fixed" << std::endl;
}

}  // namespace

void Run::holdUnusedVertices(std::vector<int>& fixed) const {
  const int finestLevel = hierarchy->nLevels - 1;
  const std::vector<Vertex*>& finest = hierarchy->vertices[finestLevel];
  std::unordered_set<const Vertex*> used;
  for (const FiniteElement* e : hierarchy->elements[finestLevel])
    for (int i = 0; i < e->degreeOfFreedom(); ++i) used.insert(e->getVertex(i));
  int count = 0, first = -1;
  for (size_t i = 0; i < finest.size(); ++i) {
    const Vertex* v = finest[i];
    if (used.count(v)) continue;
    if (count++ == 0) first = static_cast<int>(i);
    const int number = v->index;
    if (number >= 0 && static_cast<size_t>(number) < finest.size() &&
        std::find(fixed.begin(), fixed.end(), number) == fixed.end())
      fixed.push_back(number);
  }
  if (count == 0) return;
  std::cerr << "[Run, sortVertices] Warning: " << count
            << " vertices belong to no element (the first: vertex " << first + 1 << " of level "
            << finestLevel << "); they are held fixed" << std::endl;
}

void Run::sortVertices(int* fixedCount, bool markCoarseLevels) {
  std::cout << "Sorting Vertices " << std::endl;
  const int finestLevel = hierarchy->nLevels - 1;
  const std::vector<Vertex*>& finest = hierarchy->vertices[finestLevel];
  std::vector<int> fixed;  // finest-level vertex numbers, each once
  std::vector<int> missing, repeated;
  for (int entry : fixedVertices) {
    int number = entry;
    if (!fixedFromParams && readHierarchy) {
      const std::vector<Vertex*>& coarse = hierarchy->vertices[0];
      const Vertex* v =
          entry >= 0 && static_cast<size_t>(entry) < coarse.size()
              ? nearestVertex(finest, coarse[static_cast<size_t>(entry)]->restPosition)
              : nullptr;
      number = v ? v->index : -1;
    }
    if (number < 0 || static_cast<size_t>(number) >= finest.size())
      missing.push_back(entry);
    else if (std::find(fixed.begin(), fixed.end(), number) != fixed.end())
      repeated.push_back(entry);
    else
      fixed.push_back(number);
  }
  holdUnusedVertices(fixed);
  std::vector<uint8_t> isFixed(finest.size(), 0);
  for (int number : fixed) isFixed[static_cast<size_t>(number)] = 1;
  const int count = static_cast<int>(fixed.size());
  int nextFixed = 0, nextFree = count;
  std::vector<Vertex*> fixedOrder;
  for (Vertex* v : finest) {
    const bool f = v->index >= 0 && static_cast<size_t>(v->index) < finest.size() &&
                   isFixed[static_cast<size_t>(v->index)];
    if (f) fixedOrder.push_back(v);
    v->fixed = f ? 1 : 0;
    v->index = f ? nextFixed++ : nextFree++;
  }
  const size_t total = fixedVertices.size();
  reportDropped("Error: Fixed vertices do not exist: ", missing, total, " name no vertex",
                nextFixed);
  reportDropped("Warning: Fixed vertices listed more than once: ", repeated, total,
                " are duplicates", nextFixed);
  *fixedCount = nextFixed;
  if (!markCoarseLevels) return;
  for (int l = finestLevel - 1; l >= 0; --l)
    for (const Vertex* f : fixedOrder)
      if (Vertex* v = nearestVertex(hierarchy->vertices[l], f->restPosition)) v->fixed = 1;
}

void Run::holdBetweenFixed(int* fixedCount) {
  const int finestLevel = hierarchy->nLevels - 1;
  int added = 0;
  for (int l = 1; l <= finestLevel; ++l) {
    const std::unordered_set<const Vertex*> removed(hierarchy->removed[l].begin(),
                                                    hierarchy->removed[l].end());
    for (Vertex* v : hierarchy->vertices[l]) {
      if (v->fixed || removed.count(v)) continue;
      bool weighted = false, allFixed = true;
      for (const InterpolationEntry& e : v->parents) {
        if (!(e.weight < 0.0f || e.weight > 0.0f)) continue;
        weighted = true;
        allFixed = allFixed && e.parent && e.parent->fixed;
      }
      if (!weighted || !allFixed) continue;
      v->fixed = 1;
      if (l == finestLevel) ++added;
    }
  }
  if (added == 0) return;
  // Fixed first, each group in array order, as sortVertices numbers them.
  int nextFixed = 0, nextFree = *fixedCount + added;
  for (Vertex* v : hierarchy->vertices[finestLevel]) v->index = v->fixed ? nextFixed++ : nextFree++;
  std::cout << "[Run, holdBetweenFixed] " << added << (added == 1 ? " vertex" : " vertices")
            << " between fixed ones (interpolated from fixed vertices alone)"
            << (added == 1 ? " is" : " are") << " held too: " << nextFixed << " vertices are fixed"
            << std::endl;
  *fixedCount = nextFixed;
}

bool Run::checkDimension() {
  // Every element read is a tetrahedron; 2-D element matrices would be
  // overrun by it.
  if (dim == 3 || hierarchy->elements[hierarchy->nLevels - 1].empty()) return true;
  std::cerr << "[Run, preprocess] Error: \"" << renderSettings.basePath
            << ".config\" sets 2-D elements (2D, TRIANGLE, QUAD or QUADRATIC_QUAD) but its mesh"
               " is tetrahedral; the model is not loaded"
            << std::endl;
  refused = 1;
  return false;
}

namespace {

// The coarsest level's unknown-carrying vertices (neither fixed nor
// removed; every vertex when `allFree`) and, per vertex, its neighbours
// through the level's elements.
std::vector<std::vector<int>> coarseGraph(const TetHierarchy& h, bool allFree) {
  const std::unordered_set<const Vertex*> removed(h.removed[0].begin(), h.removed[0].end());
  std::unordered_map<const Vertex*, int> node;
  for (const Vertex* v : h.vertices[0])
    if (allFree || (!v->fixed && !removed.count(v))) node.emplace(v, static_cast<int>(node.size()));
  std::vector<std::vector<int>> graph(node.size());
  for (const FiniteElement* e : h.elements[0]) {
    const int corners = e->degreeOfFreedom();
    for (int i = 0; i < corners; ++i) {
      const auto a = node.find(e->getVertex(i));
      if (a == node.end()) continue;
      for (int j = 0; j < corners; ++j) {
        const auto b = node.find(e->getVertex(j));
        if (j != i && b != node.end()) graph[static_cast<size_t>(a->second)].push_back(b->second);
      }
    }
  }
  return graph;
}

uint64_t saturatedSum(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

bool Run::checkMemory(const std::string& who, const char* advice) {
  // A model refined at load knows its fixed vertices only once refined: its
  // coarse solve is estimated with every level-0 vertex free, before the
  // refinement and after it alike, so that both checks name one figure.
  const bool beforeFixed = levels > 1 && !readHierarchy;
  const int64_t n = beforeFixed ? int64_t(dim) * int64_t(hierarchy->vertices[0].size())
                                : hierarchy->unknowns(0, dim);
  const bool dense = denseInverseFits(n);
  const uint64_t coarse =
      dense ? denseInverseBytes(n)
            : CholeskyFactor::estimateBytes(coarseGraph(*hierarchy, beforeFixed), dim);
  const double elements =
      beforeFixed ? finestElements(hierarchy->elements[0].size(), levels)
                  : static_cast<double>(hierarchy->elements[hierarchy->nLevels - 1].size());
  // The load peaks twice: while the finest matrix is assembled, and while
  // the coarsest level is factored with the matrices built. The BLAS work
  // buffer of a first supernodal factor is mapped whole but touched only in
  // part: it counts against the limits on mappings (RLIMIT_AS, RLIMIT_DATA)
  // alone.
  const uint64_t assembly = refinedModelBytes(elements);
  const uint64_t model = modelBytesAtCoarseSolve(elements, levels);
  const uint64_t atCoarseSolve = saturatedSum(model, coarse);
  const uint64_t blas = dense ? 0 : CholeskyFactor::blasBufferBytes(n);
  const uint64_t need = std::max(assembly, atCoarseSolve);
  const uint64_t mapped = std::max(assembly, saturatedSum(atCoarseSolve, blas));
  // What the load has mapped since level 0 was read (the finer levels,
  // once refined) is part of the model's figure: it is given back to the
  // room rather than counted twice.
  const uint64_t roomNow = mappingRoom();
  const uint64_t held = roomNow > 0 && roomBeforeRefined > roomNow
                            ? std::min(roomBeforeRefined - roomNow, std::max(assembly, model))
                            : 0;
  const uint64_t room = roomNow > 0 ? roomNow + held : 0;
  uint64_t have = usableMemory();
  if (have > 0 && have == roomNow) have = room;
  // Nothing known to check against (0): the load goes on, and a shortage
  // ends in "Out of memory". The room is checked first: what the line
  // names is then what the limit was compared with.
  const bool roomShort = room != 0 && mapped > room;
  if (!roomShort && (have == 0 || need <= have)) return true;
  constexpr uint64_t MB = 1024 * 1024;
  const uint64_t figure = roomShort ? mapped : need;
  std::cerr << who << " needs about " << figure / MB + (figure % MB != 0) << " MB (" << coarse / MB
            << " MB for the " << (dense ? "dense inverse" : "sparse factor")
            << " of its coarsest level, " << (beforeFixed ? "at most " : "") << n << " unknowns";
  if (roomShort && blas > 0 && mapped > assembly)
    std::cerr << "; " << blas / MB << " MB for its BLAS work buffer";
  std::cerr << "), more than the " << (roomShort ? room : have) / MB << " MB this process may use";
  // OpenBLAS never unmaps its buffer: an earlier model's factor keeps it.
  const uint64_t heldByBlas = roomShort ? CholeskyFactor::blasBufferHeldBytes() : 0;
  if (heldByBlas >= MB)
    std::cerr << " (" << heldByBlas / MB
              << " MB of the limit are held until the process ends by the BLAS work buffer of an"
                 " earlier sparse factor)";
  std::cerr << "; it is not loaded (" << advice << ")" << std::endl;
  refused = 1;
  return false;
}

void Run::preprocess(bool createSimulation) {
  // A refused model leaves no empty matrix cache behind.
  auto refuse = [this] { newMatrixCache.discard(); };
  if (!checkDimension()) return refuse();
  if (!meshFromCache) {
    sortVertices(&settings.fixedCount, true);
    if (readHierarchy) {
      std::cout << "Build Interpolation ... " << std::endl << std::endl;
      if (elementType == ElementType::SERENDIPITY_TET || elementType == ElementType::QUADRATIC_QUAD)
        hierarchy->buildInterpolationEveryOtherLevel(true);
      else
        hierarchy->buildInterpolation(true);
    }
    holdBetweenFixed(&settings.fixedCount);
    writeMesh(meshCachePath.c_str());
  }
  if (elementModel == ElementModel::Partition && partitions < 2) partitions = 8;
  hierarchy->buildPartitions(partitions);
  std::cout << std::endl;
  if (!createSimulation) return;

  const size_t nElements = hierarchy->elements[hierarchy->nLevels - 1].size();
  if (elementModel == ElementModel::Green || elementModel == ElementModel::Partition) {
    if (elementType == ElementType::TETRAHEDRON && nElements > 25000) {
      std::cout << "ERROR: Too many Tetrahedron for nonlinear Green Tensor!" << std::endl;
      refuse();
      std::exit(1);
    }
    if (elementType == ElementType::SERENDIPITY_TET && nElements > 10000) {
      std::cout << "ERROR: Too many Serendipity Tetrahedron for nonlinear Green Tensor!"
                << std::endl;
      refuse();
      std::exit(1);
    }
  }
  if (elementModel == ElementModel::Cauchy &&
      !checkMemory("[Run, preprocess] Error: The model",
                   "use a coarser mesh file or a lower LEVEL"))
    return refuse();
  auto create = [&] {
    if (elementModel == ElementModel::Cauchy)
      simulation = std::make_unique<LinSimulation>(
          hierarchy.get(), &settings, generateCache ? &newMatrixCache.stream() : &matrixCache,
          generateCache != 0, integrationScheme, dim);
  };
  cacheMeshMismatch = 0;
  create();
  if (generateCache == 0 && cacheInvalid && cacheMeshMismatch && meshFromCache) {
    // The matrices were built from another mesh than the cached one: the
    // mesh cache is not trusted for the next load.
    std::cout << "[Run, preprocess] Mesh cache \"" << meshCachePath
              << "\" disagrees with the matrix cache; it is removed" << std::endl;
    std::remove(meshCachePath.c_str());
  }
  if (generateCache == 0 && cacheInvalid) {
    simulation.reset();
    cacheInvalid = 0;
    cacheMeshMismatch = 0;
    generateCache = 1;
    matrixCache.close();
    std::cout << "Open Cache file \"" << matrixCachePath << "\" for writing" << std::endl;
    newMatrixCache.open(matrixCachePath);
    create();
  }
  cacheInvalid = 0;
  cacheMeshMismatch = 0;
  std::cout << "*** Finished Preprocessing." << std::endl << std::endl;
  matrixCache.close();
  if (generateCache) zolt::cache::commit(newMatrixCache, "Run, preprocess");
}
