#pragma once
// Compressed-row matrix with a fixed pattern: all entries in one array, each
// row contiguous and sorted by column. Built once, afterwards only values
// change.

#include "Matrix.h"

template <class T>
class SparseMatrix;

template <class T>
class PackedMatrix : public Matrix<T> {
 public:
  using Matrix<T>::nRow;
  using Matrix<T>::nCol;
  using Matrix<T>::symmetric;
  using typename Matrix<T>::ValueFn;

  MatrixEntry<T>* entries = nullptr;      // nnz entries, owned
  int nnz = 0;
  ScatterStream* scatterStream = nullptr;  // recorded coarse-product plan, owned
  MatrixEntry<T>** rowStart = nullptr;    // nRow pointers into entries, owned
  int* rowLen = nullptr;                  // nRow row lengths, owned

  PackedMatrix();  // empty, for readFromFile
  explicit PackedMatrix(const SparseMatrix<T>& S);
  PackedMatrix(const PackedMatrix& A);  // the scatter stream is not copied
  PackedMatrix& operator=(const PackedMatrix&) = delete;
  // Reads one packed record; on a bad record the matrix is empty and the
  // stream's failbit is set.
  explicit PackedMatrix(std::istream& f);
  ~PackedMatrix() override;

  // A new matrix holding A^T; the caller owns it.
  static PackedMatrix* transposed(const PackedMatrix& A);

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
  void scaleDiagLeft(const Vector<T>& d) override;
  void scaleDiagRight(const Vector<T>& d) override;
  void gaussSeidelStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                       T& resSqr) const override;
  void gaussSeidelBackStep(Vector<T>& x, const Vector<T>& b, const T& omega,
                           T& resSqr) const override;
  void jacobiStep(Vector<T>& x, const Vector<T>& b, const T& omega, Vector<T>& tmp,
                  T& resSqr) const override;
  void residuum(const Vector<T>& x, const Vector<T>& b, Vector<T>& r) const override;
  T residuumSqrSum(const Vector<T>& x, const Vector<T>& b) const override;
  void forEachValue(ValueFn fn, void* arg) override;
  // Packed record: u8 symmetric, i32 nRow, i32 nCol, i32 nnz, then per row
  // i32 count and count pairs {i32 col, f64 val}.
  void writeToFile(std::ostream& f) const override;
  T maxAbs() const override;
  void absColumnSums(Vector<T>& y) const override;

  // Fills an empty matrix from the next record, validated against the
  // header and the bytes left; false (and an empty matrix) on a bad record.
  bool readFromFile(std::istream& f);
};

extern template class PackedMatrix<double>;
