// The numeric core on a real mesh: restrictions from refinement, the
// assembled elasticity stiffness, and multigrid over the hierarchy.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "FiniteElement.h"
#include "MatrixAssembler.h"
#include "Multigrid.h"
#include "TestMeshes.h"

using namespace zolt::test;

namespace {

struct Assembled {
  MaterialProperties material;
  std::unique_ptr<MatrixAssembler> assembler;
  Assembled(TetHierarchy& h, int level, int nFixed) {
    material.lambda = 1.0;
    material.mu = 1.0;
    assembler = std::make_unique<MatrixAssembler>(&h.elements[level], &material,
                                                  static_cast<int>(h.vertices[level].size()), 3);
    testing::internal::CaptureStdout();
    assembler->assemble(0, 3 * nFixed, nullptr, false);
    testing::internal::GetCapturedStdout();
  }
  ~Assembled() {
    delete assembler->K3;
    delete assembler->M;
    delete assembler->S;
    delete assembler->lumpedMass;
  }
  BlockMatrix<double, 3>& K() { return *assembler->K3; }
};

struct MeshHierarchy {
  std::unique_ptr<TetHierarchy> h;
  std::vector<int> nFixed;
  std::unique_ptr<Assembled> fine;
  std::vector<Matrix<double>*> rp;
  Vector<double> b, x;
  std::unique_ptr<Multigrid<double>> mg;

  explicit MeshHierarchy(int levels) : h(unitCube(levels)) {
    for (int l = 0; l < levels; ++l) nFixed.push_back(fixFloorAndNumberFixedFirst(*h, l));
    h->generateRestrictions(0, 0, 3, 0.005f);
    fine = std::make_unique<Assembled>(*h, levels - 1, nFixed.back());
    for (int l = 0; l < levels - 1; ++l) rp.push_back(h->restriction[l]);
    b.resize(fine->K().nRow);
    x.resize(fine->K().nRow);
    mg = std::make_unique<Multigrid<double>>(fine->K(), rp.data(), b, x, 1e-4, levels, 1, 1, true);
    testing::internal::CaptureStdout();
    mg->calcHierarchy(nullptr);
    mg->setCoarseSolver(0);
    testing::internal::GetCapturedStdout();
  }

  double residualNorm() {
    Vector<double> r(b.n);
    fine->K().residuum(x, b, r);
    double s = 0;
    for (int i = 0; i < r.n; ++i) s += r[i] * r[i];
    return std::sqrt(s);
  }

  double vCycleFactor() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < b.n; ++i) b[i] = u(rng);
    std::fill(x.data, x.data + x.n, 0.0);
    for (int c = 0; c < 2; ++c) mg->vCycle(1.7);
    double r0 = residualNorm();
    for (int c = 0; c < 8; ++c) mg->vCycle(1.7);
    return std::pow(residualNorm() / r0, 1.0 / 8);
  }
};

}  // namespace

TEST(MeshMultigrid, VCycleFactorOnARefinedCube) {
  MeshHierarchy four(4), five(5);
  double f4 = four.vCycleFactor(), f5 = five.vCycleFactor();
  EXPECT_LE(f4, 0.6);
  EXPECT_LE(f5, 0.6);
  EXPECT_NEAR(f4, f5, 0.05);
}

TEST(MeshMultigrid, PreconditionedCGConverges) {
  MeshHierarchy m(4);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int i = 0; i < m.b.n; ++i) m.b[i] = u(rng);
  Vector<double> x(m.b.n);
  CGPreMgrid<double> cg(m.fine->K(), m.b, x, 5, 1e-6);
  cg.absolute = true;  // iterate to the test's own target
  cg.eps = 0.0;
  testing::internal::CaptureStdout();
  cg.setupMultigrid(m.rp.data(), 4);
  testing::internal::GetCapturedStdout();
  Vector<double> r(m.b.n);
  double bNorm = 0;
  for (int i = 0; i < m.b.n; ++i) bNorm += m.b[i] * m.b[i];
  bNorm = std::sqrt(bNorm);
  double rel = 1;
  int it = 0;
  for (; it < 200 && rel > 1e-8; ++it) {
    cg.solve();
    m.fine->K().residuum(x, m.b, r);
    double s = 0;
    for (int i = 0; i < r.n; ++i) s += r[i] * r[i];
    rel = std::sqrt(s) / bNorm;
  }
  EXPECT_LE(rel, 1e-8) << it << " steps";
}

TEST(MeshMultigrid, GalerkinCoarseMatricesEqualAssembledOnes) {
  MeshHierarchy m(3);
  for (int l = 0; l < 2; ++l) {
    Assembled direct(*m.h, l, m.nFixed[l]);
    auto& galerkin = dynamic_cast<BlockMatrix<double, 3>&>(*m.mg->A[l]);
    BlockMatrix<double, 3>& K = direct.K();
    ASSERT_EQ(galerkin.nRow, K.nRow);
    ASSERT_EQ(galerkin.blocks.size(), K.blocks.size()) << "level " << l;
    double scale = K.maxAbs();
    for (size_t k = 0; k < K.blocks.size(); ++k) {
      const auto &a = galerkin.blocks[k], &b = K.blocks[k];
      ASSERT_EQ(a.row0, b.row0);
      ASSERT_EQ(a.col0, b.col0);
      for (int q = 0; q < 9; ++q) EXPECT_NEAR(a.values[q], b.values[q], 1e-12 * scale);
    }
  }
}
