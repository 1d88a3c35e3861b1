#include "FEMSimulation.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "Barrier.h"
#include "FiniteElement.h"
#include "SimulationSettings.h"
#include "SparseMatrix.h"
#include "TetHierarchy.h"
#include "TimeIntegration.h"

namespace {

const std::vector<Vertex*>& finestVertices(const TetHierarchy& h) {
  return h.vertices[h.nLevels - 1];
}

void zero(Vector<double>& v) { std::fill(v.data, v.data + v.n, 0.0); }

}  // namespace

FEMSimulation::FEMSimulation(TetHierarchy* h, SimulationSettings* s, uint8_t d)
    : Simulation(h, s, d), heldRamp(&s->forceNorm, d), impulseRamp(d) {
  const int nVertices = static_cast<int>(finestVertices(*h).size());
  nFree = nVertices - s->fixedCount;
  if (nFree < 0) {
    std::cout << "[FEMSimulation, FEMSimulation] Error: " << s->fixedCount
              << " fixed vertices but only " << nVertices << " vertices!" << std::endl;
    nFree = 0;
  }
  const int n = dim * nFree;
  rightSide = std::make_unique<Vector<double>>(n);
  displacement = std::make_unique<Vector<double>>(n);
  gravityLoad = std::make_unique<Vector<double>>(n);
  staticLoad = std::make_unique<Vector<double>>(n);
  forces = std::make_unique<Vector<double>>(n);
  previousForces = std::make_unique<Vector<double>>(n);
  stress = std::make_unique<Vector<double>>(strainComponents(dim) * nVertices);
  residual = std::make_unique<Vector<double>>(n);
}

FEMSimulation::~FEMSimulation() = default;

int FEMSimulation::firstDof(int vertex, const char* method) const {
  const int i = vertex - settings->fixedCount;
  if (i < 0) return -1;
  if (i >= nFree) {
    std::cout << "[FEMSimulation, " << method << "] Error: Vertex " << vertex << " does not exist!"
              << std::endl;
    return -1;
  }
  return dim * i;
}

void FEMSimulation::addVertexValue(int vertex, const double* value) {
  const int dof = firstDof(vertex, "addVertexValue");
  if (dof >= 0) queueForce(heldQueue, static_cast<uint32_t>(dof), value, dim, true);
}

void FEMSimulation::addVertexValueFlagged(int vertex, const double* value, bool smooth) {
  const int dof = firstDof(vertex, "addVertexValueFlagged");
  if (dof >= 0) queueForce(impulseQueue, static_cast<uint32_t>(dof), value, dim, smooth);
}

void FEMSimulation::purgeQueue() { HeldRamp::release(heldQueue); }

void FEMSimulation::freezeForces() {
  Vector<double>& b = *rightSide;
  if (impulseQueue.empty() || !integrator)
    zero(b);
  else
    integrator->forceToLoad(*forces, b);
  heldRamp.apply(heldQueue, b);
  for (int i = 0; i < b.n; ++i) staticLoad->data[i] += b.data[i];
  heldQueue.clear();
  impulseQueue.clear();
}

void FEMSimulation::addGravity() {
  const std::vector<FiniteElement*>& elements = hierarchy->elements[hierarchy->nLevels - 1];
  if (!gravityBuilt && !elements.empty()) {
    const int nNodes = elements.front()->degreeOfFreedom();
    const int fixed = settings->fixedCount;
    const double rho = settings->material->density;
    float g[3];  // g * rho, rounded to single precision
    for (int k = 0; k < 3; ++k) g[k] = static_cast<float>(settings->gravity[k] * rho);
    double* load = gravityLoad->data;
    for (const FiniteElement* e : elements) {
      const float density = e->getDensity();
      for (int j = 0; j < nNodes; ++j) {
        const int i = e->getVertex(j)->index - fixed;
        if (i < 0) continue;
        for (int k = 0; k < dim; ++k)
          load[dim * i + k] += e->loadEntry(dim * j + k, k) * g[k] * density;
      }
    }
  }
  gravityBuilt = 1;
  for (int i = 0; i < staticLoad->n; ++i) staticLoad->data[i] += gravityLoad->data[i];
}

void FEMSimulation::removeGravity() {
  for (int i = 0; i < staticLoad->n; ++i) staticLoad->data[i] -= gravityLoad->data[i];
}

void FEMSimulation::resetState() {
  zero(*displacement);
  zero(*staticLoad);
  impulseQueue.clear();
  zero(*previousForces);
  heldQueue.clear();
  if (integrator) {
    for (Vector<double>* v :
         {integrator->xPrev.get(), integrator->velocity.get(), integrator->acceleration.get()})
      if (v) zero(*v);
  }
  if (settings->barrier) settings->barrier->resetPosition();
}

double FEMSimulation::maxVertexNorm() { return largestVertexNorm(*displacement, dim); }
