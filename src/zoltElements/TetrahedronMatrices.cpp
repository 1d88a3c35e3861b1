// Shape functions and exact element matrices of the linear tetrahedron.

#include "TetrahedronMatrices.h"

#include "IntegrationDomain.h"
#include "PolynomCalculus.h"
#include "SparseMatrix.h"
#include "Tetrahedron.h"
#include "Vertex.h"

namespace {

using P = Polynom<double>;

constexpr int kMonomial[4] = {0, 1, 256, 65536};  // 1, x, y, z

double constantTerm(const P& p) {
  auto it = p.terms.find(0);
  return it == p.terms.end() ? 0.0 : it->second;
}

double det3(double a11, double a12, double a13, double a21, double a22, double a23, double a31,
            double a32, double a33) {
  return a11 * (a22 * a33 - a23 * a32) - a12 * (a21 * a33 - a23 * a31) +
         a13 * (a21 * a32 - a22 * a31);
}

// Reference vertices (r, s, t): V0 origin, V1 on r, V2 on t, V3 on s.
constexpr double kReference[4][4] = {
    {1, 0, 0, 0}, {1, 1, 0, 0}, {1, 0, 0, 1}, {1, 0, 1, 0}};

}  // namespace

void scalePolynomByVolume(Polynom<double>* p, IntegrationDomain* dom) {
  const double f = 0.16666666666666666 * dom->det;
  for (auto& term : p->terms) term.second *= f;
}

void scalePolynomByVolumeFn(Polynom<double>* p, void* dom) {
  scalePolynomByVolume(p, static_cast<IntegrationDomain*>(dom));
}

void Tetrahedron::computeShapeFunctions() {
  double a[4][4];
  for (int j = 0; j < 4; ++j) {
    a[j][0] = 1.0;
    for (int k = 0; k < 3; ++k) a[j][k + 1] = static_cast<double>(v[j]->restPosition[k]);
  }
  // Cofactor C(i, k) of row i, column k; column i of the inverse is
  // C(i, 0..3) / D.
  double cof[4][4];
  for (int i = 0; i < 4; ++i) {
    int r[3], n = 0;
    for (int j = 0; j < 4; ++j)
      if (j != i) r[n++] = j;
    for (int k = 0; k < 4; ++k) {
      int c[3];
      int m = 0;
      for (int j = 0; j < 4; ++j)
        if (j != k) c[m++] = j;
      const double minor = det3(a[r[0]][c[0]], a[r[0]][c[1]], a[r[0]][c[2]], a[r[1]][c[0]],
                                a[r[1]][c[1]], a[r[1]][c[2]], a[r[2]][c[0]], a[r[2]][c[1]],
                                a[r[2]][c[2]]);
      cof[i][k] = (i + k) % 2 == 0 ? minor : -minor;
    }
  }
  const double D = cof[0][0] + cof[1][0] + cof[2][0] + cof[3][0];
  const double invD = 1.0 / D;
  for (int i = 0; i < 4; ++i) {
    // Rebuilt from scratch, so a coefficient that became zero leaves no
    // stale term behind.
    N[i].terms.clear();
    for (int k = 0; k < 4; ++k) {
      const double c = cof[i][k] * invD;
      if (c < 0.0 || c > 0.0) N[i].terms[kMonomial[k]] = c;
    }
  }
  shapeFunctionsReady = true;
}

void Tetrahedron::computeStrainMatrix(Matrix<Polynom<double>>& B) {
  for (int i = 0; i < 4; ++i) {
    const int c = 3 * i;
    const P dx = derivativeX(N[i]);
    const P dy = derivativeY(N[i]);
    const P dz = derivativeZ(N[i]);
    B.setElem(0, c, dx);
    B.setElem(1, c + 1, dy);
    B.setElem(2, c + 2, dz);
    B.setElem(3, c, dy);
    B.setElem(3, c + 1, dx);
    B.setElem(4, c, dz);
    B.setElem(4, c + 2, dx);
    B.setElem(5, c + 1, dz);
    B.setElem(5, c + 2, dy);
  }
}

void Tetrahedron::computeIntegrationDomain(IntegrationDomain& dom) {
  FullMatrix<double>& map = dom.map;
  if (map.nRow != 4) {
    // The map does not depend on the element: one inversion per domain.
    delete[] map.data;
    map.data = new double[16];
    map.nRow = map.nCol = 4;
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) map.data[4 * j + k] = kReference[j][k];
    map.inv();
  }
  for (int d = 0; d < 3; ++d) {
    P& limit = dom.limit[d];
    limit.terms.clear();
    const double p0 = v[0]->restPosition[d], p1 = v[1]->restPosition[d];
    const double p2 = v[2]->restPosition[d], p3 = v[3]->restPosition[d];
    for (int j = 0; j < 4; ++j) {
      const double q = map(j, 0) * p0 + map(j, 1) * p1 + map(j, 2) * p2 + map(j, 3) * p3;
      if (q < 0.0 || q > 0.0) limit.terms[kMonomial[j]] = q;
    }
  }
  P J[3][3];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) J[a][b] = derivative(dom.limit[a], b);
  const P det = determinant3x3(J[0][0], J[0][1], J[0][2], J[1][0], J[1][1], J[1][2], J[2][0],
                               J[2][1], J[2][2]);
  dom.det = constantTerm(det);
  if (dom.det < 0) dom.det = -dom.det;
}

void Tetrahedron::integrateMatrix(Matrix<Polynom<double>>& M, IntegrationDomain& dom) {
  M.forEachValue(scalePolynomByVolumeFn, &dom);
}

void Tetrahedron::computeLoadMatrix(IntegrationDomain& dom) {
  delete loadMatrix;
  loadMatrix = new SparseMatrix<double>(12, 3);
  for (int i = 0; i < 4; ++i) {
    P n = N[i];
    integrateTetrahedron(n, dom);
    const double c = constantTerm(n);
    loadMatrix->setElem(3 * i, 0, c);
    loadMatrix->setElem(3 * i + 1, 1, c);
    loadMatrix->setElem(3 * i + 2, 2, c);
  }
  P one(1.0);
  integrateTetrahedron(one, dom);
  volume = constantTerm(one);
}

void Tetrahedron::computeMassMatrix(Matrix<double>& Me, IntegrationDomain& dom) {
  for (int i = 0; i < 4; ++i)
    for (int j = i; j < 4; ++j) {
      P p = N[i] * N[j];
      integrateTetrahedron(p, dom);
      const double c = constantTerm(p);
      for (int e = 0; e < 3; ++e) Me.setElem(3 * i + e, 3 * j + e, c);
      if (i != j)
        for (int e = 0; e < 3; ++e) Me.setElem(3 * j + e, 3 * i + e, c);
    }
}

void Tetrahedron::integrateMap(PolynomMap& m, IntegrationDomain& dom) {
  for (auto& entry : m) scalePolynomByVolume(&entry.second, &dom);
}

void Tetrahedron::computeGradients(IntegrationDomain&) {
  delete[] gradients;
  gradients = new double[12];
  for (int i = 0; i < 4; ++i) {
    gradients[i] = constantTerm(derivativeX(N[i]));
    gradients[4 + i] = constantTerm(derivativeY(N[i]));
    gradients[8 + i] = constantTerm(derivativeZ(N[i]));
  }
}
