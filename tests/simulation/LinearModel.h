#pragma once
// A model for the linear simulation tests: a hierarchy whose chosen vertices
// are fixed (flags on every level, the finest level numbered fixed first as
// the model set-up numbers it), a material, and both caches in a private
// directory.

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "CacheFiles.h"
#include "Capture.h"
#include "LinSimulation.h"
#include "MatrixAssembler.h"
#include "SilentProgress.h"
#include "SimulationSettings.h"
#include "TempDir.h"
#include "TestMeshes.h"

namespace zolt::test {

using Where = std::function<bool(const float*)>;

inline bool onFloor(const float* p) { return p[2] == 0.0f; }

// The finite-element state alone: the linear operations do nothing.
class FEMOnlySimulation : public FEMSimulation {
 public:
  using FEMSimulation::FEMSimulation;
  void setSolver(int) override {}
  void computeStep(bool, bool, int, bool) override {}
  void updateHierarchy() override {}
};

struct LinearModel {
  std::unique_ptr<TetHierarchy> h;
  SimulationSettings settings;
  TempDir dir;
  std::string output;  // what the last load printed

  // k x l x m cubes of edge `edge`, refined to `levels`.
  LinearModel(int k, int l, int m, float edge, int levels, Where fixed = nullptr)
      : LinearModel(box(k, l, m, edge, levels), fixed) {}

  LinearModel(std::unique_ptr<TetHierarchy> hierarchy, Where fixed) : h(std::move(hierarchy)) {
    MatrixAssembler::progressBarFactory = silentBar;
    settings.material = new MaterialProperties{4e5, 3e5, 1000.0, 10.0, 0.0, 0.01};
    settings.hierarchyCachePath = dir.file("model.cacheCauchy.Mgrid");
    settings.matrixCachePath = dir.file("model.cacheCauchy");
    if (!fixed) return;
    for (int l = 0; l < h->nLevels; ++l)
      for (Vertex* v : h->vertices[l]) v->fixed = fixed(v->restPosition);
    std::vector<Vertex*> order(finest());
    std::stable_partition(order.begin(), order.end(), [](const Vertex* v) { return v->fixed; });
    for (size_t i = 0; i < order.size(); ++i) {
      order[i]->index = static_cast<int>(i);
      settings.fixedCount += order[i]->fixed;
    }
  }

  std::vector<Vertex*>& finest() { return h->vertices[h->nLevels - 1]; }

  // As the model set-up builds it: generate writes both caches, otherwise
  // they are read. cacheInvalid is cleared first.
  std::unique_ptr<LinSimulation> load(bool generate, int scheme = 0) {
    cacheInvalid = 0;
    std::fstream cache;
    AtomicFile written;
    if (generate)
      written.open(settings.matrixCachePath);
    else
      cache.open(settings.matrixCachePath, std::ios::binary | std::ios::in);
    std::unique_ptr<LinSimulation> sim;
    output = captureStdout([&] {
      sim = std::make_unique<LinSimulation>(
          h.get(), &settings, generate ? &written.stream() : &cache, generate, scheme, 3);
      if (generate) cache::commit(written, "Run, preprocess");
    });
    return sim;
  }
};

inline std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

}  // namespace zolt::test
