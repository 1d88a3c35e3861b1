// The multigrid hierarchy of the linear simulation: the hierarchy cache
// (scheme, material, restrictions, coarse matrices, coarse inverse), its
// construction, and pinning vertices afterwards.
//
// Hierarchy cache, little-endian: u32 format word; u64 fingerprint of the
// model files and configuration entries (as in the mesh and matrix caches);
// i32 level count; i32 scheme; six f64 material (after the scheme may have
// shortened the time step); the restriction records; for
// each coarse level L-2 .. 0 an i32 basis kind and the level matrix; i32
// coarse-solver kind (0 Invert, followed by the inverse; 1 CGPreDiag;
// 2 GaussSeidel; 3 sparse Cholesky, factored again at each load rather
// than stored: 0.2 s for 16,000 unknowns and 1.1 s for 52,000, against 36
// and 200 MB more cache to write). The file ends with its seal
// (SealedFile.h).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>

#include "BinaryIO.h"
#include "BlockMatrix.h"
#include "CacheFiles.h"
#include "FiniteElement.h"
#include "Iteration.h"
#include "LinSimulation.h"
#include "MatrixAssembler.h"
#include "Multigrid.h"
#include "ProgressBar.h"
#include "SealedFile.h"
#include "SimulationSettings.h"
#include "TetHierarchy.h"

namespace {

// The first format began with the scheme and named no model.
constexpr uint32_t kHierarchyMagic = 0x7A91C002;

enum BasisKind : int32_t { kPacked = 0, kBlock3 = 1, kBlock2 = 2 };
enum CoarseKind : int32_t { kInvert = 0, kDiagonalCG = 1, kGaussSeidel = 2, kSparseCholesky = 3 };
const char* const kBadRecord = "Bad record";

void materialValues(const MaterialProperties& m, double* v) {
  const double all[6] = {m.lambda, m.mu, m.density, m.damping, m.friction, m.timeStep};
  std::copy(all, all + 6, v);
}

// Lame parameters match within 1e-9 of the larger magnitude (zero matches
// zero); the other four values exactly.
bool sameMaterial(const double* stored, const double* cur) {
  for (int k = 0; k < 2; ++k)
    if (!(std::fabs(stored[k] - cur[k]) <=
          1e-9 * std::fmax(std::fabs(stored[k]), std::fabs(cur[k]))))
      return false;
  for (int k = 2; k < 6; ++k)
    if (!(stored[k] == cur[k])) return false;
  return true;
}

// d_i = 1 / A(i, i), replaced by 1 where its magnitude exceeds 1.
void refreshInverseDiagonal(CGPreDiag<double>& cg, const Matrix<double>& A) {
  Vector<double>& d = *cg.invDiag;
  for (int i = 0; i < d.n; ++i) {
    const double v = 1.0 / A(i, i);
    d[i] = std::fabs(v) > 1.0 ? 1.0 : v;
  }
}

template <int BS>
void pinRow(BlockMatrix<double, BS>& K, int dof, double E) {
  const int r = dof % BS;
  const int blockRow = dof / BS;
  using Block = typename BlockMatrix<double, BS>::Block;
  for (Block *b = K.rowStart[blockRow], *e = K.rowStart[blockRow + 1]; b != e; ++b) {
    std::fill(b->values + r * BS, b->values + (r + 1) * BS, 0.0);
    if (b->col0 == b->row0) b->values[r * BS + r] = E;
  }
}

// Moves the pinned columns of K on the free rows to the load,
// pinLoad -= K(:, c) x_c, and clears them there.
template <int BS>
void movePinnedColumns(BlockMatrix<double, BS>& K, const std::vector<char>& pinned,
                       const Vector<double>& x, std::vector<double>& pinLoad) {
  for (auto& b : K.blocks)
    for (int s = 0; s < BS; ++s) {
      const int c = b.col0 + s;
      if (!pinned[static_cast<size_t>(c)]) continue;
      for (int a = 0; a < BS; ++a) {
        const auto row = static_cast<size_t>(b.row0 + a);
        if (pinned[row]) continue;  // its row is E x_c = E x_pinned already
        pinLoad[row] -= b.values[a * BS + s] * x[c];
        b.values[a * BS + s] = 0.0;
      }
    }
}

}  // namespace

int LinSimulation::levelUnknowns(int l) const { return hierarchy->unknowns(l, dim); }

void LinSimulation::createMultigrid() {
  const int L = hierarchy->nLevels;
  restrictionView.assign(hierarchy->restriction, hierarchy->restriction + (L - 1));
  const int sweeps = settings->fixedCount != 0 ? 1 : 3;
  multigrid = std::make_unique<Multigrid<double>>(*K, restrictionView.data(), *rightSide,
                                                  *displacement, 1e-4, L, sweeps, sweeps, true);
  // Symmetric cycles: one cycle per implicit step stays bounded without
  // damping, where forward post-sweeps let undamped models blow up.
  multigrid->backwardPostSweeps = true;
  correctFreeBody();
  // A held body that can still turn is smoothed as a free one.
  if (multigrid->rigidBlock != 0) multigrid->nu1 = multigrid->nu2 = 3;
}

void LinSimulation::correctFreeBody() {
  const int n = K->nRow;
  const int fixed = settings->fixedCount;
  const std::vector<Vertex*>& finest = hierarchy->vertices[hierarchy->nLevels - 1];
  const int count = static_cast<int>(finest.size());
  // Pieces: the vertices the finest elements join (union-find over vertex
  // numbers). A vertex of no element constrains nothing.
  std::vector<int> root(count), used(count, 0);
  for (int i = 0; i < count; ++i) root[i] = i;
  auto find = [&](int i) {
    while (root[i] != i) i = root[i] = root[root[i]];
    return i;
  };
  for (const FiniteElement* e : hierarchy->elements[hierarchy->nLevels - 1]) {
    int first = -1;
    for (int k = 0; k < e->degreeOfFreedom(); ++k) {
      const int i = e->getVertex(k)->index;
      if (i < 0 || i >= count) continue;
      used[i] = 1;
      if (first < 0)
        first = find(i);
      else
        root[find(i)] = first;
    }
  }
  // Rest positions by unknown; where they miss an unknown, only the
  // translations of a single free piece are corrected.
  std::vector<double> rest(n);
  std::vector<int> piece(n / dim, -1), number(count, -1);
  std::vector<std::vector<double>> held;
  int covered = 0;
  for (const Vertex* v : finest) {
    const int j = v->index - fixed;
    if (j < 0 || dim * (j + 1) > n) continue;
    for (int k = 0; k < dim; ++k) rest[dim * j + k] = v->restPosition[k];
    covered += dim;
    if (!used[v->index]) continue;
    int& p = number[find(v->index)];
    if (p < 0) {
      p = static_cast<int>(held.size());
      held.emplace_back();
    }
    // A pinned vertex (fixed, numbered with the free ones) holds its piece
    // and is not corrected.
    if (!v->fixed) piece[j] = p;
  }
  // Each piece is held at its fixed and pinned vertices.
  for (const Vertex* v : finest) {
    if (v->index < 0 || v->index >= count || !used[v->index]) continue;
    if (v->index >= fixed && !v->fixed) continue;
    const int p = number[find(v->index)];
    if (p >= 0) held[p].insert(held[p].end(), v->restPosition, v->restPosition + dim);
  }
  if (held.empty()) {
    multigrid->correctRigidMotions(0, nullptr);
    return;
  }
  multigrid->correctPieceMotions(dim, covered == n ? rest.data() : nullptr, piece.data(), held);
}

void LinSimulation::setUpHierarchy(bool generate, int scheme) {
  std::vector<std::unique_ptr<Matrix<double>>> levels;
  std::unique_ptr<FullMatrix<double>> inverse;
  int coarseKind = kInvert;
  bool reuse = false;
  // Not a file: treated as missing, the writer says why it cannot cache.
  const std::string& path = settings->hierarchyCachePath;
  if (!generate && zolt::notAFile(path).empty()) {
    std::ifstream file(path, std::ios::binary);
    zolt::SealedInBuf sealed(*file.rdbuf());
    std::istream in(&sealed);
    const std::string stale = file ? hierarchyCacheStale(in, scheme) : "is missing";
    if (!stale.empty()) {
      if (!file || sealed.verify())
        std::cout << "[LinSimulation, setUpHierarchy] Hierarchy cache \"" << path << "\" " << stale
                  << "; the hierarchy is rebuilt." << std::endl;
      else
        std::cout << "[LinSimulation, readHierarchyCache] Error: Checksum mismatch in \"" << path
                  << "\"; the hierarchy is rebuilt." << std::endl;
    } else {
      std::cout << "Reading Interpolation & Restriction ........." << std::endl;
      const std::string why = readHierarchyCache(in, levels, coarseKind, inverse);
      const bool sound = sealed.verify();
      if (sound && !why.empty() && why != kBadRecord)
        std::cout << "[LinSimulation, setUpHierarchy] Hierarchy cache \"" << path << "\" " << why
                  << "; the hierarchy is rebuilt." << std::endl;
      else if (!why.empty() || !sound)
        std::cout << "[LinSimulation, readHierarchyCache] Error: "
                  << (sound ? "Bad record" : "Checksum mismatch") << " in \"" << path
                  << "\"; the hierarchy is rebuilt." << std::endl;
      reuse = why.empty() && sound;
    }
  }
  if (!reuse) return buildHierarchy(scheme);

  createMultigrid();
  std::cout << "Reading Matrix Hierarchy ........." << std::endl;
  Multigrid<double>& mg = *multigrid;
  mg.ownsLevelMatrices = true;
  mg.basisType = dim == 3 ? kBlock3 : kBlock2;
  for (int l = 0; l < hierarchy->nLevels - 1; ++l) mg.A[l] = levels[l].release();
  if (coarseKind == kInvert) {
    delete mg.coarse;
    mg.coarse = new Invert<double>(*mg.A[0], mg.rhs[0], mg.sol[0], inverse.release());
    mg.coarseSolverType = kInvert;
  } else {
    installCoarseSolver(coarseKind);
  }
}

void LinSimulation::installCoarseSolver(int kind) {
  Multigrid<double>& mg = *multigrid;
  const bool factors = Multigrid<double>::coarseSolverFor(kind, mg.A[0]->nRow) == kSparseCholesky;
  std::unique_ptr<ProgressBar> bar(
      factors ? MatrixAssembler::progressBarFactory("Factoring Coarsest Level", 2) : nullptr);
  mg.setCoarseSolver(kind, bar.get());
}

std::string LinSimulation::hierarchyCacheStale(std::istream& in, int scheme) const {
  using namespace zolt::bin;
  uint32_t magic = 0, low = 0, high = 0;
  int32_t levels = 0, stored = 0;
  double storedMaterial[6], cur[6];
  bool complete = readU32(in, magic);
  if (complete && magic != kHierarchyMagic) return "has another format";
  complete = complete && readU32(in, low) && readU32(in, high) && readI32(in, levels) &&
             readI32(in, stored);
  for (double& v : storedMaterial) complete = complete && readF64(in, v);
  if (!complete) return "is truncated";
  if ((uint64_t(high) << 32 | low) != settings->sourceFingerprint)
    return "was written for another model";
  if (levels != hierarchy->nLevels)
    return "was written for " + std::to_string(levels) +
           (levels == 1 ? " level, not " : " levels, not ") + std::to_string(hierarchy->nLevels);
  if (stored != scheme)
    return "was written for integration scheme " + std::to_string(stored) + ", not " +
           std::to_string(scheme);
  materialValues(*settings->material, cur);
  if (!sameMaterial(storedMaterial, cur)) return "was written for other material values";
  return std::string();
}

std::string LinSimulation::readHierarchyCache(std::istream& in,
                                              std::vector<std::unique_ptr<Matrix<double>>>& levels,
                                              int& coarseKind,
                                              std::unique_ptr<FullMatrix<double>>& inverse) {
  const int L = hierarchy->nLevels;
  if (!hierarchy->readRestrictions(in)) return kBadRecord;
  for (int l = 0; l < L - 1; ++l)
    if (hierarchy->restriction[l]->nRow != levelUnknowns(l)) return kBadRecord;
  if (L > 1 && hierarchy->restriction[L - 2]->nCol != K->nRow) return kBadRecord;

  levels.resize(L - 1);
  const int32_t basis = dim == 3 ? kBlock3 : kBlock2;
  for (int l = L - 2; l >= 0; --l) {
    int32_t kind;
    if (!zolt::bin::readI32(in, kind) || kind != basis) return kBadRecord;
    const int n = hierarchy->restriction[l]->nRow;
    if (dim == 3)
      levels[l] = zolt::cache::readBlockRecord<3>(in, n);
    else
      levels[l] = zolt::cache::readBlockRecord<2>(in, n);
    if (!levels[l]) return kBadRecord;
  }

  int32_t kind;
  if (!zolt::bin::readI32(in, kind) || kind < kInvert || kind > kSparseCholesky) return kBadRecord;
  coarseKind = kind;
  // The dense inverse and the sparse factor each belong on their side of
  // the dense limit; a cache from the other side is rebuilt.
  const int n = L > 1 ? hierarchy->restriction[0]->nRow : K->nRow;
  if ((kind == kInvert || kind == kSparseCholesky) &&
      kind != Multigrid<double>::coarseSolverFor(kInvert, n))
    return std::string("was written for a ") + (kind == kInvert ? "dense" : "sparse") +
           " coarse solve";
  if (kind == kInvert) {
    inverse = std::make_unique<FullMatrix<double>>(0, 0);
    if (!inverse->readFromFile(in) || inverse->nRow != n || inverse->nCol != n) return kBadRecord;
  }
  return zolt::bin::bytesLeft(in) == 0 ? std::string() : kBadRecord;
}

void LinSimulation::buildHierarchy(int scheme) {
  const std::string& path = settings->hierarchyCachePath;
  zolt::AtomicFile file(path);
  if (!file.is_open()) {
    const std::string& why = file.why();
    std::cout << "[LinSimulation, buildHierarchy] Error: Could not create \"" << path << "\""
              << (why.empty() ? "" : " (it " + why + ")") << "; the hierarchy is not cached."
              << std::endl;
  }
  zolt::SealedOutBuf sealed(*file.stream().rdbuf());
  std::ostream out(&sealed);
  double material[6];
  materialValues(*settings->material, material);
  zolt::bin::writeU32(out, kHierarchyMagic);
  zolt::bin::writeU32(out, static_cast<uint32_t>(settings->sourceFingerprint));
  zolt::bin::writeU32(out, static_cast<uint32_t>(settings->sourceFingerprint >> 32));
  zolt::bin::writeI32(out, hierarchy->nLevels);
  zolt::bin::writeI32(out, scheme);
  for (double v : material) zolt::bin::writeF64(out, v);
  std::cout << "Generating Interpolation & Restriction ........." << std::endl;
  hierarchy->generateRestrictions(0, settings->fixedCount * dim, dim, 0.005f);
  hierarchy->writeRestrictions(out);

  createMultigrid();
  Multigrid<double>& mg = *multigrid;
  std::cout << "Generating Matrix Hierarchy ........." << std::endl;
  std::unique_ptr<ProgressBar> bar(
      MatrixAssembler::progressBarFactory("Generate Matrix Hierarchy", 1));
  mg.calcHierarchy(bar.get());
  bar.reset();
  installCoarseSolver(kInvert);
  if (file.is_open())
    std::cout << "Caching Matrix Hierarchy in file \"" << path << "\"" << std::endl;
  for (int l = hierarchy->nLevels - 2; l >= 0; --l) {
    zolt::bin::writeI32(out, mg.basisType);
    mg.A[l]->writeToFile(out);
  }
  zolt::bin::writeI32(out, mg.coarseSolverType);
  if (mg.coarseSolverType == kInvert) mg.coarse->writeToFile(out);
  if (!sealed.seal() || !out) file.stream().setstate(std::ios::failbit);
  zolt::cache::commit(file, "LinSimulation, buildHierarchy");
}

void LinSimulation::updateHierarchy() {
  if (!K || !multigrid) return;
  // 1. Back to the unconstrained operator; the first call keeps a copy and
  // gives the coarse level a solver that follows value changes.
  if (unconstrainedK) {
    if (dim == 3)
      static_cast<BlockMatrix<double, 3>&>(*K).structuredCopy(
          static_cast<BlockMatrix<double, 3>&>(*unconstrainedK));
    else
      static_cast<BlockMatrix<double, 2>&>(*K).structuredCopy(
          static_cast<BlockMatrix<double, 2>&>(*unconstrainedK));
    K->symmetric = unconstrainedK->symmetric;
  } else {
    if (dim == 3)
      unconstrainedK =
          std::make_unique<BlockMatrix<double, 3>>(static_cast<BlockMatrix<double, 3>&>(*K));
    else
      unconstrainedK =
          std::make_unique<BlockMatrix<double, 2>>(static_cast<BlockMatrix<double, 2>&>(*K));
    multigrid->setCoarseSolver(kDiagonalCG);
  }

  // 2.-3. Rows of pinned unknowns become E x = E x_pinned; their columns
  // move to the load, so that K stays symmetric for the CG solvers, the
  // sparse factor and the rigid correction.
  prescribed.clear();
  pinLoad.clear();
  const MaterialProperties& m = *settings->material;
  const double E = ((3.0 * m.lambda + (m.mu + m.mu)) * m.mu) / (m.lambda + m.mu);
  pinModulus = E;
  std::vector<char> pinned(static_cast<size_t>(K->nRow), 0);
  for (const Vertex* v : hierarchy->vertices[hierarchy->nLevels - 1]) {
    const int i = v->index - settings->fixedCount;
    if (!v->fixed || i < 0) continue;
    for (int k = 0; k < dim; ++k) {
      const int dof = dim * i + k;
      pinned[static_cast<size_t>(dof)] = 1;
      prescribed.push_back({dof, E * (*displacement)[dof]});
      if (dim == 3)
        pinRow(static_cast<BlockMatrix<double, 3>&>(*K), dof, E);
      else
        pinRow(static_cast<BlockMatrix<double, 2>&>(*K), dof, E);
    }
  }
  if (!prescribed.empty()) {
    pinLoad.assign(static_cast<size_t>(K->nRow), 0.0);
    if (dim == 3)
      movePinnedColumns(static_cast<BlockMatrix<double, 3>&>(*K), pinned, *displacement, pinLoad);
    else
      movePinnedColumns(static_cast<BlockMatrix<double, 2>&>(*K), pinned, *displacement, pinLoad);
  }

  // 4. Coarse levels of every multigrid on K; a diagonal CG follows K, a
  // direct solver is built anew.
  refreshCoarseLevels(*multigrid);
  // A pinned piece turns about its pins only.
  correctFreeBody();
  if (auto* cg = dynamic_cast<CGPreMgrid<double>*>(solver.get())) {
    refreshCoarseLevels(*cg->multigrid);
    cg->multigrid->copyRigidCorrection(*multigrid);
  } else if (auto* cg = dynamic_cast<CGPreDiag<double>*>(solver.get())) {
    refreshInverseDiagonal(*cg, *K);
  } else if (solverKind() == 2) {
    setSolver(2);
  }
}

void LinSimulation::refreshCoarseLevels(Multigrid<double>& mg) {
  for (int l = mg.levels - 2; l >= 0; --l) {
    Matrix<double>& fine = *mg.A[l + 1];
    Matrix<double>& coarse = *mg.A[l];
    auto& R = static_cast<PackedMatrix<double>&>(*mg.restriction[l]);
    coarse.symmetric = fine.symmetric;
    switch (mg.basisType) {
      case kPacked:
        Multigrid<double>::galerkinProduct(static_cast<PackedMatrix<double>&>(fine), R,
                                           static_cast<PackedMatrix<double>&>(coarse), false);
        break;
      case kBlock3:
        Multigrid<double>::galerkinProduct(static_cast<BlockMatrix<double, 3>&>(fine), R,
                                           static_cast<BlockMatrix<double, 3>&>(coarse), false);
        break;
      case kBlock2:
        Multigrid<double>::galerkinProduct(static_cast<BlockMatrix<double, 2>&>(fine), R,
                                           static_cast<BlockMatrix<double, 2>&>(coarse), false);
        break;
      default:
        std::cout.flush();
        std::cerr << "[Multigrid, updateHierarchy]: Error: Neither PackedMatrix nor BlockMatrix "
                     "is used as Basis!!"
                  << std::endl;
        std::exit(1);
    }
  }
  if (auto* cg = dynamic_cast<CGPreDiag<double>*>(mg.coarse)) refreshInverseDiagonal(*cg, *mg.A[0]);
}
