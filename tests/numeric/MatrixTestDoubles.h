#pragma once
// Minimal matrices for testing code written against Matrix<T>: a plain dense
// matrix that implements only element access, and a recorder that logs every
// element call it receives.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Matrix.h"

namespace testdoubles {

using P = Polynom<double>;

// Dense storage with element access only; the products of this double are
// never the subject of a test and fail the test when reached.
template <class T>
class Dense : public Matrix<T> {
 public:
  std::vector<T> a;

  Dense(int r, int c) : Matrix<T>(r, c), a(static_cast<size_t>(r) * c, T(0.0)) {}
  Dense(int r, int c, const std::vector<T>& values) : Matrix<T>(r, c), a(values) {}

  T operator()(int i, int j) const override { return a[static_cast<size_t>(i) * this->nCol + j]; }
  void setElem(int i, int j, const T& v) override {
    a[static_cast<size_t>(i) * this->nCol + j] = v;
  }
  void addElem(int i, int j, const T& v) override {
    a[static_cast<size_t>(i) * this->nCol + j] += v;
  }
  void clear() override {
    for (T& v : a) v = T(0.0);
  }
  void copyTo(Matrix<T>&) const override { ADD_FAILURE() << "Dense::copyTo"; }
  void mult(const Vector<T>&, Vector<T>&) const override { ADD_FAILURE() << "Dense::mult"; }
  void multTransposed(const Vector<T>&, Vector<T>&) const override { ADD_FAILURE(); }
  void mult_m_left(const Matrix<T>&, Matrix<T>&) const override { ADD_FAILURE(); }
  void mult_m_transpose_left(const Matrix<T>&, Matrix<T>&) const override { ADD_FAILURE(); }
  void mult_m_right(const Matrix<T>&, Matrix<T>&) const override { ADD_FAILURE(); }
  void mult_m_transpose_right(const Matrix<T>&, Matrix<T>&) const override { ADD_FAILURE(); }
  void mult_m_left_m_transpose_right(const PackedMatrix<T>&, Matrix<T>&,
                                     ProgressBar*) const override {
    ADD_FAILURE();
  }
  void scale(const T&) override { ADD_FAILURE(); }
  void forEachValue(typename Matrix<T>::ValueFn, void*) override { ADD_FAILURE(); }
  void writeToFile(std::ostream&) const override { ADD_FAILURE(); }
};

// One call received by a Recorder.
struct Call {
  enum Kind { Set, Add, Clear } kind;
  int i, j;
  double v;
};

// A Dense that logs setElem, addElem and clear in call order.
class Recorder : public Dense<double> {
 public:
  std::vector<Call> calls;

  Recorder(int r, int c) : Dense<double>(r, c) {}
  void setElem(int i, int j, const double& v) override {
    calls.push_back({Call::Set, i, j, v});
    Dense<double>::setElem(i, j, v);
  }
  void addElem(int i, int j, const double& v) override {
    calls.push_back({Call::Add, i, j, v});
    Dense<double>::addElem(i, j, v);
  }
  void clear() override {
    calls.push_back({Call::Clear, -1, -1, 0.0});
    Dense<double>::clear();
  }
  int count(Call::Kind k) const {
    int n = 0;
    for (const Call& c : calls) n += c.kind == k;
    return n;
  }
};

// Row-major random values in [-1, 1], roughly `zeroShare` of them exactly 0.
inline std::vector<double> randomValues(std::mt19937& rng, int r, int c, double zeroShare) {
  std::uniform_real_distribution<double> u(-1.0, 1.0), z(0.0, 1.0);
  std::vector<double> v(static_cast<size_t>(r) * c);
  for (double& x : v) x = z(rng) < zeroShare ? 0.0 : u(rng);
  return v;
}

// Random polynomial of up to three terms with exponents 0..2; empty
// (the zero polynomial) with probability zeroShare.
inline P randomPolynom(std::mt19937& rng, double zeroShare) {
  std::uniform_real_distribution<double> u(-1.0, 1.0), z(0.0, 1.0);
  std::uniform_int_distribution<int> e(0, 2), n(1, 3);
  P p;
  if (z(rng) < zeroShare) return p;
  for (int t = n(rng); t > 0; --t) {
    P m;
    m.terms[e(rng) | (e(rng) << 8) | (e(rng) << 16)] = u(rng) + 2.0;  // never 0
    p += m;
  }
  return p;
}

// Reference dense product of row-major matrices: (r x k) times (k x c).
inline std::vector<double> denseProduct(const std::vector<double>& a, const std::vector<double>& b,
                                        int r, int k, int c) {
  std::vector<double> out(static_cast<size_t>(r) * c, 0.0);
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) {
      double s = 0;
      for (int m = 0; m < k; ++m)
        s += a[static_cast<size_t>(i) * k + m] * b[static_cast<size_t>(m) * c + j];
      out[static_cast<size_t>(i) * c + j] = s;
    }
  return out;
}

inline std::vector<double> denseTranspose(const std::vector<double>& a, int r, int c) {
  std::vector<double> t(a.size());
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j)
      t[static_cast<size_t>(j) * r + i] = a[static_cast<size_t>(i) * c + j];
  return t;
}

// All elements of M read through its operator(), row-major.
template <class T>
std::vector<T> readAll(const Matrix<T>& M) {
  std::vector<T> v;
  for (int i = 0; i < M.nRow; ++i)
    for (int j = 0; j < M.nCol; ++j) v.push_back(M(i, j));
  return v;
}

// Evaluates every polynomial of M at (x, y, z), row-major.
inline std::vector<double> evalAll(const Matrix<P>& M, double x, double y, double z) {
  std::vector<double> v;
  for (int i = 0; i < M.nRow; ++i)
    for (int j = 0; j < M.nCol; ++j) v.push_back(M(i, j).eval(x, y, z));
  return v;
}

inline void expectNear(const std::vector<double>& got, const std::vector<double>& want,
                       double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k)
    EXPECT_NEAR(got[k], want[k], tol * (1.0 + std::abs(want[k]))) << "at flat index " << k;
}

}  // namespace testdoubles
