#include "Polynom.h"

#include <cmath>

#include "ZoltAssert.h"

namespace zolt {
std::pmr::memory_resource* polynomPool() { return std::pmr::new_delete_resource(); }

void polynomStop() { ZOLT_ASSERT(0); }
}  // namespace zolt

template <class T>
Polynom<T>& Polynom<T>::operator+=(const Polynom& p) {
  for (const auto& [k, c] : p.terms) {
    if (isZero(c)) continue;
    auto it = terms.try_emplace(k, T(0)).first;
    it->second += c;
    if (isZero(it->second)) terms.erase(it);
  }
  return *this;
}

template <class T>
Polynom<T>& Polynom<T>::operator*=(const Polynom& p) {
  if (terms.empty() || p.terms.empty()) {
    terms.clear();
    return *this;
  }
  const Polynom old(*this);
  auto c0 = p.terms.find(0);
  if (c0 != p.terms.end() && !isZero(c0->second)) {
    // Every old key gets a product again: keep the nodes.
    for (auto& kv : terms) kv.second = T(0);
  } else {
    terms.clear();
  }
  for (const auto& [ka, ca] : old.terms)
    for (const auto& [kb, cb] : p.terms) terms.try_emplace(ka + kb, T(0)).first->second += ca * cb;
  for (auto it = terms.begin(); it != terms.end();) {
    if (isZero(it->second))
      it = terms.erase(it);
    else
      ++it;
  }
  return *this;
}

template <class T>
T Polynom<T>::eval(double x, double y, double z) const {
  T sum = T(0);
  for (const auto& [k, c] : terms) {
    // coefficient * x^a * y^b * z^c, left to right
    sum += c * std::pow(x, k & 0xff) * std::pow(y, (k >> 8) & 0xff) * std::pow(z, (k >> 16) & 0xff);
  }
  return sum;
}

template <class T>
Polynom<T> operator-(const Polynom<T>& a, const Polynom<T>& b) {
  Polynom<T> r(a);
  for (const auto& [k, c] : b.terms) {
    if (Polynom<T>::isZero(c)) continue;
    auto it = r.terms.try_emplace(k, T(0)).first;
    it->second += -c;
    if (Polynom<T>::isZero(it->second)) r.terms.erase(it);
  }
  return r;
}

template <class T>
Polynom<T> operator*(const Polynom<T>& a, const Polynom<T>& b) {
  Polynom<T> r;
  for (const auto& [ka, ca] : a.terms) {
    for (const auto& [kb, cb] : b.terms) {
      T q = ca * cb;
      if (Polynom<T>::isZero(q)) continue;
      auto it = r.terms.try_emplace(ka + kb, T(0)).first;
      it->second = q + it->second;
      if (Polynom<T>::isZero(it->second)) r.terms.erase(it);
    }
  }
  return r;
}

template <class T>
bool operator==(const Polynom<T>& a, const Polynom<T>& b) {
  if (a.terms.size() != b.terms.size()) return false;
  for (auto ia = a.terms.begin(), ib = b.terms.begin(); ia != a.terms.end(); ++ia, ++ib)
    if (ia->first != ib->first || !(ia->second == ib->second)) return false;
  return true;
}

template class Polynom<double>;
template Polynom<double> operator-(const Polynom<double>&, const Polynom<double>&);
template Polynom<double> operator*(const Polynom<double>&, const Polynom<double>&);
template bool operator==(const Polynom<double>&, const Polynom<double>&);
