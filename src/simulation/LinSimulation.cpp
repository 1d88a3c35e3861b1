#include "LinSimulation.h"

#include <iostream>

#include "BinaryIO.h"
#include "CacheFiles.h"
#include "Iteration.h"
#include "MatrixAssembler.h"
#include "Multigrid.h"
#include "PackedMatrix.h"
#include "SealedFile.h"
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
  std::fstream& file = matrixCache ? *matrixCache : unopened;
  if (!(generate ? writeMatrixCache(file) : readMatrixCache(file))) {
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
  pinLoad.clear();
  pinLoad.shrink_to_fit();
}

// Header and records go through the seal.
bool LinSimulation::writeMatrixCache(std::fstream& file) {
  zolt::SealedOutBuf sealed(*file.rdbuf());
  std::iostream out(&sealed);
  readWriteCacheHeader(true, out);
  const int finest = hierarchy->nLevels - 1;
  MatrixAssembler assembler(&hierarchy->elements[finest], settings->material,
                            static_cast<int>(hierarchy->vertices[finest].size()), dim);
  std::cout << "  Generating K ........." << std::endl;
  assembler.assemble(0, settings->fixedCount * dim, nullptr, false);
  K.reset(assembler.getStiffnessMatrix());
  M.reset(assembler.M);
  lumpedMass.reset(assembler.lumpedMass);
  S.reset(assembler.S);
  std::cout << "  Caching Matrices ........." << std::endl;
  K->writeToFile(out);
  M->writeToFile(out);
  lumpedMass->writeToFile(out);
  S->writeToFile(out);
  // The owner of the file commits it (zolt::cache::commit) once this
  // returns; a failed write is seen there.
  if (!sealed.seal() || !out) file.setstate(std::ios::failbit);
  return true;
}

// The header is compared first; the records are kept only when they are
// sound and the seal matches.
bool LinSimulation::readMatrixCache(std::fstream& file) {
  zolt::SealedInBuf sealed(*file.rdbuf());
  std::iostream in(&sealed);
  readWriteCacheHeader(false, in, &sealed);
  if (cacheInvalid) return false;
  const int finest = hierarchy->nLevels - 1;
  MatrixAssembler assembler(&hierarchy->elements[finest], settings->material,
                            static_cast<int>(hierarchy->vertices[finest].size()), dim);
  std::cout << "  Generating Shape Functions ........." << std::endl;
  assembler.generateShapeFunctions(false);
  if (readMatrices(in, sealed)) return true;
  cacheInvalid = 1;
  return false;
}

// Reads K, M, the lumped masses and S into temporaries and keeps them only
// when every record is sound and sized for this model, M lies in K's
// pattern (the schemes add it to K) and the seal matches.
bool LinSimulation::readMatrices(std::istream& cache, zolt::SealedInBuf& seal) {
  const int n = dim * nFree;
  // A bad record in a file whose seal fails is damage.
  auto stale = [&](const char* what) {
    std::cout << "[LinSimulation, readMatrices] Error: "
              << (seal.verify() ? std::string("Bad ") + what : "Checksum mismatch") << " in \""
              << settings->matrixCachePath << "\"; it is rebuilt." << std::endl;
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
  if (!seal.verify()) return stale("seal");
  const bool inPattern =
      dim == 3 ? zolt::cache::patternWithin(static_cast<BlockMatrix<double, 3>&>(*k), *m)
               : zolt::cache::patternWithin(static_cast<BlockMatrix<double, 2>&>(*k), *m);
  if (!inPattern) return stale("M pattern (entries outside K's blocks)");
  K = std::move(k);
  M = std::move(m);
  lumpedMass = std::move(lumped);
  S = std::move(s);
  return true;
}
