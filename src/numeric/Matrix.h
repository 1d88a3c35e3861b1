#pragma once
// The abstract matrix of the numeric library and its dense vector.
// Indices are 0-based and never range-checked; element reads return values.
// Products never allocate their result: the caller passes C with the shape
// of the product. `symmetric` is the owner's declaration, never checked.

#include <istream>
#include <ostream>
#include <type_traits>
#include <vector>

#include "Polynom.h"

class ProgressBar;
template <class T>
class PackedMatrix;
struct ScatterStream;

// One stored element of a sparse row or of the packed entry array.
template <class T>
struct MatrixEntry {
  int col;
  T val;
};

namespace zolt {
// Exact zero test: a double is non-zero only when < 0 or > 0 (NaN is zero);
// a polynomial only when it has a term.
inline bool isNonZero(double v) { return v < 0 || v > 0; }
template <class T>
bool isNonZero(const Polynom<T>& p) {
  return !p.empty();
}
}  // namespace zolt

// A size and an array of entries. A sized vector owns zeroed storage; a view
// (owns == false) points at storage owned elsewhere and never frees it.
template <class T>
class Vector {
 public:
  int n = 0;
  T* data = nullptr;
  bool owns = false;

  Vector() = default;
  explicit Vector(int size);
  // Reads one vector record; on a bad record the vector is empty and the
  // stream's failbit is set.
  explicit Vector(std::istream& f);
  ~Vector();
  Vector(const Vector&) = delete;
  Vector& operator=(const Vector&) = delete;
  Vector(Vector&& o) noexcept : n(o.n), data(o.data), owns(o.owns) {
    o.n = 0;
    o.data = nullptr;
    o.owns = false;
  }
  Vector& operator=(Vector&& o) noexcept;

  T& operator[](int i) { return data[i]; }
  const T& operator[](int i) const { return data[i]; }

  // Re-points the vector at storage it does not own, freeing its own first.
  void view(T* storage, int size);
  // Frees owned storage and allocates `size` zeroed entries.
  void resize(int size);

  // Vector record: i32 n, then n doubles (T = double only).
  void writeToFile(std::ostream& f) const;
  // Reads one record, validated against the bytes left; false (and an empty
  // vector) on a bad record.
  bool readFromFile(std::istream& f);
};

template <class T>
class Matrix {
 public:
  using ValueFn = void (*)(T* value, void* arg);

  int nRow;
  int nCol;
  bool symmetric = false;

  Matrix(int rows, int cols) : nRow(rows), nCol(cols) {}
  virtual ~Matrix() = default;

  virtual T operator()(int i, int j) const = 0;
  virtual void setElem(int i, int j, const T& v) = 0;
  virtual void addElem(int i, int j, const T& v) = 0;
  virtual void clear() = 0;
  virtual void copyTo(Matrix<T>& dest) const = 0;
  virtual void mult(const Vector<T>& x, Vector<T>& y) const = 0;
  virtual void multTransposed(const Vector<T>& x, Vector<T>& y) const = 0;
  virtual void mult_m_left(const Matrix<T>& B, Matrix<T>& C) const = 0;
  virtual void mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const = 0;
  virtual void mult_m_right(const Matrix<T>& B, Matrix<T>& C) const = 0;
  virtual void mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const = 0;
  virtual void mult_m_left_m_transpose_right(const PackedMatrix<T>& P, Matrix<T>& C,
                                             ProgressBar* pb) const = 0;
  virtual void scale(const T& s) = 0;

  // Solver kernels; the base versions stop the program.
  virtual void scaleDiagLeft(const Vector<T>& d);
  virtual void scaleDiagRight(const Vector<T>& d);
  virtual void gaussSeidelStep(Vector<T>& x, const Vector<T>& b, const T& omega, T& resSqr) const;
  virtual void gaussSeidelBackStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                                   T& resSqr) const;
  virtual void jacobiStep(Vector<T>& x, const Vector<T>& b, const T& omega, Vector<T>& tmp,
                          T& resSqr) const;
  virtual void residuum(const Vector<T>& x, const Vector<T>& b, Vector<T>& r) const;
  virtual T residuumSqrSum(const Vector<T>& x, const Vector<T>& b) const;

  virtual void forEachValue(ValueFn fn, void* arg) = 0;
  virtual void writeToFile(std::ostream& f) const = 0;

  // Additive updates through addElem.
  virtual void addScaled(const Matrix<T>& B, const T& s);
  virtual void addScaled(const PackedMatrix<T>& B, const T& s);
  virtual void addScaledExcept(const PackedMatrix<T>& B, const T& s,
                               const std::vector<int>& excluded);
  virtual void addDiag(const Vector<T>& d, const T& s);
  virtual void addDiagExcept(const Vector<T>& d, const T& s, const std::vector<int>& excluded);

  // Whole-matrix computations through element access.
  virtual T maxAbs() const;
  virtual void probeSymmetry() const;
  virtual void mTest() const;
  virtual void absColumnSums(Vector<T>& y) const;
  virtual void inv();

 protected:
  Matrix(const Matrix&) = default;
  Matrix& operator=(const Matrix&) = default;
};

extern template class Vector<double>;
extern template class Vector<Polynom<double>>;
extern template class Matrix<double>;
extern template class Matrix<Polynom<double>>;
