#pragma once
// The columns j of row i of C = P A P^T that can be non-zero: j holds a
// column b of P that some fine row a of P's row i reaches. Visiting only
// these keeps the Galerkin product linear in the non-zeros instead of
// trying every (i, j) pair; the per-entry arithmetic is unchanged.

#include <algorithm>
#include <vector>

#include "PackedMatrix.h"

template <class T>
class GalerkinColumns {
 public:
  explicit GalerkinColumns(const PackedMatrix<T>& P) : P_(P) {
    start_.assign(P.nCol + 1, 0);
    for (int r = 0; r < P.nRow; ++r)
      for (int k = 0; k < P.rowLen[r]; ++k) ++start_[P.rowStart[r][k].col + 1];
    for (int c = 0; c < P.nCol; ++c) start_[c + 1] += start_[c];
    rows_.resize(start_[P.nCol]);
    std::vector<int> fill(start_.begin(), start_.end() - 1);
    for (int r = 0; r < P.nRow; ++r)
      for (int k = 0; k < P.rowLen[r]; ++k) rows_[fill[P.rowStart[r][k].col]++] = r;
    seen_.assign(P.nRow, 0);
  }

  // Ascending candidate columns of row i within [jBegin, jEnd).
  // fineColumns(a, visit) calls visit(b) for every stored column b of fine
  // row a.
  template <class FineColumns>
  const std::vector<int>& row(int i, int jBegin, int jEnd, FineColumns fineColumns) {
    list_.clear();
    const MatrixEntry<T>* e = P_.rowStart[i];
    for (int q = 0; q < P_.rowLen[i]; ++q)
      fineColumns(e[q].col, [&](int b) {
        if (b < 0 || b >= P_.nCol) return;
        for (int k = start_[b]; k < start_[b + 1]; ++k) {
          int j = rows_[k];
          if (!seen_[j]) {
            seen_[j] = 1;
            list_.push_back(j);
          }
        }
      });
    for (int j : list_) seen_[j] = 0;
    list_.erase(std::remove_if(list_.begin(), list_.end(),
                               [&](int j) { return j < jBegin || j >= jEnd; }),
                list_.end());
    std::sort(list_.begin(), list_.end());
    return list_;
  }

 private:
  const PackedMatrix<T>& P_;
  std::vector<int> start_;  // column c's rows are rows_[start_[c] .. start_[c+1])
  std::vector<int> rows_;
  std::vector<char> seen_;
  std::vector<int> list_;
};
