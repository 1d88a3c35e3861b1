#include "PolynomCalculus.h"

#include "IntegrationDomain.h"

namespace {

using P = Polynom<double>;

constexpr int kFieldBits = 8;
constexpr int kFieldMask = 0xff;

int exponent(int key, int variable) { return (key >> (kFieldBits * variable)) & kFieldMask; }
int keyStep(int variable) { return 1 << (kFieldBits * variable); }

// r += sign * q, term by term with the addTerm rule.
void addTerms(P& r, const P& q, double sign) {
  for (const auto& [k, c] : q) addTerm(r, k, sign * c);
}

P power(const P& base, int e) {
  P r(1.0);
  for (int i = 0; i < e; ++i) r *= base;
  return r;
}

// Antiderivative along `variable`, then the substitution variable = upper.
void integrateUpTo(P& p, const P& upper, int variable) {
  const int step = keyStep(variable);
  P a;
  for (const auto& [k, c] : p) {
    const int e = exponent(k, variable);
    const double q = e == 0 ? c : c / (e + 1);
    if (P::isZero(q)) continue;
    a.terms.emplace(k + step, q);
  }
  p = std::move(a);

  P r;
  for (const auto& [k, c] : p) {
    const int e = exponent(k, variable);
    if (e == 0) {
      addTerm(r, k, c);
    } else if (e == 1) {
      for (const auto& [k2, c2] : upper) addTerm(r, k - step + k2, c * c2);
    } else {
      const P pw = power(upper, e);
      for (const auto& [k2, c2] : pw) addTerm(r, k - e * step + k2, c * c2);
    }
  }
  p = std::move(r);
}

}  // namespace

void addTerm(Polynom<double>& p, int key, const double& c) {
  if (P::isZero(c)) return;
  auto it = p.terms.try_emplace(key, 0.0).first;
  it->second += c;
  if (P::isZero(it->second)) p.terms.erase(it);
}

double& coefficient(Polynom<double>& p, const int& key) {
  return p.terms.try_emplace(key, 0.0).first->second;
}

Polynom<double> derivative(const Polynom<double>& p, int variable) {
  const int step = keyStep(variable);
  P r;
  for (const auto& [k, c] : p) {
    const int e = exponent(k, variable);
    if (e == 0) continue;
    const double q = e == 1 ? c : static_cast<double>(e) * c;
    if (P::isZero(q)) continue;
    // Distinct keys stay distinct: assign, never sum.
    r.terms.emplace(k - step, q);
  }
  return r;
}

Polynom<double> derivativeX(const Polynom<double>& p) { return derivative(p, 0); }
Polynom<double> derivativeY(const Polynom<double>& p) { return derivative(p, 1); }
Polynom<double> derivativeZ(const Polynom<double>& p) { return derivative(p, 2); }

Polynom<double> determinant3x3(const Polynom<double>& a11, const Polynom<double>& a12,
                               const Polynom<double>& a13, const Polynom<double>& a21,
                               const Polynom<double>& a22, const Polynom<double>& a23,
                               const Polynom<double>& a31, const Polynom<double>& a32,
                               const Polynom<double>& a33) {
  P r = (a11 * a22) * a33;
  addTerms(r, (a12 * a23) * a31, 1.0);
  addTerms(r, (a13 * a21) * a32, 1.0);
  addTerms(r, (a11 * a23) * a32, -1.0);
  addTerms(r, (a12 * a21) * a33, -1.0);
  addTerms(r, (a13 * a22) * a31, -1.0);
  return r;
}

void integrateY(Polynom<double>& p, const Polynom<double>& upper) { integrateUpTo(p, upper, 1); }
void integrateZ(Polynom<double>& p, const Polynom<double>& upper) { integrateUpTo(p, upper, 2); }

void integrateTetrahedron(Polynom<double>& p, const IntegrationDomain& d) {
  if (p.empty()) return;

  // Physical coordinates as polynomials of the reference coordinates.
  P s;
  for (const auto& [k, c] : p) {
    P m(1.0);
    for (int v = 0; v < 3; ++v)
      for (int i = 0; i < exponent(k, v); ++i) m *= d.limit[v];
    for (auto& term : m.terms) term.second *= c;
    s += m;
  }
  for (auto it = s.terms.begin(); it != s.terms.end();) {
    it->second *= d.det;
    if (P::isZero(it->second))
      it = s.terms.erase(it);
    else
      ++it;
  }

  P zLimit;  // 1 - x - y
  zLimit.terms.emplace(0, 1.0);
  zLimit.terms.emplace(1, -1.0);
  zLimit.terms.emplace(256, -1.0);
  integrateZ(s, zLimit);

  P yLimit;  // 1 - x
  yLimit.terms.emplace(0, 1.0);
  yLimit.terms.emplace(1, -1.0);
  integrateY(s, yLimit);

  // Along x from 0 to 1.
  P w;
  for (const auto& [k, c] : s) {
    const int e = exponent(k, 0);
    const double q = e == 0 ? c : c / (e + 1);
    if (P::isZero(q)) continue;
    coefficient(w, k + 1) = q;
  }
  const P one(1.0);
  P r;
  for (const auto& [k, c] : w) {
    const int e = exponent(k, 0);
    const P pw = power(one, e);
    for (const auto& [k2, c2] : pw) addTerm(r, k - e + k2, c * c2);
  }
  p = std::move(r);
}
