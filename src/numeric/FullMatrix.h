#pragma once
// Dense row-major matrix: element (i, j) is data[i * nCol + j].

#include "Matrix.h"

template <class T>
class FullMatrix : public Matrix<T> {
 public:
  using Matrix<T>::nRow;
  using Matrix<T>::nCol;
  using Matrix<T>::symmetric;
  using typename Matrix<T>::ValueFn;

  T* data;  // nRow * nCol elements, owned

  FullMatrix(int nRow, int nCol);
  // Reads one dense record; on a bad record the matrix is 0 x 0 and the
  // stream's failbit is set.
  explicit FullMatrix(std::istream& f);
  ~FullMatrix() override;
  FullMatrix(const FullMatrix&) = delete;
  FullMatrix& operator=(const FullMatrix&) = delete;

  T operator()(int i, int j) const override { return data[i * nCol + j]; }
  void setElem(int i, int j, const T& v) override { data[i * nCol + j] = v; }
  void addElem(int i, int j, const T& v) override { data[i * nCol + j] += v; }
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
  // Dense record: u8 symmetric, i32 nRow, i32 nCol, nRow * nCol doubles.
  void writeToFile(std::ostream& f) const override;
  void inv() override;

  // Reads one dense record into this matrix, validated against the bytes
  // left; false (and a 0 x 0 matrix) on a bad record.
  bool readFromFile(std::istream& f);
};

extern template class FullMatrix<double>;
extern template class FullMatrix<Polynom<double>>;
