#include "LinSimulation.h"

#include <iostream>

#include "BinaryIO.h"
#include "CacheFiles.h"
#include "Iteration.h"
#include "MatrixAssembler.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"
#include "TimeIntegration.h"

LinSimulation::LinSimulation(TetHierarchy* h, SimulationSettings* s, std::fstream* matrixCache,
                             bool generate, int integrationScheme, uint8_t d)
    : FEMSimulation(h, s, d) {
  std::cout << std::endl
            << "Simulation with linear Cauchy Strain Tensor ..." << std::endl
            << "Generating Matrices ........." << std::endl;
  std::fstream unopened;
  std::fstream& cache = matrixCache ? *matrixCache : unopened;
  readWriteCacheHeader(generate, cache);
  if ((!generate && cacheInvalid) || !setUpMatrices(cache, generate)) {
    std::cout << std::endl;
    return;
  }
  if (integrationScheme == static_cast<int>(IntegrationScheme::None)) return;
  integrator =
      TimeIntegration::create(integrationScheme, M.get(), lumpedMass.get(), *K, displacement.get(),
                              rightSide.get(), settings->material, dim);
  if (!integrator) return;
  std::cout << "Solving LGS  with Multigrid Approach" << std::endl;
  setUpHierarchy(generate, integrationScheme);
  hierarchy->compactInterpolation();
  std::cout << std::endl;
}

// In this order; neither the multigrid nor the solver touches K or the state
// vectors when it is released.
LinSimulation::~LinSimulation() {
  K.reset();
  unconstrainedK.reset();
  M.reset();
  lumpedMass.reset();
  S.reset();
  multigrid.reset();
  solver.reset();
  prescribed.clear();
  prescribed.shrink_to_fit();
}

bool LinSimulation::setUpMatrices(std::fstream& cache, bool generate) {
  const int finest = hierarchy->nLevels - 1;
  MatrixAssembler assembler(&hierarchy->elements[finest], settings->material,
                            static_cast<int>(hierarchy->vertices[finest].size()), dim);
  if (!generate) {
    std::cout << "  Generating Shape Functions ........." << std::endl;
    assembler.generateShapeFunctions(false);
    if (readMatrices(cache)) return true;
    cacheInvalid = 1;
    return false;
  }
  std::cout << "  Generating K ........." << std::endl;
  assembler.assemble(0, settings->fixedCount * dim, nullptr, false);
  K.reset(assembler.getStiffnessMatrix());
  M.reset(assembler.M);
  lumpedMass.reset(assembler.lumpedMass);
  S.reset(assembler.S);
  std::cout << "  Caching Matrices ........." << std::endl;
  K->writeToFile(cache);
  M->writeToFile(cache);
  lumpedMass->writeToFile(cache);
  S->writeToFile(cache);
  zolt::cache::finishWrite(cache, settings->matrixCachePath, "LinSimulation");
  return true;
}

// Reads K, M, the lumped masses and S into temporaries and keeps them only
// when every record is sound and sized for this model.
bool LinSimulation::readMatrices(std::fstream& cache) {
  const int n = dim * nFree;
  auto stale = [](const char* what) {
    std::cout << "[LinSimulation, readMatrices] Error: Bad " << what
              << " in the matrix cache; it is rebuilt." << std::endl;
    return false;
  };
  std::cout << "  Reading K ........." << std::endl;
  std::unique_ptr<Matrix<double>> k;
  if (dim == 3)
    k = zolt::cache::readBlockRecord<3>(cache, n);
  else
    k = zolt::cache::readBlockRecord<2>(cache, n);
  if (!k) return stale("K record");
  std::cout << "  Reading M ........." << std::endl;
  auto m = std::make_unique<PackedMatrix<double>>();
  if (!m->readFromFile(cache) || m->nRow != n || m->nCol != n) return stale("M record");
  auto lumped = std::make_unique<Vector<double>>();
  if (!lumped->readFromFile(cache) || lumped->n != n) return stale("lumped mass record");
  std::cout << "  Reading S ........." << std::endl;
  auto s = std::make_unique<PackedMatrix<double>>();
  if (!s->readFromFile(cache) || s->nRow != stress->n || s->nCol != n) return stale("S record");
  if (zolt::bin::bytesLeft(cache) > 0) return stale("end (bytes after S)");
  K = std::move(k);
  M = std::move(m);
  lumpedMass = std::move(lumped);
  S = std::move(s);
  return true;
}
