#pragma once
// Sparse polynomial in x, y, z. A term's key packs the three exponents into
// one int: ex | (ey << 8) | (ez << 16); key 0 is the constant term. No term
// with a zero coefficient is ever stored, so the zero polynomial is empty.

#include <cmath>  // before the friend fabs below, which would hide the builtin
#include <map>
#include <memory_resource>

namespace zolt {
// The memory of all polynomial terms: the global operator new, whose
// per-thread caches let the two assembly threads create and destroy terms
// at once without contending for a shared lock.
std::pmr::memory_resource* polynomPool();
[[noreturn]] void polynomStop();
}  // namespace zolt

template <class T>
class Polynom {
 public:
  using Terms = std::pmr::map<int, T>;

  // The term map, in ascending key order. Owned by the polynomial.
  Terms terms;

  Polynom() : terms(zolt::polynomPool()) {}
  Polynom(double c) : terms(zolt::polynomPool()) {  // NOLINT: implicit by design
    if (c < 0 || c > 0) terms.emplace(0, T(c));
  }
  Polynom(const Polynom& o) : terms(o.terms, zolt::polynomPool()) {}
  Polynom(Polynom&& o) noexcept : terms(std::move(o.terms)) {}
  Polynom& operator=(const Polynom& o) {
    if (this != &o) terms = o.terms;
    return *this;
  }
  Polynom& operator=(Polynom&& o) noexcept {
    terms = std::move(o.terms);
    return *this;
  }

  Polynom& operator+=(const Polynom& p);
  Polynom& operator*=(const Polynom& p);

  // Value at the point (x, y, z).
  T eval(double x, double y, double z) const;

  typename Terms::const_iterator begin() const { return terms.begin(); }
  typename Terms::const_iterator end() const { return terms.end(); }
  bool empty() const { return terms.empty(); }
  size_t size() const { return terms.size(); }

  static bool isZero(const T& c) { return !(c < 0 || c > 0); }

  friend Polynom operator-(const Polynom& p) {
    Polynom r(p);
    for (auto& kv : r.terms) kv.second = -kv.second;
    return r;
  }

  // A polynomial has no absolute value, quotient or order. These exist only
  // so that the matrix templates compile for polynomial entries; each stops.
  friend Polynom fabs(const Polynom&) { zolt::polynomStop(); }
  friend Polynom operator/(const Polynom&, const Polynom&) { zolt::polynomStop(); }
  friend bool operator<(const Polynom&, const Polynom&) { zolt::polynomStop(); }
  friend bool operator>(const Polynom&, const Polynom&) { zolt::polynomStop(); }
};

template <class T>
Polynom<T> operator-(const Polynom<T>& a, const Polynom<T>& b);
template <class T>
Polynom<T> operator*(const Polynom<T>& a, const Polynom<T>& b);
template <class T>
bool operator==(const Polynom<T>& a, const Polynom<T>& b);
template <class T>
bool operator!=(const Polynom<T>& a, const Polynom<T>& b) {
  return !(a == b);
}

extern template class Polynom<double>;
