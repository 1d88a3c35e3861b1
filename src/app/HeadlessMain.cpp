// zolt_headless: loads a model over the GL-free libraries.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <vector>

#include "Barrier.h"
#include "HeadlessOptions.h"
#include "Matrix.h"
#include "Run.h"
#include "Simulation.h"
#include "SimulationSettings.h"
#include "Startup.h"
#include "TestDriver.h"
#include "TetHierarchy.h"

namespace {

// Component k of the displacement x of finest vertex number v (zero for a
// fixed one).
double displacement(const Run& run, const Vector<double>& x, int v, int k) {
  const int i = 3 * (v - run.settings.fixedCount) + k;
  return i >= 0 && i < x.n ? x[i] : 0.0;
}

// Current positions of the finest vertices (rest + displacement), kept
// where the drawable keeps them, for the force field.
struct Positions {
  std::vector<float> xyz;
  void attach(Run& run) {
    std::vector<Vertex*>& vs = run.hierarchy->vertices[run.hierarchy->nLevels - 1];
    xyz.resize(3 * vs.size());
    for (size_t i = 0; i < vs.size(); ++i) vs[i]->currentPosition = &xyz[3 * i];
  }
  void update(Run& run) {
    const Vector<double>& x = *run.simulation->getDisplacement();
    for (Vertex* v : run.hierarchy->vertices[run.hierarchy->nLevels - 1])
      for (int k = 0; k < 3; ++k)
        v->currentPosition[k] =
            v->restPosition[k] + static_cast<float>(displacement(run, x, v->index, k));
  }
};

// The barrier's view of the finest vertices: positions in array order,
// their numbers, and displacements per number, as the drawable keeps them.
struct Collisions {
  std::vector<float> positions, displacements;
  std::vector<int> indices;
  void attach(Run& run) {
    const std::vector<Vertex*>& vs = run.hierarchy->vertices[run.hierarchy->nLevels - 1];
    positions.resize(3 * vs.size());
    displacements.assign(3 * vs.size(), 0.0f);
    indices.resize(vs.size());
    for (size_t i = 0; i < vs.size(); ++i) indices[i] = vs[i]->index;
    run.settings.barrier->setCollisionData(positions.data(), indices.data(), displacements.data(),
                                           static_cast<int>(vs.size()), run.simulation.get());
  }
  float lowestSimulated = 0.0f, lowestDrawn = 0.0f;  // least y before and after the pass
  // Moves the barrier and pushes the vertices out of it, from the last step's
  // displacement.
  void pass(Run& run) {
    const std::vector<Vertex*>& vs = run.hierarchy->vertices[run.hierarchy->nLevels - 1];
    const Vector<double>& x = *run.simulation->getDisplacement();
    for (size_t i = 0; i < vs.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        const int v = vs[i]->index;
        displacements[3 * v + k] = static_cast<float>(displacement(run, x, v, k));
        positions[3 * i + k] = vs[i]->restPosition[k] + displacements[3 * v + k];
      }
    run.settings.barrier->move();
    run.settings.barrier->handleCollisions();
    lowestSimulated = lowestDrawn = std::numeric_limits<float>::infinity();
    for (size_t i = 0; i < vs.size(); ++i) {
      lowestSimulated = std::min(lowestSimulated, positions[3 * i + 1]);
      lowestDrawn =
          std::min(lowestDrawn, vs[i]->restPosition[1] + displacements[3 * vs[i]->index + 1]);
    }
  }
};

// Exit status of a run whose state stopped being finite.
constexpr int kNotFinite = 3;

int step(Run& run, const HeadlessOptions& o) {
  Simulation& sim = *run.simulation;
  // The options name vertices by their place in the mesh file (the finest
  // array keeps it); the solver numbers the fixed ones first.
  const std::vector<Vertex*>& finest = run.hierarchy->vertices[run.hierarchy->nLevels - 1];
  const int nVertices = static_cast<int>(finest.size());
  if (o.vertex >= nVertices) {
    std::cerr << "zolt_headless: vertex " << o.vertex + 1 << " does not exist" << std::endl;
    return 2;
  }
  const int vertex = o.vertex >= 0 ? finest[static_cast<size_t>(o.vertex)]->index : -1;
  if (o.solver >= 0) sim.setSolver(o.solver);
  if (!o.pins.empty()) {
    for (int p : o.pins) {
      if (p >= nVertices) {
        std::cerr << "zolt_headless: vertex " << p + 1 << " does not exist" << std::endl;
        return 2;
      }
      finest[static_cast<size_t>(p)]->fixed = 1;
    }
    sim.updateHierarchy();
  }
  if (o.gravity) sim.addGravity();
  if (o.forces)
    for (const VertexForce& f : run.settings.forces)
      if (f.vertex) sim.addVertexValue(f.vertex->index, f.value);
  Positions positions;
  if (o.forceField) {
    positions.attach(run);
    positions.update(run);
    run.settings.forceFieldOn = 1;
  }
  Collisions collisions;
  if (run.settings.barrier) collisions.attach(run);
  std::cout << std::setprecision(9);
  const auto start = std::chrono::steady_clock::now();
  for (int n = 0; n < o.steps; ++n) {
    if (n == o.freezeAt) sim.freezeForces();
    if (n == o.resetAt) sim.resetState();
    if (run.settings.barrier) collisions.pass(run);
    sim.computeStep(o.stress, o.residual, o.extraPasses, o.average);
    if (o.forceField) positions.update(run);
    if (o.printEvery > 0 && (n + 1) % o.printEvery == 0) {
      std::cout << "step " << n + 1 << " maxu " << sim.maxVertexNorm();
      if (vertex >= 0) {
        std::cout << " u";
        for (int k = 0; k < 3; ++k)
          std::cout << " " << displacement(run, *sim.getDisplacement(), vertex, k);
      }
      if (o.lowest && run.settings.barrier)
        std::cout << " lowest " << collisions.lowestSimulated << " " << collisions.lowestDrawn;
      std::cout << std::endl;
    }
    if (!sim.stateFinite()) {
      std::cerr << "zolt_headless: the state is not finite after step " << n + 1 << std::endl;
      return kNotFinite;
    }
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "steps " << o.steps << " total_ms " << ms << " ms_per_step "
            << (o.steps > 0 ? ms / o.steps : 0.0) << std::endl;
  if (o.solverTest) {
    std::cout << std::setprecision(6);  // the test prints with the default format
    sim.benchmarkSolver();
  }
  if (!o.dumpDisplacement.empty()) {
    std::ofstream out(o.dumpDisplacement);
    out << std::setprecision(17);
    const Vector<double>& x = *sim.getDisplacement();
    for (int i = 0; i < x.n; ++i) out << x[i] << "\n";
    if (!out) {
      std::cerr << "zolt_headless: cannot write \"" << o.dumpDisplacement << "\"" << std::endl;
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  useOneMallocArena();
  refuseOversizeWrites();
  flushDenormals();
  HeadlessOptions o;
  std::string error;
  if (!parseHeadlessOptions(argc, argv, o, error)) {
    std::cerr << "zolt_headless: " << error << std::endl << headlessUsage();
    return 2;
  }
  if (o.help) {
    std::cout << headlessHelp();
    return 0;
  }
  if (!o.modelsDir.empty()) {
    modelsPath = withTrailingSlash(o.modelsDir);
    cachesPath = withTrailingSlash(o.cachesDir);
    if (!ensureDirectory(cachesPath)) return 1;
  } else if (!o.initFile.empty()) {
    if (!std::ifstream(o.initFile).is_open()) {
      std::cerr << "zolt_headless: cannot open init file \"" << o.initFile << "\"" << std::endl
                << headlessUsage();
      return 2;
    }
    readInitFile(o.initFile.c_str());
  } else {
    readInitFile();
  }

  if (!o.testRuns.empty()) {
    runTests(o.scheme, o.testRuns);
    return 0;
  }
  if (!loadModel({o.model, o.rebuild, o.elementModel, o.scheme})) return 1;
  int status = 0;
  if (o.benchmarkSeconds >= 0) {
    status = currentRun->benchmark(o.benchmarkSeconds) ? 0 : 1;
  } else if (!o.loadOnly) {
    if (currentRun->simulation)
      status = step(*currentRun, o);
    else
      std::cerr << "zolt_headless: element model " << o.elementModel << " has no simulation to step"
                << std::endl;
  }
  unloadModel();
  return status;
}
