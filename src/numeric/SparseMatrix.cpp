#include "SparseMatrix.h"

#include <iostream>

#include "ZoltAssert.h"

using zolt::isNonZero;

template <class T>
SparseMatrix<T>::SparseMatrix(int nRow, int nCol)
    : Matrix<T>(nRow, nCol), rows(new std::vector<MatrixEntry<T>>[nRow > 0 ? nRow : 0]) {}

template <class T>
SparseMatrix<T>::~SparseMatrix() {
  delete[] rows;
}

template <class T>
T SparseMatrix<T>::operator()(int i, int j) const {
  for (const MatrixEntry<T>& e : rows[i])
    if (e.col == j) return e.val;
  return T(0.0);
}

// Appends without looking for an existing entry of column j.
template <class T>
void SparseMatrix<T>::setElem(int i, int j, const T& v) {
  if (!isNonZero(v)) return;
  rows[i].push_back(MatrixEntry<T>{j, v});
}

template <class T>
void SparseMatrix<T>::addElem(int i, int j, const T& v) {
  if (!isNonZero(v)) return;
  for (MatrixEntry<T>& e : rows[i])
    if (e.col == j) {
      // A sum that cancels keeps its entry.
      e.val += v;
      return;
    }
  rows[i].push_back(MatrixEntry<T>{j, v});
}

// Keeps the row capacity: a cleared matrix is usually refilled with a
// similar pattern.
template <class T>
void SparseMatrix<T>::clear() {
  for (int i = 0; i < nRow; ++i) rows[i].clear();
}

template <class T>
void SparseMatrix<T>::copyTo(Matrix<T>& dest) const {
  for (int i = 0; i < nRow; ++i)
    for (const MatrixEntry<T>& e : rows[i]) dest.setElem(i, e.col, e.val);
}

template <class T>
void SparseMatrix<T>::mult(const Vector<T>& x, Vector<T>& y) const {
  const T* xd = x.data;
  T* yd = y.data;
  for (int i = 0; i < nRow; ++i) {
    yd[i] = T(0.0);
    for (const MatrixEntry<T>& e : rows[i]) yd[i] += e.val * xd[e.col];
  }
}

template <class T>
void SparseMatrix<T>::multTransposed(const Vector<T>& x, Vector<T>& y) const {
  const T* xd = x.data;
  T* yd = y.data;
  for (int k = 0; k < y.n; ++k) yd[k] = T(0.0);
  for (int i = 0; i < nRow; ++i)
    for (const MatrixEntry<T>& e : rows[i]) yd[e.col] += e.val * xd[i];
}

// Every product goes to C.addElem, zero products included; C's own zero
// test discards them.
template <class T>
void SparseMatrix<T>::mult_m_left(const Matrix<T>& B, Matrix<T>& C) const {
  C.clear();
  for (int k = 0; k < nRow; ++k)
    for (const MatrixEntry<T>& e : rows[k])
      for (int i = 0; i < C.nRow; ++i) {
        T b = B(i, k);
        if (isNonZero(b))
          C.addElem(i, e.col, b * e.val);
        else
          C.addElem(i, e.col, b);
      }
}

template <class T>
void SparseMatrix<T>::mult_m_transpose_left(const Matrix<T>& B, Matrix<T>& C) const {
  C.clear();
  for (int k = 0; k < nRow; ++k)
    for (const MatrixEntry<T>& e : rows[k])
      for (int i = 0; i < C.nRow; ++i) {
        T b = B(k, i);
        if (isNonZero(b)) C.addElem(i, e.col, b * e.val);
      }
}

// Sets every element of C, zero sums included, column by column.
template <class T>
void SparseMatrix<T>::mult_m_right(const Matrix<T>& B, Matrix<T>& C) const {
  for (int j = 0; j < C.nCol; ++j)
    for (int i = 0; i < nRow; ++i) {
      T s = T(0.0);
      for (const MatrixEntry<T>& e : rows[i]) {
        T b = B(e.col, j);
        if (isNonZero(b)) s += b * e.val;
      }
      C.setElem(i, j, s);
    }
}

template <class T>
void SparseMatrix<T>::mult_m_transpose_right(const Matrix<T>& B, Matrix<T>& C) const {
  for (int j = 0; j < C.nCol; ++j)
    for (int i = 0; i < nRow; ++i) {
      T s = T(0.0);
      for (const MatrixEntry<T>& e : rows[i]) {
        T b = B(j, e.col);
        if (isNonZero(b)) s += b * e.val;
      }
      C.setElem(i, j, s);
    }
}

template <class T>
void SparseMatrix<T>::mult_m_left_m_transpose_right(const PackedMatrix<T>&, Matrix<T>&,
                                                    ProgressBar*) const {
  std::cout << "[SparseMatrix, mult_m_left_m_transpose_right] Error: not implemented!" << std::endl;
  ZOLT_ASSERT(0);
}

template <class T>
void SparseMatrix<T>::scale(const T& s) {
  for (int i = 0; i < nRow; ++i)
    for (MatrixEntry<T>& e : rows[i]) e.val *= s;
}

template <class T>
void SparseMatrix<T>::forEachValue(ValueFn fn, void* arg) {
  for (int i = 0; i < nRow; ++i)
    for (MatrixEntry<T>& e : rows[i]) fn(&e.val, arg);
}

// No record: a sparse matrix is packed before anything is stored.
template <class T>
void SparseMatrix<T>::writeToFile(std::ostream&) const {}

template class SparseMatrix<double>;
template class SparseMatrix<Polynom<double>>;
