// Cold and warm load of a sample model, and the cost of one time step
// against one V-cycle and one product with K. Run from build/<tree>/run/bin:
//   ../../bench/zolt_bench_load_step [model ...]   (default bunnyLarge bunnyFurTex)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "LinSimulation.h"
#include "Matrix.h"
#include "Multigrid.h"
#include "Run.h"
#include "Startup.h"

namespace {

template <class F>
double millis(F f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Loads (and preprocesses) the model with its console output dropped.
double load(const std::string& name, bool cold) {
  std::ostringstream sink;
  std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
  const double ms = millis([&] { loadModel({name, cold, 0, 0}); });
  std::cout.rdbuf(saved);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  useOneMallocArena();  // as the programs
  readInitFile();
  std::vector<std::string> models(argv + 1, argv + argc);
  if (models.empty()) models = {"bunnyLarge", "bunnyFurTex"};
  std::printf("%-12s %10s %10s %7s %9s %9s %9s %9s %8s\n", "model", "cold_ms", "warm_ms", "ratio",
              "step_ms", "vcycle_ms", "spmv_ms", "step/vc", "steps/s");
  for (const std::string& name : models) {
    const double cold = load(name, true);
    const double warm = load(name, false);
    if (!currentRun || !currentRun->simulation) {
      std::fprintf(stderr, "%s: not loaded\n", name.c_str());
      continue;
    }
    auto* sim = dynamic_cast<LinSimulation*>(currentRun->simulation.get());
    sim->addGravity();
    const int n = 20;
    double step = millis([&] {
                    for (int i = 0; i < n; ++i) sim->computeStep(false, false, 0, false);
                  }) /
                  n;
    double vcycle = millis([&] {
                      for (int i = 0; i < n; ++i) sim->multigrid->vCycle(1.0);
                    }) /
                    n;
    Vector<double> y(sim->displacement->n);
    double spmv = millis([&] {
                    for (int i = 0; i < n; ++i) sim->K->mult(*sim->displacement, y);
                  }) /
                  n;
    std::printf("%-12s %10.1f %10.1f %7.1f %9.3f %9.3f %9.3f %9.2f %8.1f\n", name.c_str(), cold,
                warm, cold / warm, step, vcycle, spmv, step / vcycle, 1000.0 / step);
    // A free body: its rigid-motion correction, which ends each V-cycle,
    // against a product with K; alternating, median of 15.
    if (sim->multigrid->rigidBlock) {
      std::vector<double> correction, product;
      for (int rep = 0; rep < 15; ++rep) {
        correction.push_back(millis([&] {
                               for (int i = 0; i < 10 * n; ++i)
                                 sim->multigrid->applyRigidCorrection();
                             }) /
                             (10 * n));
        product.push_back(millis([&] {
                            for (int i = 0; i < 10 * n; ++i) sim->K->mult(*sim->displacement, y);
                          }) /
                          (10 * n));
      }
      std::sort(correction.begin(), correction.end());
      std::sort(product.begin(), product.end());
      std::printf("%-12s rigid-motion correction %.4f ms = %.2f products with K (V-cycle %.2f)\n",
                  name.c_str(), correction[7], correction[7] / product[7], vcycle / product[7]);
    }
    unloadModel();
  }
  return 0;
}
