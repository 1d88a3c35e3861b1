#pragma once
// A box model for the linear simulation tests: a refined hierarchy whose
// vertices on chosen faces are fixed (flags on every level, the finest
// level numbered fixed first as the model set-up numbers it), a material,
// and both cache files in a private directory.

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "Capture.h"
#include "LinSimulation.h"
#include "MatrixAssembler.h"
#include "SilentProgress.h"
#include "SimulationSettings.h"
#include "TempDir.h"
#include "TestMeshes.h"

namespace zolt::test {

struct LinearModel {
  std::unique_ptr<TetHierarchy> h;
  SimulationSettings settings;
  TempDir dir;
  std::string output;  // what the last load printed

  // k x l x m cubes of edge `edge`, refined to `levels`; vertices where
  // `fixed` holds are fixed.
  LinearModel(int k, int l, int m, float edge, int levels,
              std::function<bool(const float*)> fixed = nullptr)
      : LinearModel(box(k, l, m, edge, levels), fixed) {}

  LinearModel(std::unique_ptr<TetHierarchy> hierarchy, std::function<bool(const float*)> fixed)
      : h(std::move(hierarchy)) {
    const int levels = h->nLevels;
    MatrixAssembler::progressBarFactory = silentBar;
    settings.material = new MaterialProperties;
    MaterialProperties& mat = *settings.material;
    mat.lambda = 4e5;
    mat.mu = 3e5;
    mat.density = 1000.0;
    mat.damping = 10.0;
    mat.timeStep = 0.01;
    settings.hierarchyCachePath = dir.file("model.cacheCauchy.Mgrid");
    settings.matrixCachePath = dir.file("model.cacheCauchy");
    if (!fixed) return;
    for (int lev = 0; lev < levels; ++lev)
      for (Vertex* v : h->vertices[lev]) v->fixed = fixed(v->restPosition);
    auto& list = h->vertices[levels - 1];
    std::vector<Vertex*> order(list);
    std::stable_partition(order.begin(), order.end(), [](const Vertex* v) { return v->fixed; });
    for (size_t i = 0; i < order.size(); ++i) {
      order[i]->index = static_cast<int>(i);
      settings.fixedCount += order[i]->fixed;
    }
  }

  std::vector<Vertex*>& finest() { return h->vertices[h->nLevels - 1]; }

  // Builds the simulation as the model set-up does: generate writes both
  // caches, otherwise they are read. cacheInvalid is cleared first.
  std::unique_ptr<LinSimulation> load(bool generate, int scheme = 0) {
    cacheInvalid = 0;
    std::fstream cache(
        settings.matrixCachePath,
        std::ios::binary | (generate ? std::ios::out | std::ios::trunc : std::ios::in));
    std::unique_ptr<LinSimulation> sim;
    output = captureStdout([&] {
      sim = std::make_unique<LinSimulation>(h.get(), &settings, &cache, generate, scheme, 3);
    });
    return sim;
  }
};

}  // namespace zolt::test
