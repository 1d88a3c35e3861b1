#include "MatrixAssembler.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <memory>
#include <new>

#include "FiniteElement.h"
#include "IntegrationDomain.h"
#include "ProgressBar.h"
#include "ProgressBarRoute.h"
#include "Tetrahedron.h"
#include "Vertex.h"
#include "ZoltAssert.h"

using zolt::isNonZero;

namespace {

using P = Polynom<double>;

double constantTerm(const P& p) {
  auto it = p.terms.find(0);
  return it == p.terms.end() ? 0.0 : it->second;
}

double wallMicroseconds() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) * 1e6 + static_cast<double>(tv.tv_usec);
}

// Reads the constant terms of B into c; false when an entry has any other
// term.
bool constantEntries(const FullMatrix<P>& B, std::vector<double>& c) {
  const int n = B.nRow * B.nCol;
  for (int k = 0; k < n; ++k) {
    const P& p = B.data[k];
    if (p.empty()) {
      c[k] = 0.0;
    } else if (p.size() == 1 && p.terms.begin()->first == 0) {
      c[k] = p.terms.begin()->second;
    } else {
      return false;
    }
  }
  return true;
}

// s += q with the rules of a constant polynomial: a zero (or NaN) product
// adds nothing and a sum that comes out zero (or NaN) is no term at all.
inline void accumulate(double& s, double q) {
  if (!isNonZero(q)) return;
  s += q;
  if (!isNonZero(s)) s = 0.0;
}

// Assemblers whose helper thread runs.
std::mutex helpersMutex;
std::vector<MatrixAssembler*> runningHelpers;

}  // namespace

MatrixAssembler::ProgressBarFactory MatrixAssembler::progressBarFactory = ProgressBarRoute::create;
void (*MatrixAssembler::helperStarts)(const MatrixAssembler&) = nullptr;

bool MatrixAssembler::startWorker(Threads::Routine routine, void* arg) {
  std::lock_guard<std::mutex> lock(helpersMutex);
  if (!worker.start(routine, arg)) return false;
  runningHelpers.push_back(this);
  return true;
}

void MatrixAssembler::joinWorker() {
  std::lock_guard<std::mutex> lock(helpersMutex);
  worker.join();
  runningHelpers.erase(std::remove(runningHelpers.begin(), runningHelpers.end(), this),
                       runningHelpers.end());
}

void MatrixAssembler::stopHelpers() {
  std::lock_guard<std::mutex> lock(helpersMutex);
  for (MatrixAssembler* a : runningHelpers) {
    a->stopping = true;
    a->worker.join();
  }
  runningHelpers.clear();
}

void MatrixAssembler::helperBegins() const {
  if (helperStarts) helperStarts(*this);
}

MatrixAssembler::MatrixAssembler(std::vector<FiniteElement*>* elements,
                                 MaterialProperties* material, int nNodes, uint8_t dim)
    : elements(elements), material(material), nNodes(nNodes), dim(dim) {}

void buildElasticityMatrix(const MatrixAssembler& a, Matrix<Polynom<double>>& D) {
  const double lambda = a.material->lambda;
  const double mu = a.material->mu;
  const double diag = (mu + mu) + lambda;
  if (a.dim == 3) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) D.setElem(i, j, P(i == j ? diag : lambda));
    for (int i = 3; i < 6; ++i) D.setElem(i, i, P(mu));
  } else {
    D.setElem(0, 0, P(diag));
    D.setElem(0, 1, P(lambda));
    D.setElem(1, 0, P(lambda));
    D.setElem(1, 1, P(diag));
    D.setElem(2, 2, P(mu));
  }
}

int MatrixAssembler::elementCount() const {
  return elements ? static_cast<int>(elements->size()) : 0;
}

Matrix<double>* MatrixAssembler::getStiffnessMatrix() const {
  if (K3) return K3;
  return K2;
}

void MatrixAssembler::assembleRange(int from, int to) { assembleElements(from, to, false); }

void* MatrixAssembler::assembleThread(void* arg) {
  auto* a = static_cast<MatrixAssembler*>(arg);
  a->helperBegins();
  const int n = a->elementCount();
  try {
    a->assembleElements(n / 2 + 1, n, true);
  } catch (const std::bad_alloc&) {
    a->workerOutOfMemory = true;
  }
  pthread_exit(nullptr);
}

void* MatrixAssembler::shapeFunctionThread(void* arg) {
  auto* a = static_cast<MatrixAssembler*>(arg);
  a->helperBegins();
  try {
    a->prepareElements(0, a->elementCount() / 2, nullptr);
  } catch (const std::bad_alloc&) {
    a->workerOutOfMemory = true;
  }
  pthread_exit(nullptr);
}

void MatrixAssembler::prepareElements(int from, int to, ProgressBar* bar) {
  IntegrationDomain dom;
  for (int i = from; i < to && !stopped(); ++i) {
    FiniteElement* e = (*elements)[i];
    if (auto* t = dynamic_cast<Tetrahedron*>(e)) {
      double grad[4][3];
      if (calcGradients)
        t->prepareVolume(true, grad);
      else
        t->prepareVolume();
      if (bar) bar->step();
      continue;
    }
    e->computeShapeFunctions();
    e->computeIntegrationDomain(dom);
    e->computeLoadMatrix(dom);
    if (calcGradients) e->computeGradients(dom);
    if (bar) bar->step();
  }
}

void MatrixAssembler::generateShapeFunctions(bool gradients) {
  calcGradients = gradients;
  const int n = elementCount();
  const bool threaded = useWorker && startWorker(shapeFunctionThread, this);
  std::unique_ptr<ProgressBar> bar(progressBarFactory("Generating Shape Functions", n - n / 2));
  runBesideWorker([this] { joinWorker(); }, &workerOutOfMemory, [&] {
    bar->start();
    prepareElements(n / 2, n, bar.get());
    bar->finish();
  });
  // Without a worker the calling thread takes its share as well.
  if (!threaded) prepareElements(0, n / 2, nullptr);
}

void MatrixAssembler::assembleElements(int from, int to, bool asWorker) {
  if (from >= to) return;
  ZOLT_ASSERT(dim >= 1 && dim <= 3);
  ZOLT_ASSERT(!asWorker || static_cast<int>(callerVertex.size()) == nNodes);
  const std::vector<FiniteElement*>& el = *elements;
  const int d = dim;
  const int nStrain = d == 3 ? 6 : 3;
  SparseMatrix<P> D(nStrain, nStrain);
  buildElasticityMatrix(*this, D);
  const int npe = el[0]->degreeOfFreedom();
  const int nd = d * npe;

  FullMatrix<P> B(nStrain, nd), DB(nStrain, nd), Kp(nd, nd);
  FullMatrix<double> Me(nd, nd);
  IntegrationDomain dom;
  // The element's integral of the constant 1, as integrateMatrix gives it.
  FullMatrix<P> unit(1, 1);
  std::vector<double> bc(nStrain * nd), dbc(nStrain * nd), kc(nd * nd);
  // D's stored entries, in storage order, as constants.
  std::vector<std::vector<MatrixEntry<double>>> dRows(nStrain);
  for (int r = 0; r < nStrain; ++r)
    for (const MatrixEntry<P>& entry : D.rows[r])
      dRows[r].push_back({entry.col, constantTerm(entry.val)});
  std::vector<PairContribution> pairs(npe * npe);
  std::vector<int> index(npe);

  ProgressBar* bar = nullptr;
  if (from == 0) {
    bar = progressBarFactory("Generating Stiffness Matrix", static_cast<unsigned int>(to));
    bar->start();
  }
  const double w = 1.0 / npe;

  for (int i = from; i < to && !stopped(); ++i) {
    FiniteElement* e = el[i];
    e->computeShapeFunctions();
    e->computeStrainMatrix(B);
    const float stiffness = e->getStiffness();

    if (!forceSymbolic && constantEntries(B, bc)) {
      // Constant strains (the linear tetrahedron): the products of the
      // polynomial path below on plain doubles, operation for operation,
      // without creating a polynomial per product.
      for (int j = 0; j < nd; ++j)
        for (int r = 0; r < nStrain; ++r) {
          double s = 0.0;
          for (const MatrixEntry<double>& entry : dRows[r]) {
            const double b = bc[entry.col * nd + j];
            if (isNonZero(b)) accumulate(s, b * entry.val);
          }
          dbc[r * nd + j] = s;
        }
      for (int j = 0; j < nd; ++j)
        for (int r = 0; r < nd; ++r) {
          double s = 0.0;
          for (int k = 0; k < nStrain; ++k) {
            const double a = bc[k * nd + r], b = dbc[k * nd + j];
            if (isNonZero(a) && isNonZero(b)) accumulate(s, a * b);
          }
          kc[r * nd + j] = s;
        }
      if (stiffness != 1.0f) {
        const double sv = static_cast<double>(stiffness);
        for (double& v : kc) {
          if (!isNonZero(sv)) {
            v = 0.0;
          } else if (isNonZero(v)) {
            v *= sv;
            if (!isNonZero(v)) v = 0.0;
          }
        }
      }
      e->computeIntegrationDomain(dom);
      // Reset to 1 in place: no new polynomial per element.
      P& one = unit.data[0];
      if (one.size() == 1 && one.terms.begin()->first == 0)
        one.terms.begin()->second = 1.0;
      else
        one = P(1.0);
      e->integrateMatrix(unit, dom);
      const double f = constantTerm(unit.data[0]);
      for (double& v : kc) v = isNonZero(v) ? v * f : 0.0;
      for (double& v : dbc) v = isNonZero(v) ? v * f : 0.0;
    } else {
      D.mult_m_right(B, DB);
      DB.mult_m_transpose_left(B, Kp);
      if (stiffness != 1.0f) Kp.scale(P(static_cast<double>(stiffness)));
      e->computeIntegrationDomain(dom);
      e->integrateMatrix(Kp, dom);
      e->integrateMatrix(DB, dom);
      for (int k = 0; k < nd * nd; ++k) kc[k] = constantTerm(Kp.data[k]);
      for (int k = 0; k < nStrain * nd; ++k) dbc[k] = constantTerm(DB.data[k]);
    }

    e->computeLoadMatrix(dom);
    e->computeMassMatrix(Me, dom);
    const float density = e->getDensity();
    if (density != 1.0f) Me.scale(static_cast<double>(density));
    for (int k = 0; k < nd * nd; ++k)
      if (Me.data[k] > -1e-9 && Me.data[k] < 1e-9) Me.data[k] = 0.0;
    if (calcGradients) e->computeGradients(dom);
    const double volume = e->getVolume();
    if (volume < 1e-9) std::cout << "Degenerated Element, vol=" << volume << std::endl;

    for (int k = 0; k < nd * nd; ++k)
      if (kc[k] >= -1e-9 && kc[k] <= 1e-9) kc[k] = 0.0;
    if (elementStiffness) {
      FullMatrix<double>& Ke = elementStiffness[i];
      Ke.symmetric = true;
      for (int r = 0; r < nd; ++r)
        for (int c = 0; c < nd; ++c) Ke.setElem(r, c, kc[r * nd + c]);
    }

    for (int a = 0; a < npe; ++a) {
      index[a] = e->getVertex(a)->index;
      ZOLT_ASSERT(index[a] >= 0 && index[a] < nNodes);
    }
    for (int a = 0; a < npe; ++a)
      for (int b = 0; b < npe; ++b) {
        PairContribution& c = pairs[a * npe + b];
        c.ia = index[a];
        c.ib = index[b];
        for (int s = 0; s < nStrain; ++s)
          for (int k = 0; k < d; ++k) c.s[s * d + k] = dbc[s * nd + d * b + k];
        for (int d1 = 0; d1 < d; ++d1)
          for (int d2 = 0; d2 < d; ++d2) {
            c.k[d1 * d + d2] = kc[(d * a + d1) * nd + d * b + d2];
            c.m[d1 * d + d2] = Me(d * a + d1, d * b + d2);
          }
      }
    const double m = (w * volume) * static_cast<double>(density);

    if (!asWorker) {
      for (const PairContribution& c : pairs) addPair(c, K3, K2);
      for (int a = 0; a < npe; ++a) addLumped(index[a], m);
    } else {
      // Rows of the calling thread's vertices wait for the join; all other
      // rows are this thread's alone.
      for (const PairContribution& c : pairs) {
        if (callerVertex[c.ia])
          deferredPairs.push_back(c);
        else
          addPair(c, workerK3, workerK2);
      }
      for (int a = 0; a < npe; ++a) {
        if (callerVertex[index[a]])
          deferredLumped.push_back({index[a], m});
        else
          addLumped(index[a], m);
      }
    }
    if (bar) bar->step();
  }
  if (bar) {
    bar->finish();
    delete bar;
  }
}

void MatrixAssembler::addPair(const PairContribution& c, BlockMatrix<double, 3>* k3,
                              BlockMatrix<double, 2>* k2) {
  const int d = dim;
  const int nStrain = d == 3 ? 6 : 3;
  for (int s = 0; s < nStrain; ++s)
    for (int k = 0; k < d; ++k) Ssparse->addElem(nStrain * c.ia + s, d * c.ib + k, c.s[s * d + k]);
  for (int d1 = 0; d1 < d; ++d1)
    for (int d2 = 0; d2 < d; ++d2) Msparse->addElem(d * c.ia + d1, d * c.ib + d2, c.m[d1 * d + d2]);
  if (k3)
    k3->addElemBlock(d * c.ia, d * c.ib, c.k);
  else if (k2)
    k2->addElemBlock(d * c.ia, d * c.ib, c.k);
}

void MatrixAssembler::addLumped(int ia, double m) {
  for (int k = 0; k < dim; ++k) lumpedMass->data[dim * ia + k] += m;
}

void MatrixAssembler::applyDeferred() {
  // The worker's own blocks have rows the calling thread never touched.
  if (workerK3) {
    K3->buildMap->merge(*workerK3->buildMap);
    ZOLT_ASSERT(workerK3->buildMap->empty());
  }
  if (workerK2) {
    K2->buildMap->merge(*workerK2->buildMap);
    ZOLT_ASSERT(workerK2->buildMap->empty());
  }
  delete workerK3;
  delete workerK2;
  workerK3 = nullptr;
  workerK2 = nullptr;
  for (const PairContribution& c : deferredPairs) addPair(c, K3, K2);
  for (const LumpedContribution& c : deferredLumped) addLumped(c.ia, c.m);
  deferredPairs.clear();
  deferredPairs.shrink_to_fit();
  deferredLumped.clear();
  deferredLumped.shrink_to_fit();
}

void MatrixAssembler::assemble(int firstDof, int nDofs, FullMatrix<double>* stiffnessPerElement,
                               bool gradients) {
  elementStiffness = stiffnessPerElement;
  calcGradients = gradients;
  const int n = elementCount();
  const int N = dim * nNodes;
  const int nStrain = dim == 3 ? 6 : 3;
  ZOLT_ASSERT(firstDof >= 0 && nDofs >= 0 && firstDof + nDofs <= N);
  if (dim == 2 || dim == 3) ZOLT_ASSERT(firstDof % dim == 0 && nDofs % dim == 0);

  if (linearTetrahedra()) {
    try {
      assembleLinear(firstDof, nDofs);
    } catch (const std::bad_alloc&) {
      // Nobody has taken the results over yet.
      delete K3;
      delete M;
      delete S;
      delete lumpedMass;
      K3 = nullptr;
      M = S = nullptr;
      lumpedMass = nullptr;
      throw;
    }
    return;
  }

  if (dim == 3)
    K3 = new BlockMatrix<double, 3>(N, N);
  else if (dim == 2)
    K2 = new BlockMatrix<double, 2>(N, N);
  lumpedMass = new Vector<double>(N);
  Msparse = new SparseMatrix<double>(N, N);
  Ssparse = new SparseMatrix<double>(nStrain * nNodes, N);

  // The calling thread takes 0 .. n/2, the worker the rest.
  const int callerEnd = std::min(n / 2 + 1, n);
  callerVertex.assign(useWorker ? nNodes : 0, 0);
  if (useWorker)
    for (int i = 0; i < callerEnd; ++i) {
      FiniteElement* e = (*elements)[i];
      for (int a = 0; a < e->degreeOfFreedom(); ++a) {
        const int v = e->getVertex(a)->index;
        ZOLT_ASSERT(v >= 0 && v < nNodes);
        callerVertex[v] = 1;
      }
    }

  if (useWorker && K3) workerK3 = new BlockMatrix<double, 3>(N, N);
  if (useWorker && K2) workerK2 = new BlockMatrix<double, 2>(N, N);

  const double t0 = wallMicroseconds();
  const bool threaded = useWorker && startWorker(assembleThread, this);
  runBesideWorker([this] { joinWorker(); }, &workerOutOfMemory, [&] { assembleRange(0, callerEnd); });
  if (threaded) {
    applyDeferred();
  } else {
    delete workerK3;
    delete workerK2;
    workerK3 = nullptr;
    workerK2 = nullptr;
    assembleRange(callerEnd, n);
  }
  callerVertex.clear();
  callerVertex.shrink_to_fit();
  const double t = wallMicroseconds() - t0;
  std::cout << "    Time needed: " << static_cast<int>(std::floor(t * 0.001)) / 1000 << " sec"
            << std::endl;

  removeDofs(firstDof, nDofs);
}

void MatrixAssembler::removeDofs(int firstDof, int nDofs) {
  const int N = dim * nNodes;
  const int last = firstDof + nDofs;

  auto* shrunk = new Vector<double>(N - nDofs);
  for (int k = 0; k < firstDof; ++k) shrunk->data[k] = lumpedMass->data[k];
  for (int k = last; k < N; ++k) shrunk->data[k - nDofs] = lumpedMass->data[k];
  delete lumpedMass;
  lumpedMass = shrunk;

  // The column pass and the zero pass in one sweep: entries of removed
  // columns and values strictly between -1e-9 and 1e-9 go, later columns
  // move down, the rest keeps its order.
  auto compactRow = [&](std::vector<MatrixEntry<double>>& row) {
    size_t out = 0;
    for (MatrixEntry<double> entry : row) {
      if (entry.col >= firstDof && entry.col < last) continue;
      if (entry.val > -1e-9 && entry.val < 1e-9) continue;
      if (entry.col >= last) entry.col -= nDofs;
      row[out++] = entry;
    }
    row.resize(out);
  };

  if (nDofs > 0) {
    for (int r = firstDof; r + nDofs < N; ++r) Msparse->rows[r].swap(Msparse->rows[r + nDofs]);
    for (int r = N - nDofs; r < N; ++r) std::vector<MatrixEntry<double>>().swap(Msparse->rows[r]);
  }
  Msparse->nRow -= nDofs;
  Msparse->nCol -= nDofs;
  for (int r = 0; r < Msparse->nRow; ++r) compactRow(Msparse->rows[r]);
  std::cout << "  Pack Mass matrix ... " << std::endl;
  M = new PackedMatrix<double>(*Msparse);
  delete Msparse;
  Msparse = nullptr;

  Ssparse->nCol -= nDofs;
  for (int r = 0; r < Ssparse->nRow; ++r) compactRow(Ssparse->rows[r]);
  std::cout << "  Pack stress matrix ... " << std::endl;
  S = new PackedMatrix<double>(*Ssparse);
  delete Ssparse;
  Ssparse = nullptr;

  if (K3)
    removeBlockDofs(*K3, firstDof, nDofs);
  else if (K2)
    removeBlockDofs(*K2, firstDof, nDofs);
  else
    return;
  printFillRatios();
}

template <int BS>
void MatrixAssembler::removeBlockDofs(BlockMatrix<double, BS>& K, int firstDof, int nDofs) {
  using Map = typename BlockMatrix<double, BS>::BuildMap;
  const int last = firstDof + nDofs;
  if (nDofs > 0) {
    // A uniform shift keeps the blocks' order: the nodes move over to the
    // new map in order, re-keyed, without a copy.
    Map& old = *K.buildMap;
    Map kept;
    while (!old.empty()) {
      auto node = old.extract(old.begin());
      int r0 = node.key().first, c0 = node.key().second;
      if ((r0 >= firstDof && r0 < last) || (c0 >= firstDof && c0 < last)) continue;
      if (r0 >= firstDof) r0 -= nDofs;
      if (c0 >= firstDof) c0 -= nDofs;
      node.key() = {r0, c0};
      node.mapped().row0 = r0;
      node.mapped().col0 = c0;
      kept.insert(kept.end(), std::move(node));
    }
    old.swap(kept);
  }
  K.nRow -= nDofs;
  K.nCol -= nDofs;
  K.buildDataStructs();
  K.addScaled(*M, 1e-32);
  K.symmetric = true;
}

void MatrixAssembler::printFillRatios() const {
  int nBlocks = 0;
  int64_t nBlockCells = 0;
  if (K3) {
    nBlocks = static_cast<int>(K3->blocks.size());
    nBlockCells = static_cast<int64_t>(K3->nBlockRows) * K3->nBlockCols;
  } else if (K2) {
    nBlocks = static_cast<int>(K2->blocks.size());
    nBlockCells = static_cast<int64_t>(K2->nBlockRows) * K2->nBlockCols;
  }
  const float fillK = nBlockCells == 0 ? 0.0f : nBlocks * 100.0f / static_cast<float>(nBlockCells);
  float stored = 0.0f;
  for (int r = 0; r < M->nRow; ++r) stored += static_cast<float>(M->rowLen[r]);
  const int64_t cells = static_cast<int64_t>(M->nRow) * M->nCol;
  const float fillM = cells == 0 ? 0.0f : stored * 100.0f / static_cast<float>(cells);
  std::cout << "    Fillratio of K  = " << fillK << "% ,    M = " << fillM << "%" << std::endl;
}

PackedMatrix<double>* MatrixAssembler::packStiffnessMatrix() {
  std::cout << "  Pack stiffness matrix ... " << std::endl;
  Matrix<double>* K = getStiffnessMatrix();
  if (!K) return nullptr;
  SparseMatrix<double> sparse(K->nRow, K->nCol);
  auto collect = [&sparse](auto& blockMatrix) {
    blockMatrix.buildDataStructs();
    constexpr int BS = std::remove_reference_t<decltype(blockMatrix)>::N;
    for (const auto& block : blockMatrix.blocks)
      for (int k = 0; k < BS * BS; ++k)
        sparse.setElem(block.row0 + k / BS, block.col0 + k % BS, block.values[k]);
  };
  if (K3)
    collect(*K3);
  else
    collect(*K2);
  auto* packed = new PackedMatrix<double>(sparse);
  delete K3;
  delete K2;
  K3 = nullptr;
  K2 = nullptr;
  return packed;
}
