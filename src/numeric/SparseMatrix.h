#pragma once
// Assembly-time matrix: one unsorted list of {column, value} per row. Zero
// values are never appended; setElem appends without searching.

#include "Matrix.h"

template <class T>
class SparseMatrix : public Matrix<T> {
 public:
  using Matrix<T>::nRow;
  using Matrix<T>::nCol;
  using typename Matrix<T>::ValueFn;

  // nRow rows, owned. Builders edit rows directly before packing.
  std::vector<MatrixEntry<T>>* rows;

  SparseMatrix(int nRow, int nCol);
  ~SparseMatrix() override;
  SparseMatrix(const SparseMatrix&) = delete;
  SparseMatrix& operator=(const SparseMatrix&) = delete;

  T operator()(int i, int j) const override;
  void setElem(int i, int j, const T& v) override;
  void addElem(int i, int j, const T& v) override;
  void clear() override;
  void copyTo(Matrix<T>& dest) const override;
  void mult(const Vector<T>& x, Vector<T>& y) const override;
  void multTransposed(const Vector<T>& x, Vector<T>& y) const override;
  void mult_m_left(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_right(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const override;
  void mult_m_left_m_transpose_right(const PackedMatrix<T>& P, Matrix<T>& C,
                                     ProgressBar* pb) const override;
  void scale(const T& s) override;
  void forEachValue(ValueFn fn, void* arg) override;
  void writeToFile(std::ostream& f) const override;
};

extern template class SparseMatrix<double>;
extern template class SparseMatrix<Polynom<double>>;
