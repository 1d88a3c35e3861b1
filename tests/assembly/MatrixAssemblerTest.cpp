#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Capture.h"
#include "MatrixAssembler.h"
#include "ProgressBar.h"
#include "SilentProgress.h"
#include "TestMeshes.h"
#include "TetHierarchy.h"
#include "Tetrahedron.h"
#include "Vertex.h"

using P = Polynom<double>;
using zolt::test::restVolume;

using zolt::test::captureStdout;

using zolt::test::silentBar;

namespace {

// ------------------------------------------------------------------ helpers

// Records every bar the assembler makes.
struct BarRecord {
  std::string title;
  unsigned int total;
  int steps;
  bool finished;
};
std::vector<BarRecord> bars;

class RecordingBar : public ProgressBar {
 public:
  size_t slot;
  void step() override {
    ProgressBar::step();
    ++bars[slot].steps;
  }
  void finish() override { bars[slot].finished = true; }
};

ProgressBar* recordingBar(const char* title, unsigned int total) {
  auto* bar = new RecordingBar;
  bar->slot = bars.size();
  bars.push_back({title, total, 0, false});
  bar->setTotal(total);
  return bar;
}

// Quiet progress bars for every test unless it installs its own.
class Environment : public testing::Environment {
 public:
  void SetUp() override { MatrixAssembler::progressBarFactory = silentBar; }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new Environment);

int failWithEagain(pthread_t*, const pthread_attr_t*, Threads::Routine, void*) { return EAGAIN; }

struct FailingCreation {
  FailingCreation() { Threads::createThread = failWithEagain; }
  ~FailingCreation() { Threads::createThread = pthread_create; }
};

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

MaterialProperties material(double lambda, double mu) {
  MaterialProperties m;
  m.lambda = lambda;
  m.mu = mu;
  return m;
}

// The results of one assembly, owned.
struct Result {
  std::unique_ptr<BlockMatrix<double, 3>> K;
  std::unique_ptr<PackedMatrix<double>> M, S;
  std::unique_ptr<Vector<double>> lumped;
};

Result assemble(std::vector<FiniteElement*>& elements, int nNodes, const MaterialProperties& mat,
                int firstDof = 0, int nDofs = 0, bool useWorker = true, bool symbolic = false,
                FullMatrix<double>* perElement = nullptr) {
  MaterialProperties m = mat;
  MatrixAssembler a(&elements, &m, nNodes, 3);
  a.useWorker = useWorker;
  a.forceSymbolic = symbolic;
  captureStdout([&] { a.assemble(firstDof, nDofs, perElement, false); });
  EXPECT_EQ(a.getStiffnessMatrix(), a.K3);
  EXPECT_EQ(a.K2, nullptr);
  EXPECT_EQ(a.Msparse, nullptr);
  EXPECT_EQ(a.Ssparse, nullptr);
  Result r;
  r.K.reset(a.K3);
  r.M.reset(a.M);
  r.S.reset(a.S);
  r.lumped.reset(a.lumpedMass);
  return r;
}

// Every stored value of both, bit for bit.
void expectIdentical(const Result& a, const Result& b) {
  ASSERT_EQ(a.K->blocks.size(), b.K->blocks.size());
  for (size_t k = 0; k < a.K->blocks.size(); ++k) {
    const auto& x = a.K->blocks[k];
    const auto& y = b.K->blocks[k];
    ASSERT_EQ(x.row0, y.row0);
    ASSERT_EQ(x.col0, y.col0);
    for (int v = 0; v < 9; ++v) ASSERT_TRUE(sameBits(x.values[v], y.values[v])) << k << " " << v;
  }
  for (const auto& [x, y] :
       {std::make_pair(a.M.get(), b.M.get()), std::make_pair(a.S.get(), b.S.get())}) {
    ASSERT_EQ(x->nRow, y->nRow);
    ASSERT_EQ(x->nCol, y->nCol);
    ASSERT_EQ(x->nnz, y->nnz);
    for (int r = 0; r < x->nRow; ++r) {
      ASSERT_EQ(x->rowLen[r], y->rowLen[r]);
      for (int k = 0; k < x->rowLen[r]; ++k) {
        ASSERT_EQ(x->rowStart[r][k].col, y->rowStart[r][k].col);
        ASSERT_TRUE(sameBits(x->rowStart[r][k].val, y->rowStart[r][k].val)) << r << " " << k;
      }
    }
  }
  ASSERT_EQ(a.lumped->n, b.lumped->n);
  for (int i = 0; i < a.lumped->n; ++i) ASSERT_TRUE(sameBits((*a.lumped)[i], (*b.lumped)[i])) << i;
}

// The same patterns and every value within rel times the largest value of
// its matrix (the lumped vector entry by entry).
void expectClose(const Result& a, const Result& b, double rel) {
  ASSERT_EQ(a.K->blocks.size(), b.K->blocks.size());
  const double kScale = b.K->maxAbs();
  for (size_t k = 0; k < a.K->blocks.size(); ++k) {
    const auto& x = a.K->blocks[k];
    const auto& y = b.K->blocks[k];
    ASSERT_EQ(x.row0, y.row0);
    ASSERT_EQ(x.col0, y.col0);
    for (int v = 0; v < 9; ++v) ASSERT_NEAR(x.values[v], y.values[v], rel * kScale) << k;
  }
  for (const auto& [x, y] :
       {std::make_pair(a.M.get(), b.M.get()), std::make_pair(a.S.get(), b.S.get())}) {
    ASSERT_EQ(x->nRow, y->nRow);
    ASSERT_EQ(x->nnz, y->nnz);
    const double scale = y->maxAbs();
    for (int r = 0; r < x->nRow; ++r) {
      ASSERT_EQ(x->rowLen[r], y->rowLen[r]);
      for (int k = 0; k < x->rowLen[r]; ++k) {
        ASSERT_EQ(x->rowStart[r][k].col, y->rowStart[r][k].col);
        ASSERT_NEAR(x->rowStart[r][k].val, y->rowStart[r][k].val, rel * scale) << r;
      }
    }
  }
  ASSERT_EQ(a.lumped->n, b.lumped->n);
  for (int i = 0; i < a.lumped->n; ++i)
    ASSERT_NEAR((*a.lumped)[i], (*b.lumped)[i], rel * std::fabs((*b.lumped)[i])) << i;
}

// Elements on vertices owned here, for hand-made meshes.
struct Mesh {
  std::vector<std::unique_ptr<Vertex>> vertices;
  std::vector<FiniteElement*> elements;
  Mesh() = default;
  Mesh(const Mesh&) = delete;
  ~Mesh() {
    for (FiniteElement* e : elements) delete e;
  }
  int addVertex(double x, double y, double z) {
    auto v = std::make_unique<Vertex>();
    v->index = static_cast<int>(vertices.size());
    v->restPosition[0] = static_cast<float>(x);
    v->restPosition[1] = static_cast<float>(y);
    v->restPosition[2] = static_cast<float>(z);
    vertices.push_back(std::move(v));
    return static_cast<int>(vertices.size()) - 1;
  }
  void addElement(int a, int b, int c, int d) {
    elements.push_back(new Tetrahedron(vertices[a].get(), vertices[b].get(), vertices[c].get(),
                                       vertices[d].get(), 0));
  }
  int nNodes() const { return static_cast<int>(vertices.size()); }
};

// The unit tetrahedron with corners (0,0,0), (1,0,0), (0,1,0), (0,0,1) in
// this order.
void unitElement(Mesh& m) {
  m.addVertex(0, 0, 0);
  m.addVertex(1, 0, 0);
  m.addVertex(0, 1, 0);
  m.addVertex(0, 0, 1);
  m.addElement(0, 1, 2, 3);
}

using Mat12 = Eigen::Matrix<double, 12, 12>;

// The element stiffness through the assembler's per-element output.
Mat12 elementStiffness(const std::array<std::array<double, 3>, 4>& corners,
                       const MaterialProperties& mat) {
  Mesh m;
  for (const auto& p : corners) m.addVertex(p[0], p[1], p[2]);
  m.addElement(0, 1, 2, 3);
  FullMatrix<double> Ke(12, 12);
  assemble(m.elements, 4, mat, 0, 0, true, false, &Ke);
  EXPECT_TRUE(Ke.symmetric);
  Mat12 K;
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 12; ++c) K(r, c) = Ke(r, c);
  return K;
}

// A box mesh whose inner vertices are moved at random, so that elements
// differ in shape and volume.
std::unique_ptr<TetHierarchy> irregularBox(int k, int levels, unsigned seed) {
  auto h = zolt::test::box(k, k, k, 1.0f, levels);
  const int f = levels - 1;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-0.1f / (1 << f), 0.1f / (1 << f));
  for (Vertex* v : h->vertices[f]) {
    bool inner = true;
    for (int d = 0; d < 3; ++d)
      inner = inner && v->restPosition[d] > 1e-3f && v->restPosition[d] < k - 1e-3f;
    if (!inner) continue;
    for (int d = 0; d < 3; ++d) v->restPosition[d] += u(rng);
  }
  for (FiniteElement* e : h->elements[f]) EXPECT_GT(restVolume(*e), 0.0);
  return h;
}

}  // namespace

// ------------------------------------------------------- elasticity matrix

TEST(ElasticityMatrix, ThreeDimensionalEntries) {
  MaterialProperties mat = material(1.5, 0.25);
  std::vector<FiniteElement*> none;
  MatrixAssembler a(&none, &mat, 0, 3);
  SparseMatrix<P> D(6, 6);
  buildElasticityMatrix(a, D);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      double expected = 0.0;
      if (i < 3 && j < 3) expected = i == j ? 2.0 : 1.5;
      if (i >= 3 && i == j) expected = 0.25;
      EXPECT_EQ(D(i, j), P(expected)) << i << " " << j;
    }
}

TEST(ElasticityMatrix, ZeroLambdaIsNotStoredAndTwoDimensionsIsThreeByThree) {
  MaterialProperties mat = material(0.0, 1.0);
  std::vector<FiniteElement*> none;
  MatrixAssembler a(&none, &mat, 0, 3);
  SparseMatrix<P> D(6, 6);
  buildElasticityMatrix(a, D);
  EXPECT_EQ(D.rows[0].size(), 1u);
  EXPECT_EQ(D(0, 0), P(2.0));

  mat = material(3.0, 0.5);
  MatrixAssembler b(&none, &mat, 0, 2);
  SparseMatrix<P> D2(3, 3);
  buildElasticityMatrix(b, D2);
  const double expected[3][3] = {{4, 3, 0}, {3, 4, 0}, {0, 0, 0.5}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(D2(i, j), P(expected[i][j])) << i << " " << j;
}

// ---------------------------------------------------------- unit element

TEST(MatrixAssemblerUnitElement, StiffnessClosedForms) {
  const double lambda = 2.0, mu = 0.75;
  Mat12 K = elementStiffness({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, material(lambda, mu));
  EXPECT_NEAR(K(0, 0), (lambda + 4 * mu) / 6, 1e-15);
  EXPECT_NEAR(K(3, 3), (lambda + 2 * mu) / 6, 1e-15);
  EXPECT_NEAR(K(4, 4), mu / 6, 1e-15);
  EXPECT_NEAR(K(5, 5), mu / 6, 1e-15);
  // x of corner 0 against y of corner 0: lambda + mu.
  EXPECT_NEAR(K(0, 1), (lambda + mu) / 6, 1e-15);
  // x of corner 1 against y of corner 2: lambda.
  EXPECT_NEAR(K(3, 7), lambda / 6, 1e-15);
  EXPECT_EQ(K(3, 6), 0.0);
}

TEST(MatrixAssemblerUnitElement, GlobalMatricesOfOneElement) {
  Mesh m;
  unitElement(m);
  const double lambda = 2.0, mu = 0.75;
  FullMatrix<double> Ke(12, 12);
  Result r = assemble(m.elements, 4, material(lambda, mu), 0, 0, true, false, &Ke);
  EXPECT_TRUE(r.K->symmetric);
  ASSERT_EQ(r.K->nRow, 12);
  EXPECT_EQ(r.K->blocks.size(), 16u);
  for (int i = 0; i < 12; ++i)
    for (int j = 0; j < 12; ++j) {
      const double mass = i % 3 == j % 3 ? (i / 3 == j / 3 ? 1.0 / 60 : 1.0 / 120) : 0.0;
      EXPECT_NEAR((*r.M)(i, j), mass, 1e-16) << i << " " << j;
      // K also carries 1e-32 M.
      EXPECT_TRUE(sameBits((*r.K)(i, j), Ke(i, j) + 1e-32 * (*r.M)(i, j))) << i << " " << j;
    }
  for (int i = 0; i < 12; ++i) EXPECT_NEAR((*r.lumped)[i], 1.0 / 24, 1e-16);
  // Integrated D B: column 3 (x of corner 1) is D's first column / 6, and
  // every corner's rows receive it.
  ASSERT_EQ(r.S->nRow, 24);
  ASSERT_EQ(r.S->nCol, 12);
  const double a = lambda + 2 * mu;
  for (int v = 0; v < 4; ++v) {
    EXPECT_NEAR((*r.S)(6 * v + 0, 3), a / 6, 1e-15);
    EXPECT_NEAR((*r.S)(6 * v + 1, 3), lambda / 6, 1e-15);
    EXPECT_NEAR((*r.S)(6 * v + 2, 3), lambda / 6, 1e-15);
    EXPECT_EQ((*r.S)(6 * v + 3, 3), 0.0);
    // y of corner 1 only shears: xy row carries mu.
    EXPECT_NEAR((*r.S)(6 * v + 3, 4), mu / 6, 1e-15);
  }
}

// ------------------------------------------------------- element stiffness

TEST(MatrixAssemblerElementStiffness, NullSpaceIsExactlyTheRigidBodyModes) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-0.2, 0.2);
  for (int trial = 0; trial < 10; ++trial) {
    std::array<std::array<double, 3>, 4> p = {
        {{0, 0, 0}, {1, 0, 0}, {0.5, 0, 0.9}, {0.5, 0.9, 0.3}}};
    for (auto& q : p)
      for (double& c : q) c += u(rng);
    Mat12 K = elementStiffness(p, material(1.2, 0.8));
    Eigen::SelfAdjointEigenSolver<Mat12> eig(K);
    const auto& ev = eig.eigenvalues();  // ascending
    const double top = ev(11);
    for (int k = 0; k < 6; ++k) EXPECT_LT(std::fabs(ev(k)), 1e-12 * top) << trial << " " << k;
    for (int k = 6; k < 12; ++k) EXPECT_GT(ev(k), 1e-4 * top) << trial << " " << k;
    // Translations and infinitesimal rotations about the three axes.
    for (int mode = 0; mode < 6; ++mode) {
      Eigen::Matrix<double, 12, 1> w;
      for (int i = 0; i < 4; ++i) {
        const Eigen::Vector3d x(static_cast<float>(p[i][0]), static_cast<float>(p[i][1]),
                                static_cast<float>(p[i][2]));
        Eigen::Vector3d d = Eigen::Vector3d::Zero();
        if (mode < 3)
          d(mode) = 1.0;
        else
          d = Eigen::Vector3d::Unit(mode - 3).cross(x);
        w.segment<3>(3 * i) = d;
      }
      EXPECT_LT((K * w).norm(), 1e-12 * top) << trial << " " << mode;
    }
  }
}

TEST(MatrixAssemblerElementStiffness, InvariantUnderRotatingTheElement) {
  const std::array<std::array<double, 3>, 4> p = {
      {{0.1, 0, 0}, {1, 0.2, 0}, {0.4, 0.1, 0.8}, {0.3, 0.9, 0.2}}};
  const MaterialProperties mat = material(1.0, 0.6);
  Mat12 K = elementStiffness(p, mat);
  const Eigen::Matrix3d Q =
      (Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized())).toRotationMatrix();
  std::array<std::array<double, 3>, 4> q;
  for (int i = 0; i < 4; ++i) {
    const Eigen::Vector3d x = Q * Eigen::Vector3d(p[i][0], p[i][1], p[i][2]);
    for (int d = 0; d < 3; ++d) q[i][d] = x(d);
  }
  Mat12 Kr = elementStiffness(q, mat);
  Mat12 R = Mat12::Zero();
  for (int i = 0; i < 4; ++i) R.block<3, 3>(3 * i, 3 * i) = Q;
  // Positions are floats: agreement to single precision.
  EXPECT_LT((Kr - R * K * R.transpose()).norm(), 1e-5 * K.norm());
}

// ----------------------------------------------------------- global matrices

// An affine displacement gives no force at any inner degree of freedom, and
// its stress sums are the constant stress times the volume around a vertex.
TEST(MatrixAssemblerPatchTest, AffineDisplacementIsInEquilibriumInside) {
  auto h = irregularBox(3, 1, 5);
  auto& elements = h->elements[0];
  const auto& vs = h->vertices[0];
  const double lambda = 1.3, mu = 0.7;
  Result r = assemble(elements, static_cast<int>(vs.size()), material(lambda, mu));
  const double A[3][3] = {{0.01, 0.02, -0.03}, {0.015, -0.02, 0.005}, {0.0, 0.01, 0.025}};
  const double c[3] = {0.3, -0.1, 0.2};
  Vector<double> u(3 * static_cast<int>(vs.size())), f(u.n);
  for (const Vertex* v : vs)
    for (int d = 0; d < 3; ++d) {
      double s = c[d];
      for (int e = 0; e < 3; ++e) s += A[d][e] * v->restPosition[e];
      u[3 * v->index + d] = s;
    }
  r.K->mult(u, f);
  double scale = 0, boundary = 0;
  int inner = 0;
  for (const Vertex* v : vs) {
    bool isInner = true;
    for (int d = 0; d < 3; ++d)
      isInner = isInner && v->restPosition[d] > 0.5f && v->restPosition[d] < 2.5f;
    for (int d = 0; d < 3; ++d) {
      scale = std::max(scale, std::fabs(f[3 * v->index + d]));
      if (!isInner) boundary = std::max(boundary, std::fabs(f[3 * v->index + d]));
    }
    if (!isInner) continue;
    ++inner;
    for (int d = 0; d < 3; ++d) EXPECT_NEAR(f[3 * v->index + d], 0.0, 1e-12) << v->index;
  }
  EXPECT_EQ(inner, 8);
  EXPECT_GT(boundary, 1e-3);  // the boundary carries the load

  // S u: per vertex the stress D eps times the volume of its elements.
  const double eps[6] = {A[0][0],           A[1][1],           A[2][2],
                         A[0][1] + A[1][0], A[0][2] + A[2][0], A[1][2] + A[2][1]};
  const double tr = eps[0] + eps[1] + eps[2];
  const double sigma[6] = {lambda * tr + 2 * mu * eps[0],
                           lambda * tr + 2 * mu * eps[1],
                           lambda * tr + 2 * mu * eps[2],
                           mu * eps[3],
                           mu * eps[4],
                           mu * eps[5]};
  std::vector<double> around(vs.size(), 0.0);
  for (const FiniteElement* e : elements)
    for (int a = 0; a < 4; ++a) around[e->getVertex(a)->index] += restVolume(*e);
  Vector<double> stress(r.S->nRow);
  r.S->mult(u, stress);
  for (size_t v = 0; v < vs.size(); ++v)
    for (int s = 0; s < 6; ++s) EXPECT_NEAR(stress[6 * v + s], sigma[s] * around[v], 1e-6) << v;
}

TEST(MatrixAssemblerMass, ConsistentAndLumpedMassSumToVolumeTimesDensity) {
  auto h = irregularBox(3, 1, 9);
  auto& elements = h->elements[0];
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> d(0.5f, 3.0f);
  double weighted = 0;
  for (FiniteElement* e : elements) {
    e->setDensity(d(rng));
    weighted += restVolume(*e) * e->getDensity();
  }
  Result r = assemble(elements, static_cast<int>(h->vertices[0].size()), material(1, 1));
  double total = 0;
  for (int k = 0; k < r.M->nnz; ++k) total += r.M->entries[k].val;
  EXPECT_NEAR(total, 3 * weighted, 1e-9 * weighted);
  double lumped = 0;
  for (int i = 0; i < r.lumped->n; ++i) lumped += (*r.lumped)[i];
  EXPECT_NEAR(lumped, 3 * weighted, 1e-9 * weighted);
  // Without density factors: three times the body's volume (27).
  for (FiniteElement* e : elements) e->setDensity(1.0f);
  Result plain = assemble(elements, static_cast<int>(h->vertices[0].size()), material(1, 1));
  total = 0;
  for (int k = 0; k < plain.M->nnz; ++k) total += plain.M->entries[k].val;
  EXPECT_NEAR(total, 81.0, 1e-9);
}

TEST(MatrixAssemblerThreads, TwoThreadsEqualOneThreadBitForBit) {
  auto h = irregularBox(4, 2, 21);
  auto& elements = h->elements[1];
  const int nNodes = static_cast<int>(h->vertices[1].size());
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> factor(0.5f, 2.0f);
  for (FiniteElement* e : elements) {
    e->setStiffness(factor(rng));
    e->setDensity(factor(rng));
  }
  const MaterialProperties mat = material(1.7, 0.9);
  Result one = assemble(elements, nNodes, mat, 0, 0, false);
  Result two = assemble(elements, nNodes, mat, 0, 0, true);
  expectIdentical(one, two);
  Result again = assemble(elements, nNodes, mat, 0, 0, true);
  expectIdentical(two, again);
  // Also with the degrees of freedom of the first 81 vertices removed.
  const int nFixed = 9 * 9;
  Result oneFixed = assemble(elements, nNodes, mat, 0, 3 * nFixed, false);
  Result twoFixed = assemble(elements, nNodes, mat, 0, 3 * nFixed, true);
  expectIdentical(oneFixed, twoFixed);
}

// The closed forms of linear tetrahedra give what the general polynomial
// products and the exact integration give, within rounding.
TEST(MatrixAssemblerThreads, ClosedFormsGiveThePolynomialMatrices) {
  auto h = irregularBox(3, 2, 33);
  auto& elements = h->elements[1];
  const int nNodes = static_cast<int>(h->vertices[1].size());
  elements[5]->setStiffness(0.0f);
  elements[6]->setStiffness(3.5f);
  elements[7]->setDensity(0.0f);
  const MaterialProperties mat = material(0.0, 1.1);  // lambda 0: D has no coupling
  expectClose(assemble(elements, nNodes, mat, 0, 0, true, false),
              assemble(elements, nNodes, mat, 0, 0, true, true), 1e-12);
  const MaterialProperties mat2 = material(2.5, 0.4);
  expectClose(assemble(elements, nNodes, mat2, 0, 0, true, false),
              assemble(elements, nNodes, mat2, 0, 0, false, true), 1e-12);
  // Removed vertices at the front, and across the middle where the two
  // threads split the rows; the element stiffness matrices as well, one
  // 12 x 12 matrix per element in a contiguous array.
  auto perElement = [&] {
    auto* m = static_cast<FullMatrix<double>*>(
        ::operator new(elements.size() * sizeof(FullMatrix<double>)));
    for (size_t k = 0; k < elements.size(); ++k) new (&m[k]) FullMatrix<double>(12, 12);
    return std::shared_ptr<FullMatrix<double>>(m, [n = elements.size()](FullMatrix<double>* p) {
      for (size_t k = 0; k < n; ++k) p[k].~FullMatrix();
      ::operator delete(p);
    });
  };
  auto closed = perElement(), symbolic = perElement();
  // Massless elements among the first rows: their mass entries drop out.
  for (FiniteElement* e : elements) {
    int highest = 0;
    for (int a = 0; a < 4; ++a) highest = std::max(highest, e->getVertex(a)->index);
    if (highest < 100) e->setDensity(0.0f);
  }
  for (int first : {0, 150}) {
    SCOPED_TRACE(first);
    const Result two =
        assemble(elements, nNodes, mat2, 3 * first, 3 * 60, true, false, closed.get());
    expectClose(two,
                assemble(elements, nNodes, mat2, 3 * first, 3 * 60, true, true, symbolic.get()),
                1e-12);
    expectIdentical(two, assemble(elements, nNodes, mat2, 3 * first, 3 * 60, false, false));
  }
  for (size_t k = 0; k < elements.size(); ++k) {
    const double scale = symbolic.get()[k].maxAbs();
    for (int i = 0; i < 12; ++i)
      for (int j = 0; j < 12; ++j)
        ASSERT_NEAR(closed.get()[k](i, j), symbolic.get()[k](i, j), 1e-12 * scale) << k;
  }
}

TEST(MatrixAssemblerThreads, FailedThreadStartStillAssemblesEverything) {
  auto h = irregularBox(3, 1, 8);
  auto& elements = h->elements[0];
  const int nNodes = static_cast<int>(h->vertices[0].size());
  const MaterialProperties mat = material(1.0, 0.5);
  Result normal = assemble(elements, nNodes, mat);
  Result failed;
  {
    FailingCreation failing;
    testing::internal::CaptureStderr();
    failed = assemble(elements, nNodes, mat);
    // The work goes on on this thread with the same result: nothing to say.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  expectIdentical(normal, failed);
}

TEST(MatrixAssemblerThreads, FailedThreadStartStillPreparesEveryElement) {
  auto h = zolt::test::box(2, 2, 2);
  auto& elements = h->elements[0];
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&elements, &mat, static_cast<int>(h->vertices[0].size()), 3);
  {
    FailingCreation failing;
    testing::internal::CaptureStderr();
    a.generateShapeFunctions(true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  EXPECT_FALSE(a.worker.running);
  for (FiniteElement* e : elements) {
    EXPECT_NE(e->getLoadMatrix(), nullptr);
    EXPECT_NE(e->getGradients(), nullptr);
    EXPECT_NEAR(e->getVolume(), 1.0 / 6, 1e-12);
  }
}

// ---------------------------------------------------- fixed degrees of freedom

TEST(MatrixAssemblerFixedDofs, RemovalKeepsSizesAndRenumbers) {
  auto h = irregularBox(2, 1, 12);
  auto& elements = h->elements[0];
  const int nNodes = static_cast<int>(h->vertices[0].size());  // 27
  const int N = 3 * nNodes;
  const MaterialProperties mat = material(1.0, 0.4);
  Result full = assemble(elements, nNodes, mat);
  // The bottom face (the lowest nine indices) is fixed, then an inner range.
  for (const auto& [first, count] : {std::make_pair(0, 27), std::make_pair(6, 9)}) {
    Result red = assemble(elements, nNodes, mat, first, count);
    const int n = N - count;
    ASSERT_EQ(red.K->nRow, n);
    ASSERT_EQ(red.K->nCol, n);
    EXPECT_EQ(red.K->nBlockRows, n / 3);
    EXPECT_TRUE(red.K->symmetric);
    ASSERT_EQ(red.M->nRow, n);
    ASSERT_EQ(red.M->nCol, n);
    ASSERT_EQ(red.S->nRow, 6 * nNodes);  // every stress row stays
    ASSERT_EQ(red.S->nCol, n);
    ASSERT_EQ(red.lumped->n, n);
    // Structured bindings are captured by copy: C++17 lambdas cannot name them.
    auto old = [&, first = first, count = count](int i) { return i < first ? i : i + count; };
    for (int i = 0; i < n; ++i) {
      EXPECT_TRUE(sameBits((*red.lumped)[i], (*full.lumped)[old(i)])) << i;
      for (int j = 0; j < n; ++j) {
        ASSERT_TRUE(sameBits((*red.K)(i, j), (*full.K)(old(i), old(j)))) << i << " " << j;
        ASSERT_TRUE(sameBits((*red.M)(i, j), (*full.M)(old(i), old(j)))) << i << " " << j;
      }
    }
    for (int i = 0; i < 6 * nNodes; ++i)
      for (int j = 0; j < n; ++j)
        ASSERT_TRUE(sameBits((*red.S)(i, j), (*full.S)(i, old(j)))) << i << " " << j;
    // No block of a removed row or column survives.
    size_t expectedBlocks = 0;
    for (const auto& b : full.K->blocks)
      if ((b.row0 < first || b.row0 >= first + count) &&
          (b.col0 < first || b.col0 >= first + count))
        ++expectedBlocks;
    EXPECT_EQ(red.K->blocks.size(), expectedBlocks);
  }
}

TEST(MatrixAssemblerFixedDofs, RemovingEveryDofLeavesEmptyMatrices) {
  Mesh m;
  unitElement(m);
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&m.elements, &mat, 4, 3);
  const std::string out = captureStdout([&] { a.assemble(0, 12, nullptr, false); });
  std::unique_ptr<BlockMatrix<double, 3>> K(a.K3);
  std::unique_ptr<PackedMatrix<double>> M(a.M), S(a.S);
  std::unique_ptr<Vector<double>> lumped(a.lumpedMass);
  EXPECT_EQ(K->nRow, 0);
  EXPECT_EQ(K->blocks.size(), 0u);
  EXPECT_EQ(M->nRow, 0);
  EXPECT_EQ(S->nRow, 24);
  EXPECT_EQ(S->nCol, 0);
  EXPECT_EQ(lumped->n, 0);
  EXPECT_NE(out.find("    Fillratio of K  = 0% ,    M = 0%\n"), std::string::npos) << out;
}

// --------------------------------------------------------- console and bars

TEST(MatrixAssemblerConsole, ExactLinesOfAnAssembly) {
  auto h = zolt::test::box(2, 1, 1);
  auto& elements = h->elements[0];
  const int nNodes = static_cast<int>(h->vertices[0].size());  // 12
  // Oracle for the fill ratios: the distinct vertex pairs of the elements
  // are K's blocks; M holds three entries per pair.
  std::set<std::pair<int, int>> pairs;
  for (const FiniteElement* e : elements)
    for (int a = 0; a < 4; ++a)
      for (int b = 0; b < 4; ++b) pairs.insert({e->getVertex(a)->index, e->getVertex(b)->index});
  const float fillK = static_cast<int>(pairs.size()) * 100.0f / (nNodes * nNodes);
  const float fillM = static_cast<float>(3 * pairs.size()) * 100.0f / (9 * nNodes * nNodes);
  std::ostringstream fill;
  fill << "    Fillratio of K  = " << fillK << "% ,    M = " << fillM << "%\n";

  MatrixAssembler::progressBarFactory = [](const char* title, unsigned int total) -> ProgressBar* {
    auto* bar = new ProgressBarIO;
    bar->setTitle(title);
    bar->setTotal(total);
    return bar;
  };
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&elements, &mat, nNodes, 3);
  const std::string out = captureStdout([&] { a.assemble(0, 0, nullptr, false); });
  MatrixAssembler::progressBarFactory = silentBar;
  delete a.K3;
  delete a.M;
  delete a.S;
  delete a.lumpedMass;

  const std::string start = "==>  Generating Stiffness Matrix    0.0 %";
  EXPECT_EQ(out.substr(0, start.size()), start) << out;
  const std::string tail =
      "100.0 %\n    Time needed: 0 sec\n  Pack Mass matrix ... \n"
      "  Pack stress matrix ... \n" +
      fill.str();
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
}

TEST(MatrixAssemblerConsole, DegeneratedElementIsReportedAndAssembled) {
  Mesh m;
  unitElement(m);
  m.addVertex(1, 1, 0);
  m.addElement(0, 1, 2, 4);  // flat: all four corners in z = 0
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&m.elements, &mat, 5, 3);
  a.useWorker = false;
  const std::string out = captureStdout([&] { a.assemble(0, 0, nullptr, false); });
  EXPECT_NE(out.find("Degenerated Element, vol=0\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Degenerated Element", out.find("Degenerated Element") + 1),
            std::string::npos);
  // Its corner 4 has a block and no lumped mass.
  EXPECT_NE(a.K3->findBlock(12, 12), nullptr);
  EXPECT_EQ((*a.lumpedMass)[12], 0.0);
  delete a.K3;
  delete a.M;
  delete a.S;
  delete a.lumpedMass;
}

TEST(MatrixAssemblerWorkSplit, FiveElementsAndOneElement) {
  auto h = zolt::test::box(1, 1, 1);  // six elements; use five of them
  std::vector<FiniteElement*> five(h->elements[0].begin(), h->elements[0].begin() + 5);
  MaterialProperties mat = material(1, 1);
  MatrixAssembler::progressBarFactory = recordingBar;

  bars.clear();
  MatrixAssembler a(&five, &mat, 8, 3);
  a.generateShapeFunctions(false);
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].title, "Generating Shape Functions");
  EXPECT_EQ(bars[0].total, 3u);  // elements 2..4
  EXPECT_EQ(bars[0].steps, 3);
  EXPECT_TRUE(bars[0].finished);
  for (FiniteElement* e : five) EXPECT_NE(e->getLoadMatrix(), nullptr);

  bars.clear();
  MatrixAssembler b(&five, &mat, 8, 3);
  captureStdout([&] { b.assemble(0, 0, nullptr, false); });
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].title, "Generating Stiffness Matrix");
  EXPECT_EQ(bars[0].total, 3u);  // elements 0..2
  EXPECT_EQ(bars[0].steps, 3);
  EXPECT_TRUE(bars[0].finished);
  delete b.K3;
  delete b.M;
  delete b.S;
  delete b.lumpedMass;

  std::vector<FiniteElement*> one(h->elements[0].begin(), h->elements[0].begin() + 1);
  bars.clear();
  MatrixAssembler c(&one, &mat, 8, 3);
  captureStdout([&] { c.assemble(0, 0, nullptr, false); });
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].total, 1u);
  EXPECT_EQ(bars[0].steps, 1);
  EXPECT_EQ(c.K3->blocks.size(), 16u);
  delete c.K3;
  delete c.M;
  delete c.S;
  delete c.lumpedMass;
  MatrixAssembler::progressBarFactory = silentBar;
}

// -------------------------------------------------------------- edge cases

TEST(MatrixAssemblerEdgeCases, EmptyElementListGivesEmptyMatricesOfTheRightSize) {
  std::vector<FiniteElement*> none;
  Result r = assemble(none, 5, material(1, 1), 0, 3);
  EXPECT_EQ(r.K->nRow, 12);
  EXPECT_EQ(r.K->blocks.size(), 0u);
  EXPECT_EQ(r.M->nRow, 12);
  EXPECT_EQ(r.M->nnz, 0);
  EXPECT_EQ(r.S->nRow, 30);
  EXPECT_EQ(r.S->nCol, 12);
  ASSERT_EQ(r.lumped->n, 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ((*r.lumped)[i], 0.0);
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&none, &mat, 5, 3);
  a.generateShapeFunctions(true);  // nothing to do, nothing read
}

TEST(MatrixAssemblerEdgeCases, StiffnessAndDensityFactors) {
  Mesh m;
  unitElement(m);
  const MaterialProperties mat = material(1.5, 0.5);
  FullMatrix<double> Ke(12, 12);
  Result base = assemble(m.elements, 4, mat, 0, 0, true, false, &Ke);

  m.elements[0]->setStiffness(0.0f);
  Result soft = assemble(m.elements, 4, mat);
  EXPECT_EQ(soft.K->blocks.size(), 16u);  // blocks inserted all the same
  for (int i = 0; i < 12; ++i)
    for (int j = 0; j < 12; ++j)
      EXPECT_TRUE(sameBits((*soft.K)(i, j), 0.0 + 1e-32 * (*soft.M)(i, j))) << i << " " << j;
  for (int i = 0; i < soft.S->nnz; ++i)
    EXPECT_TRUE(sameBits(soft.S->entries[i].val, base.S->entries[i].val));

  m.elements[0]->setStiffness(2.5f);
  Result stiff = assemble(m.elements, 4, mat);
  for (int i = 0; i < 12; ++i)
    for (int j = 0; j < 12; ++j) EXPECT_NEAR((*stiff.K)(i, j), 2.5 * Ke(i, j), 1e-14);
  m.elements[0]->setStiffness(1.0f);

  m.elements[0]->setDensity(0.0f);
  Result light = assemble(m.elements, 4, mat);
  EXPECT_EQ(light.M->nnz, 0);
  for (int i = 0; i < 12; ++i) EXPECT_EQ((*light.lumped)[i], 0.0);

  m.elements[0]->setDensity(4.0f);
  Result heavy = assemble(m.elements, 4, mat);
  EXPECT_NEAR((*heavy.M)(0, 0), 4.0 / 60, 1e-15);
  EXPECT_NEAR((*heavy.lumped)[5], 4.0 / 24, 1e-15);
}

TEST(MatrixAssemblerEdgeCases, GradientsOnRequestAndPreparationMatchesAssembly) {
  auto h = irregularBox(2, 1, 14);
  auto& elements = h->elements[0];
  const int nNodes = static_cast<int>(h->vertices[0].size());
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&elements, &mat, nNodes, 3);
  captureStdout([&] { a.assemble(0, 0, nullptr, true); });
  std::vector<double> volumes, loads;
  for (FiniteElement* e : elements) {
    ASSERT_NE(e->getGradients(), nullptr);
    volumes.push_back(e->getVolume());
    loads.push_back((*e->getLoadMatrix())(0, 0));
  }
  delete a.K3;
  delete a.M;
  delete a.S;
  delete a.lumpedMass;

  auto fresh = irregularBox(2, 1, 14);  // same positions
  MatrixAssembler b(&fresh->elements[0], &mat, nNodes, 3);
  b.generateShapeFunctions(false);
  for (size_t i = 0; i < elements.size(); ++i) {
    FiniteElement* e = fresh->elements[0][i];
    EXPECT_EQ(e->getGradients(), nullptr);
    EXPECT_TRUE(sameBits(e->getVolume(), volumes[i])) << i;
    EXPECT_TRUE(sameBits((*e->getLoadMatrix())(0, 0), loads[i])) << i;
  }
}

TEST(MatrixAssemblerPack, PackedStiffnessHoldsEveryNonZeroOfK) {
  auto h = zolt::test::box(2, 1, 1);
  auto& elements = h->elements[0];
  const int nNodes = static_cast<int>(h->vertices[0].size());
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&elements, &mat, nNodes, 3);
  captureStdout([&] { a.assemble(0, 6, nullptr, false); });
  std::unique_ptr<PackedMatrix<double>> M(a.M), S(a.S);
  std::unique_ptr<Vector<double>> lumped(a.lumpedMass);
  std::unique_ptr<BlockMatrix<double, 3>> K(new BlockMatrix<double, 3>(*a.K3));
  PackedMatrix<double>* packed = nullptr;
  const std::string out = captureStdout([&] { packed = a.packStiffnessMatrix(); });
  std::unique_ptr<PackedMatrix<double>> owned(packed);
  EXPECT_EQ(out, "  Pack stiffness matrix ... \n");
  EXPECT_EQ(a.getStiffnessMatrix(), nullptr);
  ASSERT_EQ(packed->nRow, K->nRow);
  int nonZeros = 0;
  for (int i = 0; i < K->nRow; ++i) {
    for (int k = 1; k < packed->rowLen[i]; ++k)
      EXPECT_LT(packed->rowStart[i][k - 1].col, packed->rowStart[i][k].col);
    for (int j = 0; j < K->nCol; ++j) {
      const double v = (*K)(i, j);
      if (v < 0 || v > 0) ++nonZeros;
      EXPECT_TRUE(sameBits((*packed)(i, j), v)) << i << " " << j;
    }
  }
  EXPECT_EQ(packed->nnz, nonZeros);
}

// ------------------------------------------------------------ broken input

TEST(MatrixAssemblerDeathTest, VertexIndexBeyondTheNodeCountStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Mesh m;
  unitElement(m);
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&m.elements, &mat, 3, 3);  // corner 3 has index 3
  EXPECT_DEATH(a.assemble(0, 0, nullptr, false), "Assertion `v >= 0 && v < nNodes' failed\\.");
  MatrixAssembler b(&m.elements, &mat, 3, 3);
  b.useWorker = false;
  EXPECT_DEATH(b.assemble(0, 0, nullptr, false), "Assertion `v >= 0 && v < nNodes' failed\\.");
}

TEST(MatrixAssemblerDeathTest, RemovedRangeOutsideTheMatrixStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Mesh m;
  unitElement(m);
  MaterialProperties mat = material(1, 1);
  MatrixAssembler a(&m.elements, &mat, 4, 3);
  EXPECT_DEATH(a.assemble(0, 15, nullptr, false),
               "Assertion `firstDof >= 0 && nDofs >= 0 && firstDof \\+ nDofs <= N' failed\\.");
  EXPECT_DEATH(a.assemble(1, 3, nullptr, false),
               "Assertion `firstDof % dim == 0 && nDofs % dim == 0' failed\\.");
}
