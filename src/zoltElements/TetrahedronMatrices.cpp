// Shape functions and exact element matrices of the linear tetrahedron.

#include "TetrahedronMatrices.h"

#include <cmath>
#include <cstdint>

#include "IntegrationDomain.h"
#include "PolynomCalculus.h"
#include "SparseMatrix.h"
#include "Tetrahedron.h"
#include "Vertex.h"
#include "ZoltAssert.h"

namespace {

using P = Polynom<double>;

constexpr int kMonomial[4] = {0, 1, 256, 65536};  // 1, x, y, z

// The exact zero test of the polynomials: NaN counts as zero.
bool nonZero(double c) { return c < 0.0 || c > 0.0; }

double constantTerm(const P& p) {
  auto it = p.terms.find(0);
  return it == p.terms.end() ? 0.0 : it->second;
}

double det3(double a11, double a12, double a13, double a21, double a22, double a23, double a31,
            double a32, double a33) {
  return a11 * (a22 * a33 - a23 * a32) - a12 * (a21 * a33 - a23 * a31) +
         a13 * (a21 * a32 - a22 * a31);
}

// True when p has no term of degree above 1.
bool isAffine(const P& p) {
  for (const auto& term : p)
    if (term.first != 0 && term.first != 1 && term.first != 256 && term.first != 65536)
      return false;
  return true;
}

// p becomes the sum of the non-zero values[k] times monomial keys[k] (keys
// ascending). Keeps p's term nodes when it already holds exactly those keys,
// so a polynomial rewritten for element after element allocates nothing.
void assignTerms(P& p, const int* keys, const double* values, int n) {
  int count = 0;
  for (int k = 0; k < n; ++k) count += nonZero(values[k]);
  if (static_cast<int>(p.terms.size()) == count) {
    auto it = p.terms.begin();
    bool same = true;
    for (int k = 0; k < n && same; ++k) {
      if (!nonZero(values[k])) continue;
      same = it->first == keys[k];
      ++it;
    }
    if (same) {
      it = p.terms.begin();
      for (int k = 0; k < n; ++k)
        if (nonZero(values[k])) (it++)->second = values[k];
      return;
    }
  }
  p.terms.clear();
  for (int k = 0; k < n; ++k)
    if (nonZero(values[k])) p.terms.emplace_hint(p.terms.end(), keys[k], values[k]);
}

// Constant polynomials as doubles, 0 standing for the empty polynomial:
// the product of operator* (a zero product is no term) ...
double product(double a, double b) {
  const double q = a * b;
  return nonZero(q) ? q : 0.0;
}
// ... and addTerm (a sum of zero is no term).
void addConstant(double& s, double c) {
  if (!nonZero(c)) return;
  s += c;
  if (!nonZero(s)) s = 0.0;
}

// Reference vertices (r, s, t): V0 origin, V1 on r, V2 on t, V3 on s.
constexpr double kReference[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 0, 0, 1}, {1, 0, 1, 0}};

// ---------------------------------------------------------------------------
// The exact integration of integrateTetrahedron (PolynomCalculus) for
// integrands of degree <= 2 over affine limits, on a fixed array of
// coefficients instead of a term map: the same terms in the same ascending
// order, the same floating-point operations in the same order and the same
// rule that a zero (or NaN) coefficient is no term, so every result is
// bit-identical, without the allocation of a term per operation.
//
// Degree 2 grows to degree 5 by the three antiderivatives, so exponents stay
// below 6: slot ex + 6 ey + 36 ez, whose order is the order of the keys
// ex | ey << 8 | ez << 16.

constexpr int kBase = 6;
constexpr int kSlots = kBase * kBase * kBase;
constexpr int kPlane = kBase * kBase;
constexpr int kStep[3] = {1, kBase, kPlane};

struct ExponentTable {
  uint8_t e[kSlots][3];
  constexpr ExponentTable() : e{} {
    for (int s = 0; s < kSlots; ++s) {
      e[s][0] = static_cast<uint8_t>(s % kBase);
      e[s][1] = static_cast<uint8_t>(s / kBase % kBase);
      e[s][2] = static_cast<uint8_t>(s / kPlane);
    }
  }
};
constexpr ExponentTable kExponents;

int slotExponent(int slot, int variable) { return kExponents.e[slot][variable]; }

class Dense {
 public:
  Dense() = default;
  explicit Dense(double constant) {
    if (nonZero(constant)) set(0, constant);
  }
  // Copies only the stored terms.
  Dense(const Dense& o) { *this = o; }
  Dense& operator=(const Dense& o) {
    for (int w = 0; w < 4; ++w) {
      mask_[w] = o.mask_[w];
      for (uint64_t bits = mask_[w]; bits; bits &= bits - 1) {
        const int slot = 64 * w + __builtin_ctzll(bits);
        c_[slot] = o.c_[slot];
      }
    }
    return *this;
  }

  bool empty() const { return (mask_[0] | mask_[1] | mask_[2] | mask_[3]) == 0; }
  bool has(int slot) const { return (mask_[slot >> 6] >> (slot & 63)) & 1u; }
  double at(int slot) const { return has(slot) ? c_[slot] : 0.0; }
  void set(int slot, double v) {
    c_[slot] = v;
    mask_[slot >> 6] |= uint64_t(1) << (slot & 63);
  }
  void erase(int slot) { mask_[slot >> 6] &= ~(uint64_t(1) << (slot & 63)); }
  void clear() { mask_[0] = mask_[1] = mask_[2] = mask_[3] = 0; }

  // Visits the terms in ascending order; f may change the visited value.
  template <class F>
  void forEach(F f) {
    for (int w = 0; w < 4; ++w)
      for (uint64_t bits = mask_[w]; bits; bits &= bits - 1) {
        const int slot = 64 * w + __builtin_ctzll(bits);
        f(slot, c_[slot]);
      }
  }
  template <class F>
  void forEach(F f) const {
    const_cast<Dense*>(this)->forEach(
        [&f](int slot, double& c) { f(slot, static_cast<double>(c)); });
  }

 private:
  double c_[kSlots];  // meaningful where the mask bit is set
  uint64_t mask_[4] = {0, 0, 0, 0};
};

// Slot of the product of the monomials in slots a and b.
int productSlot(int a, int b) {
  const uint8_t* ea = kExponents.e[a];
  const uint8_t* eb = kExponents.e[b];
  ZOLT_ASSERT(ea[0] + eb[0] < kBase && ea[1] + eb[1] < kBase && ea[2] + eb[2] < kBase);
  return a + b;
}

// addTerm.
void addTerm(Dense& r, int slot, double c) {
  if (!nonZero(c)) return;
  const double v = r.at(slot) + c;
  if (nonZero(v))
    r.set(slot, v);
  else
    r.erase(slot);
}

// Polynom::operator+=.
void addAssign(Dense& r, const Dense& q) {
  q.forEach([&r](int slot, double c) { addTerm(r, slot, c); });
}

// Polynom::operator*=: every product summed first, zero sums dropped last.
void multiplyAssign(Dense& a, const Dense& b) {
  if (a.empty() || b.empty()) {
    a.clear();
    return;
  }
  Dense r;
  a.forEach([&](int sa, double ca) {
    b.forEach([&](int sb, double cb) {
      const int k = productSlot(sa, sb);
      r.set(k, r.at(k) + ca * cb);
    });
  });
  r.forEach([&r](int slot, double c) {
    if (!nonZero(c)) r.erase(slot);
  });
  a = r;
}

// operator*(Polynom, Polynom): zero products skipped, zero sums dropped at
// once.
Dense product(const Dense& a, const Dense& b) {
  Dense r;
  a.forEach([&](int sa, double ca) {
    b.forEach([&](int sb, double cb) {
      const double q = ca * cb;
      if (!nonZero(q)) return;
      const int k = productSlot(sa, sb);
      const double v = q + r.at(k);
      if (nonZero(v))
        r.set(k, v);
      else
        r.erase(k);
    });
  });
  return r;
}

Dense power(const Dense& base, int e) {
  Dense r(1.0);
  for (int i = 0; i < e; ++i) multiplyAssign(r, base);
  return r;
}

// The limits of the nested integrals and their powers up to the fourth.
struct Limits {
  Dense z[5];  // (1 - x - y)^e
  Dense y[5];  // (1 - x)^e
  Limits() {
    Dense zl, yl;
    zl.set(0, 1.0);
    zl.set(kStep[0], -1.0);
    zl.set(kStep[1], -1.0);
    yl.set(0, 1.0);
    yl.set(kStep[0], -1.0);
    for (int e = 0; e < 5; ++e) {
      z[e] = power(zl, e);
      y[e] = power(yl, e);
    }
  }
};

const Limits& limits() {
  static const Limits l;
  return l;
}

// integrateY / integrateZ.
void integrateUpTo(Dense& p, const Dense* upperPowers, int variable) {
  const int step = kStep[variable];
  Dense a;
  p.forEach([&](int slot, double c) {
    const int e = slotExponent(slot, variable);
    const double q = e == 0 ? c : c / (e + 1);
    if (!nonZero(q)) return;
    ZOLT_ASSERT(e + 1 < kBase);
    a.set(slot + step, q);
  });
  Dense r;
  a.forEach([&](int slot, double c) {
    const int e = slotExponent(slot, variable);
    if (e == 0) {
      addTerm(r, slot, c);
      return;
    }
    ZOLT_ASSERT(e < 5);
    const int rest = slot - e * step;
    upperPowers[e].forEach([&](int s2, double c2) { addTerm(r, productSlot(rest, s2), c * c2); });
  });
  p = r;
}

// p as a Dense of degree at most maxDegree; false when it has a term of
// higher degree.
bool toDense(const P& p, int maxDegree, Dense& d) {
  d.clear();
  for (const auto& [key, c] : p) {
    const int ex = key & 0xff, ey = (key >> 8) & 0xff, ez = (key >> 16) & 0xff;
    if (ex + ey + ez > maxDegree) return false;
    d.set(ex + kStep[1] * ey + kStep[2] * ez, c);
  }
  return true;
}

// integrateTetrahedron over one element's domain. The image of a monomial
// under the change of variables is the same in every integral of the
// element, so it is formed once.
class ElementIntegral {
 public:
  // False when the domain's limits are not affine.
  bool init(const IntegrationDomain& dom) {
    det_ = dom.det;
    for (int d = 0; d < 3; ++d)
      if (!toDense(dom.limit[d], 1, limit_[d])) return false;
    for (int8_t& k : cached_) k = -1;
    nCached_ = 0;
    return true;
  }

  // The constant term of integrateTetrahedron(p), for p of degree <= 2.
  double operator()(const Dense& p) {
    if (p.empty()) return 0.0;
    Dense s;
    p.forEach([&](int slot, double c) {
      Dense m = image(slot);
      m.forEach([c](int, double& term) { term *= c; });
      addAssign(s, m);
    });
    s.forEach([&s, this](int slot, double& c) {
      c *= det_;
      if (!nonZero(c)) s.erase(slot);
    });
    const Limits& l = limits();
    integrateUpTo(s, l.z, 2);
    integrateUpTo(s, l.y, 1);
    Dense w;
    s.forEach([&w](int slot, double c) {
      const int e = slotExponent(slot, 0);
      const double q = e == 0 ? c : c / (e + 1);
      if (!nonZero(q)) return;
      ZOLT_ASSERT(e + 1 < kBase);
      w.set(slot + 1, q);
    });
    // x = 1: the power of 1 is the constant 1.
    Dense r;
    w.forEach([&r](int slot, double c) { addTerm(r, slot - slotExponent(slot, 0), c * 1.0); });
    return r.at(0);
  }

 private:
  static constexpr int kMonomials = 10;  // of degree <= 2

  double det_ = 0.0;
  Dense limit_[3];
  int8_t cached_[kSlots];
  Dense images_[kMonomials];
  int nCached_ = 0;

  // 1 times limit[0] ex times, limit[1] ey times, limit[2] ez times.
  const Dense& image(int slot) {
    if (cached_[slot] < 0) {
      ZOLT_ASSERT(nCached_ < kMonomials);
      Dense& m = images_[nCached_];
      m = Dense(1.0);
      for (int v = 0; v < 3; ++v)
        for (int i = 0; i < slotExponent(slot, v); ++i) multiplyAssign(m, limit_[v]);
      cached_[slot] = static_cast<int8_t>(nCached_++);
    }
    return images_[cached_[slot]];
  }
};

}  // namespace

void scalePolynomByVolume(Polynom<double>* p, IntegrationDomain* dom) {
  const double f = 0.16666666666666666 * dom->det;
  for (auto& term : p->terms) term.second *= f;
}

void scalePolynomByVolumeFn(Polynom<double>* p, void* dom) {
  scalePolynomByVolume(p, static_cast<IntegrationDomain*>(dom));
}

namespace {

// Coefficients c[i] = (c0, cx, cy, cz) of the shape functions
// N_i = c0 + cx x + cy y + cz z of the corners v; returns the determinant
// of the corner matrix, six times the signed volume.
double linearShapeCoefficients(Vertex* const (&v)[4], double (&c)[4][4]) {
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
      int col[3];
      int m = 0;
      for (int j = 0; j < 4; ++j)
        if (j != k) col[m++] = j;
      const double minor = det3(a[r[0]][col[0]], a[r[0]][col[1]], a[r[0]][col[2]],
                                a[r[1]][col[0]], a[r[1]][col[1]], a[r[1]][col[2]],
                                a[r[2]][col[0]], a[r[2]][col[1]], a[r[2]][col[2]]);
      cof[i][k] = (i + k) % 2 == 0 ? minor : -minor;
    }
  }
  const double D = cof[0][0] + cof[1][0] + cof[2][0] + cof[3][0];
  const double invD = 1.0 / D;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) c[i][k] = cof[i][k] * invD;
  return D;
}

}  // namespace

void Tetrahedron::computeShapeFunctions() {
  double c[4][4];
  linearShapeCoefficients(v, c);
  // Rebuilt completely, so a coefficient that became zero leaves no stale
  // term behind.
  for (int i = 0; i < 4; ++i) assignTerms(N[i], kMonomial, c[i], 4);
  shapeFunctionsReady = true;
}

// The determinant linearShapeCoefficients returns, from the four cofactors
// it sums, bit for bit.
static double cornerDeterminant(Vertex* const (&v)[4]) {
  double a[4][3];
  for (int j = 0; j < 4; ++j)
    for (int k = 0; k < 3; ++k) a[j][k] = static_cast<double>(v[j]->restPosition[k]);
  double D = 0.0;
  for (int i = 0; i < 4; ++i) {
    int r[3], n = 0;
    for (int j = 0; j < 4; ++j)
      if (j != i) r[n++] = j;
    const double minor = det3(a[r[0]][0], a[r[0]][1], a[r[0]][2], a[r[1]][0], a[r[1]][1],
                              a[r[1]][2], a[r[2]][0], a[r[2]][1], a[r[2]][2]);
    D = i == 0 ? minor : D + (i % 2 == 0 ? minor : -minor);
  }
  return D;
}

double Tetrahedron::prepareVolume() {
  volume = std::fabs(cornerDeterminant(v)) / 6.0;
  shapeFunctionsReady = false;
  delete loadMatrix;
  loadMatrix = nullptr;
  loadPending = true;
  return volume;
}

double Tetrahedron::prepareVolume(bool withGradients, double (&grad)[4][3]) {
  double c[4][4];
  const double D = linearShapeCoefficients(v, c);
  // A coefficient the polynomial does not hold (zero or NaN) derives to 0.
  for (int i = 0; i < 4; ++i)
    for (int d = 0; d < 3; ++d) grad[i][d] = nonZero(c[i][d + 1]) ? c[i][d + 1] : 0.0;
  volume = std::fabs(D) / 6.0;
  shapeFunctionsReady = false;
  delete loadMatrix;
  loadMatrix = nullptr;
  loadPending = true;
  if (withGradients) {
    delete[] gradients;
    gradients = new double[12];
    for (int i = 0; i < 4; ++i)
      for (int d = 0; d < 3; ++d) gradients[4 * d + i] = grad[i][d];
  }
  return volume;
}

double Tetrahedron::prepareLinear(bool withGradients, double (&grad)[4][3]) {
  prepareVolume(withGradients, grad);
  computeShapeFunctions();
  getLoadMatrix();
  return volume;
}

SparseMatrix<double>* Tetrahedron::getLoadMatrix() const {
  if (loadMatrix || !loadPending) return loadMatrix;
  // Each corner's shape function integrates to a quarter of the volume.
  loadMatrix = new SparseMatrix<double>(12, 3);
  const double load = 0.25 * volume;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) loadMatrix->setElem(3 * i + k, k, load);
  return loadMatrix;
}

double Tetrahedron::loadEntry(int row, int col) const {
  if (loadMatrix) return (*loadMatrix)(row, col);
  if (!loadPending) return 0.0;
  const double load = 0.25 * volume;
  return row >= 0 && row < 12 && row % 3 == col && nonZero(load) ? load : 0.0;
}

void Tetrahedron::computeStrainMatrix(Matrix<Polynom<double>>& B) {
  P d[3];  // Dx, Dy, Dz of one shape function
  for (int i = 0; i < 4; ++i) {
    const int c = 3 * i;
    if (isAffine(N[i])) {
      // The derivatives of an affine function are its linear coefficients;
      // set in place, without a new polynomial per derivative.
      for (int k = 0; k < 3; ++k) {
        auto it = N[i].terms.find(kMonomial[k + 1]);
        const double value = it == N[i].terms.end() ? 0.0 : it->second;
        assignTerms(d[k], kMonomial, &value, 1);
      }
    } else {
      for (int k = 0; k < 3; ++k) d[k] = derivative(N[i], k);
    }
    const P& dx = d[0];
    const P& dy = d[1];
    const P& dz = d[2];
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
  // limit[d] = q0 + q1 r + q2 s + q3 t; J[d][b] = q_{b+1}, the derivative
  // along reference variable b (zero: no term).
  double J[3][3];
  for (int d = 0; d < 3; ++d) {
    const double p0 = v[0]->restPosition[d], p1 = v[1]->restPosition[d];
    const double p2 = v[2]->restPosition[d], p3 = v[3]->restPosition[d];
    double q[4];
    for (int j = 0; j < 4; ++j)
      q[j] = map(j, 0) * p0 + map(j, 1) * p1 + map(j, 2) * p2 + map(j, 3) * p3;
    assignTerms(dom.limit[d], kMonomial, q, 4);
    for (int b = 0; b < 3; ++b) J[d][b] = nonZero(q[b + 1]) ? q[b + 1] : 0.0;
  }
  // determinant3x3 on constant polynomials, operation for operation.
  auto triple = [](double a, double b, double c) { return product(product(a, b), c); };
  double det = triple(J[0][0], J[1][1], J[2][2]);
  addConstant(det, 1.0 * triple(J[0][1], J[1][2], J[2][0]));
  addConstant(det, 1.0 * triple(J[0][2], J[1][0], J[2][1]));
  addConstant(det, -1.0 * triple(J[0][0], J[1][2], J[2][1]));
  addConstant(det, -1.0 * triple(J[0][1], J[1][0], J[2][2]));
  addConstant(det, -1.0 * triple(J[0][2], J[1][1], J[2][0]));
  dom.det = det;
  if (dom.det < 0) dom.det = -dom.det;
}

void Tetrahedron::integrateMatrix(Matrix<Polynom<double>>& M, IntegrationDomain& dom) {
  M.forEachValue(scalePolynomByVolumeFn, &dom);
}

void Tetrahedron::computeLoadMatrix(IntegrationDomain& dom) {
  delete loadMatrix;
  loadMatrix = new SparseMatrix<double>(12, 3);
  ElementIntegral integral;
  Dense n[4];
  bool dense = integral.init(dom);
  for (int i = 0; i < 4 && dense; ++i) dense = toDense(N[i], 2, n[i]);
  for (int i = 0; i < 4; ++i) {
    double c;
    if (dense) {
      c = integral(n[i]);
    } else {
      P q = N[i];
      integrateTetrahedron(q, dom);
      c = constantTerm(q);
    }
    loadMatrix->setElem(3 * i, 0, c);
    loadMatrix->setElem(3 * i + 1, 1, c);
    loadMatrix->setElem(3 * i + 2, 2, c);
  }
  if (dense) {
    volume = integral(Dense(1.0));
  } else {
    P one(1.0);
    integrateTetrahedron(one, dom);
    volume = constantTerm(one);
  }
}

void Tetrahedron::computeMassMatrix(Matrix<double>& Me, IntegrationDomain& dom) {
  ElementIntegral integral;
  Dense n[4];
  bool dense = integral.init(dom);
  for (int i = 0; i < 4 && dense; ++i) dense = toDense(N[i], 1, n[i]);
  for (int i = 0; i < 4; ++i)
    for (int j = i; j < 4; ++j) {
      double c;
      if (dense) {
        c = integral(product(n[i], n[j]));
      } else {
        P p = N[i] * N[j];
        integrateTetrahedron(p, dom);
        c = constantTerm(p);
      }
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
